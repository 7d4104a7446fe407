#include "tools/phonesim/hex.h"

#include "platform/text.h"

namespace phonesim {

std::string BytesToHex(std::string_view bytes) {
    static const char* kDigits = "0123456789ABCDEF";
    std::string hex;
    hex.reserve(bytes.size() * 2);
    for (unsigned char c : bytes) {
        hex.push_back(kDigits[c >> 4]);
        hex.push_back(kDigits[c & 15]);
    }
    return hex;
}

bool HexToBytes(std::string_view hex, std::string* out) {
    out->clear();
    if (hex.size() % 2 != 0)
        return false;
    out->reserve(hex.size() / 2);
    for (size_t i = 0; i < hex.size(); i += 2) {
        int hi = platform::HexDigitValue(hex[i]);
        int lo = platform::HexDigitValue(hex[i + 1]);
        if (hi < 0 || lo < 0)
            return false;
        out->push_back(static_cast<char>(hi * 16 + lo));
    }
    return true;
}

}  // namespace phonesim
