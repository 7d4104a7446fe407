// vCard 2.1, 3.0 and 4.0 reading (line folding, escapes, parameters,
// quoted-printable, character sets) and vCard 3.0 writing: the few
// properties the suite uses.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace parlo::vcard {

struct Card {
    std::string version;            // "2.1", "3.0", "4.0" or empty
    std::u16string uid;             // UID, as written
    std::u16string formatted_name;  // FN
    std::u16string family;          // N, first component
    std::u16string given;           // N, second component
    bool has_n = false;
    // TEL numbers by type, as written (uncleaned): CELL, WORK, HOME, CAR.
    std::u16string mobile;
    std::u16string business;
    std::u16string home;
    std::u16string car;
};

// Parses every vCard of `text`. Returns false (and leaves `cards` as it was)
// when the text is not well formed: no complete BEGIN:VCARD ... END:VCARD, a
// content line without a colon, a NUL byte, or an unterminated card.
bool Parse(std::string_view text, std::vector<Card>* cards);

// The display name: family name, a blank, given name, trimmed; FN when the
// card has no N.
std::u16string DisplayName(const Card& card);

// A vCard 3.0 text (CRLF line ends, folded at 75 octets) with UID, FN, N and
// the numbers that are set.
std::string Write30(const Card& card);

// Decodes quoted-printable text (soft line breaks already removed); bad
// escapes are kept as they are.
std::string DecodeQuotedPrintable(std::string_view text);

// Removes the backslash escapes of a 3.0/4.0 text value (\n, \N, \, \; \\).
std::string Unescape(std::string_view value);
// Escapes a text value for writing.
std::string Escape(std::string_view value);

}  // namespace parlo::vcard
