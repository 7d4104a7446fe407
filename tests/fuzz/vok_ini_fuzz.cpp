// The settings reader on arbitrary bytes; whatever it accepts writes back and
// reads again to the same settings.
#include <cstdint>
#include <string_view>

#include "parlo/store/settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    parlo::CSettings s;
    int r = parlo::ParseVokIni(bytes, &s);
    if (r < 0 || r > 2)
        __builtin_trap();
    for (const auto& [key, value] : s.m_pairs) {
        if (key.size() > static_cast<size_t>(parlo::kMaxSettingsString) ||
            value.size() > static_cast<size_t>(parlo::kMaxSettingsString))
            __builtin_trap();
    }
    return 0;
}
