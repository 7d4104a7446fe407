// The message operations of a synchronisation run on an open phone
// connection: sending one message or a long text in numbered parts, reading
// every slot of phone memory ("ME") and SIM ("SM") into the store, deleting
// one message's phone copy after checking the slot, and wiping a storage.
#pragma once

#include <atomic>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "parlo/sms/engine_context.h"
#include "parlo/sms/sms_joiner.h"
#include "parlo/sms/sms_parts.h"
#include "parlo/sms/unread_journal.h"
#include "parlo/store/sms_message.h"

namespace parlo {

class CPhoneSession;

// String ids of the operations' errors.
inline constexpr unsigned IDS_COMM_ERROR = 65031;
inline constexpr unsigned IDS_BAD_RESPONSE = 65032;
inline constexpr unsigned IDS_NO_MEMORY_SIZE = 65033;
inline constexpr unsigned IDS_CANNOT_CREATE_SMS = 65036;
inline constexpr unsigned IDS_SEND_ERROR = 65037;
inline constexpr unsigned IDS_READ_ERROR = 65038;
inline constexpr unsigned IDS_SAVE_FAILED = 57346;
inline constexpr unsigned IDS_CLEAR_PHONE_QUESTION = 65044;
inline constexpr unsigned IDS_CLEAR_SIM_QUESTION = 65045;
inline constexpr unsigned IDS_CLEAR_ORDERED = 65046;
inline constexpr unsigned IDS_STORAGE_SKIPPED = 65130;
inline constexpr unsigned IDS_SLOT_SKIPPED = 65131;
inline constexpr unsigned IDS_SLOT_NOT_DELETED = 65132;
inline constexpr unsigned IDS_FATE_UNKNOWN = 65133;
inline constexpr unsigned IDS_HELD_IN_OUTBOX = 65134;
inline constexpr unsigned IDS_DELIVERY_NOT_SAVED = 65136;
inline constexpr unsigned IDS_STORAGE_SHORT = 65150;
inline constexpr unsigned IDS_DELETION_STOPPED = 65151;

// Results of ParseCmgrReply.
inline constexpr int CMGR_DONE = 0;
inline constexpr int CMGR_NOT_CMGR = 1;
inline constexpr int CMGR_NO_LINE_END = 2;
inline constexpr int CMGR_TOO_SHORT = 3;
inline constexpr int CMGR_PDU_TOO_LONG = 4;
inline constexpr int CMGR_BAD_PDU = 5;
inline constexpr int CMGR_EMPTY_TEXT = 6;
inline constexpr int CMGR_BAD_STATUS = 7;  // the slot status is not 0 to 3

// Modes of ParseCmgrReply.
inline constexpr int CMGR_MODE_READ = 0;
inline constexpr int CMGR_MODE_CHECK = 1;

// How long the answer to an SMS body ("+CMGS: <reference>") is awaited. The
// network may take well over ten seconds to accept a message; 60 seconds is
// what phones and modems commonly allow for it, and an answer that comes
// later than the wait leaves the message's fate unknown.
inline constexpr int kSendAnswerSeconds = 60;

// m_nPhoneIndex of an Outbox record (which has no phone slot) whose sending
// timed out after the body went out: it may have been sent. Such a record is
// not sent again until the user releases it or sends it anew.
inline constexpr int32_t kFateUnknownIndex = -2;

// What happened to a message handed to the phone.
struct SendReport {
    bool fate_unknown = false;  // the body went out, the phone's answer did not come
    int reference = -1;         // the message reference of the (first) "+CMGS:" answer
};

// The characters strictly between the n-th occurrence of `start` and the m-th
// occurrence of `end` in `text` (both counted from the beginning, n and m from
// 1). Empty when either is missing or found at the very first character, or
// when the end does not come after the start.
std::u16string ExtractField(const std::u16string& text, const std::u16string& start,
                            const std::u16string& end, int n, int m);

// "ME" for STORAGE_PHONE, "SM" for STORAGE_SIM, "XX" for anything else.
const char* StorageName(int32_t storage);
// The read map's key, "%s#%i": e.g. "ME#3".
std::string PhoneKey(const std::string& storage, int slot);
// Why a slot was not read, for the error list.
std::u16string CmgrFailureText(int code);

// Decodes one "AT+CMGR" answer. The PDU is parsed by its own message type
// (phones label slots inconsistently): an SMS-DELIVER is a received message,
// read or unread by the slot status; an SMS-SUBMIT a message sent from the
// phone, or, in a slot stored unsent, a draft that is ignored; a status
// report is ignored. Hexadecimal digits may be in either case. On success
// (CMGR_DONE) `out` receives the message, or stays empty for one that is
// ignored. See the CMGR_* codes for the failures. `stamped` (optional) is
// set when the message's time is its own time stamp (a received message
// with a valid one), not the current time. `pdu` (optional) receives the
// parsed PDU.
int DecodeCmgrReply(const std::u16string& reply, const std::string& storage, int slot, int mode,
                    std::unique_ptr<CSmsMessage>* out, bool* stamped = nullptr,
                    CPduMessage* pdu = nullptr);

// Whether a message read from the phone is the one a record holds: the same
// sender (or recipient) and text and, when the message carries its own time
// stamp, the same time. A repeated text in a reused slot is another message.
bool SamePhoneMessage(const CSmsMessage& record, const CSmsMessage& read, bool stamped);

class CSmsOperations {
  public:
    CSmsOperations(const CEngineContext& ctx, CPhoneSession* session)
        : ctx_(ctx), session_(session) {}

