// The client's settings: "vok.ini" (general and phone settings), "pb.ini"
// (phonebook settings) and the profile values "userport" and "concat".
//
// vok.ini: byte 9, then strings (int32 n, n + 1 UTF-16LE units, the last 0)
// and int32 fields in the order of the members below, then an empty reserved
// string, the pair count and the pairs (key, value).
// pb.ini: int32 storage flags, then the phone identity string.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>

namespace platform {
class Registry;
}

namespace parlo {

// Phonebook storage flags.
inline constexpr uint32_t PB_SIM = 0x10000000;
inline constexpr uint32_t PB_PHONE = 0x20000000;
inline constexpr uint32_t PB_BOTH = 0x30000000;

// The longest string that the settings readers accept.
inline constexpr int32_t kMaxSettingsString = 500;

// The application's profile: HKEY_CURRENT_USER\Software\Tarnwell Skyvane pro,
// the per-application subkey "Parlo", section "data".
inline constexpr const char* kProfileDataKey = "Software\\Tarnwell Skyvane pro\\Parlo\\data";

struct CSettings {
    // vok.ini
    std::u16string m_strPhoneModel;  // 2: configured phone model name
    std::u16string m_strProvider;    // 3: configured provider name
    std::u16string m_strKept4;       // 4 to 6: kept and written back
    std::u16string m_strKept5;
    std::u16string m_strKept6;
    std::u16string m_strConnection;  // 7: configured connection name
    std::u16string m_strKept8;       // 8, 9
    std::u16string m_strKept9;
    int32_t m_nKept10 = 0;             // 10
    std::u16string m_strKept11;        // 11
    int32_t m_bAutoSync = 0;           // 12
    int32_t m_nAutoSyncInterval = 10;  // 13, minutes
    int32_t m_bOwnSmsCentre = 0;       // 14
    std::u16string m_strSmsCentre;     // 15
    int32_t m_nKept16 = 0;             // 16 to 19
    int32_t m_nKept17 = 0;
    int32_t m_nKept18 = 150;
    int32_t m_nKept19 = 10;
    int32_t m_bDeleteAfterSync = 0;                    // 20
    std::map<std::u16string, std::u16string> m_pairs;  // 22, 23

    // Profile value "userport": "Use port" is on when it is not empty.
    int32_t m_bUsePort = 0;
    std::u16string m_strUserPort;

    // Profile value "concat" (1/0): long texts go out as one concatenated
    // message (user-data headers) instead of parts numbered "1/2:". vok.ini has
    // no field for it, so it lives beside "userport"; an absent or foreign
    // vok.ini leaves it as it is.
    int32_t m_bConcatenated = 0;

    // pb.ini
    uint32_t m_nPhonebookFlags = PB_BOTH;
    std::u16string m_strPhoneIdentity = u"0";

    // The defaults of an absent or foreign vok.ini; fields 4, 5, 9 and 11
    // keep their values.
    void SetDefaults();

    bool operator==(const CSettings&) const = default;
};

// Reads "concat", then vok.ini and, after a complete read, "userport". An absent or foreign
// file gives the defaults and success; a torn one keeps the fields read
// before the tear and fails. Also sets the phonebook defaults.
bool LoadSettings(const std::filesystem::path& dir, const platform::Registry& registry,
                  CSettings* s);
// How much of a pb.ini that is there could be read.
enum class PbIniRead {
    kWhole,      // both fields (or no file at all)
    kFlagsOnly,  // the flags; the identity is damaged and keeps its default
    kNothing,    // too short, or flags no phonebook has: the defaults stay
};
// Reads pb.ini; false when it is absent (defaults kept). `read` tells how
// much of a damaged file was used.
bool LoadPhonebookSettings(const std::filesystem::path& dir, CSettings* s,
                           PbIniRead* read = nullptr);
// Writes vok.ini, "userport", "concat" and pb.ini, each file replaced
// atomically; true only when all were written (false at once when vok.ini
// cannot be).
bool SaveSettings(const std::filesystem::path& dir, platform::Registry& registry,
                  const CSettings& s);

// Parses the bytes of vok.ini into `s` with the rules of LoadSettings (without
// the profile value). 1 = complete, 0 = failed after `s` was partly filled,
// 2 = foreign or empty file (nothing read; defaults set for a foreign one).
int ParseVokIni(std::string_view bytes, CSettings* s);

}  // namespace parlo
