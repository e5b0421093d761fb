#include "mkv/ebml_vint.h"

#include <gtest/gtest.h>

#include <vector>

namespace tandrel {
namespace {

struct VintCase {
  uint64_t value;
  int width;
  std::vector<uint8_t> bytes;  // empty: the value does not fit
};

TEST(EncodeVint, FillsTheRequestedWidthOrFails) {
  const uint64_t k14 = uint64_t{1} << 14, k21 = uint64_t{1} << 21, k28 = uint64_t{1} << 28;
  const uint64_t k49 = uint64_t{1} << 49, k56 = uint64_t{1} << 56;
  const std::vector<VintCase> table = {
      {0, 2, {0x40, 0x00}},
      {0, 8, {0x01, 0, 0, 0, 0, 0, 0, 0}},
      {1, 3, {0x20, 0x00, 0x01}},
      {126, 2, {0x40, 0x7E}},
      {127, 2, {0x40, 0x7F}},
      {128, 2, {0x40, 0x80}},
      {300, 2, {0x41, 0x2C}},
      {5, 4, {0x10, 0x00, 0x00, 0x05}},
      {k14 - 2, 2, {0x7F, 0xFE}},
      {k14 - 1, 2, {}},
      {k14, 2, {}},
      {k14, 3, {0x20, 0x40, 0x00}},
      {k21 - 2, 3, {0x3F, 0xFF, 0xFE}},
      {k21 - 1, 3, {}},
      {k21, 3, {}},
      {k21, 4, {0x10, 0x20, 0x00, 0x00}},
      {k28 - 2, 4, {0x1F, 0xFF, 0xFF, 0xFE}},
      {k28 - 1, 4, {}},
      {k49, 8, {0x01, 0x02, 0, 0, 0, 0, 0, 0}},
      {k56 - 2, 8, {0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE}},
      {k56 - 1, 8, {}},
      // Shortest form.
      {126, 0, {0xFE}},
      {127, 0, {0x40, 0x7F}},
  };
  for (const VintCase& c : table) {
    VintBuffer out;
    const bool fits = EncodeVint(c.value, c.width, out);
    EXPECT_EQ(fits, !c.bytes.empty()) << c.value << " in " << c.width;
    EXPECT_EQ(std::vector<uint8_t>(out.bytes, out.bytes + out.length), c.bytes)
        << c.value << " in " << c.width;
  }
}

TEST(EncodeVint, SecondCallLeavesNothingOfTheFirst) {
  VintBuffer out;
  ASSERT_TRUE(EncodeVint(uint64_t{1} << 49, 8, out));
  ASSERT_TRUE(EncodeVint(1, 1, out));
  EXPECT_EQ(out.length, 1);
  EXPECT_EQ(std::vector<uint8_t>(out.bytes, out.bytes + 8),
            (std::vector<uint8_t>{0x81, 0, 0, 0, 0, 0, 0, 0}));
}

}  // namespace
}  // namespace tandrel