    // Each returns 1 or 0. SendSms sends the text as one message (in UCS2 when
    // the default alphabet cannot carry it); SendLongSms sends any text as
    // PlanSms cuts it, with the settings' choice of numbered or concatenated
    // parts, and stops at the first part that fails. `report` (optional)
    // tells a message whose fate is unknown from one that was not sent, and
    // keeps the message reference.
    int SendSms(const std::u16string& number, const std::u16string& text, int push,
                SendReport* report = nullptr);
    int SendLongSms(const std::u16string& number, const std::u16string& text, int push,
                    SendReport* report = nullptr);
    // Reads both storages: each with one listing ("AT+CMGL=4") when the
    // phone gives one that agrees with its used count, else slot by slot.
    // Every message is stored as soon as it is read.
    int ReadPhoneMessages(int show_progress, int delete_after_reading);
    // Reading mode stores the message in the read map; checking mode hands it
    // to the caller through `out`. Returns a CMGR_* code.
    int ParseCmgrReply(const std::u16string& reply, const std::string& storage, int slot, int mode,
                       std::unique_ptr<CSmsMessage>* out = nullptr);
    int VerifyOnPhone(const CSmsMessage& msg);
    int DeleteOnPhone(CSmsMessage* msg);
    int ClearPhoneStorage(const std::string& storage);

    // The read map of the last read (storage code and slot, in phone order).
    using ReadMap = std::map<std::pair<int32_t, int>, std::unique_ptr<CSmsMessage>>;
    const ReadMap& Read() const { return m_readMap; }

    bool CommError() const { return m_bCommError; }

    // An unsolicited line of the phone (the phone link's handler; any
    // thread). A "+CMT:" delivery is kept until StoreDeliveries.
    void OnUnsolicited(const std::u16string& line);
    // Adds the messages the phone delivered on the line to the Inbox.
    void StoreDeliveries();

    // Concatenated messages (part_sync.cpp). A part read from a slot or
    // delivered on the line is kept for StoreParts, which joins the parts
    // kept so far with the parts table into one record per message (one
    // table write for all of them, before the records); false when something
    // could not be saved. DeletePartSlots deletes the slots read in this run
    // whose message is stored. PruneParts drops from the table the messages
    // that need it no more (whole, old and gone from the phone, or without a
    // record). DeleteMessageParts deletes every part's slot of a joined
    // message (each checked first) and moves it to the Recycle Bin; -1 for a
    // message of one part.
    bool TakePart(const CPduMessage& pdu, const CSmsMessage& msg);
    bool StoreParts();
    void DeletePartSlots();
    void PruneParts();
    int DeleteMessageParts(CSmsMessage* msg);

    // Test hook: the wait for the answer to an SMS body.
    void SetSendAnswerSecondsForTesting(int seconds) { m_nSendAnswerSeconds = seconds; }

