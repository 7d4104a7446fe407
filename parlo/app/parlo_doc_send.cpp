// Sending: the recipients of a message and the Outbox records made for them;
// the names shown for numbers.
#include <algorithm>

#include "parlo/app/parlo_doc.h"

namespace parlo {

namespace {

// Longest address a message can carry: 20 digits.
constexpr size_t kMaxNumberDigits = 20;

// Why no message can go to `number` (cleaned), or empty.
std::string NumberRefusal(const std::u16string& number) {
    if (number.find_first_of(u"0123456789") == std::u16string::npos)
        return "no digit is left after dropping blanks and signs";
    if (number.find(u'+', 1) != std::u16string::npos)
        return "a \"+\" may only stand first";
    const size_t digits = number.size() - (number[0] == u'+' ? 1 : 0);
    if (digits > kMaxNumberDigits)
        return "it has more than 20 digits";
    return {};
}

}  // namespace

CParloDoc::Recipients CParloDoc::CheckRecipients(const std::u16string& typed) {
    Recipients out;
    for (const std::u16string& piece : SplitNumbers(typed)) {
        if (piece.find_first_not_of(u" \t") == std::u16string::npos)
            continue;
        const bool letters = std::any_of(piece.begin(), piece.end(), [](char16_t c) {
            return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
        });
        std::u16string number = CleanedNumber(piece);
        std::string why = letters ? "it contains letters" : NumberRefusal(number);
        if (!why.empty()) {
            out.numbers.clear();
            out.refused = piece;
            out.why = std::move(why);
            return out;
        }
        if (std::find(out.numbers.begin(), out.numbers.end(), number) == out.numbers.end())
            out.numbers.push_back(std::move(number));
    }
    return out;
}

bool CParloDoc::CanSendTo(const std::u16string& phone) {
    return IsValidNumber(phone) && CheckRecipients(phone).Ok();
}

std::vector<std::u16string> CParloDoc::SplitNumbers(const std::u16string& numbers) {
    std::vector<std::u16string> out;
    size_t start = 0;
    while (start <= numbers.size()) {
        size_t end = numbers.find(u';', start);
        if (end == std::u16string::npos)
            end = numbers.size();
        if (end > start)
            out.push_back(numbers.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

CParloDoc::SendResult CParloDoc::Send(const std::u16string& numbers, const std::u16string& text,
                                      bool push, int mode, CSmsMessage* draft) {
    SendResult result;
    Recipients to = CheckRecipients(numbers);
    if (!to.Ok()) {
        result.refused = to.refused;
        result.why = to.refused.empty() ? "no number given" : to.why;
        return result;
    }
    for (const std::u16string& number : to.numbers) {
        if (AddOutgoing(number, text, push)) {
            ++result.queued;
            result.queued_to.push_back(number);
        } else {
            result.not_stored.push_back(number);
        }
    }
    // The draft stays where it is when a message of it was not stored: it is
    // then the only copy of the text that the user can send again.
    if (mode == VIEW_DRAFT && draft && result.queued > 0 && result.not_stored.empty())
        DeleteMessage(draft);
    return result;
}

std::u16string CParloDoc::DisplayName(const std::u16string& number) const {
    if (number.empty())
        return number;
    for (const auto& entry : m_phonebook.m_entries) {
        if (entry->m_strMobile == number)
            return entry->m_strName;
    }
    for (const auto& contact : m_contacts) {
        if (contact->m_strMobile == number)
            return contact->m_strName;
    }
    return number;
}

}  // namespace parlo
