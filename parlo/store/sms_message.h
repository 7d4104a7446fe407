// One short message of the store and the codes that classify it.
#pragma once

#include <cstdint>
#include <string>

#include "platform/oledate.h"

namespace parlo {

// m_nState: the state decides the folder a record is shown in.
inline constexpr int32_t STATE_UNREAD = 0;
inline constexpr int32_t STATE_READ = 1;
inline constexpr int32_t STATE_PHONE_SENT = 3;
inline constexpr int32_t STATE_OUTBOX = 5;
inline constexpr int32_t STATE_DRAFT = 6;
inline constexpr int32_t STATE_TEMPLATE = 7;
inline constexpr int32_t STATE_SENT = 8;
inline constexpr int32_t STATE_DELETED = 9;
inline constexpr int32_t STATE_PHONE_DELETE = 10;
inline constexpr int32_t STATE_PURGED = 11;
inline constexpr int32_t STATE_OUTBOX_PUSH = 12;
inline constexpr int32_t STATE_IN_FOLDER = 20;

// m_nStorage: where the message lives.
inline constexpr int32_t STORAGE_PHONE = 1;
inline constexpr int32_t STORAGE_SIM = 2;
inline constexpr int32_t STORAGE_POCKETPC = 3;

// Folder view codes of the main window; the compose dialog adds 10 (new).
inline constexpr int VIEW_NONE = 0;
inline constexpr int VIEW_INBOX = 1;
inline constexpr int VIEW_OUTBOX = 2;
inline constexpr int VIEW_SENT = 3;
inline constexpr int VIEW_DRAFT = 4;
inline constexpr int VIEW_TEMPLATES = 5;
inline constexpr int VIEW_USER_FOLDER = 6;
inline constexpr int VIEW_RECYCLE = 7;
inline constexpr int VIEW_NEW = 10;

class CSmsMessage {
  public:
    // State 11, empty strings, zero time, file offset -1; the rest is filled
    // by whoever uses the record as a read buffer.
    CSmsMessage() = default;
    CSmsMessage(int32_t state, std::u16string number, std::u16string text, platform::OleDate time,
                int32_t marked, int32_t storage, int32_t phone_index, int32_t file_offset,
                int32_t folder_id)
        : m_nState(state),
          m_strNumber(std::move(number)),
          m_strText(std::move(text)),
          m_time(time),
          m_bMarked(marked),
          m_nStorage(storage),
          m_nPhoneIndex(phone_index),
          m_nFileOffset(file_offset),
          m_nFolderId(folder_id) {}
    CSmsMessage(const CSmsMessage&) = default;
    CSmsMessage& operator=(const CSmsMessage&) = default;
    // Moves keep sorting and handing copies between threads free of string
    // copies; a moved-from record has empty strings.
    CSmsMessage(CSmsMessage&&) noexcept = default;
    CSmsMessage& operator=(CSmsMessage&&) noexcept = default;
    virtual ~CSmsMessage() = default;

    int32_t m_nState = STATE_PURGED;
    std::u16string m_strNumber;
    std::u16string m_strText;
    platform::OleDate m_time;
    int32_t m_bMarked = 0;
    int32_t m_nStorage = 0;
    int32_t m_nPhoneIndex = 0;
    int32_t m_nFileOffset = -1;  // never stored in the file itself
    int32_t m_nFolderId = 0;
};

// True when the synchronisation may take `a` and `b` for the same phone
// message: equal number, text, storage and phone index, and states that are
// equal, or either 20, or either 9, or 0 and 1 in either order.
bool SameMessage(const CSmsMessage& a, const CSmsMessage& b);

// The folder view code (1..7) of the list that shows a record of `state`, or
// VIEW_NONE for states that are shown nowhere.
int ViewOfState(int32_t state);

}  // namespace parlo
