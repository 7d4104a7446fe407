// Text conversions: UTF-8, UTF-16 and the ANSI code page (Windows-1252).
#pragma once

#include <string>
#include <string_view>

namespace platform {

std::string ToUtf8(std::u16string_view text);    // lone surrogates become U+FFFD
std::u16string FromUtf8(std::string_view text);  // bad sequences become U+FFFD

// The ANSI code page of the platform is Windows-1252.
std::u16string Cp1252ToUtf16(std::string_view bytes);
// Characters without a Windows-1252 byte become '?'.
std::string Utf16ToCp1252(std::u16string_view text);

// Narrowing to the low 8 bits of each code unit, exactly.
std::string NarrowLow8(std::u16string_view text);
// Widening of each byte to one code unit (0..255).
std::u16string WidenBytes(std::string_view bytes);

// The value of a hexadecimal digit (either case), or -1.
constexpr int HexDigitValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// ASCII case-insensitive comparison.
bool EqualsNoCase(std::string_view a, std::string_view b);

}  // namespace platform
