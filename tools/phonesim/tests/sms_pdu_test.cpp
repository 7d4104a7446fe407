#include "tools/phonesim/sms_pdu.h"

#include <gtest/gtest.h>

#include "tools/phonesim/charset.h"
#include "tools/phonesim/gsm_alphabet.h"
#include "tools/phonesim/hex.h"

namespace phonesim {
namespace {

std::string Bytes(const std::string& hex) {
    std::string out;
    EXPECT_TRUE(HexToBytes(hex, &out)) << hex;
    return out;
}

TEST(SmsPduTest, TpduLengthLeavesOutTheServiceCentreField) {
    EXPECT_EQ(TpduLength(Bytes("0011000B919471103254F50000AA02C834")), 16);
    EXPECT_EQ(TpduLength(Bytes("07919471016700000400")), 2);
    EXPECT_EQ(TpduLength(Bytes("0791947101")), -1);
    EXPECT_EQ(TpduLength(""), -1);
}

TEST(SmsPduTest, ParsesASubmit) {
    SubmitPdu s;
    ASSERT_TRUE(ParseSubmit(Bytes("0011000B919471103254F50000AA02C834"), &s));
    EXPECT_EQ(s.destination, "+49170123455");
    EXPECT_EQ(s.destination_type, 0x91);
    EXPECT_EQ(s.udl, 2);
    EXPECT_EQ(BytesToHex(s.user_data), "C834");
    // National number, no validity period, 8-bit data.
    ASSERT_TRUE(ParseSubmit(Bytes("000100048101210004030A0B0C"), &s));
    EXPECT_EQ(s.destination, "1012");
    EXPECT_EQ(s.udl, 3);
}

TEST(SmsPduTest, RejectsBrokenSubmits) {
    SubmitPdu s;
    EXPECT_FALSE(ParseSubmit(Bytes("0011000B919471103254F50000AA02C8"), &s));      // short data
    EXPECT_FALSE(ParseSubmit(Bytes("0011000B919471103254F50000AA02C83400"), &s));  // extra
    EXPECT_FALSE(ParseSubmit(Bytes("0004000B919471103254F50000AA02C834"), &s));    // DELIVER
    EXPECT_FALSE(ParseSubmit(Bytes("0011001F91"), &s));                            // 31 digits
    EXPECT_FALSE(ParseSubmit(Bytes("0019000B919471103254F50000AA"), &s));    // absolute VP cut
    EXPECT_FALSE(ParseSubmit(Bytes("0011000B919471103254F50000AAA1"), &s));  // UDL above 160
    EXPECT_FALSE(ParseSubmit(Bytes("05"), &s));
}

TEST(SmsPduTest, EncodesAddresses) {
    EXPECT_EQ(BytesToHex(EncodeAddress("+491710760000", true)), "0791947101670000");
    EXPECT_EQ(BytesToHex(EncodeAddress("+4917012345", false)), "0A919471103254");
    EXPECT_EQ(BytesToHex(EncodeAddress("12345", false)), "05812143F5");
    EXPECT_EQ(BytesToHex(EncodeAddress("", true)), "00");
    // Alphanumeric: "Info" in 7-bit, 4 septets = 28 bits = 7 semi-octets.
    EXPECT_EQ(BytesToHex(EncodeAddress("Info", false)), "07D049B7F90D");
}

TEST(SmsPduTest, TextDeliverUsesSevenBitOrUcs2) {
    std::string pdu = MakeTextDeliver("+491710760000", "+4917012345", u"Hi", 0);
    std::string hex = BytesToHex(pdu);
    EXPECT_EQ(hex.substr(0, 34), "0791947101670000040A91947110325400");
    EXPECT_EQ(hex.substr(34, 2), "00");  // DCS: GSM 7-bit
    EXPECT_EQ(hex.substr(hex.size() - 6), "02C834");
    hex = BytesToHex(MakeTextDeliver("", "+4917012345", u"\u4F60", 0));
    EXPECT_EQ(hex.substr(0, 2), "00");
    EXPECT_EQ(hex.substr(18, 4), "0008");  // DCS: UCS2
    EXPECT_EQ(hex.substr(hex.size() - 6), "024F60");
}

TEST(SmsPduTest, SubmitBecomesDeliverWithTheSameUserData) {
    SubmitPdu s;
    ASSERT_TRUE(ParseSubmit(Bytes("0051000B919471103254F50000AA050401020304"), &s));
    std::string hex = BytesToHex(SubmitToDeliver(s, "+491710760000", "+491709876543", 0));
    EXPECT_EQ(hex.substr(16, 2), "44");  // DELIVER with the user data header flag
    EXPECT_EQ(hex.substr(hex.size() - 12), "050401020304");
}

// The user data of an SMS-DELIVER made by MakeDeliver: data coding scheme,
// length and the octets.
struct DeliverUd {
    uint8_t dcs, udl;
    std::string ud;
};
DeliverUd UserData(const std::string& pdu, const std::string& smsc, const std::string& from) {
    size_t at = EncodeAddress(smsc, true).size();
    EXPECT_EQ(static_cast<uint8_t>(pdu[at]), 0x44);  // DELIVER with a header
    at += 1 + EncodeAddress(from, false).size() + 1;
    DeliverUd d{static_cast<uint8_t>(pdu[at]), static_cast<uint8_t>(pdu[at + 8]),
                pdu.substr(at + 9)};
    return d;
}

TEST(SmsPduTest, ConcatenatedDeliversCarryTheHeaderAndTheWholeText) {
    std::u16string text;
    for (int i = 0; i < 40; ++i)
        text += u"0123456789";
    text[152] = u'\u20AC';  // an escape pair that would end part one
    std::vector<std::string> parts = MakeConcatDelivers("+4917100", "+4917011", text, 0x1A5, 0);
    ASSERT_EQ(parts.size(), 3u);
    std::u16string joined;
    for (size_t k = 0; k < parts.size(); ++k) {
        DeliverUd d = UserData(parts[k], "+4917100", "+4917011");
        EXPECT_EQ(d.dcs, 0x00);
        // 05 00 03 reference (low octet) parts part
        EXPECT_EQ(BytesToHex(d.ud.substr(0, 6)), "050003A5030" + std::string(1, char('1' + k)));
        std::string septets = UnpackSeptets(d.ud, d.udl);
        joined += FromGsmSeptets(septets.substr(7));
    }
    EXPECT_EQ(joined, text);
    EXPECT_EQ(UserData(parts[0], "+4917100", "+4917011").udl, 7 + 152);  // the euro moved on

    // UCS2: 67 code units a part, a surrogate pair cut where the count falls.
    std::u16string wide(66, u'\u4F60');
    wide += u"\U0001F600 tail";
    parts = MakeConcatDelivers("", "+4917011", wide, 7, 0);
    ASSERT_EQ(parts.size(), 2u);
    DeliverUd first = UserData(parts[0], "", "+4917011");
    EXPECT_EQ(first.dcs, 0x08);
    EXPECT_EQ(first.udl, 6 + 2 * 67);
    EXPECT_EQ(BytesToHex(first.ud.substr(6 + 2 * 66, 2)), "D83D");  // the high half ends part one
    EXPECT_EQ(BytesToHex(UserData(parts[1], "", "+4917011").ud.substr(0, 8)), "050003070202DE00");
}

TEST(GsmAlphabetTest, RoundTripsBasicAndExtensionCharacters) {
    std::string septets;
    EXPECT_TRUE(ToGsmSeptets(u"@\u00A3$\u00E9_{}\u20AC", &septets));
    EXPECT_EQ(BytesToHex(septets), "00010205111B281B291B65");
    EXPECT_EQ(FromGsmSeptets(septets), u"@\u00A3$\u00E9_{}\u20AC");
    EXPECT_FALSE(ToGsmSeptets(u"\u4F60", &septets));
    EXPECT_EQ(septets, "?");
    EXPECT_EQ(FromGsmSeptets(std::string("\x1B", 1)), u" ");
}

TEST(GsmAlphabetTest, PacksAndUnpacksSeptets) {
    std::string septets = "hellohello";
    for (char& c : septets)
        c = static_cast<char>(c & 0x7F);
    std::string packed = PackSeptets(septets);
    EXPECT_EQ(BytesToHex(packed), "E8329BFD4697D9EC37");
    EXPECT_EQ(UnpackSeptets(packed, septets.size()), septets);
    EXPECT_EQ(UnpackSeptets(packed.substr(0, 2), 10).size(), 2u);  // stops at the end
}

TEST(CharsetTest, EncodesAndDecodesEachSet) {
    EXPECT_EQ(EncodeText("GSM", u"A@"), std::string("A\0", 2));
    EXPECT_EQ(EncodeText("IRA", u"A\u00E9"), "A?");
    EXPECT_EQ(EncodeText("8859-1", u"A\u00E9"), "A\xE9");
    EXPECT_EQ(EncodeText("UCS2", u"A\u00E9"), "004100E9");
    EXPECT_EQ(EncodeText("UTF-8", u"\u00E9"), "\xC3\xA9");
    std::u16string text;
    EXPECT_TRUE(DecodeText("UCS2", "004100E9", &text));
    EXPECT_EQ(text, u"A\u00E9");
    EXPECT_FALSE(DecodeText("UCS2", "00410", &text));
    EXPECT_FALSE(DecodeText("UCS2", "00G1", &text));
    EXPECT_FALSE(DecodeText("GSM", "\x80", &text));
    EXPECT_FALSE(DecodeText("IRA", "\xE9", &text));
    EXPECT_FALSE(DecodeText("UTF-8", "\xC3", &text));
    EXPECT_TRUE(DecodeText("GSM", std::string("\x1B\x65", 2), &text));
    EXPECT_EQ(text, u"\u20AC");
}

TEST(CharsetTest, StoredLengthCountsGsmBytesOrUcs2) {
    EXPECT_EQ(StoredTextLength(u"Anna"), 4);
    EXPECT_EQ(StoredTextLength(u"\u20AC"), 2);
    EXPECT_EQ(StoredTextLength(u"A\u4F60"), 5);
}

}  // namespace
}  // namespace phonesim
