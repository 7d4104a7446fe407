#include "parlo/contacts/contact_entry.h"

#include <gtest/gtest.h>

#include "parlo_strings.h"
#include "platform/binio.h"

namespace parlo {
namespace {

TEST(ContactEntry, ConstructorTrimsAllFiveStrings) {
    CContactEntry e(u"  Smith John \t", u" +49 170 ", u"", u"\t1\r\n", u" ", 7);
    EXPECT_EQ(e.m_strName, u"Smith John");
    EXPECT_EQ(e.m_strMobile, u"+49 170");
    EXPECT_EQ(e.m_strHome, u"1");
    EXPECT_EQ(e.m_strCar, u"");
    EXPECT_EQ(e.m_nId, 7u);
    EXPECT_EQ(e.m_bMarked, 0);
}

TEST(ContactEntry, SerialisedFormHasTheStoredFieldOrder) {
    CContactEntry e(u"Ab", u"1", u"", u"", u"", 0xA0000005u);
    e.m_bMarked = 1;
    e.m_nReserved1 = 11;
    e.m_nReserved2 = 12;
    e.m_nReserved3 = 13;
    e.m_nReserved4 = 14;
    platform::BinaryWriter out;
    e.Write(out);
    const std::string& d = out.data();
    ASSERT_EQ(d.size(), 6 * 4 + (4 + 6) + (4 + 4) + 3 * (4 + 2));
    auto int_at = [&](size_t pos) {
        platform::BinaryReader r(std::string_view(d).substr(pos, 4));
        int32_t v = 0;
        r.ReadInt32(&v);
        return v;
    };
    EXPECT_EQ(int_at(0), 1);
    EXPECT_EQ(int_at(4), 14);  // reserved 4, 3, 1, 2
    EXPECT_EQ(int_at(8), 13);
    EXPECT_EQ(int_at(12), 11);
    EXPECT_EQ(int_at(16), 12);
    EXPECT_EQ(static_cast<uint32_t>(int_at(20)), 0xA0000005u);
    EXPECT_EQ(int_at(24), 2);  // name length
    EXPECT_EQ(d.substr(28, 6), std::string("A\0b\0\0\0", 6));

    CContactEntry back;
    platform::BinaryReader in(d);
    ASSERT_TRUE(back.Read(in));
    EXPECT_TRUE(in.at_end());
    EXPECT_EQ(back.m_nReserved1, 11);
    EXPECT_EQ(back.m_nReserved4, 14);
    EXPECT_EQ(back.m_strName, u"Ab");
    EXPECT_EQ(back.m_nId, 0xA0000005u);
}

TEST(ContactEntry, ReadFailsOnShortOrOverlongRecords) {
    CContactEntry e(u"Name", u"123", u"4", u"5", u"6", 1);
    platform::BinaryWriter out;
    e.Write(out);
    for (size_t cut : {size_t{3}, size_t{24}, out.size() - 1}) {
        CContactEntry back;
        platform::BinaryReader in(std::string_view(out.data()).substr(0, cut));
        EXPECT_FALSE(back.Read(in)) << cut;
    }
    // A stored length above 501 is refused.
    CContactEntry longer(std::u16string(502, u'x'), u"", u"", u"", u"", 1);
    platform::BinaryWriter big;
    longer.Write(big);
    CContactEntry back;
    platform::BinaryReader in(big.data());
    EXPECT_FALSE(back.Read(in));
}

TEST(ContactEntry, ZeroLengthStringsReadAsEmpty) {
    CContactEntry e;
    platform::BinaryWriter out;
    e.Write(out);
    CContactEntry back(u"x", u"x", u"x", u"x", u"x", 3);
    platform::BinaryReader in(out.data());
    ASSERT_TRUE(back.Read(in));
    EXPECT_EQ(back.m_strName, u"");
    EXPECT_EQ(back.m_strCar, u"");
    EXPECT_EQ(back.m_nId, 0u);
}

TEST(CleanNumber, KeepsDigitsPlusAndSemicolon) {
    std::u16string n = u"+49 (170) 123-45 67";
    EXPECT_TRUE(CleanNumber(n));
    EXPECT_EQ(n, u"+491701234567");
    std::u16string words = u"call me";
    EXPECT_FALSE(CleanNumber(words));
    EXPECT_EQ(words, u"");
    EXPECT_EQ(CleanedNumber(u"0170 1; 0171-2"), u"01701;01712");
    std::u16string arabic = u"\u0661\u0662";  // not ASCII decimal digits
    EXPECT_FALSE(CleanNumber(arabic));
}

TEST(FormatNumberKinds, LettersInOrderWithSingleBlanks) {
    const platform::StringTable& s = strings::parlo();
    EXPECT_EQ(FormatNumberKinds(CContactEntry(u"a", u"", u"", u"", u"9", 1), s), u"A");
    EXPECT_EQ(FormatNumberKinds(CContactEntry(u"a", u"1", u"2", u"3", u"4", 1), s), u"M W H A");
    EXPECT_EQ(FormatNumberKinds(CContactEntry(u"a", u"1", u"", u"3", u"", 1), s), u"M H");
    EXPECT_EQ(FormatNumberKinds(CContactEntry(u"a", u"", u"", u"", u"", 1), s), u"");
}

TEST(ContactCompare, CaseInsensitiveAndDirection) {
    CContactEntry a(u"meyer", u"2", u"", u"", u"", 0x10000003);
    CContactEntry b(u"Meyer", u"1", u"", u"", u"", 0x20000001);
    CContactEntry c(u"\u00e4rger", u"", u"", u"", u"", 5);
    CContactEntry d(u"\u00c4RGER", u"", u"", u"", u"", 5);
    EXPECT_EQ(CompareByName(a, b, 1), 0);
    EXPECT_EQ(CompareByName(c, d, 1), 0);
    EXPECT_GT(CompareByMobile(a, b, 1), 0);
    EXPECT_LT(CompareByMobile(a, b, -1), 0);
    // Only the low 28 bits count: index 3 sorts after index 1.
    EXPECT_GT(CompareById(a, b, 1), 0);
    EXPECT_LT(CompareById(a, b, -1), 0);
}

TEST(LookupByIdentity, NeedsIdAndExactName) {
    ContactList list;
    list.push_back(std::make_unique<CContactEntry>(u"Smith John", u"111", u"", u"", u"", 5));
    list.push_back(std::make_unique<CContactEntry>(u"Smith John", u"222", u"", u"", u"", 6));
    EXPECT_EQ(LookupByIdentity(list, 6, u"Smith John"), u"222");
    EXPECT_EQ(LookupByIdentity(list, 5, u"smith john"), u"");
    EXPECT_EQ(LookupByIdentity(list, 7, u"Smith John"), u"");
}

}  // namespace
}  // namespace parlo
