#include "parlo/contacts/vcard.h"

#include <gtest/gtest.h>

namespace parlo::vcard {
namespace {

Card ParseOne(std::string_view text) {
    std::vector<Card> cards;
    EXPECT_TRUE(Parse(text, &cards));
    EXPECT_EQ(cards.size(), 1u);
    return cards.empty() ? Card() : cards[0];
}

TEST(VCard, Version21QuotedPrintableWithSoftBreaksAndCharset) {
    // As an old phone or Outlook exports it.
    Card c = ParseOne(
        "BEGIN:VCARD\r\n"
        "VERSION:2.1\r\n"
        "N;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:M=C3=BCller;J=C3=B6rg=\r\n"
        "en;;;\r\n"
        "FN;ENCODING=QUOTED-PRINTABLE;CHARSET=ISO-8859-1:J=F6rgen M=FCller\r\n"
        "TEL;CELL;VOICE:+49 (170) 123-4567\r\n"
        "TEL;WORK:030 12345\r\n"
        "TEL;HOME;FAX:030 99999\r\n"
        "TEL;HOME:030 55555\r\n"
        "END:VCARD\r\n");
    EXPECT_EQ(c.version, "2.1");
    EXPECT_EQ(c.family, u"M\u00fcller");
    EXPECT_EQ(c.given, u"J\u00f6rgen");
    EXPECT_EQ(c.formatted_name, u"J\u00f6rgen M\u00fcller");
    EXPECT_EQ(c.mobile, u"+49 (170) 123-4567");  // as written
    EXPECT_EQ(c.business, u"030 12345");
    EXPECT_EQ(c.home, u"030 55555");  // the fax is no phone
    EXPECT_EQ(DisplayName(c), u"M\u00fcller J\u00f6rgen");
}

TEST(VCard, Version30FoldedLinesEscapesAndGroups) {
    Card c = ParseOne(
        "BEGIN:VCARD\n"
        "VERSION:3.0\n"
        "UID:abc-\n"
        " 123\n"
        "N:O\\,Brien;Pat\\;rick;;;\n"
        "FN:Pat O'Brien\n"
        "item1.TEL;TYPE=CAR:0800\n"
        "TEL;type=WORK;type=pref:222\n"
        "TEL;TYPE=work,voice:111\n"
        "TEL;TYPE=cell:\n"
        "\tX\n"
        "NOTE:line1\\nline2\n"
        "END:VCARD\n");
    EXPECT_EQ(c.uid, u"abc-123");
    EXPECT_EQ(c.family, u"O,Brien");
    EXPECT_EQ(c.given, u"Pat;rick");
    EXPECT_EQ(c.car, u"0800");
    EXPECT_EQ(c.business, u"222");  // the preferred one wins
    EXPECT_EQ(c.mobile, u"X");
}

TEST(VCard, Version40QuotedTypeListsAndTelUris) {
    Card c = ParseOne(
        "BEGIN:VCARD\r\n"
        "VERSION:4.0\r\n"
        "UID:urn:uuid:4fbe8971-0bc3-424c-9c26-36c3e1eff6b1\r\n"
        "FN:Anna Berg\r\n"
        "TEL;VALUE=uri;TYPE=\"cell,voice\";PREF=1:tel:+46-70-123\r\n"
        "TEL;VALUE=uri;TYPE=home:tel:+46-8-555\r\n"
        "END:VCARD\r\n");
    EXPECT_EQ(c.uid, u"urn:uuid:4fbe8971-0bc3-424c-9c26-36c3e1eff6b1");
    EXPECT_EQ(c.mobile, u"+46-70-123");
    EXPECT_EQ(c.home, u"+46-8-555");
    EXPECT_FALSE(c.has_n);
    EXPECT_EQ(DisplayName(c), u"Anna Berg");  // FN when there is no N
}

TEST(VCard, NameFromNWithoutLeadingBlank) {
    Card first_only = ParseOne("BEGIN:VCARD\nVERSION:3.0\nN:;Eva;;;\nFN:x\nEND:VCARD\n");
    EXPECT_EQ(DisplayName(first_only), u"Eva");
    Card nothing = ParseOne("BEGIN:VCARD\nVERSION:3.0\nN:;;;;\nEND:VCARD\n");
    EXPECT_EQ(DisplayName(nothing), u"");
}

TEST(VCard, RejectsMalformedText) {
    std::vector<Card> cards;
    EXPECT_FALSE(Parse("", &cards));
    EXPECT_FALSE(Parse("hello world", &cards));
    EXPECT_FALSE(Parse("BEGIN:VCARD\nVERSION:3.0\nFN:x\n", &cards));  // no END
    EXPECT_FALSE(Parse("BEGIN:VCARD\nthis line has no colon\nEND:VCARD\n", &cards));
    static const char kNul[] = "BEGIN:VCARD\nFN:a\0b\nEND:VCARD\n";
    EXPECT_FALSE(Parse(std::string(kNul, sizeof kNul - 1), &cards));
    EXPECT_FALSE(Parse("END:VCARD\n", &cards));
    EXPECT_TRUE(cards.empty());
    // Broken quoted-printable escapes are kept, not read past the end.
    EXPECT_EQ(DecodeQuotedPrintable("a=4"), "a=4");
    EXPECT_EQ(DecodeQuotedPrintable("=ZZ=41"), "=ZZA");
}

TEST(VCard, SeveralCardsInOneFile) {
    std::vector<Card> cards;
    ASSERT_TRUE(Parse("BEGIN:VCARD\nFN:A\nEND:VCARD\nBEGIN:VCARD\nFN:B\nEND:VCARD\n", &cards));
    ASSERT_EQ(cards.size(), 2u);
    EXPECT_EQ(cards[1].formatted_name, u"B");
}

TEST(VCard, Write30RoundTripsAndFolds) {
    Card c;
    c.uid = u"u-1";
    c.family = u"Stra\u00dfe, Anna; \\ the " + std::u16string(80, u'\u00e9');
    c.given = u"";
    c.has_n = true;
    c.mobile = u"+49 170 1";
    std::string text = Write30(c);
    EXPECT_EQ(text.rfind("BEGIN:VCARD\r\nVERSION:3.0\r\n", 0), 0u);
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find("\r\n", start);
        ASSERT_NE(end, std::string::npos);
        EXPECT_LE(end - start, 75u);
        start = end + 2;
    }
    Card back = ParseOne(text);
    EXPECT_EQ(back.family, c.family);
    EXPECT_EQ(back.mobile, c.mobile);
    EXPECT_EQ(back.uid, u"u-1");
    EXPECT_EQ(back.version, "3.0");
}

}  // namespace
}  // namespace parlo::vcard
