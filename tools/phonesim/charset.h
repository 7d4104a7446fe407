// The TE character sets of AT+CSCS (3GPP TS 27.007) for phonebook texts.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace phonesim {

std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);

// "GSM", "IRA", "8859-1", "UCS2", "UTF-8", in the order AT+CSCS=? lists them.
const std::vector<std::string>& SupportedCharsets();
bool IsSupportedCharset(const std::string& name);

// Text as sent to the terminal in `charset`. Characters the set cannot show
// become '?'.
std::string EncodeText(const std::string& charset, std::u16string_view text);
// Text received from the terminal. False when the bytes are not valid in the
// set (bad UCS2 hex, bytes above 0x7F in GSM or IRA, bad UTF-8).
bool DecodeText(const std::string& charset, std::string_view bytes, std::u16string* text);

// Length of a text as the SIM stores it: one byte per GSM septet, or, when a
// character is outside the GSM alphabet, 1 + 2 per character (UCS2 coding).
int StoredTextLength(std::u16string_view text);

}  // namespace phonesim
