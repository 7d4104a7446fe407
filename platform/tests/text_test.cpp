#include "platform/text.h"

#include <gtest/gtest.h>

#include "platform/msrand.h"

using namespace platform;

TEST(Text, Utf8RoundTripWithSurrogatePairs) {
    std::u16string s = u"a\u00e9\u20ac\U0001F600z";
    EXPECT_EQ(ToUtf8(s), "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z");
    EXPECT_EQ(FromUtf8(ToUtf8(s)), s);
}

TEST(Text, BrokenInputBecomesReplacementCharacters) {
    EXPECT_EQ(ToUtf8(std::u16string(1, char16_t(0xD800)) + u"x"), "\xEF\xBF\xBDx");
    EXPECT_EQ(FromUtf8("\xC0\x80"), u"\uFFFD\uFFFD");            // overlong NUL
    EXPECT_EQ(FromUtf8("\xE2\x82"), u"\uFFFD\uFFFD");            // cut short
    EXPECT_EQ(FromUtf8("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");  // encoded surrogate
}

TEST(Text, Utf8OfEveryLengthAndOfSurrogatesAtTheEnds) {
    // 1, 2, 3 and 4 bytes, at the edges of each length.
    std::u16string s = {0x7F, 0x80, 0x7FF, 0x800, 0xFFFF, 0xDBFF, 0xDFFF};
    EXPECT_EQ(ToUtf8(s), "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF\xF4\x8F\xBF\xBF");
    // A high surrogate as the last unit, a low one first: replaced, and
    // nothing read past the end.
    std::u16string high(u"ab");
    high += char16_t(0xD83D);
    EXPECT_EQ(ToUtf8(std::u16string_view(high)), "ab\xEF\xBF\xBD");
    std::u16string low(1, char16_t(0xDE00));
    low += u"\u00e9";
    EXPECT_EQ(ToUtf8(low), "\xEF\xBF\xBD\xC3\xA9");
    EXPECT_EQ(ToUtf8(u""), "");
}

TEST(Text, Windows1252BothWays) {
    EXPECT_EQ(Cp1252ToUtf16("\x80\x9F\xE9\x81"), u"\u20AC\u0178\u00E9\u0081");
    EXPECT_EQ(Utf16ToCp1252(u"\u20AC\u0178\u00E9\u0081\u4E2D"), "\x80\x9F\xE9\x81?");
}

TEST(Text, NarrowingKeepsExactlyTheLow8Bits) {
    EXPECT_EQ(NarrowLow8(u"A\u20AC\u0141"), std::string("A\xAC\x41", 3));
    EXPECT_EQ(WidenBytes("\xFF"
                         "a"),
              u"\u00FFa");
}

TEST(MsRand, MatchesTheClassicRuntimeSequence) {
    MsRand r(1);
    EXPECT_EQ(r.Next(), 41);
    EXPECT_EQ(r.Next(), 18467);
    EXPECT_EQ(r.Next(), 6334);
    EXPECT_EQ(r.Next(), 26500);
    r.Seed(1);
    EXPECT_EQ(r.Next(), 41);
}
