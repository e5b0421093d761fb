// Bit reader over the RBSP of one H.264 NAL unit.
//
// A NAL unit carries its raw byte sequence payload (RBSP) with
// emulation_prevention_three_byte (0x03) inserted after every pair of zero
// bytes that would otherwise be followed by 00, 01, 02 or 03. The reader
// walks the unit's raw bytes and drops those bytes on the fly, so header
// syntax can be read bit by bit without copying the unit. Bit 0 is the most
// significant bit of the NAL header byte.
//
// Reads never fail: bits at or beyond the end of the RBSP read as 0 and
// make Overrun() true for good. The position keeps counting past the end,
// so a parser can walk its whole syntax and test Overrun() once at the end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace tandrel {

struct RbspBits {
  std::span<const uint8_t> unit;  // raw NAL unit bytes, header byte first
  uint64_t bit_length = 0;        // RBSP bits: 8 x (unit bytes - emulation-prevention bytes)
  uint64_t position = 0;          // bits consumed so far; may run past bit_length
  size_t next_byte = 0;           // index in `unit` of the next byte to load
  uint8_t current_byte = 0;       // byte whose low `bits_left` bits are still unread
  int bits_left = 0;
};

// Starts a reader at the NAL header byte of `unit` (header byte .. last byte).
// The reader refers to `unit`, which must outlive it.
RbspBits ExpandRbsp(std::span<const uint8_t> unit);

// The next n bits (n in 0..32) as an unsigned number, most significant first.
uint32_t ReadBits(RbspBits& bits, int n);

// The next ue(v) Exp-Golomb code. A code with 32 or more leading zeros yields
// 4294967295 (it cannot be represented in 32 bits).
uint32_t ReadUe(RbspBits& bits);

// Steps over the next ue(v) or se(v) code; both have the same length.
void SkipExpGolomb(RbspBits& bits);

void SkipBits(RbspBits& bits, uint32_t n);

// Number of bits consumed so far: the index of the next unread bit.
uint64_t BitPosition(const RbspBits& bits);

// True once any read or skip went past the end of the RBSP.
bool Overrun(const RbspBits& bits);

}  // namespace tandrel
