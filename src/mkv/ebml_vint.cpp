#include "mkv/ebml_vint.h"

namespace tandrel {

int ShortestVintWidth(uint64_t value) {
  for (int width = 1; width <= 8; ++width) {
    const uint64_t all_ones = (uint64_t{1} << (7 * width)) - 1;
    if (value < all_ones) return width;
  }
  return 0;
}

bool EncodeVint(uint64_t value, int width, VintBuffer& out) {
  out = VintBuffer{};
  const int shortest = ShortestVintWidth(value);
  if (shortest == 0 || width > 8 || (width >= 1 && width < shortest)) return false;
  const int n = width > shortest ? width : shortest;
  for (int i = n - 1; i >= 0; --i) {
    out.bytes[i] = static_cast<uint8_t>(value);
    value >>= 8;
  }
  // The length marker: bit 2^(8-n) of the first byte, above the 7n value bits.
  out.bytes[0] = static_cast<uint8_t>(out.bytes[0] | (0x80u >> (n - 1)));
  out.length = n;
  return true;
}

}  // namespace tandrel
