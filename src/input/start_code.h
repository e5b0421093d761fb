// Start-code search over an Annex B byte stream.
#pragma once

#include <cstdint>

namespace tandrel {

// The first position p in [begin, end) at which the three bytes 00 00 01 lie
// wholly before `end`; `end` when there is none (also when fewer than three
// bytes are left, or begin is at or past end).
const uint8_t* FindStartCode(const uint8_t* begin, const uint8_t* end);

}  // namespace tandrel
