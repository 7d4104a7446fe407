// What a typed recipient number is cleaned to, and which numbers are refused
// because no PDU can carry them.
#include "parlo/sms/recipient_number.h"

#include <gtest/gtest.h>

#include <string>

#include "parlo/sms/pdu_codec.h"

namespace parlo {
namespace {

std::string Narrow(const std::u16string& s) {
    return std::string(s.begin(), s.end());
}

// Every accepted number builds a PDU; the cleaned form is what is stored.
TEST(RecipientNumber, SeparatorsAreDroppedAndTheResultBuildsAPdu) {
    const struct {
        std::u16string typed;
        std::u16string cleaned;
    } cases[] = {
        {u"+49 (170) 123-4567", u"+491701234567"},
        {u"0170/123.45\u00A067", u"01701234567"},
        {u"\t5\t", u"5"},
        {u"+12345678901234567890", u"+12345678901234567890"},  // 20 digits
    };
    for (const auto& c : cases) {
        std::u16string out = u"unchanged";
        ASSERT_EQ(CleanRecipientNumber(c.typed, &out), NumberFault::kNone) << Narrow(c.typed);
        EXPECT_EQ(out, c.cleaned);
        std::string hex;
        EXPECT_GT(CPduCodec::BuildSubmitPdu(&hex, "Hi", Narrow(out), "", false), 0) << Narrow(out);
    }
}

TEST(RecipientNumber, NumbersNoPduCanCarryAreRefusedWithTheirReason) {
    const struct {
        std::u16string typed;
        NumberFault fault;
    } cases[] = {
        {u"++491701234567", NumberFault::kPlusInside},
        {u"49+170", NumberFault::kPlusInside},
        {u"0170 +1", NumberFault::kPlusInside},
        {u"123456789012345678901", NumberFault::kTooManyDigits},  // 21 digits
        {u"+123456789012345678901", NumberFault::kTooManyDigits},
        {u"0170\uFFFD1234", NumberFault::kBadText},  // what an invalid UTF-8 byte decodes to
        {u"0170\xD800"
         u"1",
         NumberFault::kBadText},
        {u"0800-CALL-ME", NumberFault::kLetters},
        {u"0170*12#", NumberFault::kStrayChar},
        {u"0170;0171", NumberFault::kStrayChar},  // one number at a time
        {u"(-)", NumberFault::kNoDigit},
        {u"+", NumberFault::kNoDigit},
        {u"  ", NumberFault::kEmpty},
        {u"", NumberFault::kEmpty},
    };
    for (const auto& c : cases) {
        std::u16string out = u"unchanged";
        EXPECT_EQ(CleanRecipientNumber(c.typed, &out), c.fault) << Narrow(c.typed);
        EXPECT_EQ(out, u"unchanged") << "a refused number leaves the output alone";
        EXPECT_FALSE(NumberFaultText(c.fault).empty());
    }
}

}  // namespace
}  // namespace parlo
