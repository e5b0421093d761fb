#include "support/annex_b_oracle.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace tandrel::test {
namespace {

struct SplitCase {
  std::string name;
  Bytes stream;
  std::vector<Bytes> units;
  friend void PrintTo(const SplitCase& c, std::ostream* os) { *os << c.name; }
};

class SplitNalUnitsTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitNalUnitsTest, DelimitsUnitsAtStartCodes) {
  EXPECT_EQ(SplitNalUnits(GetParam().stream), GetParam().units);
}

INSTANTIATE_TEST_SUITE_P(
    StartCodesAndZeros, SplitNalUnitsTest,
    ::testing::Values(
        SplitCase{"FourAndThreeByteStartCodes",
                  {0, 0, 0, 1, 0x25, 0xB8, 0, 0, 0, 1, 0x21, 0x9A, 0, 0, 1, 0x09, 0xF0},
                  {{0x25, 0xB8}, {0x21, 0x9A}, {0x09, 0xF0}}},
        SplitCase{"OnlyOneZeroBeforeAStartCodeIsTrimmed",
                  {0, 0, 1, 0x65, 0xAA, 0, 0, 0, 0, 0, 1, 0x09, 0x10},
                  {{0x65, 0xAA, 0, 0}, {0x09, 0x10}}},
        SplitCase{"OnlyTheLastZeroOfTheStreamIsTrimmed",
                  {0, 0, 1, 0x67, 0x42, 0, 0, 0},
                  {{0x67, 0x42, 0, 0}}},
        SplitCase{"BytesBeforeTheFirstStartCodeFormAUnit",
                  {0xAB, 0xCD, 0, 0, 1, 0x09, 0x10},
                  {{0xAB, 0xCD}, {0x09, 0x10}}},
        SplitCase{
            "FiveByteStartCodeLeavesASingleZeroUnit", {0, 0, 0, 0, 1, 0x65}, {{0x00}, {0x65}}},
        SplitCase{"StreamEndingInAStartCode", {0, 0, 1, 0x68, 0xCE, 0, 0, 1}, {{0x68, 0xCE}}},
        SplitCase{"OneByteUnitAndEmptyUnitBetweenStartCodes",
                  {0, 0, 1, 0x09, 0, 0, 1, 0, 0, 1, 0x65, 0x88},
                  {{0x09}, {0x65, 0x88}}},
        SplitCase{"EmptyStream", {}, {}}),
    [](const auto& case_info) { return case_info.param.name; });

struct KeepCase {
  std::string name;
  Bytes unit;
  bool kept_in_base;
  bool kept_in_dependent;
  friend void PrintTo(const KeepCase& c, std::ostream* os) { *os << c.name; }
};

class KeptUnitsTest : public ::testing::TestWithParam<KeepCase> {};

TEST_P(KeptUnitsTest, KeepsTheKindsEachViewCarries) {
  EXPECT_EQ(IsKeptInBaseView(GetParam().unit), GetParam().kept_in_base);
  EXPECT_EQ(IsKeptInDependentView(GetParam().unit), GetParam().kept_in_dependent);
}

INSTANTIATE_TEST_SUITE_P(
    NalKinds, KeptUnitsTest,
    ::testing::Values(KeepCase{"NonIdrSlice", {0x41, 0x9A}, true, false},
                      KeepCase{"IdrSlice", {0x65, 0x88}, true, false},
                      KeepCase{"Sps", {0x67, 0x64}, true, false},
                      KeepCase{"Pps", {0x68, 0xEE}, true, true},
                      KeepCase{"SubsetSps", {0x6F, 0x76}, false, true},
                      KeepCase{"SliceExtension", {0x74, 0x80}, false, true},
                      KeepCase{"AccessUnitDelimiter", {0x09, 0x10}, false, false},
                      KeepCase{"DependentDelimiter", {0x18, 0x10}, false, false},
                      KeepCase{"Filler", {0x0C, 0xFF}, false, false},
                      KeepCase{"SeiBufferingPeriod", {0x06, 0x00, 0x01}, true, false},
                      KeepCase{"SeiPicTiming", {0x06, 0x01, 0x01}, true, false},
                      KeepCase{"SeiRecoveryPoint", {0x06, 0x06, 0x01}, true, false},
                      KeepCase{"SeiUserData", {0x06, 0x05, 0x01}, false, false},
                      KeepCase{"SeiMvcNesting", {0x06, 0x25, 0x01}, false, true},
                      KeepCase{"SeiWithoutPayloadType", {0x06}, false, false}),
    [](const auto& case_info) { return case_info.param.name; });

TEST(GroupAccessUnitsTest, OpensAnAccessUnitAtEachDelimiterAndKeepsLeadingUnitsInTheFirst) {
  const std::vector<Bytes> units = {{0x67, 0x01}, {0x09, 0x10}, {0x65, 0x02},
                                    {0x09, 0x30}, {0x41, 0x03}, {0x09}};
  const std::vector<AccessUnit> access_units = GroupAccessUnits(units, kNalAccessUnitDelimiter);
  ASSERT_EQ(access_units.size(), 3U);
  EXPECT_EQ(access_units[0].delimiter_payload, std::optional<std::uint8_t>{0x10});
  EXPECT_EQ(access_units[0].units, (std::vector<Bytes>{{0x67, 0x01}, {0x65, 0x02}}));
  EXPECT_EQ(access_units[1].delimiter_payload, std::optional<std::uint8_t>{0x30});
  EXPECT_EQ(access_units[1].units, (std::vector<Bytes>{{0x41, 0x03}}));
  EXPECT_EQ(access_units[2].delimiter_payload, std::nullopt);
  EXPECT_TRUE(access_units[2].units.empty());
}

