#include "parlo/store/parts_table.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <set>

#include "parlo/store/file_io.h"
#include "platform/binio.h"

namespace parlo {

namespace {

constexpr char kMagic[4] = {'S', 'K', 'V', 'P'};
constexpr uint32_t kVersion = 1;
constexpr int32_t kMaxTextUnits = 65535;
constexpr uint32_t kFlagRef16 = 1;
constexpr uint32_t kFlagSent = 2;

// FNV-1a over the bytes before the checksum.
uint32_t Checksum(std::string_view bytes) {
    uint32_t h = 2166136261u;
    for (unsigned char c : bytes) {
        h ^= c;
        h *= 16777619u;
    }
    return h;
}

}  // namespace

const CStoredPart* CPartGroup::Part(int32_t seq) const {
    for (const CStoredPart& p : m_parts) {
        if (p.m_nSeq == seq)
            return &p;
    }
    return nullptr;
}

int32_t CPartGroup::Received() const {
    std::set<int32_t> seen;
    for (const CStoredPart& p : m_parts)
        seen.insert(p.m_nSeq);
    return static_cast<int32_t>(seen.size());
}

CPartGroup* CPartsFile::Find(uint32_t id) {
    for (CPartGroup& g : m_groups) {
        if (g.m_nId == id)
            return &g;
    }
    return nullptr;
}

const CPartGroup* CPartsFile::Find(uint32_t id) const {
    return const_cast<CPartsFile*>(this)->Find(id);
}

std::string SerialisePartsFile(const CPartsFile& file) {
    platform::BinaryWriter w;
    w.WriteBytes(std::string_view(kMagic, 4));
    w.WriteUInt32(kVersion);
    w.WriteUInt32(file.m_nNextId);
    w.WriteUInt32(static_cast<uint32_t>(file.m_groups.size()));
    for (const CPartGroup& g : file.m_groups) {
        w.WriteUInt32(g.m_nId);
        w.WriteRecordString(g.m_strNumber);
        w.WriteInt32(g.m_nRef);
        w.WriteUInt32((g.m_bRef16 ? kFlagRef16 : 0) | (g.m_bSent ? kFlagSent : 0));
        w.WriteInt32(g.m_nTotal);
        w.WriteDouble(g.m_anchor);
        w.WriteUInt32(static_cast<uint32_t>(g.m_priorTexts.size()));
        for (const std::u16string& t : g.m_priorTexts)
            w.WriteRecordString(t);
        w.WriteUInt32(static_cast<uint32_t>(g.m_parts.size()));
        for (const CStoredPart& p : g.m_parts) {
            w.WriteInt32(p.m_nSeq);
            w.WriteInt32(p.m_nStorage);
            w.WriteInt32(p.m_nSlot);
            w.WriteInt32(p.m_nState);
            w.WriteDouble(p.m_time);
            w.WriteRecordString(p.m_strText);
        }
    }
    w.WriteUInt32(Checksum(w.data()));
    return w.data();
}

bool ParsePartsFile(const std::string& bytes, CPartsFile* out) {
    *out = CPartsFile{};
    if (bytes.size() < 16 || std::memcmp(bytes.data(), kMagic, 4) != 0)
        return false;
    platform::BinaryReader sum(std::string_view(bytes).substr(bytes.size() - 4));
    uint32_t stored = 0;
    if (!sum.ReadUInt32(&stored) ||
        stored != Checksum(std::string_view(bytes).substr(0, bytes.size() - 4)))
        return false;
    platform::BinaryReader r(std::string_view(bytes).substr(4, bytes.size() - 8));
    uint32_t version = 0, groups = 0;
    if (!r.ReadUInt32(&version) || version != kVersion || !r.ReadUInt32(&out->m_nNextId) ||
        !r.ReadUInt32(&groups))
        return false;
    for (uint32_t i = 0; i < groups; ++i) {
        CPartGroup g;
        uint32_t flags = 0, priors = 0, parts = 0;
        if (!r.ReadUInt32(&g.m_nId) || !r.ReadRecordString(&g.m_strNumber, kMaxTextUnits) ||
            !r.ReadInt32(&g.m_nRef) || !r.ReadUInt32(&flags) || !r.ReadInt32(&g.m_nTotal) ||
            !r.ReadDouble(&g.m_anchor) || !r.ReadUInt32(&priors) || priors > r.remaining())
            return false;
        g.m_bRef16 = flags & kFlagRef16;
        g.m_bSent = flags & kFlagSent;
        g.m_priorTexts.resize(priors);
        for (std::u16string& t : g.m_priorTexts) {
            if (!r.ReadRecordString(&t, kMaxTextUnits))
                return false;
        }
        if (!r.ReadUInt32(&parts) || parts > r.remaining())
            return false;
        g.m_parts.resize(parts);
        for (CStoredPart& p : g.m_parts) {
            if (!r.ReadInt32(&p.m_nSeq) || !r.ReadInt32(&p.m_nStorage) ||
                !r.ReadInt32(&p.m_nSlot) || !r.ReadInt32(&p.m_nState) || !r.ReadDouble(&p.m_time) ||
                !r.ReadRecordString(&p.m_strText, kMaxTextUnits))
                return false;
        }
        out->m_groups.push_back(std::move(g));
    }
    return r.at_end();
}

std::filesystem::path CPartsTable::Path() const {
    return dir_ / "vok.parts";
}

std::filesystem::path CPartsTable::OldPath() const {
    return dir_ / "vok.parts.old";
}

PartsResult CPartsTable::Load(CPartsFile* out) const {
    std::string bytes;
    std::error_code ec;
    if (!std::filesystem::exists(Path(), ec)) {
        *out = CPartsFile{};
        // A crash between the two renames of an update leaves only the old copy.
        if (std::filesystem::exists(OldPath(), ec) && platform::ReadFileBytes(OldPath(), &bytes) &&
            ParsePartsFile(bytes, out))
            return PartsResult::kOk;
        *out = CPartsFile{};
        return PartsResult::kOk;
    }
    if (platform::ReadFileBytes(Path(), &bytes) && ParsePartsFile(bytes, out))
        return PartsResult::kOk;
    if (!(platform::ReadFileBytes(OldPath(), &bytes) && ParsePartsFile(bytes, out)))
        *out = CPartsFile{};
    return PartsResult::kDamaged;
}

PartsResult CPartsTable::Update(const std::function<bool(CPartsFile&)>& change) const {
    // The store's lock: one writer of the store's files at a time.
    Fd lock = Fd::Open(dir_ / "vok.sms.lock", O_RDWR | O_CREAT);
    if (!lock.ok())
        return PartsResult::kFailed;
    while (::flock(lock.get(), LOCK_EX) != 0) {
        if (errno != EINTR)
            return PartsResult::kFailed;
    }
    CPartsFile file;
    PartsResult loaded = Load(&file);
    if (!change(file))
        return loaded;
    std::string current;
    // The readable version before this change stays as the fallback.
    if (loaded == PartsResult::kOk && platform::ReadFileBytes(Path(), &current)) {
        CPartsFile check;
        if (ParsePartsFile(current, &check) && !platform::WriteFileAtomic(OldPath(), current))
            return PartsResult::kFailed;
    }
    if (!platform::WriteFileAtomic(Path(), SerialisePartsFile(file)))
        return PartsResult::kFailed;
    return loaded;
}

}  // namespace parlo
