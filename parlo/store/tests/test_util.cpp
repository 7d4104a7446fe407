#include "parlo/store/tests/test_util.h"

#include <unistd.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace parlo::testing {

Bytes& Bytes::I32(int32_t v) {
    uint32_t u = static_cast<uint32_t>(v);
    for (int i = 0; i < 4; ++i)
        data += static_cast<char>((u >> (8 * i)) & 0xFF);
    return *this;
}

Bytes& Bytes::F64(double v) {
    uint64_t u;
    std::memcpy(&u, &v, 8);
    for (int i = 0; i < 8; ++i)
        data += static_cast<char>((u >> (8 * i)) & 0xFF);
    return *this;
}

Bytes& Bytes::U8(uint8_t v) {
    data += static_cast<char>(v);
    return *this;
}

Bytes& Bytes::Str(std::u16string_view s) {
    return RawStr(static_cast<int32_t>(s.size()), s, 0);
}

Bytes& Bytes::RawStr(int32_t n, std::u16string_view units, char16_t terminator) {
    I32(n);
    for (char16_t c : units) {
        data += static_cast<char>(c & 0xFF);
        data += static_cast<char>(c >> 8);
    }
    data += static_cast<char>(terminator & 0xFF);
    data += static_cast<char>(terminator >> 8);
    return *this;
}

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void WriteFile(const std::filesystem::path& path, std::string_view data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
}

}  // namespace parlo::testing
