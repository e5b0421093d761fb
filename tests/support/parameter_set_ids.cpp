#include "support/parameter_set_ids.h"

#include <cstddef>

namespace tandrel::test {
namespace {

// Reads bits from a unit's payload, dropping emulation-prevention bytes (the 03 of
// every 00 00 03).
class PayloadBits {
 public:
  explicit PayloadBits(const std::vector<std::uint8_t>& unit) {
    int zeros = 0;
    for (std::size_t i = 1; i < unit.size(); ++i) {
      if (zeros >= 2 && unit[i] == 0x03) {
        zeros = 0;
        continue;
      }
      rbsp_.push_back(unit[i]);
      zeros = unit[i] == 0x00 ? zeros + 1 : 0;
    }
  }

  std::optional<std::uint32_t> Bit() {
    if (position_ >= rbsp_.size() * 8) {
      return std::nullopt;
    }
    const std::uint8_t byte = rbsp_[position_ / 8];
    const auto bit = static_cast<std::uint32_t>(byte >> (7 - position_ % 8)) & 1U;
    ++position_;
    return bit;
  }

  bool Skip(std::size_t bits) {
    position_ += bits;
    return position_ <= rbsp_.size() * 8;
  }

  // Unsigned Exp-Golomb code ue(v), for values that fit 32 bits.
  std::optional<std::uint32_t> Ue() {
    int leading_zeros = 0;
    for (;;) {
      const auto bit = Bit();
      if (!bit) {
        return std::nullopt;
      }
      if (*bit == 1) {
        break;
      }
      if (++leading_zeros > 31) {
        return std::nullopt;
      }
    }
    std::uint64_t suffix = 0;
    for (int i = 0; i < leading_zeros; ++i) {
      const auto bit = Bit();
      if (!bit) {
        return std::nullopt;
      }
      suffix = suffix << 1 | *bit;
    }
    return static_cast<std::uint32_t>((std::uint64_t{1} << leading_zeros) - 1 + suffix);
  }

 private:
  std::vector<std::uint8_t> rbsp_;
  std::size_t position_ = 0;
};

std::uint8_t UnitType(const std::vector<std::uint8_t>& unit) {
  return unit.empty() ? std::uint8_t{0} : static_cast<std::uint8_t>(unit[0] & 0x1F);
}

}  // namespace

std::optional<std::uint32_t> SpsId(const std::vector<std::uint8_t>& unit) {
  if (UnitType(unit) != 7 && UnitType(unit) != 15) {
    return std::nullopt;
  }
  // profile_idc, the constraint flags and level_idc come first, a byte each.
  PayloadBits bits(unit);
  if (!bits.Skip(24)) {
    return std::nullopt;
  }
  return bits.Ue();
}

std::optional<std::uint32_t> PpsReferencedSpsId(const std::vector<std::uint8_t>& unit) {
  if (UnitType(unit) != 8) {
    return std::nullopt;
  }
  PayloadBits bits(unit);
  if (!bits.Ue()) {  // pic_parameter_set_id
    return std::nullopt;
  }
  return bits.Ue();
}

}  // namespace tandrel::test
