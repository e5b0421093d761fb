// EBML variable-length size encoding (RFC 8794, section 4).
#pragma once

#include <cstdint>

namespace tandrel {

struct VintBuffer {
  int32_t length = 0;     // valid bytes in `bytes`, 1 to 8
  uint8_t bytes[8] = {};  // first byte first, as it goes to the file
};

// The shortest width, 1 to 8, that holds `value` as an EBML size; 0 when no
// width does (value >= 2^56 - 1). The all-ones value of each width means
// "unknown size" and is never produced.
int ShortestVintWidth(uint64_t value);

// Encodes `value` in exactly `width` bytes (widening with leading zero bits),
// or in the shortest form when width <= 0. Returns false, leaving `out`
// cleared, when the value does not fit the width.
[[nodiscard]] bool EncodeVint(uint64_t value, int width, VintBuffer& out);

}  // namespace tandrel
