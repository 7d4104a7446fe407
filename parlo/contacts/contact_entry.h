// The person record shared by the contacts, the phonebook copy and the group
// resolution, its serialised form and the number helpers.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace platform {
class BinaryReader;
class BinaryWriter;
class StringTable;
}  // namespace platform

namespace parlo {

// The longest text a stored record string may hold (the reader's buffer holds
// one unit more for the terminator).
inline constexpr int32_t kMaxRecordString = 501;

// The abstract base of every record kept in the contact, group and phonebook
// files: read from and write to a byte stream.
class CSerialRecord {
  public:
    virtual ~CSerialRecord() = default;
    // Fails as soon as one item cannot be read in full.
    virtual bool Read(platform::BinaryReader& in) = 0;
    virtual void Write(platform::BinaryWriter& out) const = 0;
};

class CContactEntry : public CSerialRecord {
  public:
    CContactEntry() = default;
    CContactEntry(const CContactEntry&) = default;
    CContactEntry& operator=(const CContactEntry&) = default;
    // Stores the values, trimming leading and trailing white space of the
    // five strings.
    CContactEntry(std::u16string_view name, std::u16string_view mobile,
                  std::u16string_view business, std::u16string_view home, std::u16string_view car,
                  uint32_t id);

    bool Read(platform::BinaryReader& in) override;
    void Write(platform::BinaryWriter& out) const override;

    int32_t m_bMarked = 0;
    int32_t m_nReserved1 = 0;
    int32_t m_nReserved2 = 0;
    int32_t m_nReserved3 = 0;
    int32_t m_nReserved4 = 0;
    uint32_t m_nId = 0;
    std::u16string m_strName;
    std::u16string m_strMobile;
    std::u16string m_strBusiness;
    std::u16string m_strHome;
    std::u16string m_strCar;
};

// The document's contact list; it owns its entries.
using ContactList = std::vector<std::unique_ptr<CContactEntry>>;

// The part of an id that is shown and sorted: its low 28 bits.
inline uint32_t DisplayId(uint32_t id) {
    return id & 0x0FFFFFFFu;
}

// Trims blanks, tabs, carriage returns and line feeds at both ends.
std::u16string TrimWhite(std::u16string_view s);

// Keeps only decimal digits, '+' and ';'; returns whether anything is left.
bool CleanNumber(std::u16string& number);
// The cleaned value of a copy.
std::u16string CleanedNumber(std::u16string_view number);
// A recipient text is valid when it is not empty and holds only decimal
// digits, '+' and ';' (nothing that CleanNumber would remove).
bool IsValidNumber(std::u16string_view number);

// The kind letters (M, W, H, A) of the numbers the entry has, separated by
// blanks, from the client's string table.
std::u16string FormatNumberKinds(const CContactEntry& entry, const platform::StringTable& strings);
// The same with the letters given (mobile, business, home, car).
std::u16string FormatNumberKinds(const CContactEntry& entry, const std::u16string (&letters)[4]);

// Comparison functions for sorting lists, multiplied by the direction +1/-1.
// The string ones compare case-insensitively.
int CompareByName(const CContactEntry& a, const CContactEntry& b, int direction);
int CompareByMobile(const CContactEntry& a, const CContactEntry& b, int direction);
int CompareByBusiness(const CContactEntry& a, const CContactEntry& b, int direction);
int CompareByHome(const CContactEntry& a, const CContactEntry& b, int direction);
int CompareByCar(const CContactEntry& a, const CContactEntry& b, int direction);
int CompareById(const CContactEntry& a, const CContactEntry& b, int direction);
// Case-insensitive comparison of two texts (ASCII and Latin-1 letters fold).
int CompareNoCase(std::u16string_view a, std::u16string_view b);

// Lookup by identity: the mobile number of the first entry whose id equals
// `id` and whose name equals `name` exactly; empty when there is none.
template <typename List>
std::u16string LookupByIdentity(const List& list, uint32_t id, std::u16string_view name) {
    for (const auto& entry : list) {
        if (entry && entry->m_nId == id && entry->m_strName == name)
            return entry->m_strMobile;
    }
    return std::u16string();
}

// The number kind letters: 65104 "M", 65105 "W", 65106 "H", 65107 "A".
inline constexpr unsigned kKindLetterIds[4] = {65104, 65105, 65106, 65107};

}  // namespace parlo
