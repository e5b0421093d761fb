// Test helper: builds H.264 NAL units bit by bit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tandrel::test {

// Escapes RBSP bytes into NAL unit bytes: an emulation_prevention_three_byte
// goes in wherever two zero bytes would be followed by a byte of 00..03.
inline std::vector<uint8_t> AddEmulationPrevention(const std::vector<uint8_t>& rbsp) {
  std::vector<uint8_t> unit;
  int zeros = 0;
  for (const uint8_t byte : rbsp) {
    if (zeros >= 2 && byte <= 3) {
      unit.push_back(3);
      zeros = 0;
    }
    unit.push_back(byte);
    zeros = byte == 0 ? zeros + 1 : 0;
  }
  return unit;
}

class BitWriter {
 public:
  // The low n bits of value, most significant first (n in 0..64).
  BitWriter& U(uint64_t value, int n) {
    for (int i = n - 1; i >= 0; --i) bits_.push_back(((value >> i) & 1) != 0);
    return *this;
  }

  BitWriter& Append(const BitWriter& other) {
    bits_.insert(bits_.end(), other.bits_.begin(), other.bits_.end());
    return *this;
  }

  BitWriter& Flag(bool set) { return U(set ? 1 : 0, 1); }

  BitWriter& Zeros(int n) { return U(0, n); }

  // ue(v): value + 1 written in binary, preceded by one zero less than its bit count.
  BitWriter& Ue(uint64_t value) {
    const uint64_t code = value + 1;
    int length = 0;
    while ((code >> length) > 1) ++length;
    Zeros(length);
    return U(code, length + 1);
  }

  // se(v): k > 0 maps to 2k - 1, k <= 0 to -2k.
  BitWriter& Se(int64_t value) {
    return Ue(value > 0 ? static_cast<uint64_t>(2 * value - 1) : static_cast<uint64_t>(-2 * value));
  }

  // rbsp_trailing_bits: the stop bit, then zeros up to the byte boundary.
  BitWriter& TrailingBits() {
    Flag(true);
    return ByteAlignWithZeros();
  }

  BitWriter& ByteAlignWithZeros() {
    while (bits_.size() % 8 != 0) bits_.push_back(false);
    return *this;
  }

  size_t BitCount() const { return bits_.size(); }

  // The bits as bytes, the last one padded with zeros.
  std::vector<uint8_t> Rbsp() const {
    std::vector<uint8_t> bytes((bits_.size() + 7) / 8, 0);
    for (size_t i = 0; i < bits_.size(); ++i) {
      if (bits_[i]) bytes[i / 8] = static_cast<uint8_t>(bytes[i / 8] | (0x80u >> (i % 8)));
    }
    return bytes;
  }

  // The bytes as a NAL unit, emulation-prevention bytes included.
  std::vector<uint8_t> Unit() const { return AddEmulationPrevention(Rbsp()); }

 private:
  std::vector<bool> bits_;
};

}  // namespace tandrel::test
