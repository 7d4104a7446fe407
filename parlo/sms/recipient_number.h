// The one rule for a recipient number: what a typed number is cleaned to, and
// whether the result can be built into the destination address of a PDU.
// Every program that queues a message (parlo-cli, the client's document)
// asks this before it stores anything, so that a number that can never be
// sent is refused with its reason instead of failing every synchronisation.
#pragma once

#include <string>
#include <string_view>

namespace parlo {

enum class NumberFault {
    kNone,
    kEmpty,          // nothing but blanks
    kBadText,        // U+FFFD or a lone surrogate: the input was not valid text (UTF-8)
    kLetters,        // a letter: a name, not a number
    kStrayChar,      // a sign that is neither a digit, '+' nor a separator
    kPlusInside,     // '+' anywhere but once, at the start
    kNoDigit,        // nothing but signs
    kTooManyDigits,  // more digits than an address field holds
};

// Cleans one typed number (a single recipient, no ';'): the separators blank,
// tab, no-break space, '-', '.', '/', '(' and ')' are dropped; what is left must
// be an optional leading '+' followed by 1 to 20 digits (PDU_MAX_DIGITS).
// On kNone `cleaned` holds the number to store; otherwise it is left as it was.
NumberFault CleanRecipientNumber(std::u16string_view typed, std::u16string* cleaned);

// The reason, for the user, in a sentence's middle: "it contains letters".
std::string NumberFaultText(NumberFault fault);

}  // namespace parlo
