#include "parlo/store/message_store.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstring>
#include <random>

#include "parlo/store/file_io.h"
#include "parlo/store/store_batch.h"
#include "platform/binio.h"
#include "platform/file_env.h"

namespace parlo {

namespace {

constexpr size_t kFixedRecordBytes = 44;
// Bytes of a record up to and including the number length.
constexpr size_t kHeadBytes = 8;

int32_t LoadI32(const char* p) {
    uint32_t v = static_cast<uint8_t>(p[0]) |
                 static_cast<uint32_t>(static_cast<uint8_t>(p[1])) << 8 |
                 static_cast<uint32_t>(static_cast<uint8_t>(p[2])) << 16 |
                 static_cast<uint32_t>(static_cast<uint8_t>(p[3])) << 24;
    return static_cast<int32_t>(v);
}

bool Storable(const CSmsMessage& rec) {
    return rec.m_strNumber.size() <= static_cast<size_t>(kMaxStoredUnits) &&
           rec.m_strText.size() <= static_cast<size_t>(kMaxStoredUnits);
}

// Reads the record stored at `offset` of an open store file.
bool ReadRecordAt(const Fd& fd, int64_t offset, CSmsMessage* out) {
    char head[kHeadBytes];
    if (offset < 0 || fd.ReadAt(static_cast<uint64_t>(offset), head, kHeadBytes) !=
                          static_cast<int64_t>(kHeadBytes)) {
        return false;
    }
    int32_t n1 = LoadI32(head + 4);
    if (n1 < 0 || n1 > kMaxStoredUnits)
        return false;
    // Number, then the text length.
    size_t part2 = 2 * (static_cast<size_t>(n1) + 1) + 4;
    std::string buf(head, kHeadBytes);
    buf.resize(kHeadBytes + part2);
    if (fd.ReadAt(static_cast<uint64_t>(offset) + kHeadBytes, buf.data() + kHeadBytes, part2) !=
        static_cast<int64_t>(part2)) {
        return false;
    }
    int32_t n2 = LoadI32(buf.data() + buf.size() - 4);
    if (n2 < 0 || n2 > kMaxStoredUnits)
        return false;
    size_t part3 = 2 * (static_cast<size_t>(n2) + 1) + 28;
    size_t at = buf.size();
    buf.resize(at + part3);
    if (fd.ReadAt(static_cast<uint64_t>(offset) + at, buf.data() + at, part3) !=
        static_cast<int64_t>(part3)) {
        return false;
    }
    platform::BinaryReader reader(buf);
    if (!ParseRecord(reader, out))
        return false;
    out->m_nFileOffset = static_cast<int32_t>(offset);
    return true;
}

}  // namespace

void AppendRecordBytes(const CSmsMessage& rec, std::string* out) {
    platform::BinaryWriter w;
    std::swap(w.data(), *out);
    w.WriteInt32(rec.m_nState);
    w.WriteRecordString(rec.m_strNumber);
    w.WriteRecordString(rec.m_strText);
    w.WriteDouble(rec.m_time.m_dt);
    w.WriteInt32(rec.m_time.m_status);
    w.WriteInt32(0);  // marks live in memory only
    w.WriteInt32(rec.m_nStorage);
    w.WriteInt32(rec.m_nFolderId);
    w.WriteInt32(rec.m_nPhoneIndex);
    std::swap(w.data(), *out);
}

bool ParseRecord(platform::BinaryReader& r, CSmsMessage* out) {
    int32_t status = 0;
    return r.ReadInt32(&out->m_nState) && r.ReadRecordString(&out->m_strNumber, kMaxStoredUnits) &&
           r.ReadRecordString(&out->m_strText, kMaxStoredUnits) &&
           r.ReadDouble(&out->m_time.m_dt) && r.ReadInt32(&status) &&
           (out->m_time.m_status = status, true) && r.ReadInt32(&out->m_bMarked) &&
           r.ReadInt32(&out->m_nStorage) && r.ReadInt32(&out->m_nFolderId) &&
           r.ReadInt32(&out->m_nPhoneIndex);
}

size_t ParseStoreBytes(std::string_view data, std::vector<std::unique_ptr<CSmsMessage>>* out) {
    platform::BinaryReader reader(data);
    size_t good = 0;
    // Offsets are 32-bit in the record; a store never grows past that.
    const size_t limit = std::min<size_t>(data.size(), INT32_MAX);
    while (good < limit) {
        auto rec = std::make_unique<CSmsMessage>();
        reader.Seek(good);
        if (!ParseRecord(reader, rec.get()))
            break;
        rec->m_nFileOffset = static_cast<int32_t>(good);
        rec->m_bMarked = 0;  // an old file's marks are not this run's
        good = reader.position();
        out->push_back(std::move(rec));
    }
    return good;
}

size_t RecordSize(const CSmsMessage& rec) {
    return kFixedRecordBytes + 2 * (rec.m_strNumber.size() + rec.m_strText.size());
}

// --- the change log ---------------------------------------------------------
//
// "vok.sms.lock" is the lock of the store and its change log:
//   header: "SKVL", uint32 version 1, uint64 epoch
//   entries of 16 bytes: uint32 kind (1 append, 2 rewrite in place),
//   uint32 offset, uint32 length, uint32 the store's length after the change
// A compaction starts a new epoch and empties the log.

namespace {

constexpr uint32_t kLogVersion = 1;
constexpr size_t kLogHeader = 16;
constexpr size_t kLogEntry = 16;
constexpr uint32_t kLogAppend = 1;
constexpr uint32_t kLogRewrite = 2;

uint32_t LoadU32(const char* p) {
    return static_cast<uint32_t>(LoadI32(p));
}

uint64_t NewEpoch(uint64_t old) {
    std::random_device rd;
    uint64_t e = (static_cast<uint64_t>(rd()) << 32) ^ rd() ^
                 static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    return e == 0 || e == old ? old + 1 : e;
}

std::string LogHeader(uint64_t epoch) {
    platform::BinaryWriter w;
    w.data().append("SKVL", 4);
    w.WriteUInt32(kLogVersion);
    w.WriteUInt32(static_cast<uint32_t>(epoch));
    w.WriteUInt32(static_cast<uint32_t>(epoch >> 32));
    return w.data();
}

bool ParseLogHeader(const char* p, uint64_t* epoch) {
    if (std::memcmp(p, "SKVL", 4) != 0 || LoadU32(p + 4) != kLogVersion)
        return false;
    *epoch = LoadU32(p + 8) | static_cast<uint64_t>(LoadU32(p + 12)) << 32;
    return true;
}

bool LockFd(int fd, int how) {
    while (::flock(fd, how) != 0) {
        if (errno != EINTR)
            return false;
    }
    return true;
}

// A key that matches a record of a reloaded file with the record it was
// before: everything but the state, the marked flag and the folder.
struct RecordKey {
    const CSmsMessage* rec;
    bool operator==(const RecordKey& o) const {
        return rec->m_strNumber == o.rec->m_strNumber && rec->m_strText == o.rec->m_strText &&
               rec->m_time.m_dt == o.rec->m_time.m_dt && rec->m_nStorage == o.rec->m_nStorage &&
               rec->m_nPhoneIndex == o.rec->m_nPhoneIndex;
    }
};
struct RecordKeyHash {
    size_t operator()(const RecordKey& k) const {
        size_t h = std::hash<std::u16string>()(k.rec->m_strText);
        h ^= std::hash<std::u16string>()(k.rec->m_strNumber) + 0x9e3779b97f4a7c15ULL + (h << 6);
        h ^= std::hash<double>()(k.rec->m_time.m_dt) + (h << 6) + (h >> 2);
        h ^=
            static_cast<size_t>(k.rec->m_nPhoneIndex) * 31 + static_cast<size_t>(k.rec->m_nStorage);
        return h;
    }
};

}  // namespace

// The log lock and the log, held for one write (exclusive) or one taking in
// (shared).
class CMessageStore::WriteScope {
  public:
    // `take_in` false: only lock, and take the log as it is (a load).
    WriteScope(CMessageStore* store, bool exclusive, bool take_in = true) : store_(store) {
        log_ = Fd::Open(store->LogPath(), O_RDWR | O_CREAT);
        if (!log_.ok() || !LockFd(log_.get(), exclusive ? LOCK_EX : LOCK_SH)) {
            log_.Close();
            return;
        }
        if (take_in)
            store->TakeInLocked(log_.get(), exclusive);
        else
            Adopt();
    }
    // The log as it is now is what this program has seen.
    void Adopt() {
        LogState& st = store_->log_;
        int64_t size = log_.Size();
        char head[kLogHeader];
        uint64_t epoch = 0;
        if (size >= static_cast<int64_t>(kLogHeader) &&
            log_.ReadAt(0, head, kLogHeader) == static_cast<int64_t>(kLogHeader) &&
            ParseLogHeader(head, &epoch)) {
            st.epoch = epoch;
            st.entries = (static_cast<uint64_t>(size) - kLogHeader) / kLogEntry;
        } else {
            NewEpoch();
        }
    }
    bool ok() const { return log_.ok(); }
    // Notes a change in the log before it is made. False when it cannot be
    // noted: then the change must not be made either.
    bool Note(uint32_t kind, int64_t offset, size_t length, int64_t size_after) {
        platform::BinaryWriter w;
        Pack(&w, kind, offset, length, size_after);
        return AppendEntries(w.data(), 1, size_after);
    }
    // Starts a new epoch with an empty log (a compaction).
    bool NewEpoch() {
        LogState& st = store_->log_;
        uint64_t epoch = parlo::NewEpoch(st.epoch);
        if (!log_.WriteAt(0, LogHeader(epoch)) || !log_.Truncate(kLogHeader))
            return false;
        st.epoch = epoch;
        st.entries = 0;
        return true;
    }
    // Notes the rewrites in place of a bulk change in one write: one entry
    // per record, written before any of them.
    bool NoteRewrites(const std::vector<std::pair<int64_t, size_t>>& records, int64_t size_after) {
        if (records.empty())
            return true;
        platform::BinaryWriter w;
        w.data().reserve(records.size() * kLogEntry);
        for (const auto& [offset, length] : records)
            Pack(&w, kLogRewrite, offset, length, size_after);
        return AppendEntries(w.data(), records.size(), size_after);
    }
    int fd() const { return log_.get(); }

