// Joining the parts of concatenated messages.
//
// Parts belong to one message when their sender (or, for messages sent from
// the phone, recipient), reference (8-bit and 16-bit references are kept
// apart), part count and direction agree, their time stamps lie within
// kJoinWindowSeconds of the earliest part of the message, and the part
// number is not yet held with another text. A reference that the sender uses
// again later (references have only 256 or 65,536 values) thus starts a new
// message, and so does a part that repeats a held part number with another
// text. A part read again from the slot it was read from is known; the same
// part in another slot is a copy of it: both slots belong to the message.
//
// The joined text takes the parts in part order, whatever order they were
// read in; a missing part shows as "[part k of n not received yet]". Line
// feeds become CR LF and white space is trimmed at both ends of the whole
// text (never at the seams, where a word or a surrogate pair may be cut).
// Adding n parts costs O(n) (hash lookups, no scan of other messages).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "parlo/store/parts_table.h"

namespace parlo {

struct CPduMessage;
class CSmsMessage;

// Parts of one message are at most this far apart in time (3 hours).
inline constexpr double kJoinWindowSeconds = 3 * 3600.0;

// A part as read from a slot.
struct CReadPart {
    std::u16string m_strNumber;
    bool m_bSent = false;
    int32_t m_nRef = 0;
    bool m_bRef16 = false;
    int32_t m_nTotal = 0;
    CStoredPart m_part;
};

// Fills `out` (number, direction, reference, part number and count, text)
// from a parsed PDU; false when it is not a part of a message of two or more
// parts. Storage, slot, state and time are left to the caller.
bool PartFromPdu(const CPduMessage& pdu, CReadPart* out);

enum class PartFate {
    kKnown,  // read before from this slot: nothing changes
    kCopy,   // the same part in another slot: recorded beside the first
    kAdded,  // a part the message did not have
};

struct CJoinResult {
    uint32_t m_nGroup = 0;
    PartFate m_fate = PartFate::kAdded;
    bool m_bNewGroup = false;
};

class CPartJoiner {
  public:
    // Works on `file` (its groups are extended and added to).
    explicit CPartJoiner(CPartsFile* file);
    CJoinResult Add(const CReadPart& part);
    // Called once for each message that was in the file before this joiner
    // was made, just before a part is first added to it.
    void SetBeforeChange(std::function<void(const CPartGroup&)> fn) { before_ = std::move(fn); }

  private:
    struct Index {
        std::vector<int32_t> first;  // by part number: index into m_parts, -1 when absent
        double earliest = 0;
    };
    void IndexGroup(size_t g);
    static std::u16string Key(const std::u16string& number, bool sent, int32_t ref, bool ref16,
                              int32_t total);

    void Touch(size_t g);

    CPartsFile* file_;
    size_t preexisting_ = 0;
    std::vector<bool> touched_;
    std::function<void(const CPartGroup&)> before_;
    std::vector<Index> index_;  // parallel to file_->m_groups
    std::unordered_map<std::u16string, std::vector<size_t>> by_key_;
};

// Finds the message of a record in a parts file: equal number and time,
// and a text the message has or had. The file must outlive the lookup.
class CPartsLookup {
  public:
    explicit CPartsLookup(const CPartsFile& file);
    const CPartGroup* Find(const CSmsMessage& rec) const;
    bool empty() const { return by_anchor_.empty(); }

  private:
    const CPartsFile& file_;
    std::multimap<std::pair<std::u16string, double>, size_t> by_anchor_;
};

// "[part k of n not received yet]".
std::u16string GapText(int32_t seq, int32_t total);
// The text of the message as the store shows it.
std::u16string JoinedText(const CPartGroup& group);
// True when `text` is the group's joined text or one it had before.
bool IsGroupText(const CPartGroup& group, const std::u16string& text);
// STATE_PHONE_SENT for sent parts; STATE_UNREAD when a part was unread;
// else STATE_READ.
int32_t GroupState(const CPartGroup& group);

}  // namespace parlo
