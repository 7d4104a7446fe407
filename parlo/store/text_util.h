// Number parsing as the platform runtime's _wtol does it.
#pragma once

#include <cstdint>
#include <string_view>

namespace parlo {

// Leading blanks, an optional sign, then decimal digits; no digits gives 0.
// Values beyond the int32 range are clamped.
int32_t WToL(std::u16string_view text);

}  // namespace parlo
