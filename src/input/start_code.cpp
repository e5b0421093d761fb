#include "input/start_code.h"

#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tandrel {
namespace {

// The plain search for the positions a vector step cannot cover.
const uint8_t* FindStartCodeBytewise(const uint8_t* p, const uint8_t* end) {
  for (; end - p >= 3; ++p) {
    if (p[0] == 0x00 && p[1] == 0x00 && p[2] == 0x01) return p;
  }
  return end;
}

}  // namespace

#if defined(__SSE2__)

// Compressed slice data holds a zero byte about once in 256 bytes, but two
// zeros in a row almost only where a start code or an emulation-prevention
// byte follows (the encoder inserts 03 after every other 00 00). So 32
// positions at a time are tested for "this byte and the next are zero", and
// only those rare pairs are looked at for the 01. The loads reach 33 bytes
// past `p`, which the loop condition keeps inside the range.
const uint8_t* FindStartCode(const uint8_t* begin, const uint8_t* end) {
  const uint8_t* p = begin;
  const __m128i zero = _mm_setzero_si128();
  while (end - p >= 34) {
    const auto load = [p](int offset) {
      return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + offset));
    };
    const auto zero_pairs = [&](int offset) {
      const __m128i pair =
          _mm_and_si128(_mm_cmpeq_epi8(load(offset), zero), _mm_cmpeq_epi8(load(offset + 1), zero));
      return static_cast<uint32_t>(_mm_movemask_epi8(pair));
    };
    // Bit i: p[i] and p[i + 1] are both zero.
    uint32_t pairs = zero_pairs(0) | zero_pairs(16) << 16;
    while (pairs != 0) {
      const int i = std::countr_zero(pairs);
      if (p[i + 2] == 0x01) return p + i;
      pairs &= pairs - 1;
    }
    p += 32;
  }
  return FindStartCodeBytewise(p, end);
}

#else

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

#endif

}  // namespace tandrel
