// Rewriting many records of the store in place at once: the plan of a bulk
// change (delete, move, a state change of a whole folder) that writes each
// record once and nearby records in one write.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "parlo/store/file_io.h"
#include "parlo/store/sms_message.h"

namespace parlo {

struct InPlaceBatch {
    // One write each: a span of the file with the new records patched in.
    // The bytes between the records are those just read under the file
    // lock, written back unchanged.
    struct Span {
        int64_t offset = 0;
        std::string bytes;
        // Offset and length of every record rewritten in it, for the change
        // log.
        std::vector<std::pair<int64_t, size_t>> records;
    };
    // Records that cannot be rewritten in place (never stored, or their
    // stored copy has another number or text, or is not where they say):
    // they are stored one by one.
    std::vector<CSmsMessage*> rest;
    // A span's write failed; the spans after it were not written.
    bool failed = false;
};

// Reads the stored copies of `recs` from `fd` (a file of `file_size` bytes)
// and rewrites them in place. Records whose stored copy keeps its number
// and text, and lies whole inside the file, go into spans: records less
// than a small gap apart share one read and one write. `write` gets each
// span as soon as it is patched, and returns false to stop; one buffer
// serves every span, so a bulk change over a large store holds one span at
// a time.
InPlaceBatch RewriteInPlace(const Fd& fd, int64_t file_size, const std::vector<CSmsMessage*>& recs,
                            const std::function<bool(const InPlaceBatch::Span&)>& write);

}  // namespace parlo
