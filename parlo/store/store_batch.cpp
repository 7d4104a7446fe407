#include "parlo/store/store_batch.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "parlo/store/message_store.h"

namespace parlo {

namespace {

// Records at most this far apart share a read and a write; a span never
// grows past kMaxSpan, so a bulk change over a large store holds little
// memory at a time.
constexpr int64_t kGap = 64 * 1024;
constexpr int64_t kMaxSpan = 4 * 1024 * 1024;
// Bytes of a record behind its strings: time, time status, marked flag,
// storage, folder id and phone index.
constexpr size_t kTailBytes = 28;

bool Storable(const CSmsMessage& rec) {
    return rec.m_strNumber.size() <= static_cast<size_t>(kMaxStoredUnits) &&
           rec.m_strText.size() <= static_cast<size_t>(kMaxStoredUnits);
}

// Rewrites one group of records (sorted by offset, [first, last) of
// `recs`) that share one read, in `span`.
void RewriteGroup(const Fd& fd, const std::vector<CSmsMessage*>& recs, size_t first, size_t last,
                  const std::function<bool(const InPlaceBatch::Span&)>& write,
                  InPlaceBatch::Span* span, InPlaceBatch* out) {
    const int64_t start = recs[first]->m_nFileOffset;
    int64_t end = start;
    for (size_t i = first; i < last; ++i) {
        end = std::max(end, static_cast<int64_t>(recs[i]->m_nFileOffset) +
                                static_cast<int64_t>(RecordSize(*recs[i])));
    }
    span->offset = start;
    span->bytes.resize(static_cast<size_t>(end - start));
    span->records.clear();
    if (fd.ReadAt(static_cast<uint64_t>(start), span->bytes.data(), span->bytes.size()) !=
        static_cast<int64_t>(span->bytes.size())) {
        out->rest.insert(out->rest.end(), recs.begin() + static_cast<ptrdiff_t>(first),
                         recs.begin() + static_cast<ptrdiff_t>(last));
        return;
    }
    std::string bytes;
    for (size_t i = first; i < last; ++i) {
        CSmsMessage* rec = recs[i];
        bytes.clear();
        AppendRecordBytes(*rec, &bytes);
        const size_t at = static_cast<size_t>(rec->m_nFileOffset - start);
        // The stored copy must have the same number and text (so the same
        // length): its strings lie between the state and the fixed tail.
        const size_t strings = bytes.size() - 4 - kTailBytes;
        if (std::memcmp(span->bytes.data() + at + 4, bytes.data() + 4, strings) != 0) {
            out->rest.push_back(rec);
            continue;
        }
        std::memcpy(span->bytes.data() + at, bytes.data(), bytes.size());
        span->records.emplace_back(rec->m_nFileOffset, bytes.size());
    }
    if (!span->records.empty() && !write(*span))
        out->failed = true;
}

}  // namespace

InPlaceBatch RewriteInPlace(const Fd& fd, int64_t file_size, const std::vector<CSmsMessage*>& recs,
                            const std::function<bool(const InPlaceBatch::Span&)>& write) {
    InPlaceBatch out;
    std::vector<CSmsMessage*> sorted;
    sorted.reserve(recs.size());
    for (CSmsMessage* rec : recs) {
        const int64_t end =
            static_cast<int64_t>(rec->m_nFileOffset) + static_cast<int64_t>(RecordSize(*rec));
        if (rec->m_nFileOffset < 0 || !Storable(*rec) || end > file_size)
            out.rest.push_back(rec);
        else
            sorted.push_back(rec);
    }
    std::sort(sorted.begin(), sorted.end(), [](const CSmsMessage* a, const CSmsMessage* b) {
        return a->m_nFileOffset < b->m_nFileOffset;
    });
    // A record listed twice, or two records claiming overlapping bytes, is
    // stored one by one: that path checks what is on disk.
    std::vector<CSmsMessage*> plain;
    plain.reserve(sorted.size());
    int64_t last_end = -1;
    for (CSmsMessage* rec : sorted) {
        if (rec->m_nFileOffset < last_end) {
            out.rest.push_back(rec);
            continue;
        }
        last_end =
            static_cast<int64_t>(rec->m_nFileOffset) + static_cast<int64_t>(RecordSize(*rec));
        plain.push_back(rec);
    }
    InPlaceBatch::Span span;
    size_t first = 0;
    int64_t group_end = -1;
    for (size_t i = 0; i < plain.size() && !out.failed; ++i) {
        const int64_t offset = plain[i]->m_nFileOffset;
        const int64_t end = offset + static_cast<int64_t>(RecordSize(*plain[i]));
        if (i > first &&
            (offset - group_end > kGap || end - plain[first]->m_nFileOffset > kMaxSpan)) {
            RewriteGroup(fd, plain, first, i, write, &span, &out);
            first = i;
        }
        group_end = end;
    }
    if (first < plain.size() && !out.failed)
        RewriteGroup(fd, plain, first, plain.size(), write, &span, &out);
    return out;
}

}  // namespace parlo
