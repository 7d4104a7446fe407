// The coding and the parts of an outgoing text, and the PDUs built for them.
#include "parlo/sms/sms_parts.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "parlo/sms/gsm_alphabet.h"
#include "parlo/sms/pdu_codec.h"

namespace parlo {
namespace {

std::u16string Repeat(std::u16string_view s, size_t n) {
    std::u16string out;
    for (size_t i = 0; i < n; ++i)
        out += s;
    return out;
}

std::vector<size_t> PieceLengths(const CSmsPlan& plan) {
    std::vector<size_t> v;
    for (const CSmsPiece& p : plan.m_pieces)
        v.push_back(p.m_nLength);
    return v;
}

// Parses every part's PDU back and checks what the recipient would read.
std::vector<CPduMessage> BuildAll(const CSmsPlan& plan, const std::u16string& text,
                                  bool push = false, int ref = 7) {
    std::vector<CPduMessage> out;
    for (size_t k = 0; k < plan.Count(); ++k) {
        std::string hex;
        int len = BuildPartPdu(&hex, plan, text, k, "+491701234567", "", push, ref);
        EXPECT_GT(len, 0) << "part " << k;
        CPduMessage m;
        EXPECT_GE(CPduCodec::ParseSubmitPdu(hex, &m), 0) << hex;
        EXPECT_EQ(m.m_strText, PartText(plan, text, k));
        out.push_back(m);
    }
    return out;
}

TEST(SmsParts, DefaultAlphabetTextsGoOutAsBefore) {
    // Byte for byte what the sender built before extension and UCS2 support:
    // ToGsmAlphabet, the low 8 bits, one 7-bit SMS-SUBMIT.
    const std::u16string texts[] = {
        u"Hello, world! 100% @home $5 _x_ \u00A3\u00A5\u00E8\u00E9",
        u"\u00E7a va? \u00C4\u00D6\u00DC\u00E4\u00F6\u00FC\u00DF \u0394\u03A6\u0393\u03A9",
        u"line one\r\nline two", u"", Repeat(u"x", 154)};
    for (const std::u16string& text : texts) {
        CSmsPlan plan = PlanSms(text, false);
        ASSERT_EQ(plan.Count(), 1u);
        EXPECT_EQ(plan.m_nAlphabet, PDU_ALPHABET_GSM7);
        EXPECT_FALSE(plan.m_bExtension);
        std::u16string gsm = text;
        ToGsmAlphabet(gsm);
        std::string codes(gsm.begin(), gsm.end());
        std::string before, now;
        int a = CPduCodec::BuildSubmitPdu(&before, codes, "+491701234567", "+4917", true);
        int b = BuildPartPdu(&now, plan, text, 0, "+491701234567", "+4917", true, 0);
        EXPECT_EQ(a, b);
        EXPECT_EQ(before, now);
    }
    // 'ç' stays code 0x09.
    std::string data;
    PartUserData(PlanSms(u"\u00E7", false), u"\u00E7", 0, &data);
    EXPECT_EQ(data, std::string(1, '\x09'));
}

TEST(SmsParts, CodingFollowsTheCharacters) {
    CSmsPlan ext = PlanSms(u"Price 5\u20AC [x] {y} ~|^\\\f", false);
    EXPECT_EQ(ext.m_nAlphabet, PDU_ALPHABET_GSM7);
    EXPECT_TRUE(ext.m_bExtension);
    EXPECT_EQ(ext.m_nSeptets, 22u + 10u);  // 22 characters, 10 of them escaped
    std::string data;
    PartUserData(ext, u"[\u20AC]", 0, &data);
    EXPECT_EQ(data, std::string("\x1B\x3C\x1B\x65\x1B\x3E", 6));

    // Characters in neither table: Cyrillic, 'ő', capital 'Ç' (not in the
    // program's table), the tab, the backtick, an emoji.
    for (std::u16string t : std::vector<std::u16string>{
             u"\u041F\u0440\u0438\u0432\u0435\u0442 \u0151 \u00FC", std::u16string(u"\u00C7"),
             std::u16string(u"a\tb"), std::u16string(u"`"), std::u16string(u"\U0001F600")}) {
        CSmsPlan plan = PlanSms(t, false);
        EXPECT_EQ(plan.m_nAlphabet, PDU_ALPHABET_UCS2);
        std::vector<CPduMessage> m = BuildAll(plan, t);
        ASSERT_EQ(m.size(), 1u);
        EXPECT_EQ(m[0].m_strText, t);
        EXPECT_EQ(m[0].m_nDcs, PDU_DCS_UCS2);
    }
    // PUSH in UCS2 is class 0 with the UCS2 alphabet.
    std::u16string ru = u"\u0416";
    EXPECT_EQ(BuildAll(PlanSms(ru, false), ru, true)[0].m_nDcs, PDU_DCS_UCS2_PUSH);
    EXPECT_EQ(BuildAll(PlanSms(u"a", false), u"a", true)[0].m_nDcs, PDU_DCS_PUSH);
}

struct Boundary {
    const char* name;
    std::u16string text;
    bool concatenated;
    SmsScheme scheme;
    std::vector<size_t> pieces;  // code units of each piece
};

TEST(SmsParts, PartBoundaries) {
    const std::u16string ru = u"\u0416";         // UCS2, one unit
    const std::u16string smile = u"\U0001F600";  // a surrogate pair
    const std::vector<Boundary> cases = {
        {"7-bit 154 numbered", Repeat(u"a", 154), false, SmsScheme::kSingle, {154}},
        {"7-bit 155 numbered", Repeat(u"a", 155), false, SmsScheme::kNumbered, {154, 1}},
        {"7-bit 308 numbered", Repeat(u"a", 308), false, SmsScheme::kNumbered, {154, 154}},
        {"7-bit 309 numbered", Repeat(u"a", 309), false, SmsScheme::kNumbered, {154, 154, 1}},
        {"7-bit 160 concatenated", Repeat(u"a", 160), true, SmsScheme::kSingle, {160}},
        {"7-bit 161 concatenated", Repeat(u"a", 161), true, SmsScheme::kConcatenated, {153, 8}},
        {"escape straddling 153",
         Repeat(u"a", 152) + u"\u20AC" + Repeat(u"b", 10),
         true,
         SmsScheme::kConcatenated,
         {152, 11}},
        {"escape straddling 154", Repeat(u"a", 153) + u"[", false, SmsScheme::kNumbered, {153, 1}},
        {"escape fits 154", Repeat(u"a", 152) + u"[", false, SmsScheme::kSingle, {153}},
        {"UCS2 70", Repeat(ru, 70), false, SmsScheme::kSingle, {70}},
        {"UCS2 71 numbered", Repeat(ru, 71), false, SmsScheme::kNumbered, {66, 5}},
        {"UCS2 132 numbered", Repeat(ru, 132), false, SmsScheme::kNumbered, {66, 66}},
        {"UCS2 133 numbered", Repeat(ru, 133), false, SmsScheme::kNumbered, {66, 66, 1}},
        {"UCS2 71 concatenated", Repeat(ru, 71), true, SmsScheme::kConcatenated, {67, 4}},
        {"UCS2 134/135 concatenated", Repeat(ru, 135), true, SmsScheme::kConcatenated, {67, 67, 1}},
        {"surrogate straddling 67",
         Repeat(ru, 66) + smile + Repeat(u"x", 10),
         true,
         SmsScheme::kConcatenated,
         {66, 12}},
        {"surrogate straddling 66",
         Repeat(ru, 65) + smile + Repeat(u"x", 10),
         false,
         SmsScheme::kNumbered,
         {65, 12}},
        {"surrogate pair at 70", Repeat(ru, 68) + smile, false, SmsScheme::kSingle, {70}},
    };
    for (const Boundary& c : cases) {
        SCOPED_TRACE(c.name);
        CSmsPlan plan = PlanSms(c.text, c.concatenated);
        EXPECT_EQ(plan.m_scheme, c.scheme);
        EXPECT_EQ(PieceLengths(plan), c.pieces);
        // Every part builds, and the parts give back the whole text.
        std::u16string joined;
        std::vector<CPduMessage> msgs = BuildAll(plan, c.text);
        for (size_t k = 0; k < msgs.size(); ++k) {
            std::u16string t = msgs[k].m_strText;
            if (plan.m_scheme == SmsScheme::kNumbered) {
                std::string prefix =
                    std::to_string(k + 1) + "/" + std::to_string(plan.Count()) + ":";
                ASSERT_EQ(t.substr(0, prefix.size()), std::u16string(prefix.begin(), prefix.end()));
                t.erase(0, prefix.size());
            }
            joined += t;
            CPduConcat cc;
            EXPECT_EQ(CPduCodec::FindConcat(msgs[k].m_strUdh, &cc),
                      plan.m_scheme == SmsScheme::kConcatenated);
            if (plan.m_scheme == SmsScheme::kConcatenated) {
                EXPECT_EQ(cc.m_nRef, 7);
                EXPECT_EQ(cc.m_nTotal, static_cast<int>(plan.Count()));
                EXPECT_EQ(cc.m_nSeq, static_cast<int>(k + 1));
            }
        }
        EXPECT_EQ(joined, c.text);
    }
}

TEST(SmsParts, ManyPartsStillFitTheirMessages) {
    // From the 10th UCS2 part ("1/10:") and the 100th 7-bit part ("1/100:")
    // the prefix is longer; the pieces shrink so that every part still fits.
    const std::u16string ru = u"\u0416";
    for (size_t n : {594u, 595u, 660u, 700u}) {
        std::u16string text = Repeat(ru, n);
        CSmsPlan plan = PlanSms(text, false);
        ASSERT_GE(plan.Count(), 9u);
        std::u16string joined;
        for (const CPduMessage& m : BuildAll(plan, text)) {
            const std::u16string& t = m.m_strText;
            EXPECT_LE(t.size(), kUcs2Single);
            joined += t.substr(t.find(u':') + 1);
        }
        EXPECT_EQ(joined, text) << n;
    }
    // Up to 9 UCS2 parts and 99 7-bit parts the pieces are the full 66 and 154.
    EXPECT_EQ(PlanSms(Repeat(ru, 594), false).Count(), 9u);
    EXPECT_EQ(PlanSms(Repeat(u"a", 99 * 154), false).Count(), 99u);
    CSmsPlan hundred = PlanSms(Repeat(u"a", 99 * 154 + 1), false);
    EXPECT_EQ(hundred.Count(), 100u);
    std::string hex;
    EXPECT_GT(BuildPartPdu(&hex, hundred, Repeat(u"a", 99 * 154 + 1), 99, "1", "", false, 0), 0);

    // More than 255 concatenated parts cannot share one reference: numbered.
    std::u16string huge = Repeat(u"a", 256 * 153);
    EXPECT_EQ(PlanSms(Repeat(u"a", 255 * 153), true).m_scheme, SmsScheme::kConcatenated);
    EXPECT_EQ(PlanSms(huge, true).m_scheme, SmsScheme::kNumbered);
}

TEST(SmsParts, ConcatenatedPduLayout) {
    // A 7-bit part: first octet 0x51, header 05 00 03 ref total seq, one fill
    // bit, and the user-data length counts the header's 7 septets.
    std::u16string text = Repeat(u"a", 161);
    CSmsPlan plan = PlanSms(text, true);
    std::string hex;
    ASSERT_GT(BuildPartPdu(&hex, plan, text, 1, "+491701234567", "", false, 0xAB), 0);
    EXPECT_EQ(hex.substr(0, 4), "0051");
    // 00 51 00 0C 91 947110325476 00 00 FF, then UDL 7 + 8 = 15.
    EXPECT_EQ(hex.substr(28, 2), "0F");
    EXPECT_EQ(hex.substr(30, 12), "050003AB0202");
    // The first septet 'a' (0x61) shifted past the fill bit.
    EXPECT_EQ(hex.substr(42, 2), "C2");
    // Bad concatenation numbers are refused.
    CPduConcat bad{1, 2, 3};
    CSubmitOptions options;
    options.m_pConcat = &bad;
    EXPECT_EQ(CPduCodec::BuildSubmitPdu(&hex, "a", "1", "", options), PDU_ERR_ENCODE);
    // Too much user data for one part.
    CPduConcat ok{1, 2, 1};
    options.m_pConcat = &ok;
    EXPECT_EQ(CPduCodec::BuildSubmitPdu(&hex, std::string(154, 'a'), "1", "", options),
              PDU_ERR_ENCODE);
    EXPECT_GT(CPduCodec::BuildSubmitPdu(&hex, std::string(153, 'a'), "1", "", options), 0);
    options.m_nAlphabet = PDU_ALPHABET_UCS2;
    EXPECT_EQ(CPduCodec::BuildSubmitPdu(&hex, std::string(136, 'a'), "1", "", options),
              PDU_ERR_ENCODE);
    EXPECT_GT(CPduCodec::BuildSubmitPdu(&hex, std::string(134, 'a'), "1", "", options), 0);
    EXPECT_EQ(CPduCodec::BuildSubmitPdu(&hex, std::string(3, 'a'), "1", "", options),
              PDU_ERR_ENCODE);  // half a code unit
}

}  // namespace
}  // namespace parlo