// Three base access units (I, I/P, I/P/B) and two dependent ones, with units of the
// wrong view and of kinds no block carries mixed in.
TEST(ExpectStereoBlocksTest, JoinsKeptUnitsOfBothViewsWithLengthPrefixes) {
  // clang-format off
    const Bytes base = {
        0, 0, 0, 1, 0x09, 0x10,               // delimiter, I
        0, 0, 0, 1, 0x67, 0x64, 0x00,         // SPS ending in a zero that stays
        0, 0, 0, 1, 0x06, 0x05, 0x11,         // user data SEI: dropped
        0, 0, 1, 0x06, 0x01, 0x22,            // picture timing SEI
        0, 0, 1, 0x65, 0x88,                  // IDR slice
        0, 0, 1, 0x14, 0x99,                  // slice extension: dropped
        0, 0, 1, 0x09, 0x30,                  // delimiter, I/P
        0, 0, 1, 0x41, 0x9A, 0x0C,            // slice
        0, 0, 1, 0x0C, 0xFF,                  // filler: dropped
        0, 0, 1, 0x09, 0x50,                  // delimiter, I/P/B
        0, 0, 1, 0x01, 0x9E};
    const Bytes dependent = {
        0, 0, 0, 1, 0x18, 0x10,               // dependent delimiter
        0, 0, 1, 0x6F, 0x76,                  // subset SPS
        0, 0, 1, 0x06, 0x25, 0x33,            // MVC nesting SEI
        0, 0, 1, 0x65, 0x44,                  // base-view slice: dropped
        0, 0, 1, 0x74, 0x80,                  // slice extension
        0, 0, 1, 0x18, 0x30,
        0, 0, 1, 0x54, 0x81, 0x00, 0x00};     // the last zero of the stream goes
  // clang-format on

  const std::vector<ExpectedBlock> blocks = ExpectStereoBlocks(base, dependent);

  ASSERT_EQ(blocks.size(), 3U);
  // clang-format off
    EXPECT_EQ(blocks[0].payload, (Bytes{0, 0, 0, 3, 0x67, 0x64, 0x00,
                                        0, 0, 0, 3, 0x06, 0x01, 0x22,
                                        0, 0, 0, 2, 0x65, 0x88,
                                        0, 0, 0, 2, 0x6F, 0x76,
                                        0, 0, 0, 3, 0x06, 0x25, 0x33,
                                        0, 0, 0, 2, 0x74, 0x80}));
    EXPECT_EQ(blocks[1].payload, (Bytes{0, 0, 0, 3, 0x41, 0x9A, 0x0C,
                                        0, 0, 0, 3, 0x54, 0x81, 0x00}));
  // clang-format on
  EXPECT_EQ(blocks[2].payload, (Bytes{0, 0, 0, 2, 0x01, 0x9E}));

  EXPECT_TRUE(blocks[0].opens_cluster);
  EXPECT_FALSE(blocks[1].opens_cluster);
  EXPECT_FALSE(blocks[2].opens_cluster);
  EXPECT_EQ(blocks[0].flags, 0x80);
  EXPECT_EQ(blocks[1].flags, 0x00);
  EXPECT_EQ(blocks[2].flags, 0x01);
  EXPECT_EQ(blocks[2].base_delimiter_payload, std::optional<std::uint8_t>{0x50});
}

TEST(ExpectStereoBlocksTest, OpensClustersAtIntraAccessUnitsAndDropsSurplusDependentOnes) {
  // clang-format off
    const Bytes base = {0, 0, 1, 0x09, 0x30, 0, 0, 1, 0x41, 0x01,
                        0, 0, 1, 0x09, 0x10, 0, 0, 1, 0x65, 0x02};
    const Bytes dependent = {0, 0, 1, 0x18, 0x30, 0, 0, 1, 0x54, 0x03,
                             0, 0, 1, 0x18, 0x10, 0, 0, 1, 0x74, 0x04,
                             0, 0, 1, 0x18, 0x30, 0, 0, 1, 0x54, 0x05};
  // clang-format on

  const std::vector<ExpectedBlock> blocks = ExpectStereoBlocks(base, dependent);

  ASSERT_EQ(blocks.size(), 2U);
  EXPECT_TRUE(blocks[0].opens_cluster);  // the run's first block, although not I
  EXPECT_EQ(blocks[0].flags, 0x00);
  EXPECT_TRUE(blocks[1].opens_cluster);
  EXPECT_EQ(blocks[1].flags, 0x80);
  EXPECT_EQ(blocks[1].payload, (Bytes{0, 0, 0, 2, 0x65, 0x02, 0, 0, 0, 2, 0x74, 0x04}));
}

TEST(FirstUnitOfTypeTest, FindsTheFirstOfRepeatedParameterSets) {
  const std::vector<Bytes> units = {{0x09, 0x10}, {0x68, 0x01}, {0x68, 0x02}};
  EXPECT_EQ(FirstUnitOfType(units, kNalPps), (Bytes{0x68, 0x01}));
  EXPECT_EQ(FirstUnitOfType(units, kNalSps), std::nullopt);
}

}  // namespace
}  // namespace tandrel::test
