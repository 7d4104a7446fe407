#include "parlo/store/settings.h"

#include <fcntl.h>

#include "parlo/store/file_io.h"
#include "platform/binio.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace parlo {

namespace {

constexpr char kSignature = 9;

// One vok.ini string: accepted only when its length is at most 500, all its
// units are there and the last one is zero.
bool ReadString(platform::BinaryReader& r, std::string_view data, std::u16string* out) {
    std::u16string s;
    if (!r.ReadRecordString(&s, kMaxSettingsString))
        return false;
    size_t end = r.position();  // just past the terminating unit
    if (end < 2 || end > data.size() || data[end - 2] != 0 || data[end - 1] != 0)
        return false;
    *out = std::move(s);
    return true;
}

bool ReadInt(platform::BinaryReader& r, int32_t* out) {
    int32_t v = 0;
    if (!r.ReadInt32(&v))
        return false;
    *out = v;
    return true;
}

}  // namespace

void CSettings::SetDefaults() {
    m_strPhoneModel.clear();
    m_strProvider.clear();
    m_strKept6.clear();
    m_strConnection.clear();
    m_strKept8.clear();
    m_nKept10 = 0;
    m_bAutoSync = 0;
    m_nAutoSyncInterval = 10;
    m_bOwnSmsCentre = 0;
    m_strSmsCentre.clear();
    m_nKept16 = 0;
    m_nKept17 = 0;
    m_nKept18 = 150;
    m_nKept19 = 10;
    m_bDeleteAfterSync = 0;
    m_pairs.clear();
}

int ParseVokIni(std::string_view bytes, CSettings* s) {
    if (bytes.empty())
        return 2;
    if (bytes[0] != kSignature) {
        s->SetDefaults();
        return 2;
    }
    const std::string_view data = bytes.substr(1);
    platform::BinaryReader r(data);
    auto str = [&](std::u16string* out) { return ReadString(r, data, out); };
    std::u16string reserved;
    int32_t count = 0;
    bool ok = str(&s->m_strPhoneModel) && str(&s->m_strProvider) && str(&s->m_strKept4) &&
              str(&s->m_strKept5) && str(&s->m_strKept6) && str(&s->m_strConnection) &&
              str(&s->m_strKept8) && str(&s->m_strKept9) && ReadInt(r, &s->m_nKept10) &&
              str(&s->m_strKept11) && ReadInt(r, &s->m_bAutoSync) &&
              ReadInt(r, &s->m_nAutoSyncInterval) && ReadInt(r, &s->m_bOwnSmsCentre) &&
              str(&s->m_strSmsCentre) && ReadInt(r, &s->m_nKept16) && ReadInt(r, &s->m_nKept17) &&
              ReadInt(r, &s->m_nKept18) && ReadInt(r, &s->m_nKept19) &&
              ReadInt(r, &s->m_bDeleteAfterSync) && str(&reserved) && ReadInt(r, &count);
    if (!ok)
        return 0;
    // The pair table replaces the old one as it is read; later pairs with the
    // same key replace earlier ones. A negative count reads no pairs.
    s->m_pairs.clear();
    for (int32_t i = 0; i < count; ++i) {
        std::u16string key, value;
        if (!str(&key) || !str(&value))
            return 0;
        s->m_pairs[key] = value;
    }
    return 1;
}

bool LoadSettings(const std::filesystem::path& dir, const platform::Registry& registry,
                  CSettings* s) {
    s->m_nPhonebookFlags = PB_BOTH;
    s->m_strPhoneIdentity = std::u16string(1, u'0');
    auto concat = registry.QueryDword(platform::Hive::CurrentUser, kProfileDataKey, "concat");
    s->m_bConcatenated = concat && *concat ? 1 : 0;
    Fd fd = Fd::Open(dir / "vok.ini", O_RDONLY);
    if (!fd.ok()) {
        s->SetDefaults();
        return true;
    }
    std::string bytes;
    if (!fd.ReadAll(&bytes))
        return false;
    fd.Close();
    int r = ParseVokIni(bytes, s);
    if (r == 0)
        return false;
    if (r == 2)
        return !bytes.empty();
    auto port = registry.QueryString(platform::Hive::CurrentUser, kProfileDataKey, "userport");
    s->m_strUserPort = port ? platform::FromUtf8(*port) : std::u16string();
    s->m_bUsePort = s->m_strUserPort.empty() ? 0 : 1;
    return true;
}