    // Wipe orders, carried out by the next run that reaches the phone.
    std::atomic<int> m_bClearPhonePending{0};
    // Set by the synchronisation while it reads: the reading ends before the
    // next slot when it holds 1.
    const std::atomic<int>* m_pStop = nullptr;
    std::atomic<int> m_bClearSimPending{0};

  private:
    using SlotKey = std::pair<int32_t, int>;
    // A slot read in this run whose message the store holds. `by_index`: the
    // phone named the slot itself (a listing), so that it can be deleted
    // without reading it again.
    struct HeldSlot {
        CSmsMessage* rec = nullptr;
        bool by_index = false;
        bool stamped = false;
    };
    enum class ListOutcome { kRead, kRefused, kUnusable, kFailed };

    // Reads one storage; 0 when the run must end (the error is listed).
    int ReadStorage(const std::string& storage, int show_progress);
    // Selects a storage before it is read. kFailed: the line failed (the run
    // ends); kSkipped: the phone would not select it (listed as skipped).
    enum class Selection { kSelected, kSkipped, kFailed };
    Selection SelectForReading(const std::string& storage, std::u16string* reply);
    ListOutcome ReadByListing(const std::string& storage, int used, int size, int show_progress,
                              std::map<int, std::string>* listed_unread);
    int ReadBySlot(const std::string& storage, int size, int used, bool stop_at_used,
                   int show_progress, const std::map<int, std::string>& listed_unread);
    // The one place where a message read from a slot goes: into the read
    // map, matched with the store's records, and stored at once when new.
    void OnSlotRead(int32_t storage, int slot, std::unique_ptr<CSmsMessage> msg, bool stamped,
                    bool by_index);
    // The record that holds the message read from a slot, if any.
    CSmsMessage* FindRecord(const CSmsMessage& msg, bool stamped);
    CSmsMessage* FindRecordLocked(const CSmsMessage& msg, bool stamped);
    // Builds and sends part `k` of `plan`; 1 when the phone took it.
    int SendPart(const std::u16string& number, const CSmsPlan& plan, const std::u16string& text,
                 size_t k, int push, int reference, SendReport* report);
    int Command(const std::string& command, std::u16string* reply);
    // Selects a storage with "AT+CPMS"; an answer without "+CPMS:" is asked
    // for once more after the line is back in step.
    int SelectStorage(const std::string& storage, std::u16string* reply);
    // Reads the size of a storage from its "+CPMS" answer; 0 on failure after
    // adding the error.
    int StorageSize(const std::u16string& reply);
    void RestoreView();
    void FailRead(unsigned id);
    // Skips a slot or storage with its reason in the error list.
    void SkipSlot(const std::string& storage, int slot, const std::u16string& reason);
    // Deletes slots (storage code, slot), selecting each storage once in a
    // row; `deleted` (optional) tells which went.
    void DeleteSlots(const std::vector<std::pair<int32_t, int>>& slots, std::vector<bool>* deleted);
    std::filesystem::path PartsDir() const;
    // Deletes the slots read in this run whose messages the store holds,
    // each after a fresh read of the slot unless the listing named it; false
    // when the phone stopped answering.
    bool DeleteHeld();

    CEngineContext ctx_;
    CPhoneSession* session_;
    ReadMap m_readMap;
    std::map<SlotKey, HeldSlot> m_held;
    // Records with a phone copy, for the merge, by the number and text that
    // every match compares; each list in store order. A phone holds a few
    // hundred messages and the store up to a million records.
    std::unordered_map<size_t, std::vector<CSmsMessage*>> m_records;
    void AddRecord(CSmsMessage* rec);
    const std::vector<CSmsMessage*>& RecordsLike(const CSmsMessage& msg) const;
    std::set<CSmsMessage*> m_claimed;  // records matched with a slot in this run
    bool m_bSaveFailed = false;
    bool m_bListRefused = false;  // the phone refused a listing in this run
    UnreadJournal m_unread;       // messages listed unread and perhaps not stored yet
    bool m_bCommError = false;
    int m_nSendAnswerSeconds = kSendAnswerSeconds;
    std::mutex m_deliveryMutex;
    std::vector<std::string> m_deliveries;  // PDUs of "+CMT:" lines
    std::vector<CReadPart> m_parts;         // parts read and not yet stored
    std::set<SlotKey> m_partSlots;          // slots of stored parts read in this run
};

}  // namespace parlo
