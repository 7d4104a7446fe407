// The GSM 7-bit default alphabet and its extension table (3GPP TS 23.038).
#pragma once

#include <string>
#include <string_view>

namespace phonesim {

// One septet per byte (0x00..0x7F); extension characters take two (0x1B and
// the character). Characters outside the alphabet become '?' and make the
// result false.
bool ToGsmSeptets(std::u16string_view text, std::string* septets);
// The reverse; an escape without a known follower gives a blank, as the
// standard asks of a receiver.
std::u16string FromGsmSeptets(std::string_view septets);

// Packs septets into octets (first septet in the low bits).
std::string PackSeptets(std::string_view septets);
std::string UnpackSeptets(std::string_view octets, size_t count);

}  // namespace phonesim
