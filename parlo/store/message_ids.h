// Ids that name a message for as long as it exists, in every program.
//
// An id is taken from what a message keeps for its whole life: its number,
// its text and its time stamp. Reading, moving, deleting to the Recycle Bin,
// sending and a compaction of the store by any program leave it as it was;
// no id is stored, so vok.sms keeps its layout. A changed text is a new
// version of the record with an id of its own (the old version, in the
// Recycle Bin, keeps the old id).
//
// The short form is 8 hexadecimal digits. Records whose short forms collide
// get the full 16 digits; records that agree in all three (copies of one
// message) get "-N" after it, N counting the copies in store order.
// Resolving an id that names no record, or no longer one record, fails: the
// caller never acts on another message.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "parlo/store/sms_message.h"

namespace parlo {

// The 64-bit identity of a message: FNV-1a over the number's and the text's
// UTF-16LE units and the time stamp's bytes.
uint64_t MessageIdentity(const CSmsMessage& rec);

class CMessageIds {
  public:
    enum class Found {
        kOne,        // `*out` is the record
        kNone,       // a well-formed id that names no record (any more)
        kAmbiguous,  // names more than one record
        kMalformed,  // not an id
    };

    // The ids of the records of `list` (in store order). The records must
    // outlive this object and keep their number, text and time.
    explicit CMessageIds(const std::vector<CSmsMessage*>& list);

    std::string IdOf(const CSmsMessage* rec) const;
    Found Resolve(std::string_view id, CSmsMessage** out) const;

  private:
    std::vector<CSmsMessage*> list_;
    std::vector<uint64_t> identity_;
    std::unordered_map<const CSmsMessage*, size_t> index_;
    // How many records share a short form, and a full identity.
    std::unordered_map<uint32_t, uint32_t> short_count_;
    std::unordered_map<uint64_t, uint32_t> full_count_;
};

}  // namespace parlo
