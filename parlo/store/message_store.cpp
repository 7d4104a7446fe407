#include "parlo/store/message_store.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <climits>

#include "parlo/store/file_io.h"
#include "platform/binio.h"

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
    w.WriteInt32(rec.m_bMarked);
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
        good = reader.position();
        out->push_back(std::move(rec));
    }
    return good;
}

size_t RecordSize(const CSmsMessage& rec) {
    return kFixedRecordBytes + 2 * (rec.m_strNumber.size() + rec.m_strText.size());
}

CMessageStore::CMessageStore(std::filesystem::path dir) : dir_(std::move(dir)) {}

void CMessageStore::SetDirectory(const std::filesystem::path& dir) {
    std::lock_guard lock(mutex_);
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

StoreResult CMessageStore::LoadMessages(LoadReport* report) {
    std::lock_guard lock(mutex_);
    return LoadLocked(report);
}

StoreResult CMessageStore::LoadLocked(LoadReport* report) {
    LoadReport rep;
    list_.clear();
    live_.clear();
    append_at_ = -1;
    Fd fd = Fd::Open(StorePath(), O_RDONLY);
    if (!fd.ok()) {
        Fd created = Fd::Open(StorePath(), O_WRONLY | O_CREAT);
        created.Close();
        fd = Fd::Open(StorePath(), O_RDONLY);
        if (!fd.ok()) {
            if (report)
                *report = rep;
            return StoreResult::kReadError;
        }
    }
    std::string data;
    if (!fd.ReadAll(&data)) {
        if (report)
            *report = rep;
        return StoreResult::kReadError;
    }
    fd.Close();
    rep.file_length = data.size();

    size_t good = ParseStoreBytes(data, &list_);
    live_.reserve(list_.size());
    for (const auto& r : list_)
        live_.insert(r.get());
    rep.records = list_.size();
    rep.good_length = good;

    if (good < data.size()) {
        // An unreadable tail: a record cut off by a crash during an append, or
        // damage. Keep a copy of the bytes beside the store, then cut them off
        // so that the next append lands right behind the last good record.
        Fd torn = Fd::Open(TornPath(), O_WRONLY | O_CREAT | O_APPEND);
        bool saved = torn.ok() &&
                     torn.WriteAt(static_cast<uint64_t>(std::max<int64_t>(torn.Size(), 0)),
                                  std::string_view(data).substr(good)) &&
                     torn.Sync();
        torn.Close();
        rep.tail_saved = saved;
        bool cut = false;
        if (saved) {
            Fd w = Fd::Open(StorePath(), O_WRONLY);
            cut = w.ok() && w.Truncate(good) && w.Sync();
        }
        // Without a copy the bytes stay, but appends go over them.
        if (!cut)
            append_at_ = static_cast<int64_t>(good);
    }
    if (report)
        *report = rep;
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
    std::lock_guard lock(mutex_);
    return StoreLocked(rec);
}

StoreResult CMessageStore::StoreLocked(CSmsMessage* rec) {
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
    int64_t file_size = -1;
    if (append && append_at_ >= 0) {
        offset = append_at_;
    } else if (append) {
        offset = file_size = fd.Size();
        if (offset < 0)
            return StoreResult::kSaveFailed;
    }
    if (offset + static_cast<int64_t>(bytes.size()) > INT32_MAX)
        return StoreResult::kSaveFailed;
    if (!fd.WriteAt(static_cast<uint64_t>(offset), bytes)) {
        if (append) {
            // Part of the record may have landed: cut it off again, or at
            // least let the next append go over it, so that no unreadable
            // bytes stay in front of later records.
            if (file_size < 0 || !fd.Truncate(static_cast<uint64_t>(file_size)))
                append_at_ = offset;
        }
        return StoreResult::kSaveFailed;
    }
    if (append && append_at_ >= 0)
        append_at_ = offset + static_cast<int64_t>(bytes.size());
    rec->m_nFileOffset = static_cast<int32_t>(offset);
    if (superseded >= 0) {
        platform::BinaryWriter w;
        w.WriteInt32(STATE_DELETED);
        if (!fd.WriteAt(static_cast<uint64_t>(superseded), w.data()))
            return StoreResult::kSaveFailed;  // the old version stays visible too
    }
    if (!fd.Close())
        return StoreResult::kSaveFailed;
    return StoreResult::kOk;
}

StoreResult CMessageStore::CompactStore(size_t* dropped) {
    std::lock_guard lock(mutex_);
    std::vector<const CSmsMessage*> gone;
    StoreResult r =
        CompactLocked([](const CSmsMessage& m) { return m.m_nState == STATE_PURGED; }, &gone);
    if (r == StoreResult::kOk && dropped)
        *dropped = gone.size();
    return r;
}

StoreResult CMessageStore::PurgeAndCompact(int32_t state, int32_t folder_id,
                                           std::vector<const CSmsMessage*>* purged) {
    std::lock_guard lock(mutex_);
    auto asked = [&](const CSmsMessage& m) {
        return m.m_nState == state && (folder_id < 0 || m.m_nFolderId == folder_id);
    };
    // Only the records of the asked state are reported; purged ones dropped
    // on the way were shown nowhere.
    std::vector<const CSmsMessage*> matching;
    for (const auto& r : list_) {
        if (asked(*r))
            matching.push_back(r.get());
    }
    StoreResult r = CompactLocked(
        [&](const CSmsMessage& m) { return m.m_nState == STATE_PURGED || asked(m); }, nullptr);
    if (r == StoreResult::kOk && purged)
        purged->insert(purged->end(), matching.begin(), matching.end());
    return r;
}

StoreResult CMessageStore::CompactLocked(const std::function<bool(const CSmsMessage&)>& drop,
                                         std::vector<const CSmsMessage*>* dropped) {
    std::string bytes;
    std::vector<char> keep(list_.size(), 0);
    std::vector<int32_t> offsets(list_.size(), -1);
    size_t total = 0;
    for (size_t i = 0; i < list_.size(); ++i) {
        keep[i] = !drop(*list_[i]);
        if (keep[i])
            total += RecordSize(*list_[i]);
    }
    if (total > INT32_MAX)
        return StoreResult::kSaveFailed;
    bytes.reserve(total);
    for (size_t i = 0; i < list_.size(); ++i) {
        if (!keep[i] || !Storable(*list_[i]))
            continue;
        offsets[i] = static_cast<int32_t>(bytes.size());
        AppendRecordBytes(*list_[i], &bytes);
    }
    // "vok.tmp" first, synced; then the store is replaced in one rename, so a
    // crash leaves either the old store or the new one, whole.
    Fd tmp = Fd::Open(TmpPath(), O_WRONLY | O_CREAT | O_TRUNC);
    if (!tmp.ok() || !tmp.WriteAt(0, bytes) || !tmp.Sync() || !tmp.Close()) {
        return StoreResult::kSaveFailed;
    }
    if (!platform::WriteFileAtomic(StorePath(), bytes))
        return StoreResult::kSaveFailed;

    List kept;
    kept.reserve(list_.size());
    for (size_t i = 0; i < list_.size(); ++i) {
        if (!keep[i]) {
            live_.erase(list_[i].get());
            if (dropped)
                dropped->push_back(list_[i].get());
            continue;
        }
        list_[i]->m_nFileOffset = offsets[i];
        kept.push_back(std::move(list_[i]));
    }
    list_.swap(kept);
    append_at_ = -1;
    return StoreResult::kOk;
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
    if (!live_.count(rec))
        return false;
    *out = *rec;
    return true;
}

void CMessageStore::Push(std::unique_ptr<CSmsMessage> rec) {
    live_.insert(rec.get());
    list_.push_back(std::move(rec));
}

CSmsMessage* CMessageStore::Add(std::unique_ptr<CSmsMessage> rec, StoreResult* result) {
    std::lock_guard lock(mutex_);
    CSmsMessage* p = rec.get();
    p->m_nFileOffset = -1;
    Push(std::move(rec));
    StoreResult r = StoreLocked(p);
    if (result)
        *result = r;
    return p;
}

StoreResult CMessageStore::Change(CSmsMessage* rec,
                                  const std::function<void(CSmsMessage&)>& change) {
    std::lock_guard lock(mutex_);
    change(*rec);
    return StoreLocked(rec);
}

std::vector<CSmsMessage*> CMessageStore::ChangeAllInState(int32_t from, int32_t to,
                                                          int32_t folder_id, StoreResult* result) {
    std::lock_guard lock(mutex_);
    std::vector<CSmsMessage*> changed;
    StoreResult res = StoreResult::kOk;
    for (const auto& r : list_) {
        if (r->m_nState != from)
            continue;
        if (folder_id >= 0 && r->m_nFolderId != folder_id)
            continue;
        r->m_nState = to;
        StoreResult one = StoreLocked(r.get());
        if (one != StoreResult::kOk)
            res = one;
        changed.push_back(r.get());
    }
    if (result)
        *result = res;
    return changed;
}

}  // namespace parlo
