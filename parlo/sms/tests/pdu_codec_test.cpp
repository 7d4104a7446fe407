#include "parlo/sms/pdu_codec.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "parlo/sms/gsm_alphabet.h"

namespace parlo {
namespace {

std::string Hex(const uint8_t* p, size_t n) {
    std::string s;
    CPduCodec::HexEncode(&s, p, n);
    return s;
}

std::vector<uint8_t> Bytes(std::string_view hex) {
    std::vector<uint8_t> v(hex.size() / 2 + 1);
    int n = CPduCodec::HexDecode(v.data(), v.size(), hex);
    EXPECT_GE(n, 0) << hex;
    v.resize(n < 0 ? 0 : static_cast<size_t>(n));
    return v;
}

// --- Hexadecimal text ---

TEST(PduHex, EncodeAndDecode) {
    const uint8_t bytes[] = {0x00, 0x0F, 0xA5, 0xFF};
    EXPECT_EQ(Hex(bytes, 4), "000FA5FF");
    uint8_t out[4];
    EXPECT_EQ(CPduCodec::HexDecode(out, 4, "000FA5FF"), 4);
    EXPECT_EQ(std::string(out, out + 4), std::string(bytes, bytes + 4));
    EXPECT_EQ(CPduCodec::HexDecode(out, 4, ""), 0);
}

TEST(PduHex, RejectsMalformedText) {
    uint8_t out[8];
    EXPECT_EQ(CPduCodec::HexDecode(out, 8, "ABC"), PDU_ERR_HEX_ODD);
    EXPECT_EQ(CPduCodec::HexDecode(out, 8, "0a"), PDU_ERR_HEX_CHAR);  // lowercase
    EXPECT_EQ(CPduCodec::HexDecode(out, 8, "0G"), PDU_ERR_HEX_CHAR);
    EXPECT_EQ(CPduCodec::HexDecode(out, 8, "0 "), PDU_ERR_HEX_CHAR);
    EXPECT_EQ(CPduCodec::HexDecode(out, 8, std::string_view("0\0", 2)), PDU_ERR_HEX_CHAR);
    EXPECT_EQ(CPduCodec::HexDecode(out, 1, "0000"), PDU_ERR_HEX_SPACE);
}

// --- Addresses ---

TEST(PduAddress, DestinationAndServiceCentreForms) {
    uint8_t out[PDU_MAX_ADDRESS];
    int n = CPduCodec::EncodeAddress(out, "+46708251358", false);
    EXPECT_EQ(Hex(out, n), "0B916407281553F8");  // odd count: last high nibble F
    n = CPduCodec::EncodeAddress(out, "+27381000015", true);
    EXPECT_EQ(Hex(out, n), "07917283010010F5");  // octets after the length octet
    n = CPduCodec::EncodeAddress(out, "0708251358", false);
    EXPECT_EQ(Hex(out, n), "0A817080523185");
    n = CPduCodec::EncodeAddress(out, "", true);
    EXPECT_EQ(Hex(out, n), "00");
    n = CPduCodec::EncodeAddress(out, "12345678901234567890", false);
    EXPECT_EQ(n, 12);
}

TEST(PduAddress, RejectsWhatCannotBeEncoded) {
    uint8_t out[PDU_MAX_ADDRESS];
    for (const char* bad : {"*100#", "123#", "12 34", "+", "1+2", "123456789012345678901"}) {
        EXPECT_EQ(CPduCodec::EncodeAddress(out, bad, false), PDU_ERR_ENCODE) << bad;
    }
}

TEST(PduAddress, DecodesDigitsTypesAndAlphanumericText) {
    std::u16string s;
    auto a = Bytes("0B916407281553F8");
    EXPECT_EQ(CPduCodec::DecodeAddress(&s, a.data(), a.size()), 8);
    EXPECT_EQ(s, u"+46708251358");
    a = Bytes("0BA16407281553F8");  // national: digits only
    EXPECT_EQ(CPduCodec::DecodeAddress(&s, a.data(), a.size()), 8);
    EXPECT_EQ(s, u"46708251358");
    a = Bytes("05811A2BFE");  // '*' and '#' semi-octets
    EXPECT_EQ(CPduCodec::DecodeAddress(&s, a.data(), a.size()), 5);
    EXPECT_EQ(s, u"*1#2c");
    a = Bytes("0DD0E474D81C0EBB01");  // alphanumeric
    EXPECT_EQ(CPduCodec::DecodeAddress(&s, a.data(), a.size()), 9);
    EXPECT_EQ(s, u"diafaan");
    // Too short for its length octet, or longer than an address can be.
    a = Bytes("0B9164072815");
    EXPECT_EQ(CPduCodec::DecodeAddress(&s, a.data(), a.size()), PDU_ERR_FORMAT);
    a = Bytes("1691" + std::string(22, '1'));
    EXPECT_EQ(CPduCodec::DecodeAddress(&s, a.data(), a.size()), PDU_ERR_FORMAT);
}

// --- Septets ---

TEST(PduSeptets, PackingOfTheStandard) {
    // Characters fill octets from the least significant bit; n characters take
    // ceil(7n/8) octets and the unused high bits of the last octet are zero.
    uint8_t out[1 + PDU_MAX_USER_DATA];
    const char* expected[] = {"7F",         "FF3F",         "FFFF1F",         "FFFFFF0F",
                              "FFFFFFFF07", "FFFFFFFFFF03", "FFFFFFFFFFFF01", "FFFFFFFFFFFFFF"};
    for (int n = 1; n <= 8; ++n) {
        int octets = CPduCodec::PackSeptets(out, std::string(n, '\x7F'));
        EXPECT_EQ(Hex(out + 1, octets), expected[n - 1]) << n;
        EXPECT_EQ(out[0], n);
    }
    int octets = CPduCodec::PackSeptets(out, "hellohello");
    EXPECT_EQ(Hex(out, 1 + octets), "0AE8329BFD4697D9EC37");
    octets = CPduCodec::PackSeptets(out, "The quick fox jumps over the lazy dog");
    EXPECT_EQ(Hex(out, 1 + octets),
              "2554741914AFA7C76B90F98D07A9EB6DF81CF4B697E5203ABA0C6287F57910F97D06");
}

TEST(PduSeptets, Limits) {
    uint8_t out[1 + PDU_MAX_USER_DATA + 8];
    EXPECT_EQ(CPduCodec::PackSeptets(out, std::string(160, 'a')), 140);
    EXPECT_EQ(CPduCodec::PackSeptets(out, std::string(161, 'a')), PDU_ERR_ENCODE);
    EXPECT_EQ(CPduCodec::PackSeptets(out, "ab\x80"), PDU_ERR_ENCODE);
    EXPECT_EQ(CPduCodec::PackSeptets(out, ""), 0);
    EXPECT_EQ(out[0], 0);
}

TEST(PduSeptets, UnpackIsTheInverseAndChecksTheLength) {
    uint8_t packed[1 + PDU_MAX_USER_DATA];
    std::string all;
    for (int c = 0; c < 128; ++c)
        all.push_back(static_cast<char>(c));
    all.resize(160, '\x55');
    int octets = CPduCodec::PackSeptets(packed, all);
    uint8_t codes[PDU_MAX_SEPTETS];
    EXPECT_EQ(CPduCodec::UnpackSeptets(codes, packed, 1 + octets), 160);
    EXPECT_EQ(std::string(codes, codes + 160), all);
    EXPECT_EQ(CPduCodec::UnpackSeptets(codes, packed, octets), PDU_ERR_FORMAT);
    const uint8_t empty[] = {0x00};
    EXPECT_EQ(CPduCodec::UnpackSeptets(codes, empty, 1), 0);
    const uint8_t greedy[] = {0xFF, 0x00};
    EXPECT_EQ(CPduCodec::UnpackSeptets(codes, greedy, 2), PDU_ERR_FORMAT);
}

// --- Building ---

TEST(PduBuild, ExactSubmitLayout) {
    std::string hex;
    int n = CPduCodec::BuildSubmitPdu(&hex, "hellohello", "+46708251358", "", false);
    EXPECT_EQ(hex,
              "00"
              "11"
              "00"
              "0B916407281553F8"
              "00"
              "00"
              "FF"
              "0AE8329BFD4697D9EC37");
    EXPECT_EQ(n, static_cast<int>(hex.size() / 2) - 1);

    n = CPduCodec::BuildSubmitPdu(&hex, "hellohello", "+46708251358", "+27381000015", true);
    EXPECT_EQ(hex,
              "07917283010010F5"
              "11"
              "00"
              "0B916407281553F8"
              "00"
              "F0"
              "FF"
              "0AE8329BFD4697D9EC37");
    EXPECT_EQ(n, static_cast<int>(hex.size() / 2) - 8);
}

TEST(PduBuild, LongestMessageFitsTheLimit) {
    std::string hex;
    int n = CPduCodec::BuildSubmitPdu(&hex, std::string(160, 'x'), "+12345678901234567890",
                                      "+12345678901234567890", false);
    EXPECT_EQ(hex.size(), static_cast<size_t>(PDU_MAX_HEX));
    EXPECT_EQ(n, PDU_MAX_OCTETS - 12);
}

TEST(PduBuild, FailuresLeaveNoPdu) {
    std::string hex = "old";
    EXPECT_EQ(CPduCodec::BuildSubmitPdu(&hex, "hi", "*100#", "", false), PDU_ERR_ENCODE);
    EXPECT_TRUE(hex.empty());
    EXPECT_EQ(CPduCodec::BuildSubmitPdu(&hex, "hi", "123", "+49#", false), PDU_ERR_ENCODE);
    EXPECT_EQ(CPduCodec::BuildSubmitPdu(&hex, std::string(161, 'x'), "123", "", false),
              PDU_ERR_ENCODE);
    EXPECT_EQ(CPduCodec::BuildSubmitPdu(&hex, "\xC0", "123", "", false), PDU_ERR_ENCODE);
    EXPECT_EQ(CPduCodec::BuildSubmitPdu(&hex, "hi", "", "", false), PDU_ERR_ENCODE);
    EXPECT_TRUE(hex.empty());
}

TEST(PduBuild, SentTextReadsBackFromTheStoredCopy) {
    // What the sender builds, the reader of a stored outgoing message gets back.
    std::u16string text = u"Gr\u00FC\u00DFe @ 5$ [ok] \u00E7a\n\u0394";
    std::u16string codes16 = text;
    ToGsmAlphabet(codes16);
    std::string codes;
    for (char16_t c : codes16)
        codes.push_back(static_cast<char>(c & 0xFF));
    std::string hex;
    ASSERT_GT(CPduCodec::BuildSubmitPdu(&hex, codes, "+4917012345", "+491770610000", false), 0);
    CPduMessage msg;
    EXPECT_EQ(CPduCodec::ParseSubmitPdu(hex, &msg), static_cast<int>(text.size()));
    EXPECT_EQ(msg.m_strNumber, u"+4917012345");
    EXPECT_EQ(msg.m_strSmsc, "+491770610000");
    EXPECT_EQ(msg.m_strTimestamp, "00000000000000");
    // '[' and ']' are sent with their own codes and so read as 'Ä' and 'Ñ'.
    EXPECT_EQ(msg.m_strText, u"Gr\u00FC\u00DFe @ 5$ \u00C4ok\u00D1 \u00E7a\n\u0394");
}

// --- Parsing real messages ---

struct Received {
    const char* name;
    const char* pdu;
    const char* smsc;
    std::u16string number;
    const char* timestamp;
    std::u16string text;
};

const Received kReceived[] = {
    // The classic worked example: 7-bit "hellohello", national originator.
    {"hellohello", "07917283010010F5040BC87238880900F10000993092516195800AE8329BFD4697D9EC37",
     "+27381000015", u"27838890001", "99032915165908", u"hellohello"},
    // Accented letter of the basic table.
    {"accent", "07914889200009F4040B914843807079F300006220813205908205CF35C84D00", "+84980200904",
     u"+84340807973", "26021823500928", u"Ok n\u00E8"},
    // Alphanumeric originators.
    {"alnum", "0791448720003023240DD0E474D81C0EBB010000111011315214000BE474D81C0EBB5DE3771B",
     "+447802000332", u"diafaan", "11011113254100", u"diafaan.com"},
    {"alnum9",
     "07919720990610F00410D0C8E7945A94BAA4550000218051710140235550E953C82C3641C51828EDA697E5E6"
     "F0B83C0705E7F4B23C3D5FB784E5323BED2E83623057CC1573D1404369929A1C0699A06B990C0AD6CFA0580D"
     "149BE960395D0D066A4E9720192C2603",
     "+79029960010", u"HOSTER.RU", "12081517100432",
     u"PROBLEM E1 interfaces Asterisk-Beeline 10.1.1.4 CRITICAL Wed Aug 15 13:09:50 MSK 2012"},
    // Message-waiting group (DCS 0xC8): default alphabet.
    {"mwi",
     "07915510100102910407D1D6A4F50900C8715091415320291FD6F7B80CA297DBA018C8FDB68751F314A85D76"
     "CFC3E7721BE59EA700",
     "+550101102019", u"VIVO", "17051914350292", u"Voce tem 1 nova(s) mensagem(ns)"},
    // UCS2 with surrogate pairs (two emoji and a space).
    {"surrogates", "07913306092041F0040B913306991364F60008619091516061800AD83DDE03D83DDE0E0020",
     "+33609002140", u"+33609931466", "16091915061608", u"\U0001F603\U0001F60E "},
    // Last part of a concatenated 7-bit message: header and fill bits skipped.
    {"concat7",
     "07913306000000F0640B913306000000F00000610110221153803105"
     "0003CB0303"
     "62B1582C168BC562B1582C168BC562B1582C168BC562B1582C168BC562B1582C168BC56231",
     "+33600000000", u"+33600000000", "16100122113508", std::u16string(42, u'1')},
    // Concatenated UCS2 part with an alphanumeric originator.
    {"concat_ucs2",
     "07918350000014F0400ED0D637396C7EBBCB000802601190106321840500038803030020043F0430043A0435"
     "044204300020043F043E043F043E0432043D04560442044C00200440043004450443043D043E043A002004"
     "32045604340020003100300030002004330440043804320435043D044C0020044204300020043D04300431"
     "0435044004560442044C0020002A003100300031002A0034003400340023",
     "+38050000410", u"Vodafone", "20061109013612",
     u" \u043F\u0430\u043A\u0435\u0442\u0430 \u043F\u043E\u043F\u043E\u0432\u043D\u0456\u0442"
     u"\u044C \u0440\u0430\u0445\u0443\u043D\u043E\u043A \u0432\u0456\u0434 100 \u0433\u0440"
     u"\u0438\u0432\u0435\u043D\u044C \u0442\u0430 \u043D\u0430\u0431\u0435\u0440\u0456\u0442"
     u"\u044C *101*444#"},
    // Concatenated UCS2 part with the 16-bit reference element.
    {"concat16",
     "07919731899699F3440B919781455534F20008811151906461215B0608040A32030304380442044C002004"
     "3F0435044004350432043E043400200441043E002004410447043504420430002004320430044804350433"
     "043E0020043D043E043C0435044004300020002A003100310035002A00310023",
     "+79139869993", u"+79185455432", "18111509461612",
     u"\u0438\u0442\u044C \u043F\u0435\u0440\u0435\u0432\u043E\u0434 \u0441\u043E \u0441\u0447"
     u"\u0435\u0442\u0430 \u0432\u0430\u0448\u0435\u0433\u043E \u043D\u043E\u043C\u0435\u0440"
     u"\u0430 *115*1#"},
    // Extension characters: the hellohello header with the text "Cost: 5€ [ok] {x}".
    {"extension",
     "07917283010010F5040BC87238880900F1000099309251619580"
     "16C3F79CAE03D53665D086F75E6F7CA00D0ABF4901",
     "+27381000015", u"27838890001", "99032915165908", u"Cost: 5\u20AC [ok] {x}"},
};

TEST(PduParse, RealMessages) {
    for (const Received& r : kReceived) {
        SCOPED_TRACE(r.name);
        CPduMessage msg;
        int n = CPduCodec::ParseDeliverPdu(r.pdu, &msg);
        EXPECT_EQ(n, static_cast<int>(r.text.size()));
        EXPECT_EQ(msg.m_nType, PDU_TYPE_DELIVER);
        EXPECT_EQ(msg.m_strSmsc, r.smsc);
        EXPECT_EQ(msg.m_strNumber, r.number);
        EXPECT_EQ(msg.m_strTimestamp, r.timestamp);
        EXPECT_EQ(msg.m_strText, r.text);
        // The generic parser agrees; the submit parser refuses a delivery.
        CPduMessage any;
        EXPECT_EQ(CPduCodec::ParsePdu(r.pdu, &any), n);
        EXPECT_EQ(any.m_strText, r.text);
        EXPECT_EQ(CPduCodec::ParseSubmitPdu(r.pdu, &any), PDU_ERR_TYPE);
    }
}

TEST(PduParse, HeaderFieldsOfConcatenatedParts) {
    CPduMessage msg;
    CPduConcat c;
    ASSERT_GT(CPduCodec::ParseDeliverPdu(kReceived[6].pdu, &msg), 0);
    EXPECT_EQ(msg.m_strUdh, std::string("\x00\x03\xCB\x03\x03", 5));
    ASSERT_TRUE(CPduCodec::FindConcat(msg.m_strUdh, &c));
    EXPECT_EQ(c.m_nRef, 0xCB);
    EXPECT_EQ(c.m_nTotal, 3);
    EXPECT_EQ(c.m_nSeq, 3);
    ASSERT_GT(CPduCodec::ParseDeliverPdu(kReceived[8].pdu, &msg), 0);
    EXPECT_EQ(msg.m_nAlphabet, PDU_ALPHABET_UCS2);
    ASSERT_TRUE(CPduCodec::FindConcat(msg.m_strUdh, &c));
    EXPECT_EQ(c.m_nRef, 0x0A32);
    EXPECT_EQ(c.m_nTotal, 3);
    EXPECT_EQ(c.m_nSeq, 3);
    // Other elements are skipped; a broken element or a part number of 0 is no concatenation.
    EXPECT_TRUE(
        CPduCodec::FindConcat(std::string("\x05\x04\x15\x81\x00\x00\x00\x03\x07\x02\x01", 11), &c));
    EXPECT_EQ(c.m_nRef, 7);
    EXPECT_FALSE(CPduCodec::FindConcat(std::string("\x00\x03\x07\x02\x00", 5), &c));
    EXPECT_FALSE(CPduCodec::FindConcat(std::string("\x00\x05\x07", 3), &c));
    EXPECT_FALSE(CPduCodec::FindConcat("", &c));
}

TEST(PduParse, TimeZoneOfTheTimestamp) {
    CPduMessage msg;
    ASSERT_GT(CPduCodec::ParseDeliverPdu(kReceived[0].pdu, &msg), 0);
    EXPECT_EQ(msg.m_nZoneQuarters, 8);  // +02:00
    // The same message from a zone west of Greenwich (sign bit set): -04:00 is 16 quarters.
    std::string west = kReceived[0].pdu;
    west.replace(west.size() - 22, 2, "69");
    ASSERT_GT(CPduCodec::ParseDeliverPdu(west, &msg), 0);
    EXPECT_EQ(msg.m_nZoneQuarters, -16);
}

TEST(PduParse, StatusReportIsRefusedAsAMessage) {
    // A delivery report as the phone stores it (no service centre in the record).
    const char* report = "0006000B910221815716F2709021510121807090215101718000";
    CPduMessage msg;
    EXPECT_EQ(CPduCodec::ParseDeliverPdu(report, &msg), PDU_ERR_TYPE);
    EXPECT_TRUE(msg.m_strText.empty());
    EXPECT_EQ(CPduCodec::ParseSubmitPdu(report, &msg), PDU_ERR_TYPE);
    EXPECT_EQ(CPduCodec::ParsePdu(report, &msg), 0);
    EXPECT_EQ(msg.m_nType, PDU_TYPE_STATUS_REPORT);
    EXPECT_EQ(msg.m_nMessageRef, 0);
    EXPECT_EQ(msg.m_strNumber, u"+20121875612");
    EXPECT_EQ(msg.m_strTimestamp, "07091215101208");
    EXPECT_EQ(msg.m_strDischarge, "07091215101708");
    EXPECT_EQ(msg.m_nStatus, 0);
}

TEST(PduParse, DataCodingSchemes) {
    const std::string head = "00040B916407281553F800";
    const std::string ts = "99309251619580";
    CPduMessage msg;
    // 8-bit data: one character per octet.
    EXPECT_EQ(CPduCodec::ParseDeliverPdu(head + "04" + ts + "0341FF00", &msg), 3);
    EXPECT_EQ(msg.m_nAlphabet, PDU_ALPHABET_8BIT);
    EXPECT_EQ(msg.m_strText, std::u16string(u"A\u00FF") + u'\0');
    // Class 0 with 8-bit data (F4) and class 1 with UCS2 (18).
    EXPECT_EQ(CPduCodec::ParseDeliverPdu(head + "F4" + ts + "0141", &msg), 1);
    EXPECT_EQ(msg.m_nMessageClass, 0);
    EXPECT_EQ(CPduCodec::ParseDeliverPdu(head + "19" + ts + "0420AC0041", &msg), 2);
    EXPECT_EQ(msg.m_nMessageClass, 1);
    EXPECT_EQ(msg.m_strText, u"\u20ACA");
    // UCS2 with an odd octet count: the last octet is dropped.
    EXPECT_EQ(CPduCodec::ParseDeliverPdu(head + "08" + ts + "03004100", &msg), 1);
    // Compressed text is refused.
    EXPECT_EQ(CPduCodec::ParseDeliverPdu(head + "20" + ts + "0141", &msg), PDU_ERR_CODING);
    // Reserved coding group: default alphabet.
    EXPECT_EQ(CPduCodec::ParseDeliverPdu(head + "84" + ts + "0141", &msg), 1);
    EXPECT_EQ(msg.m_strText, u"A");
    // A user-data length of 0 gives an empty text.
    EXPECT_EQ(CPduCodec::ParseDeliverPdu(head + "00" + ts + "00", &msg), 0);
    EXPECT_TRUE(msg.m_strText.empty());
}

TEST(PduParse, SubmitValidityPeriodFormats) {
    CPduMessage msg;
    const std::string tail = "0AE8329BFD4697D9EC37";
    // none, relative, enhanced, absolute
    EXPECT_EQ(CPduCodec::ParseSubmitPdu("000100038121F50000" + tail, &msg), 10);
    EXPECT_EQ(msg.m_nValidityFormat, 0);
    EXPECT_EQ(CPduCodec::ParseSubmitPdu("001105038121F50000AA" + tail, &msg), 10);
    EXPECT_EQ(msg.m_nMessageRef, 5);
    EXPECT_EQ(msg.m_strValidity, "\xAA");
    EXPECT_EQ(CPduCodec::ParseSubmitPdu("000900038121F5000001000000000000" + tail, &msg), 10);
    EXPECT_EQ(msg.m_nValidityFormat, 1);
    EXPECT_EQ(CPduCodec::ParseSubmitPdu("001900038121F5000099309251619580" + tail, &msg), 10);
    EXPECT_EQ(msg.m_strValidity.size(), 7u);
    EXPECT_EQ(msg.m_strText, u"hellohello");
    EXPECT_EQ(msg.m_strNumber, u"125");
}

TEST(PduParse, MalformedInputIsRejected) {
    CPduMessage msg;
    std::string good = kReceived[0].pdu;
    std::string lower = good;
    lower[good.size() - 1] = 'f';
    EXPECT_EQ(CPduCodec::ParseDeliverPdu(lower, &msg), PDU_ERR_HEX);
    EXPECT_EQ(CPduCodec::ParseDeliverPdu(good + "0", &msg), PDU_ERR_HEX);
    EXPECT_EQ(CPduCodec::ParseDeliverPdu("", &msg), PDU_ERR_FORMAT);
    EXPECT_EQ(CPduCodec::ParseDeliverPdu(std::string(2 * PDU_MAX_PARSE_OCTETS + 2, '0'), &msg),
              PDU_ERR_FORMAT);
    // A service-centre field longer than an address can be.
    EXPECT_EQ(CPduCodec::ParseDeliverPdu("0C" + good.substr(2), &msg), PDU_ERR_FORMAT);
    // A user-data length that claims more than is there.
    std::string greedy = good;
    greedy.replace(greedy.size() - 20, 2, "0B");
    EXPECT_EQ(CPduCodec::ParseDeliverPdu(greedy, &msg), PDU_ERR_FORMAT);
    // A user-data header longer than the user data.
    EXPECT_EQ(CPduCodec::ParseDeliverPdu("00440B916407281553F80008993092516195800205FF", &msg),
              PDU_ERR_FORMAT);
    // A header that leaves fewer septets than it takes.
    EXPECT_EQ(
        CPduCodec::ParseDeliverPdu("00440B916407281553F800009930925161958006050003CB0301", &msg),
        PDU_ERR_FORMAT);
    EXPECT_TRUE(msg.m_strText.empty());
}

TEST(PduParse, EveryTruncationIsRejected) {
    for (const Received& r : kReceived) {
        std::string pdu = r.pdu;
        CPduMessage msg;
        for (size_t len = 0; len < pdu.size(); len += 2) {
            EXPECT_LT(CPduCodec::ParseDeliverPdu(pdu.substr(0, len), &msg), 0)
                << r.name << " cut at " << len;
        }
    }
}

}  // namespace
}  // namespace parlo
