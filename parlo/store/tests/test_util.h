// Helpers of the store tests: a scratch directory and little-endian builders.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "platform/testing/temp_dir.h"

namespace parlo::testing {

using skyvane::testing::TempDir;

// Builds files byte by byte, independently of the code under test.
struct Bytes {
    std::string data;
    Bytes& I32(int32_t v);
    Bytes& F64(double v);
    Bytes& U8(uint8_t v);
    // int32 n, then n code units and a zero unit.
    Bytes& Str(std::u16string_view s);
    // A record string with an explicit length and terminator.
    Bytes& RawStr(int32_t n, std::u16string_view units, char16_t terminator);
};

std::string ReadFile(const std::filesystem::path& path);
void WriteFile(const std::filesystem::path& path, std::string_view data);

}  // namespace parlo::testing