  private:
    static void Pack(platform::BinaryWriter* w, uint32_t kind, int64_t offset, size_t length,
                     int64_t size_after) {
        w->WriteUInt32(kind);
        w->WriteUInt32(static_cast<uint32_t>(offset));
        w->WriteUInt32(static_cast<uint32_t>(length));
        w->WriteUInt32(static_cast<uint32_t>(size_after));
    }
    bool AppendEntries(const std::string& entries, size_t count, int64_t size_after) {
        LogState& st = store_->log_;
        if (!log_.WriteAt(kLogHeader + st.entries * kLogEntry, entries))
            return false;
        st.entries += count;
        st.store_size = size_after;
        return true;
    }

    CMessageStore* store_;
    Fd log_;
};

// One writer at work: the write lock, then the list lock, which long file
// work may let go of for a while (ListUnlocked).
class CMessageStore::Writing {
  public:
    explicit Writing(CMessageStore* store)
        : store_(store), write_(store->write_mutex_), list_(store->mutex_) {
        store_->held_ = &list_;
    }
    ~Writing() { store_->held_ = nullptr; }
    Writing(const Writing&) = delete;
    Writing& operator=(const Writing&) = delete;

  private:
    CMessageStore* store_;
    std::lock_guard<std::mutex> write_;
    std::unique_lock<std::mutex> list_;
};

// Lets go of the list lock for file work that reads and changes no record
// of the list; the write lock stays, so no other writer changes the list
// meanwhile.
class CMessageStore::ListUnlocked {
  public:
    explicit ListUnlocked(CMessageStore* store) : held_(store->held_) {
        if (held_)
            held_->unlock();
    }
    ~ListUnlocked() {
        if (held_)
            held_->lock();
    }
    ListUnlocked(const ListUnlocked&) = delete;
    ListUnlocked& operator=(const ListUnlocked&) = delete;