bool LoadPhonebookSettings(const std::filesystem::path& dir, CSettings* s, PbIniRead* read) {
    PbIniRead got = PbIniRead::kWhole;
    if (read)
        *read = got;
    std::string bytes;
    Fd fd = Fd::Open(dir / "pb.ini", O_RDONLY);
    if (!fd.ok() || !fd.ReadAll(&bytes))
        return false;
    platform::BinaryReader r(bytes);
    uint32_t flags = 0;
    // Only the SIM and phone-memory flags are ever written.
    if (!r.ReadUInt32(&flags) || (flags & ~PB_BOTH) != 0) {
        got = PbIniRead::kNothing;
    } else {
        s->m_nPhonebookFlags = flags;
        if (!ReadString(r, bytes, &s->m_strPhoneIdentity))
            got = PbIniRead::kFlagsOnly;
    }
    if (read)
        *read = got;
    return true;
}

bool SaveSettings(const std::filesystem::path& dir, platform::Registry& registry,
                  const CSettings& s) {
    // Every string is cut to what the reader accepts, so that the file
    // always reads back.
    auto str = [](platform::BinaryWriter& w, const std::u16string& v) {
        w.WriteRecordString(std::u16string_view(v).substr(0, kMaxSettingsString));
    };
    platform::BinaryWriter w;
    w.WriteBytes(std::string_view(&kSignature, 1));
    str(w, s.m_strPhoneModel);
    str(w, s.m_strProvider);
    str(w, s.m_strKept4);
    str(w, s.m_strKept5);
    str(w, s.m_strKept6);
    str(w, s.m_strConnection);
    str(w, s.m_strKept8);
    str(w, s.m_strKept9);
    w.WriteInt32(s.m_nKept10);
    str(w, s.m_strKept11);
    w.WriteInt32(s.m_bAutoSync);
    w.WriteInt32(s.m_nAutoSyncInterval);
    w.WriteInt32(s.m_bOwnSmsCentre);
    str(w, s.m_strSmsCentre);
    w.WriteInt32(s.m_nKept16);
    w.WriteInt32(s.m_nKept17);
    w.WriteInt32(s.m_nKept18);
    w.WriteInt32(s.m_nKept19);
    w.WriteInt32(s.m_bDeleteAfterSync);
    str(w, u"");
    w.WriteInt32(static_cast<int32_t>(s.m_pairs.size()));
    for (const auto& [key, value] : s.m_pairs) {
        str(w, key);
        str(w, value);
    }
    if (!platform::WriteFileAtomic(dir / "vok.ini", w.data()))
        return false;

    // A "userport" that could not be written is a failed save too.
    bool port_ok =
        registry.SetString(platform::Hive::CurrentUser, kProfileDataKey, "userport",
                           s.m_bUsePort ? platform::ToUtf8(s.m_strUserPort) : std::string());
    // "concat" is written only when it changes: a profile without it reads as
    // off, and a save that changes nothing else rewrites the registry once.
    const uint32_t concat = s.m_bConcatenated ? 1 : 0;
    auto stored = registry.QueryDword(platform::Hive::CurrentUser, kProfileDataKey, "concat");
    bool concat_ok =
        stored.value_or(0) == concat ||
        registry.SetDword(platform::Hive::CurrentUser, kProfileDataKey, "concat", concat);

    platform::BinaryWriter pb;
    pb.WriteUInt32(s.m_nPhonebookFlags);
    str(pb, s.m_strPhoneIdentity);
    return platform::WriteFileAtomic(dir / "pb.ini", pb.data()) && port_ok && concat_ok;
}

}  // namespace parlo
