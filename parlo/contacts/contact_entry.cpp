#include "parlo/contacts/contact_entry.h"

#include "platform/binio.h"
#include "platform/strings.h"

namespace parlo {

namespace {

bool IsWhite(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
}

char16_t FoldCase(char16_t c) {
    if (c >= u'a' && c <= u'z')
        return static_cast<char16_t>(c - 32);
    // Latin-1 lower-case letters (except the division sign and y with diaeresis).
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7)
        return static_cast<char16_t>(c - 32);
    return c;
}

int Sign(long v) {
    return v < 0 ? -1 : v > 0 ? 1 : 0;
}

}  // namespace

std::u16string TrimWhite(std::u16string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && IsWhite(s[b]))
        ++b;
    while (e > b && IsWhite(s[e - 1]))
        --e;
    return std::u16string(s.substr(b, e - b));
}

CContactEntry::CContactEntry(std::u16string_view name, std::u16string_view mobile,
                             std::u16string_view business, std::u16string_view home,
                             std::u16string_view car, uint32_t id)
    : m_nId(id),
      m_strName(TrimWhite(name)),
      m_strMobile(TrimWhite(mobile)),
      m_strBusiness(TrimWhite(business)),
      m_strHome(TrimWhite(home)),
      m_strCar(TrimWhite(car)) {}

bool CContactEntry::Read(platform::BinaryReader& in) {
    uint32_t id = 0;
    return in.ReadInt32(&m_bMarked) && in.ReadInt32(&m_nReserved4) && in.ReadInt32(&m_nReserved3) &&
           in.ReadInt32(&m_nReserved1) && in.ReadInt32(&m_nReserved2) && in.ReadUInt32(&id) &&
           (m_nId = id, true) && in.ReadRecordString(&m_strName, kMaxRecordString) &&
           in.ReadRecordString(&m_strMobile, kMaxRecordString) &&
           in.ReadRecordString(&m_strBusiness, kMaxRecordString) &&
           in.ReadRecordString(&m_strHome, kMaxRecordString) &&
           in.ReadRecordString(&m_strCar, kMaxRecordString);
}

void CContactEntry::Write(platform::BinaryWriter& out) const {
    out.WriteInt32(m_bMarked);
    out.WriteInt32(m_nReserved4);
    out.WriteInt32(m_nReserved3);
    out.WriteInt32(m_nReserved1);
    out.WriteInt32(m_nReserved2);
    out.WriteUInt32(m_nId);
    out.WriteRecordString(m_strName);
    out.WriteRecordString(m_strMobile);
    out.WriteRecordString(m_strBusiness);
    out.WriteRecordString(m_strHome);
    out.WriteRecordString(m_strCar);
}

bool CleanNumber(std::u16string& number) {
    std::u16string out;
    out.reserve(number.size());
    for (char16_t c : number) {
        if ((c >= u'0' && c <= u'9') || c == u'+' || c == u';')
            out += c;
    }
    number = std::move(out);
    return !number.empty();
}

std::u16string CleanedNumber(std::u16string_view number) {
    std::u16string copy(number);
    CleanNumber(copy);
    return copy;
}

bool IsValidNumber(std::u16string_view number) {
    if (number.empty())
        return false;
    for (char16_t c : number) {
        if (!((c >= u'0' && c <= u'9') || c == u'+' || c == u';'))
            return false;
    }
    return true;
}

std::u16string FormatNumberKinds(const CContactEntry& entry, const std::u16string (&letters)[4]) {
    const std::u16string* numbers[4] = {&entry.m_strMobile, &entry.m_strBusiness, &entry.m_strHome,
                                        &entry.m_strCar};
    std::u16string out;
    for (int i = 0; i < 4; ++i) {
        if (numbers[i]->empty())
            continue;
        out += u' ';
        out += letters[i];
    }
    size_t b = 0;
    while (b < out.size() && IsWhite(out[b]))
        ++b;
    return out.substr(b);
}

std::u16string FormatNumberKinds(const CContactEntry& entry, const platform::StringTable& strings) {
    const std::u16string letters[4] = {
        strings.Load(kKindLetterIds[0]), strings.Load(kKindLetterIds[1]),
        strings.Load(kKindLetterIds[2]), strings.Load(kKindLetterIds[3])};
    return FormatNumberKinds(entry, letters);
}

int CompareNoCase(std::u16string_view a, std::u16string_view b) {
    size_t n = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < n; ++i) {
        char16_t x = FoldCase(a[i]), y = FoldCase(b[i]);
        if (x != y)
            return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : a.size() < b.size() ? -1 : 1;
}

int CompareByName(const CContactEntry& a, const CContactEntry& b, int direction) {
    return CompareNoCase(a.m_strName, b.m_strName) * direction;
}
int CompareByMobile(const CContactEntry& a, const CContactEntry& b, int direction) {
    return CompareNoCase(a.m_strMobile, b.m_strMobile) * direction;
}
int CompareByBusiness(const CContactEntry& a, const CContactEntry& b, int direction) {
    return CompareNoCase(a.m_strBusiness, b.m_strBusiness) * direction;
}
int CompareByHome(const CContactEntry& a, const CContactEntry& b, int direction) {
    return CompareNoCase(a.m_strHome, b.m_strHome) * direction;
}
int CompareByCar(const CContactEntry& a, const CContactEntry& b, int direction) {
    return CompareNoCase(a.m_strCar, b.m_strCar) * direction;
}
int CompareById(const CContactEntry& a, const CContactEntry& b, int direction) {
    long d = static_cast<long>(DisplayId(a.m_nId)) - static_cast<long>(DisplayId(b.m_nId));
    return Sign(d) * direction;
}

}  // namespace parlo
