#include "parlo/sms/gsm_alphabet.h"

#include <gtest/gtest.h>

#include <string>

namespace parlo {
namespace {

std::u16string ToGsm(std::u16string s) {
    ToGsmAlphabet(s);
    return s;
}

std::u16string FromGsm(std::u16string s) {
    FromGsmAlphabet(s);
    return s;
}

TEST(ToGsmAlphabet, BasicTableCharactersBecomeTheirCodes) {
    EXPECT_EQ(ToGsm(u"Hello 09!"), u"Hello 09!");  // letters, digits, most punctuation keep
    EXPECT_EQ(ToGsm(u"@"), std::u16string(1, 0x00));
    EXPECT_EQ(ToGsm(u"$"), u"\x02");
    EXPECT_EQ(ToGsm(u"_"), u"\x11");
    EXPECT_EQ(ToGsm(u"\u00A4"), u"\x24");  // ¤
    EXPECT_EQ(ToGsm(u"\u00A1"), u"\x40");  // ¡
    EXPECT_EQ(ToGsm(u"\u00C4"), u"\x5B");  // Ä
    EXPECT_EQ(ToGsm(u"\u00E0"), u"\x7F");  // à
    EXPECT_EQ(ToGsm(u"\u00E9\u00C9\u00DF"), u"\x05\x1F\x1E");
    EXPECT_EQ(ToGsm(u"\u0394\u03A9\u039E"), u"\x10\x15\x1A");  // Greek capitals
    EXPECT_EQ(ToGsm(u"\n\r"), u"\n\r");
}

TEST(ToGsmAlphabet, CedillaDeviation) {
    EXPECT_EQ(ToGsm(u"\u00E7"), u"\x09");  // ç is sent as 0x09
    EXPECT_EQ(ToGsm(u"\u00C7"), u" ");     // Ç is not in the table and is above 0x7F
}

TEST(ToGsmAlphabet, CharactersOutsideTheTableKeepTheirValue) {
    // The extension-table characters go out with their own codes.
    EXPECT_EQ(ToGsm(u"[x]"), u"\x5Bx\x5D");
    EXPECT_EQ(ToGsm(u"{|}~^`\\"), u"{|}~^`\\");
    EXPECT_EQ(ToGsm(u"\x7F\t"), u"\x7F\t");
    EXPECT_EQ(ToGsm(u"\u20AC"), u" ");       // euro: low 8 bits 0xAC
    EXPECT_EQ(ToGsm(u"\u00F7"), u" ");       // ÷ is not in the table
    EXPECT_EQ(ToGsm(u"\u0151"), u"\u0151");  // low 8 bits 0x51: left for the narrowing
    EXPECT_EQ(ToGsm(u""), u"");
}

TEST(FromGsmAlphabet, EveryCodeRoundTripsThroughTheSendingSide) {
    for (int code = 0; code < 128; ++code) {
        if (code == GSM_ESCAPE)
            continue;
        std::u16string s(1, static_cast<char16_t>(code));
        std::u16string text = FromGsm(s);
        ASSERT_EQ(text.size(), 1u) << code;
        EXPECT_EQ(ToGsm(text), s) << "code " << code;
    }
}

TEST(FromGsmAlphabet, BasicTable) {
    EXPECT_EQ(FromGsm(std::u16string(1, 0x00)), u"@");
    EXPECT_EQ(FromGsm(u"\x5Bx\x5D"), u"\u00C4x\u00D1");  // [x] sent arrives as ÄxÑ
    EXPECT_EQ(FromGsm(u"\x09"), u"\u00E7");
    EXPECT_EQ(FromGsm(u"\x02\x24\x40\x60"), u"$\u00A4\u00A1\u00BF");
    EXPECT_EQ(FromGsm(u"\u00E9"), u"\u00E9");  // codes above 127 are left alone
}

TEST(FromGsmAlphabet, EscapeToTheExtensionTable) {
    EXPECT_EQ(FromGsm(u"5\x1B\x65"), u"5\u20AC");
    EXPECT_EQ(FromGsm(u"\x1B\x3Cx\x1B\x3E"), u"[x]");
    EXPECT_EQ(FromGsm(u"\x1B\x28\x1B\x29\x1B\x40\x1B\x3D\x1B\x14\x1B\x2F\x1B\x0A"), u"{}|~^\\\f");
    // A code the extension table does not define reads as the basic character.
    EXPECT_EQ(FromGsm(u"\x1B"
                      u"A"),
              u"A");
    // An escape at the end, or twice, is a space.
    EXPECT_EQ(FromGsm(u"a\x1B"), u"a ");
    EXPECT_EQ(FromGsm(u"\x1B\x1B"
                      u"b"),
              u" b");
    // An escape before a character outside the alphabet is a space, the character stays.
    EXPECT_EQ(FromGsm(u"\x1B\u00E9"), u" \u00E9");
}

TEST(AppendGsmText, AppendsWithEscapes) {
    std::u16string out = u">";
    const uint8_t codes[] = {0x00, 0x1B, 0x65, 0x41, 0x1B};
    AppendGsmText(&out, codes, sizeof codes);
    EXPECT_EQ(out, u">@\u20ACA ");
}

}  // namespace
}  // namespace parlo