  private:
    std::unique_lock<std::mutex>* held_;
};

CMessageStore::CMessageStore(std::filesystem::path dir) : dir_(std::move(dir)) {}

void CMessageStore::SetDirectory(const std::filesystem::path& dir) {
    Writing writing(this);
    dir_ = dir;
}

std::filesystem::path CMessageStore::StorePath() const {
    return dir_ / "vok.sms";
}
std::filesystem::path CMessageStore::TmpPath() const {
    return dir_ / "vok.tmp";
}
std::filesystem::path CMessageStore::TornPath() const {
    return dir_ / "vok.sms.torn";
}
std::filesystem::path CMessageStore::LogPath() const {
    return dir_ / "vok.sms.lock";
}

void CMessageStore::SetTakenInListener(std::function<void(const TakenIn&)> listener) {
    std::lock_guard lock(mutex_);
    listener_ = std::move(listener);
}

void CMessageStore::Flush() {
    TakenIn t;
    std::function<void(const TakenIn&)> listener;
    {
        std::lock_guard lock(mutex_);
        std::swap(t, pending_);
        listener = listener_;
    }
    if (!t.empty() && listener)
        listener(t);
}

StoreResult CMessageStore::LoadMessages(LoadReport* report) {
    Writing writing(this);
    return LoadLocked(report);
}

StoreResult CMessageStore::ReadStoreFile(List* fresh, LoadReport* rep) {
    append_at_ = -1;
    Fd fd = Fd::Open(StorePath(), O_RDONLY);
    if (!fd.ok()) {
        Fd created = Fd::Open(StorePath(), O_WRONLY | O_CREAT);
        created.Close();
        fd = Fd::Open(StorePath(), O_RDONLY);
        if (!fd.ok())
            return StoreResult::kReadError;
    }
    const int64_t size = fd.Size();
    if (size < 0)
        return StoreResult::kReadError;
    if (size > 0)
        fresh->reserve(fresh->size() + static_cast<size_t>(size) / 256);

    // The file is read in chunks and parsed as it comes: the chunk stays in
    // the cache, and no buffer as large as the store is allocated and
    // cleared. A chunk holds the longest record that can be written, so a
    // record that does not parse in a full chunk is damage.
    constexpr size_t kChunk = size_t{1} << 20;
    static_assert(kChunk > kFixedRecordBytes + 4 * static_cast<size_t>(kMaxStoredUnits));
    std::unique_ptr<char[]> buf(new char[kChunk]);
    uint64_t base = 0;  // file offset of buf[0]
    size_t have = 0;    // bytes in buf
    size_t pos = 0;     // end of the last whole record, in buf
    bool eof = false;
    const uint64_t limit = INT32_MAX;  // offsets are 32-bit
    while (true) {
        while (!eof && have < kChunk) {
            int64_t n = fd.ReadAt(base + have, buf.get() + have, kChunk - have);
            if (n < 0)
                return StoreResult::kReadError;
            if (n == 0)
                eof = true;
            have += static_cast<size_t>(n);
        }
        platform::BinaryReader reader(std::string_view(buf.get(), have));
        const size_t start = pos;
        while (pos < have && base + pos < limit) {
            auto rec = std::make_unique<CSmsMessage>();
            reader.Seek(pos);
            if (!ParseRecord(reader, rec.get()))
                break;
            rec->m_nFileOffset = static_cast<int32_t>(base + pos);
            pos = reader.position();
            fresh->push_back(std::move(rec));
        }
        const bool stuck = pos == start && (eof || have == kChunk);
        if (pos >= have ? eof : (stuck || eof || base + pos >= limit))
            break;
        // Keep the part of a record at the end and read on behind it.
        std::memmove(buf.get(), buf.get() + pos, have - pos);
        base += pos;
        have -= pos;
        pos = 0;
    }
    const uint64_t good = base + pos;
    const int64_t now = eof ? -1 : fd.Size();
    const uint64_t file_length = now < 0 ? base + have : static_cast<uint64_t>(now);
    rep->file_length = file_length;
    rep->records = fresh->size();
    rep->good_length = good;
    buf.reset();

    if (good < file_length) {
        // An unreadable tail: a record cut off by a crash during an append, or
        // damage. Keep a copy of the bytes beside the store, then cut them off
        // so that the next append lands right behind the last good record.
        std::string tail(static_cast<size_t>(file_length - good), '\0');
        bool saved = fd.ReadAt(good, tail.data(), tail.size()) == static_cast<int64_t>(tail.size());
        if (saved) {
            Fd torn = Fd::Open(TornPath(), O_WRONLY | O_CREAT | O_APPEND);
            saved = torn.ok() &&
                    torn.WriteAt(static_cast<uint64_t>(std::max<int64_t>(torn.Size(), 0)), tail) &&
                    torn.Sync();
            torn.Close();
        }
        fd.Close();
        rep->tail_saved = saved;
        bool cut = false;
        if (saved) {
            Fd w = Fd::Open(StorePath(), O_WRONLY);
            cut = w.ok() && w.Truncate(good) && w.Sync();
        }
        // Without a copy the bytes stay, but appends go over them.
        if (!cut)
            append_at_ = static_cast<int64_t>(good);
        log_.store_size = cut ? static_cast<int64_t>(good) : static_cast<int64_t>(file_length);
    } else {
        log_.store_size = static_cast<int64_t>(file_length);
    }
    return StoreResult::kOk;
}

StoreResult CMessageStore::LoadLocked(LoadReport* report) {
    LoadReport rep;
    // The records of an earlier load stay valid (see dropped_).
    for (auto& r : list_)
        dropped_.push_back(std::move(r));
    list_.clear();
    live_.clear();
    live_built_ = false;
    by_offset_.clear();
    by_offset_built_ = false;
    pending_ = TakenIn();

    WriteScope scope(this, true, /*take_in=*/false);
    StoreResult r = ReadStoreFile(&list_, &rep);
    Bump();
    if (scope.ok() && rep.good_length < rep.file_length) {
        // The file changed under the others' feet: they reload.
        scope.NewEpoch();
    }
    if (report)
        *report = rep;
    return r;
}

bool CMessageStore::TakeInLocked(int log_fd, bool exclusive) {
    // With only the shared lock (a look between writes), nothing is written:
    // whatever needs a write or a reload of the whole file is left to the
    // caller, who takes the exclusive lock for it.
    struct stat st;
    if (::fstat(log_fd, &st) != 0)
        return true;
    const uint64_t log_size = static_cast<uint64_t>(st.st_size);
    auto store_length = [&] {
        struct stat ss;
        return ::stat(StorePath().c_str(), &ss) == 0 ? static_cast<int64_t>(ss.st_size) : 0;
    };
    std::string head(kLogHeader, '\0');
    uint64_t epoch = 0;
    bool has_header =
        log_size >= kLogHeader &&
        ::pread(log_fd, head.data(), kLogHeader, 0) == static_cast<ssize_t>(kLogHeader) &&
        ParseLogHeader(head.data(), &epoch);
    if (!has_header) {
        if (!exclusive)
            return store_length() == log_.store_size;
        // A new log (first use, or removed): start it. What is on disk may
        // have been changed without a log: reload when it differs.
        epoch = NewEpoch(log_.epoch);
        std::string h = LogHeader(epoch);
        if (!platform::WriteAllAt(log_fd, 0, h.data(), h.size()) ||
            !platform::Env().Truncate(log_fd, kLogHeader))
            return true;
        log_.epoch = epoch;
        log_.entries = 0;
        if (store_length() != log_.store_size)
            Reconcile();
        return true;
    }
    const uint64_t entries = (log_size - kLogHeader) / kLogEntry;
    if (epoch == log_.epoch && entries == log_.entries) {
        // Nothing noted since: only an unnoted change in length (a program
        // that died between noting and writing, or one without the log) is
        // left to check.
        if (store_length() == log_.store_size)
            return true;
        if (!exclusive)
            return false;
        Reconcile();
        return true;
    }
    // Another program compacted (a new epoch; it may have noted any number
    // of changes since), or the log was cut: the offsets this program knows
    // mean nothing any more.
    if (epoch != log_.epoch || entries < log_.entries) {
        if (!exclusive)
            return false;
        log_.epoch = epoch;
        log_.entries = entries;
        Reconcile();
        return true;
    }
    Fd store = Fd::Open(StorePath(), O_RDONLY);
    const int64_t store_size = store.ok() ? store.Size() : -1;
    // The entries come in pieces: a log is read as far as the file holds it,
    // never by a count taken from the file.
    constexpr uint64_t kPiece = 4096;
    bool follow = store_size >= 0;
    int64_t expected = log_.store_size;
    std::string buf;
    for (uint64_t next = log_.entries; follow && next < entries;) {
        const uint64_t n = std::min(kPiece, entries - next);
        buf.resize(n * kLogEntry);
        if (::pread(log_fd, buf.data(), buf.size(),
                    static_cast<off_t>(kLogHeader + next * kLogEntry)) !=
            static_cast<ssize_t>(buf.size())) {
            follow = false;
            break;
        }
        next += n;
        for (size_t at = 0; follow && at < buf.size(); at += kLogEntry) {
            const uint32_t kind = LoadU32(buf.data() + at);
            const uint32_t offset = LoadU32(buf.data() + at + 4);
            const uint32_t length = LoadU32(buf.data() + at + 8);
            expected = LoadU32(buf.data() + at + 12);
            if (kind == kLogAppend) {
                // A length is believed only as far as the store holds it.
                if (length < kFixedRecordBytes ||
                    static_cast<uint64_t>(offset) + length > static_cast<uint64_t>(store_size)) {
                    follow = false;
                    break;
                }
                std::string bytes(length, '\0');
                if (store.ReadAt(offset, bytes.data(), length) != static_cast<int64_t>(length)) {
                    follow = false;
                    break;
                }
                List added;
                if (ParseStoreBytes(bytes, &added) != length) {
                    follow = false;
                    break;
                }
                for (auto& m : added) {
                    m->m_nFileOffset += static_cast<int32_t>(offset);
                    CSmsMessage* p = m.get();
                    Push(std::move(m));
                    NoteOffset(p);
                    pending_.added.push_back(p);
                }
            } else if (kind == kLogRewrite) {
                CSmsMessage* rec = ByOffset(static_cast<int32_t>(offset));
                CSmsMessage fresh;
                if (!rec || !ReadRecordAt(store, offset, &fresh)) {
                    follow = false;
                    break;
                }
                fresh.m_nFileOffset = rec->m_nFileOffset;
                fresh.m_bMarked = rec->m_bMarked;  // this program's mark
                *rec = fresh;
                Bump();
                pending_.changed.push_back(rec);
            } else {
                follow = false;
            }
        }
    }
    log_.entries = entries;
    if (!follow || store_size != expected) {
        // What was taken in so far is matched again by the reload.
        log_.store_size = -1;
        if (!exclusive)
            return false;
        Reconcile();
        return true;
    }
    log_.store_size = expected;
    return true;
}

void CMessageStore::Reconcile() {
    List fresh;
    LoadReport rep;
    {
        // The file is read without the list lock: readers of the list
        // (the user interface) do not wait for the disk.
        ListUnlocked unlocked(this);
        if (ReadStoreFile(&fresh, &rep) != StoreResult::kOk)
            return;
    }
    Bump();
    // Match the file's records with the list's, so that every record keeps
    // its address; the list's records that the file lacks and that were
    // stored are gone (another program purged them); the ones never stored
    // stay.
    std::unordered_multimap<RecordKey, CSmsMessage*, RecordKeyHash> old;
    old.reserve(list_.size());
    List unstored;
    for (auto& r : list_) {
        if (r->m_nFileOffset < 0)
            unstored.push_back(std::move(r));
        else {
            CSmsMessage* p = r.release();
            old.emplace(RecordKey{p}, p);
        }
    }
    list_.clear();
    live_.clear();
    live_built_ = false;
    for (auto& f : fresh) {
        auto it = old.find(RecordKey{f.get()});
        if (it != old.end()) {
            CSmsMessage* keep = it->second;
            old.erase(it);
            const int32_t marked = keep->m_bMarked;  // this program's mark
            *keep = *f;
            keep->m_bMarked = marked;
            list_.emplace_back(keep);
        } else {
            list_.push_back(std::move(f));
        }
    }
    for (auto& [key, rec] : old)
        dropped_.emplace_back(rec);
    for (auto& r : unstored)
        list_.push_back(std::move(r));
    by_offset_.clear();
    by_offset_built_ = false;
    pending_ = TakenIn();
    pending_.reset = true;
}

CSmsMessage* CMessageStore::ByOffset(int32_t offset) {
    if (!by_offset_built_) {
        by_offset_.clear();
        by_offset_.reserve(list_.size());
        for (const auto& r : list_) {
            if (r->m_nFileOffset >= 0)
                by_offset_[r->m_nFileOffset] = r.get();
        }
        by_offset_built_ = true;
    }
    auto it = by_offset_.find(offset);
    return it == by_offset_.end() ? nullptr : it->second;
}

void CMessageStore::NoteOffset(CSmsMessage* rec) {
    if (by_offset_built_ && rec->m_nFileOffset >= 0)
        by_offset_[rec->m_nFileOffset] = rec;
}

void CMessageStore::ForgetOffset(const CSmsMessage* rec) {
    if (!by_offset_built_ || rec->m_nFileOffset < 0)
        return;
    auto it = by_offset_.find(rec->m_nFileOffset);
    if (it != by_offset_.end() && it->second == rec)
        by_offset_.erase(it);
}

StoreResult CMessageStore::TakeInChanges() {
    {
        Writing writing(this);
        // A look under the shared lock through a read-only descriptor
        // follows what others appended and rewrote. Closing it raises no
        // "closed after writing" event, so a program that takes in when its
        // watcher wakes does not wake itself again. Only a reload (another
        // program's compaction) or a new log needs the exclusive lock.
        Fd log = Fd::Open(LogPath(), O_RDONLY);
        bool done = log.ok() && LockFd(log.get(), LOCK_SH) && TakeInLocked(log.get(), false);
        log.Close();
        if (!done) {
            WriteScope scope(this, true);
            if (!scope.ok())
                return StoreResult::kReadError;
        }
    }
    Flush();
    return StoreResult::kOk;
}

StoreResult CMessageStore::ReloadMessage(const CSmsMessage& rec, CSmsMessage* out) const {
    if (rec.m_nFileOffset < 0)
        return StoreResult::kOk;
    Fd fd = Fd::Open(StorePath(), O_RDONLY);
    if (!fd.ok())
        return StoreResult::kReadError;
    if (!ReadRecordAt(fd, rec.m_nFileOffset, out))
        return StoreResult::kReadError;
    return StoreResult::kOk;
}

StoreResult CMessageStore::StoreMessage(CSmsMessage* rec) {
    StoreResult r;
    {
        Writing writing(this);
        Revive(rec);
        Bump();
        WriteScope scope(this, true);
        r = scope.ok() ? StoreLocked(rec, &scope) : StoreResult::kSaveFailed;
    }
    Flush();
    return r;
}

StoreResult CMessageStore::StoreLocked(CSmsMessage* rec, WriteScope* scope,
                                       int32_t superseded_state) {
    if (!Storable(*rec))
        return StoreResult::kSaveFailed;
    Fd fd = Fd::Open(StorePath(), O_RDWR | O_CREAT);
    if (!fd.ok())
        return StoreResult::kSaveFailed;

    int64_t offset = rec->m_nFileOffset;
    // The stored copy that the new version replaces (-1: none): it is marked
    // deleted only after the new version is safely appended, so that a
    // failure or a crash in between leaves both, never neither.
    int64_t superseded = -1;
    if (offset >= 0) {
        CSmsMessage stored;
        if (!ReadRecordAt(fd, offset, &stored)) {
            // The stored copy is not where the record says (the file was
            // changed behind our back): do not patch unknown bytes.
            offset = -1;
        } else if (stored.m_strNumber != rec->m_strNumber || stored.m_strText != rec->m_strText) {
            // Keep the previous version as a Recycle Bin entry; the new one
            // has another length and goes to the end.
            superseded = offset;
            offset = -1;
        }
    }
    std::string bytes;
    bytes.reserve(RecordSize(*rec));
    AppendRecordBytes(*rec, &bytes);
    const bool append = offset < 0;
    const int64_t file_size = fd.Size();
    if (file_size < 0)
        return StoreResult::kSaveFailed;
    if (append)
        offset = append_at_ >= 0 ? append_at_ : file_size;
    const int64_t end = offset + static_cast<int64_t>(bytes.size());
    if (end > INT32_MAX)
        return StoreResult::kSaveFailed;
    if (!scope->Note(append ? kLogAppend : kLogRewrite, offset, bytes.size(),
                     std::max(file_size, end)))
        return StoreResult::kSaveFailed;
    if (!fd.WriteAt(static_cast<uint64_t>(offset), bytes)) {
        if (append) {
            // Part of the record may have landed: cut it off again, or at
            // least let the next append go over it, so that no unreadable
            // bytes stay in front of later records.
            if (fd.Truncate(static_cast<uint64_t>(file_size)))
                log_.store_size = file_size;
            else
                append_at_ = offset;
        }
        return StoreResult::kSaveFailed;
    }
    if (append && append_at_ >= 0)
        append_at_ = end;
    if (offset != rec->m_nFileOffset) {
        ForgetOffset(rec);
        rec->m_nFileOffset = static_cast<int32_t>(offset);
        NoteOffset(rec);
    }
    if (superseded >= 0) {
        platform::BinaryWriter w;
        w.WriteInt32(superseded_state);
        if (!scope->Note(kLogRewrite, superseded, 4, log_.store_size) ||
            !fd.WriteAt(static_cast<uint64_t>(superseded), w.data()))
            return StoreResult::kSaveFailed;  // the old version stays visible too
    }
    if (!fd.Close())
        return StoreResult::kSaveFailed;
    return StoreResult::kOk;
}

StoreResult CMessageStore::CompactStore(size_t* dropped) {
    StoreResult r;
    {
        Writing writing(this);
        std::vector<const CSmsMessage*> gone;
        r = CompactLocked([](const CSmsMessage& m) { return m.m_nState == STATE_PURGED; }, &gone);
        if (r == StoreResult::kOk && dropped)
            *dropped = gone.size();
    }
    Flush();
    return r;
}

StoreResult CMessageStore::PurgeAndCompact(int32_t state, int32_t folder_id,
                                           std::vector<const CSmsMessage*>* purged) {
    StoreResult r;
    {
        Writing writing(this);
        auto asked = [&](const CSmsMessage& m) {
            return m.m_nState == state && (folder_id < 0 || m.m_nFolderId == folder_id);
        };
        std::vector<const CSmsMessage*> gone;
        r = CompactLocked(
            [&](const CSmsMessage& m) { return m.m_nState == STATE_PURGED || asked(m); }, &gone);
        // Only the records of the asked state are reported; purged ones
        // dropped on the way were shown nowhere.
        if (r == StoreResult::kOk && purged) {
            for (const CSmsMessage* p : gone) {
                if (p->m_nState != STATE_PURGED)
                    purged->push_back(p);
            }
        }
    }
    Flush();
    return r;
}

StoreResult CMessageStore::CompactLocked(const std::function<bool(const CSmsMessage&)>& drop,
                                         std::vector<const CSmsMessage*>* dropped) {
    // What others changed is taken in first: the new file is what is on
    // disk, less what is dropped, plus this program's unstored records.
    WriteScope scope(this, true);
    if (!scope.ok())
        return StoreResult::kSaveFailed;
    std::vector<char> keep(list_.size(), 0);
    size_t total = 0;
    bool as_on_disk = append_at_ < 0;  // every record stored, nothing dropped
    for (size_t i = 0; i < list_.size(); ++i) {
        keep[i] = !drop(*list_[i]);
        if (keep[i])
            total += RecordSize(*list_[i]);
        if (!keep[i] || list_[i]->m_nFileOffset < 0)
            as_on_disk = false;
    }
    // Nothing to drop, and the file holds just the records listed: it stays
    // as it is (a rewrite would make every other program load it again).
    std::error_code ec;
    if (as_on_disk && std::filesystem::file_size(StorePath(), ec) == total && !ec)
        return StoreResult::kOk;
    if (total > INT32_MAX)
        return StoreResult::kSaveFailed;
    std::string bytes;
    std::vector<int32_t> offsets(list_.size(), -1);
    bytes.reserve(total);
    for (size_t i = 0; i < list_.size(); ++i) {
        if (!keep[i] || !Storable(*list_[i]))
            continue;
        offsets[i] = static_cast<int32_t>(bytes.size());
        AppendRecordBytes(*list_[i], &bytes);
    }
    {
        // The new store is written once: "vok.tmp", synced, then a new epoch
        // of the log (the others will reload), then "vok.tmp" is renamed over
        // "vok.sms", so a crash leaves either the old store or the new one,
        // whole. The list lock is let go of meanwhile: the list is not
        // touched until the new file is in place.
        ListUnlocked unlocked(this);
        Fd tmp = Fd::Open(TmpPath(), O_WRONLY | O_CREAT | O_TRUNC);
        if (!tmp.ok() || !tmp.WriteAt(0, bytes) || !tmp.Sync() || !tmp.Close())
            return StoreResult::kSaveFailed;
        if (!scope.NewEpoch())
            return StoreResult::kSaveFailed;
        if (!platform::Env().Rename(TmpPath(), StorePath()))
            return StoreResult::kSaveFailed;  // the old file, which others reload
        platform::SyncDirectory(dir_);
    }
    log_.store_size = static_cast<int64_t>(bytes.size());
    bytes = std::string();

    List kept;
    kept.reserve(list_.size());
    for (size_t i = 0; i < list_.size(); ++i) {
        if (!keep[i]) {
            if (live_built_)
                live_.erase(list_[i].get());
            if (dropped)
                dropped->push_back(list_[i].get());
            dropped_.push_back(std::move(list_[i]));
            continue;
        }
        list_[i]->m_nFileOffset = offsets[i];
        kept.push_back(std::move(list_[i]));
    }
    list_.swap(kept);
    by_offset_.clear();
    by_offset_built_ = false;
    append_at_ = -1;
    Bump();
    return StoreResult::kOk;
}

StoreResult CMessageStore::StoreManyLocked(const std::vector<CSmsMessage*>& recs,
                                           WriteScope* scope) {
    if (!scope->ok())
        return StoreResult::kSaveFailed;
    Fd fd = Fd::Open(StorePath(), O_RDWR | O_CREAT);
    const int64_t file_size = fd.ok() ? fd.Size() : -1;
    if (file_size < 0)
        return StoreResult::kSaveFailed;
    // While an unreadable tail could not be cut off, appends go over it:
    // nothing behind that point is a record.
    const int64_t readable = append_at_ >= 0 ? std::min(append_at_, file_size) : file_size;
    // Each span's records are noted in the change log before the span is
    // written.
    const int64_t size_after = std::max(file_size, log_.store_size);
    InPlaceBatch batch = RewriteInPlace(fd, readable, recs, [&](const InPlaceBatch::Span& span) {
        return scope->NoteRewrites(span.records, size_after) &&
               fd.WriteAt(static_cast<uint64_t>(span.offset), span.bytes);
    });
    StoreResult res = batch.failed ? StoreResult::kSaveFailed : StoreResult::kOk;
    fd.Close();
    // After the spans: these may append, or mark a superseded copy that a
    // span holds.
    for (CSmsMessage* rec : batch.rest) {
        if (StoreLocked(rec, scope) != StoreResult::kOk)
            res = StoreResult::kSaveFailed;
    }
    return res;
}

size_t CMessageStore::Count() const {
    std::lock_guard lock(mutex_);
    return list_.size();
}

std::vector<CSmsMessage*> CMessageStore::Snapshot() const {
    std::lock_guard lock(mutex_);
    std::vector<CSmsMessage*> out;
    out.reserve(list_.size());
    for (const auto& r : list_)
        out.push_back(r.get());
    return out;
}

void CMessageStore::ForEach(const std::function<void(CSmsMessage&)>& fn) const {
    std::lock_guard lock(mutex_);
    for (const auto& r : list_)
        fn(*r);
}

int CMessageStore::IndexOf(const CSmsMessage* rec) const {
    std::lock_guard lock(mutex_);
    for (size_t i = 0; i < list_.size(); ++i) {
        if (list_[i].get() == rec)
            return static_cast<int>(i);
    }
    return -1;
}

CSmsMessage* CMessageStore::At(size_t index) const {
    std::lock_guard lock(mutex_);
    return index < list_.size() ? list_[index].get() : nullptr;
}

bool CMessageStore::Read(const CSmsMessage* rec, CSmsMessage* out) const {
    std::lock_guard lock(mutex_);
    if (!IsLive(rec))
        return false;
    *out = *rec;
    return true;
}

void CMessageStore::ReadStates(const std::vector<CSmsMessage*>& recs,
                               std::vector<std::pair<CSmsMessage*, CSmsMessage>>* states,
                               std::vector<CSmsMessage*>* gone) const {
    std::lock_guard lock(mutex_);
    states->reserve(states->size() + recs.size());
    for (CSmsMessage* rec : recs) {
        if (!IsLive(rec)) {
            gone->push_back(rec);
            continue;
        }
        states->emplace_back(rec, CSmsMessage(rec->m_nState, {}, {}, rec->m_time, rec->m_bMarked,
                                              rec->m_nStorage, rec->m_nPhoneIndex,
                                              rec->m_nFileOffset, rec->m_nFolderId));
    }
}

CSmsMessage CMessageStore::Copy(const CSmsMessage* rec) const {
    std::lock_guard lock(mutex_);
    return *rec;
}

void CMessageStore::WithListLocked(const std::function<void()>& fn) const {
    std::lock_guard lock(mutex_);
    fn();
}

bool CMessageStore::IsLive(const CSmsMessage* rec) const {
    if (!live_built_) {
        live_.clear();
        live_.reserve(list_.size());
        for (const auto& r : list_)
            live_.insert(r.get());
        live_built_ = true;
    }
    return live_.count(rec) != 0;
}

void CMessageStore::Push(std::unique_ptr<CSmsMessage> rec) {
    Bump();
    if (live_built_)
        live_.insert(rec.get());
    list_.push_back(std::move(rec));
}

void CMessageStore::Revive(CSmsMessage* rec) {
    // Only a record set aside can come back; most programs never set one
    // aside, and need no index of the list for this.
    if (dropped_.empty() || IsLive(rec))
        return;
    auto it = std::find_if(dropped_.begin(), dropped_.end(),
                           [&](const auto& p) { return p.get() == rec; });
    if (it == dropped_.end())
        return;
    std::unique_ptr<CSmsMessage> back = std::move(*it);
    dropped_.erase(it);
    back->m_nFileOffset = -1;
    Push(std::move(back));
}

CSmsMessage* CMessageStore::Add(std::unique_ptr<CSmsMessage> rec, StoreResult* result) {
    CSmsMessage* p = rec.get();
    StoreResult r;
    {
        Writing writing(this);
        p->m_nFileOffset = -1;
        WriteScope scope(this, true);
        // After the others' records: the list stays in file order.
        Push(std::move(rec));
        r = scope.ok() ? StoreLocked(p, &scope) : StoreResult::kSaveFailed;
    }
    Flush();
    if (result)
        *result = r;
    return p;
}

StoreResult CMessageStore::Change(CSmsMessage* rec, const std::function<void(CSmsMessage&)>& change,
                                  int32_t superseded_state) {
    StoreResult r;
    {
        Writing writing(this);
        Revive(rec);
        const bool was_purged = rec->m_nState == STATE_PURGED;
        WriteScope scope(this, true);
        if (scope.ok() && !was_purged && rec->m_nState == STATE_PURGED &&
            superseded_state != STATE_PURGED) {
            r = StoreResult::kGone;
        } else {
            // The change goes on top of what others changed.
            change(*rec);
            Bump();
            r = scope.ok() ? StoreLocked(rec, &scope, superseded_state) : StoreResult::kSaveFailed;
        }
    }
    Flush();
    return r;
}

void CMessageStore::ChangeInMemory(CSmsMessage* rec,
                                   const std::function<void(CSmsMessage&)>& change) {
    std::lock_guard lock(mutex_);
    change(*rec);
    Bump();
}

std::vector<CSmsMessage*> CMessageStore::ChangeAllInState(int32_t from, int32_t to,
                                                          int32_t folder_id, StoreResult* result) {
    std::vector<CSmsMessage*> changed;
    StoreResult res;
    {
        Writing writing(this);
        WriteScope scope(this, true);
        for (const auto& r : list_) {
            if (r->m_nState != from)
                continue;
            if (folder_id >= 0 && r->m_nFolderId != folder_id)
                continue;
            r->m_nState = to;
            changed.push_back(r.get());
        }
        Bump();
        res = changed.empty() ? StoreResult::kOk : StoreManyLocked(changed, &scope);
    }
    Flush();
    if (result)
        *result = res;
    return changed;
}

StoreResult CMessageStore::ChangeMany(const std::vector<CSmsMessage*>& recs,
                                      const std::function<void(CSmsMessage&)>& change) {
    if (recs.empty())
        return StoreResult::kOk;
    StoreResult res;
    {
        Writing writing(this);
        std::vector<bool> was_purged;
        was_purged.reserve(recs.size());
        for (CSmsMessage* rec : recs) {
            Revive(rec);
            was_purged.push_back(rec->m_nState == STATE_PURGED);
        }
        WriteScope scope(this, true);
        // The changes go on top of what others changed; records that
        // another program purged meanwhile stay purged (see Change).
        std::vector<CSmsMessage*> live;
        live.reserve(recs.size());
        for (size_t i = 0; i < recs.size(); ++i) {
            if (!was_purged[i] && recs[i]->m_nState == STATE_PURGED)
                continue;
            change(*recs[i]);
            live.push_back(recs[i]);
        }
        Bump();
        res = StoreManyLocked(live, &scope);
        if (res == StoreResult::kOk && live.size() != recs.size())
            res = StoreResult::kGone;
    }
    Flush();
    return res;
}

// --- recovery ---------------------------------------------------------------

namespace {

// A record found in damaged bytes is taken only when every field is one
// that this program writes.
bool Plausible(const CSmsMessage& m) {
    switch (m.m_nState) {
        case STATE_UNREAD:
        case STATE_READ:
        case STATE_PHONE_SENT:
        case STATE_OUTBOX:
        case STATE_DRAFT:
        case STATE_TEMPLATE:
        case STATE_SENT:
        case STATE_DELETED:
        case STATE_PHONE_DELETE:
        case STATE_OUTBOX_PUSH:
        case STATE_IN_FOLDER:
            break;
        default:
            return false;  // purged ones are not worth taking back either
    }
    return (m.m_bMarked == 0 || m.m_bMarked == 1) && m.m_nStorage >= 0 && m.m_nStorage <= 3 &&
           m.m_nPhoneIndex >= -1 && m.m_nFolderId >= 0 && m.m_nFolderId < 2006 &&
           m.m_time.m_status >= 0 && m.m_time.m_status <= 2 && std::isfinite(m.m_time.m_dt) &&
           m.m_time.m_dt > -700000.0 && m.m_time.m_dt < 3000000.0;
}

bool SameRecord(const CSmsMessage& a, const CSmsMessage& b) {
    return a.m_nState == b.m_nState && a.m_strNumber == b.m_strNumber &&
           a.m_strText == b.m_strText && a.m_time.m_dt == b.m_time.m_dt &&
           a.m_nStorage == b.m_nStorage && a.m_nPhoneIndex == b.m_nPhoneIndex &&
           a.m_nFolderId == b.m_nFolderId;
}

}  // namespace

StoreResult CMessageStore::Recover(size_t* found, size_t* added) {
    *found = *added = 0;
    std::string data;
    if (!platform::ReadFileBytes(TornPath(), &data))
        return StoreResult::kOk;  // nothing torn
    std::vector<std::unique_ptr<CSmsMessage>> candidates;
    platform::BinaryReader reader(data);
    size_t at = 0;
    while (at + kFixedRecordBytes <= data.size()) {
        auto rec = std::make_unique<CSmsMessage>();
        reader.Seek(at);
        if (ParseRecord(reader, rec.get()) && Plausible(*rec)) {
            at = reader.position();
            candidates.push_back(std::move(rec));
        } else {
            ++at;
        }
    }
    *found = candidates.size();
    // What the store holds, by the matching key of a reload.
    std::unordered_multimap<RecordKey, const CSmsMessage*, RecordKeyHash> held;
    std::vector<CSmsMessage> copies;
    {
        std::lock_guard lock(mutex_);
        copies.reserve(list_.size());
        for (const auto& m : list_)
            copies.push_back(*m);
    }
    for (const CSmsMessage& m : copies)
        held.emplace(RecordKey{&m}, &m);
    StoreResult res = StoreResult::kOk;
    for (auto& c : candidates) {
        auto [lo, hi] = held.equal_range(RecordKey{c.get()});
        if (std::any_of(lo, hi, [&](const auto& kv) { return SameRecord(*kv.second, *c); }))
            continue;
        StoreResult r;
        c->m_bMarked = 0;
        Add(std::move(c), &r);
        if (r == StoreResult::kOk)
            ++*added;
        else
            res = r;
    }
    return res;
}

}  // namespace parlo
