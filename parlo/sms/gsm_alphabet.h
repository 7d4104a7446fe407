// The GSM 7-bit default alphabet (3GPP TS 23.038) and its extension table.
//
// The sending side turns Unicode text into default-alphabet codes with the
// program's own rules (ToGsmAlphabet); the receiving side turns codes into
// Unicode, including the escape to the extension table ("€", "[", "{", ...).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace parlo {

inline constexpr uint8_t GSM_ESCAPE = 0x1B;  // escape to the extension table

// Unicode text to default-alphabet codes, in place, before sending:
// 1. a character of the basic table becomes its code ('@' 0x00, '$' 0x02, '_' 0x11,
//    'Ä' 0x5B, the Greek capitals, ...); 'ç' (U+00E7) gives 0x09, 'Ç' is not in the table;
// 2. any other character keeps its value (so '[' goes out as 0x5B and arrives as 'Ä');
// 3. a result whose low 8 bits are above 0x7F becomes a space.
// A character above U+00FF whose low 8 bits are 0x7F or less is left as it is; the
// sender narrows every character to its low 8 bits.
void ToGsmAlphabet(std::u16string& text);

// Default-alphabet codes to Unicode, in place, after reading. Each character whose
// low 8 bits are 0 to 127 is replaced by the character of that code (0x09 gives 'ç');
// other characters are left alone. An escape followed by a code of the extension
// table gives that table's character ("\x1B\x65" is '€'); an escape followed by a code
// the extension table does not define gives the basic table's character of that code;
// an escape at the end of the text or followed by a second escape gives a space.
void FromGsmAlphabet(std::u16string& text);

// The basic table: the Unicode character of a code 0 to 127 (0x1B, the escape, gives
// a space).
char16_t GsmToUnicode(uint8_t code);

// The extension table: the character of the code that follows an escape, or 0 when
// the extension table does not define that code.
char16_t GsmExtensionToUnicode(uint8_t code);

// The septets that carry `c` when the text is sent in the default alphabet:
// one code of the basic table (with 'ç' as 0x09), or the escape and a code of
// the extension table. Returns the number of septets written to `out` (1 or
// 2), or 0 when neither table holds the character.
int GsmSeptetsOf(char16_t c, uint8_t out[2]);

// The septets of the whole text with the rules of GsmSeptetsOf, or -1 when a
// character is in neither table. `extension` (may be null) tells whether an
// extension character was met.
long GsmSeptetCount(std::u16string_view text, bool* extension);

// Appends the septets of `text` to `out` (one code per byte). False, with
// `out` partly filled, when a character is in neither table.
bool AppendGsmSeptets(std::u16string_view text, std::string* out);

// Appends the text of `count` default-alphabet codes (each 0 to 127; higher bits are
// ignored) to `out`, with the escape rules of FromGsmAlphabet.
void AppendGsmText(std::u16string* out, const uint8_t* codes, size_t count);

}  // namespace parlo
