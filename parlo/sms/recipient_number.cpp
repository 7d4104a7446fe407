#include "parlo/sms/recipient_number.h"

#include "parlo/sms/pdu_codec.h"

namespace parlo {

namespace {

bool IsSeparator(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\u00A0' || c == u'-' || c == u'.' || c == u'/' ||
           c == u'(' || c == u')';
}

bool IsLetter(char16_t c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

}  // namespace

NumberFault CleanRecipientNumber(std::u16string_view typed, std::u16string* cleaned) {
    std::u16string out;
    out.reserve(typed.size());
    for (char16_t c : typed) {
        if (c == u'\uFFFD' || (c >= 0xD800 && c <= 0xDFFF))
            return NumberFault::kBadText;
        if (IsLetter(c))
            return NumberFault::kLetters;
    }
    bool any = false;
    for (char16_t c : typed) {
        if (c != u' ' && c != u'\t' && c != u'\u00A0')
            any = true;
        if (IsSeparator(c))
            continue;
        if (c == u'+') {
            if (!out.empty())
                return NumberFault::kPlusInside;
            out += c;
        } else if (c >= u'0' && c <= u'9') {
            out += c;
        } else {
            return NumberFault::kStrayChar;
        }
    }
    if (!any)
        return NumberFault::kEmpty;
    const size_t digits = out.size() - (!out.empty() && out[0] == u'+' ? 1 : 0);
    if (digits == 0)
        return NumberFault::kNoDigit;
    if (digits > static_cast<size_t>(PDU_MAX_DIGITS))
        return NumberFault::kTooManyDigits;
    *cleaned = std::move(out);
    return NumberFault::kNone;
}

std::string NumberFaultText(NumberFault fault) {
    switch (fault) {
        case NumberFault::kNone:
            return "";
        case NumberFault::kEmpty:
            return "it is empty";
        case NumberFault::kBadText:
            return "it holds bytes that are not valid UTF-8 text";
        case NumberFault::kLetters:
            return "it contains letters";
        case NumberFault::kStrayChar:
            return "it contains a sign other than digits, a leading '+' and separators";
        case NumberFault::kPlusInside:
            return "a '+' may stand only once, at the start";
        case NumberFault::kNoDigit:
            return "no digit is left after dropping blanks and signs";
        case NumberFault::kTooManyDigits:
            return "it has more than " + std::to_string(PDU_MAX_DIGITS) +
                   " digits, more than a phone number can have";
    }
    return "";
}

}  // namespace parlo
