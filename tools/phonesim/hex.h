// Hexadecimal text as AT commands carry PDUs.
#pragma once

#include <string>
#include <string_view>

namespace phonesim {

// Upper-case hexadecimal digits, two per byte.
std::string BytesToHex(std::string_view bytes);
// False on an odd length or a character that is not a hexadecimal digit.
bool HexToBytes(std::string_view hex, std::string* out);

}  // namespace phonesim
