#include "support/parameter_set_ids.h"

#include <gtest/gtest.h>

namespace tandrel::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(SpsIdTest, ReadsTheIdAfterProfileConstraintsAndLevel) {
  EXPECT_EQ(SpsId(Bytes{0x67, 0x64, 0x00, 0x1F, 0xAC}), 0U);
  EXPECT_EQ(SpsId(Bytes{0x6F, 0x80, 0x00, 0x28, 0x40}), 1U);
  // 00 00 03 hides an emulation-prevention byte before level_idc; the id is 3.
  EXPECT_EQ(SpsId(Bytes{0x67, 0x00, 0x00, 0x03, 0x00, 0x20}), 3U);
}

TEST(SpsIdTest, RefusesOtherUnitsAndCutOffIds) {
  EXPECT_EQ(SpsId(Bytes{0x68, 0xCE, 0x3C, 0x80, 0x80}), std::nullopt);
  EXPECT_EQ(SpsId(Bytes{0x67, 0x64, 0x00, 0x1F}), std::nullopt);
  EXPECT_EQ(SpsId(Bytes{0x67, 0x64, 0x00, 0x1F, 0x00}), std::nullopt);
}

TEST(PpsReferencedSpsIdTest, ReadsTheIdAfterThePpsId) {
  EXPECT_EQ(PpsReferencedSpsId(Bytes{0x68, 0xCE, 0x3C, 0x80}), 0U);
  EXPECT_EQ(PpsReferencedSpsId(Bytes{0x68, 0x48}), 1U);
  EXPECT_EQ(PpsReferencedSpsId(Bytes{0x67, 0x48}), std::nullopt);
  EXPECT_EQ(PpsReferencedSpsId(Bytes{0x68, 0x40}), std::nullopt);
}

}  // namespace
}  // namespace tandrel::test
