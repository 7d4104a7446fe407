// The device database parser on arbitrary text (already unscrambled), and the
// whole path through the scrambler.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "parlo/store/device_db.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<parlo::PhoneModelRecord> phones;
    std::vector<parlo::OperatorRecord> operators;
    parlo::DeviceDbResult r = parlo::ParseDeviceDb(text, &phones, &operators);
    if (!r.ok && r.check.empty())
        __builtin_trap();
    std::string scrambled(text);
    parlo::ScrambleDeviceDb(&scrambled);
    parlo::ScrambleDeviceDb(&scrambled);
    if (scrambled != text)
        __builtin_trap();
    return 0;
}
