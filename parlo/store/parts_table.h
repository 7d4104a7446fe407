// The parts table "vok.parts": the parts of every message that reached the
// phone in several parts (a concatenated SMS), beside the message store.
//
// The store keeps such a message as one ordinary record whose text is the
// joined text (gaps marked). The table keeps what the record cannot: each
// part's number, text, state and the phone slot it was read from, so that a
// later synchronisation can complete the message, recognise parts it already
// holds and delete every part's slot. A record belongs to a group when its
// number and time equal the group's and its text is one the group gave it
// (the current joined text or one written before it was confirmed).
//
// The file is replaced as a whole (temporary file, fsync, rename) while the
// store's lock is held; the previous version is kept as "vok.parts.old" and
// read when the current one is missing or damaged (a checksum ends the file).
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace parlo {

// One copy of one part, as read from a phone slot.
struct CStoredPart {
    int32_t m_nSeq = 0;        // part number, from 1
    int32_t m_nStorage = 0;    // STORAGE_PHONE or STORAGE_SIM; STORAGE_POCKETPC once deleted there
    int32_t m_nSlot = -1;      // the slot, -1 once deleted on the phone
    int32_t m_nState = 0;      // STATE_UNREAD, STATE_READ or STATE_PHONE_SENT when read
    double m_time = 0;         // the part's time stamp (OLE date)
    std::u16string m_strText;  // the part's text as decoded, untrimmed
};

// The parts of one message: same number, reference and part count.
struct CPartGroup {
    uint32_t m_nId = 0;
    std::u16string m_strNumber;
    int32_t m_nRef = 0;
    bool m_bRef16 = false;  // a 16-bit reference
    bool m_bSent = false;   // parts of a message sent from the phone
    int32_t m_nTotal = 0;
    double m_anchor = 0;  // the time of the record
    // Texts the record may still have: written before the record was
    // confirmed to hold the current joined text. Empty once it was.
    std::vector<std::u16string> m_priorTexts;
    std::vector<CStoredPart> m_parts;  // in the order they were read; copies of a part allowed

    // The first copy of part `seq`, or null.
    const CStoredPart* Part(int32_t seq) const;
    // Distinct part numbers held.
    int32_t Received() const;
    bool Complete() const { return Received() == m_nTotal; }
};

struct CPartsFile {
    uint32_t m_nNextId = 1;
    std::vector<CPartGroup> m_groups;

    CPartGroup* Find(uint32_t id);
    const CPartGroup* Find(uint32_t id) const;
};

// Serialises and parses the file. Parse is false for a damaged file (a bad
// header, a short read, a checksum that does not match).
std::string SerialisePartsFile(const CPartsFile& file);
bool ParsePartsFile(const std::string& bytes, CPartsFile* out);

enum class PartsResult { kOk, kDamaged, kFailed };

class CPartsTable {
  public:
    explicit CPartsTable(std::filesystem::path dir = {}) : dir_(std::move(dir)) {}
    void SetDirectory(const std::filesystem::path& dir) { dir_ = dir; }

    std::filesystem::path Path() const;     // dir/vok.parts
    std::filesystem::path OldPath() const;  // dir/vok.parts.old

    // Reads the table. An absent table is empty (kOk). A damaged one falls
    // back to the previous version (kDamaged: what was read is that version,
    // or empty).
    PartsResult Load(CPartsFile* out) const;
    // Reads the table under the store's lock, lets `change` edit it and
    // writes it back when `change` returns true. kFailed when it could not be
    // written; the file is then unchanged.
    PartsResult Update(const std::function<bool(CPartsFile&)>& change) const;

  private:
    std::filesystem::path dir_;
};

}  // namespace parlo
