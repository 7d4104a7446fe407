// Sending: the recipients of a message and the Outbox records made for them;
// the names shown for numbers.
#include <algorithm>

#include "parlo/app/parlo_doc.h"
#include "parlo/sms/recipient_number.h"

namespace parlo {

CParloDoc::Recipients CParloDoc::CheckRecipients(const std::u16string& typed) {
    Recipients out;
    for (const std::u16string& piece : SplitNumbers(typed)) {
        if (piece.find_first_not_of(u" \t") == std::u16string::npos)
            continue;
        // The engine's one rule: what a typed number is cleaned to, and
        // whether a PDU can carry it.
        std::u16string number;
        const NumberFault fault = CleanRecipientNumber(piece, &number);
        if (fault != NumberFault::kNone) {
            out.numbers.clear();
            out.refused = piece;
            out.why = NumberFaultText(fault);
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
    {
        // A phonebook synchronisation on a worker replaces the phonebook.
        std::lock_guard lock(m_phonebookMutex);
        for (const auto& entry : m_phonebook.m_entries) {
            if (entry->m_strMobile == number)
                return entry->m_strName;
        }
    }
    for (const auto& contact : m_contacts) {
        if (contact->m_strMobile == number)
            return contact->m_strName;
    }
    return number;
}

}  // namespace parlo
