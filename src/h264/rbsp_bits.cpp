#include "h264/rbsp_bits.h"

namespace tandrel {
namespace {

// An emulation_prevention_three_byte is a 03 preceded by two zero bytes of the
// raw unit. The test looks at raw bytes, not at the bytes kept: in
// 00 00 03 00 00 03 both 03 are dropped, in 00 00 03 03 only the first.
bool IsEmulationPrevention(std::span<const uint8_t> unit, size_t i) {
  return i >= 2 && unit[i - 2] == 0 && unit[i - 1] == 0 && unit[i] == 3;
}

// Consumes one bit. Past the end of the RBSP the bit reads as 0.
uint32_t NextBit(RbspBits& bits) {
  ++bits.position;
  if (bits.position > bits.bit_length) return 0;
  if (bits.bits_left == 0) {
    // The byte after a dropped 03 is never dropped itself, so one test is enough;
    // bit_length was counted with the same rule, so a byte is always left here.
    if (IsEmulationPrevention(bits.unit, bits.next_byte)) ++bits.next_byte;
    bits.current_byte = bits.unit[bits.next_byte++];
    bits.bits_left = 8;
  }
  --bits.bits_left;
  return static_cast<uint32_t>((bits.current_byte >> bits.bits_left) & 1);
}

void Advance(RbspBits& bits, uint64_t n) {
  const uint64_t remaining = bits.position < bits.bit_length ? bits.bit_length - bits.position : 0;
  if (n > remaining) {
    // Every later read lies past the end too, so the byte cursor no longer matters.
    bits.position += n;
    return;
  }
  for (; n > 0; --n) NextBit(bits);
}

// Consumes the leading zeros of an Exp-Golomb code and the 1 that ends them,
// and returns the number of zeros. If the RBSP ends before a 1 is found, the
// count stops there and the missing 1 is taken as consumed past the end, so
// the count always ends and the read is marked as an overrun.
uint64_t ReadGolombPrefix(RbspBits& bits) {
  uint64_t zeros = 0;
  while (bits.position < bits.bit_length) {
    if (NextBit(bits) == 1) return zeros;
    ++zeros;
  }
  ++bits.position;
  return zeros;
}

}  // namespace

RbspBits ExpandRbsp(std::span<const uint8_t> unit) {
  size_t dropped = 0;
  for (size_t i = 0; i < unit.size(); ++i) {
    if (IsEmulationPrevention(unit, i)) ++dropped;
  }
  RbspBits bits;
  bits.unit = unit;
  bits.bit_length = 8 * static_cast<uint64_t>(unit.size() - dropped);
  return bits;
}

uint32_t ReadBits(RbspBits& bits, int n) {
  uint64_t value = 0;
  for (int i = 0; i < n; ++i) value = (value << 1) | NextBit(bits);
  return static_cast<uint32_t>(value);
}

uint32_t ReadUe(RbspBits& bits) {
  const uint64_t zeros = ReadGolombPrefix(bits);
  if (zeros >= 32) {
    // 2^32 - 1 or more: the largest 32-bit value stands for all of them.
    Advance(bits, zeros);
    return UINT32_MAX;
  }
  const uint64_t info = ReadBits(bits, static_cast<int>(zeros));
  return static_cast<uint32_t>((uint64_t{1} << zeros) - 1 + info);
}

void SkipExpGolomb(RbspBits& bits) { Advance(bits, ReadGolombPrefix(bits)); }

void SkipBits(RbspBits& bits, uint32_t n) { Advance(bits, n); }

uint64_t BitPosition(const RbspBits& bits) { return bits.position; }

bool Overrun(const RbspBits& bits) { return bits.position > bits.bit_length; }

}  // namespace tandrel
