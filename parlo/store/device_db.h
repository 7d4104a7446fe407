// The device and provider database "vok.dat": a scrambled ANSI text with a
// section of phone model rows and a section of provider rows.
//
//   *any header text#row...
//   #token 1#token 2#...#token 19#CR LF      (phone rows)
//   *any text#...
//   #token 1#...#token 20#CR LF              (provider rows)
//   *                                        (end; nothing after is read)
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace parlo {

struct PhoneModelRecord {
    std::u16string m_strName = u"default Mobile Phone";  // tokens 1 and 2
    int32_t m_nBaudRate = 9600;
    int32_t m_nByteSize = 8;
    int32_t m_nParity = 0;
    int32_t m_nStopBits = 0;
    int32_t m_nFurther = 16;
    std::u16string m_strText8 = u"Z";
    std::u16string m_strText9 = u"Z";
    std::array<std::u16string, 4> m_strTexts;  // tokens 10 to 13
    std::u16string m_strManufacturerMatch = u"unknown";
    std::u16string m_strModelMatch = u"unknown";
    int32_t m_nStorageSize = 0;
    std::u16string m_strText17;

    bool operator==(const PhoneModelRecord&) const = default;
};

struct OperatorRecord {
    std::u16string m_strName;                          // token 1
    std::array<std::u16string, 4> m_strTexts;          // tokens 2 to 5
    std::array<std::u16string, 3> m_strExtra;          // never filled from the file
    std::array<uint8_t, 4> m_address1{};               // token 6
    std::array<uint8_t, 4> m_address2{};               // token 7
    std::array<std::u16string, 6> m_strOperatorNames;  // tokens 8 to 13
    std::u16string m_strSmsCentre;                     // token 14
    std::u16string m_strText15;
    std::u16string m_strText16;
    // 1 when token 17, 18, 19 is empty; 1 when token 20 is not empty.
    std::array<int32_t, 4> m_nFlags{};

    bool operator==(const OperatorRecord&) const = default;
};

// The seed of the key stream that scrambles the shipped database.
inline constexpr uint32_t kDeviceDbSeed = 0x5A17;

// XORs byte i with the low 8 bits of the (i+1)-th value of the platform's
// rand() seeded with kDeviceDbSeed. The same call scrambles and unscrambles.
void ScrambleDeviceDb(std::string* bytes);

struct DeviceDbResult {
    bool ok = false;
    // Why it failed: 0 = parsed, 1 = the file could not be opened or read
    // ("Can not open data file. (vok.dat)", 65008), 2 = a check failed.
    int failure = 0;
    std::string check;  // the check number as shown, e.g. "36-01"

    // The message of a failure: "Corrupted data file. -N-" for a check; empty
    // for a file that could not be read (the caller shows string 65008).
    std::u16string CheckMessage() const;
};

// Parses unscrambled text (up to its first zero byte) into the two lists;
// rows read before a failed check stay in the lists.
DeviceDbResult ParseDeviceDb(std::string_view text, std::vector<PhoneModelRecord>* phones,
                             std::vector<OperatorRecord>* operators);

// Reads, unscrambles and parses the file.
DeviceDbResult LoadDeviceDb(const std::filesystem::path& path,
                            std::vector<PhoneModelRecord>* phones,
                            std::vector<OperatorRecord>* operators);

// The readable source form: the database text with LF line ends and comment
// lines starting with ';', in UTF-8. Returns the text as stored (comments
// dropped, Windows-1252, CR LF line ends), ready to be scrambled.
std::string SourceToDeviceDbText(std::string_view source);

}  // namespace parlo
