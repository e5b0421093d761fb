#include "input/start_code.h"

#include <cstring>

namespace tandrel {

// Looks for the 01 byte with memchr (vectorised in every libc) and checks the
// two bytes before it. Every 01 of a start code that begins at or after
// `begin` lies at begin + 2 or later, and memchr meets the 01 bytes in order,
// so the first 01 preceded by 00 00 ends the earliest start code.
const uint8_t* FindStartCode(const uint8_t* begin, const uint8_t* end) {
  if (begin >= end || end - begin < 3) return end;
  const uint8_t* p = begin + 2;
  while (p < end) {
    const void* hit = std::memchr(p, 0x01, static_cast<size_t>(end - p));
    if (hit == nullptr) return end;
    p = static_cast<const uint8_t*>(hit);
    if (p[-1] == 0x00 && p[-2] == 0x00) return p - 2;
    // The 01 at p is no zero byte of a later start code, so that start
    // code's 01 lies at p + 3 or later.
    p += 3;
  }
  return end;
}

}  // namespace tandrel
