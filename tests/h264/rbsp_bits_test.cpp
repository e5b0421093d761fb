#include "h264/rbsp_bits.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "bit_writer.h"

namespace tandrel {
namespace {

using test::BitWriter;

// Reads `expected.size()` bytes and checks that exactly the RBSP was there.
void ExpectRbspBytes(const std::vector<uint8_t>& unit, const std::vector<uint8_t>& expected) {
  RbspBits bits = ExpandRbsp(unit);
  EXPECT_EQ(bits.bit_length, 8 * expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(ReadBits(bits, 8), expected[i]) << "byte " << i;
  }
  EXPECT_FALSE(Overrun(bits));
  EXPECT_EQ(BitPosition(bits), 8 * expected.size());
  EXPECT_EQ(ReadBits(bits, 1), 0u);
  EXPECT_TRUE(Overrun(bits));
}

struct ExpansionCase {
  std::string name;
  std::vector<uint8_t> unit;
  std::vector<uint8_t> rbsp;
};

TEST(RbspBitsTest, DropsEmulationPreventionBytes) {
  const ExpansionCase cases[] = {
      {"one 03 after two zeros",
       {0x06, 0x00, 0x00, 0x03, 0x01, 0x80},
       {0x06, 0x00, 0x00, 0x01, 0x80}},
      {"raw bytes decide: both 03 dropped",
       {0x06, 0x00, 0x00, 0x03, 0x00, 0x00, 0x03, 0x01},
       {0x06, 0x00, 0x00, 0x00, 0x00, 0x01}},
      {"03 after a dropped 03 is kept",
       {0x06, 0x00, 0x00, 0x03, 0x03, 0x80},
       {0x06, 0x00, 0x00, 0x03, 0x80}},
      {"one zero is not enough", {0x06, 0x00, 0x03, 0x80}, {0x06, 0x00, 0x03, 0x80}},
      {"03 at index 2", {0x00, 0x00, 0x03, 0x01}, {0x00, 0x00, 0x01}},
      {"03 as the last byte", {0x06, 0x00, 0x00, 0x03}, {0x06, 0x00, 0x00}},
      {"no header byte", {}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ExpectRbspBytes(c.unit, c.rbsp);
  }
}

// Reference: bit k of plain bytes, most significant bit of byte 0 first.
uint32_t BitAt(const std::vector<uint8_t>& bytes, size_t k) {
  return static_cast<uint32_t>((bytes[k / 8] >> (7 - k % 8)) & 1);
}

TEST(RbspBitsTest, ReadsWholeLongUnitAtEveryWidth) {
  // 4 KiB of RBSP full of 00 00 0x sequences, so that many emulation-prevention
  // bytes fall at every bit offset of the reads.
  BitWriter writer;
  for (uint32_t i = 0; i < 1024; ++i) writer.U(0, 16).U(i % 4, 8).U((i * 37) & 0xFF, 8);
  const std::vector<uint8_t> rbsp = writer.Rbsp();
  const std::vector<uint8_t> unit = writer.Unit();
  ASSERT_GT(unit.size(), rbsp.size() + 500);

  RbspBits bits = ExpandRbsp(unit);
  ASSERT_EQ(bits.bit_length, 8 * rbsp.size());
  uint64_t k = 0;
  for (int width = 1; k + static_cast<uint64_t>(width) <= bits.bit_length; width = width % 32 + 1) {
    uint32_t expected = 0;
    for (int i = 0; i < width; ++i) expected = (expected << 1) | BitAt(rbsp, k++);
    ASSERT_EQ(ReadBits(bits, width), expected) << "at bit " << k - static_cast<uint64_t>(width);
  }
  while (k < bits.bit_length) ASSERT_EQ(ReadBits(bits, 1), BitAt(rbsp, k++));
  EXPECT_FALSE(Overrun(bits));
  EXPECT_EQ(BitPosition(bits), bits.bit_length);
}

TEST(RbspBitsTest, ReadBitsFixedWidths) {
  const std::vector<uint8_t> unit = {0x64, 0xFF, 0xFF, 0xFF, 0xFF, 0x80};
  RbspBits bits = ExpandRbsp(unit);
  EXPECT_EQ(ReadBits(bits, 0), 0u);
  EXPECT_EQ(BitPosition(bits), 0u);
  EXPECT_EQ(ReadBits(bits, 8), 100u);
  EXPECT_EQ(ReadBits(bits, 32), 4294967295u);
  EXPECT_EQ(ReadBits(bits, 1), 1u);
  EXPECT_EQ(BitPosition(bits), 41u);
  EXPECT_FALSE(Overrun(bits));
}

struct ExpGolombCase {
  std::string name;
  BitWriter code;
  uint32_t value;
  uint64_t length;
};

TEST(RbspBitsTest, ExpGolombCodes) {
  const ExpGolombCase cases[] = {
      {"1", BitWriter().U(0b1, 1), 0, 1},
      {"010", BitWriter().U(0b010, 3), 1, 3},
      {"011", BitWriter().U(0b011, 3), 2, 3},
      {"00111", BitWriter().U(0b00111, 5), 6, 5},
      {"0001000", BitWriter().U(0b0001000, 7), 7, 7},
      {"0001010", BitWriter().U(0b0001010, 7), 9, 7},
      {"31 zeros, 1, 31 ones", BitWriter().Zeros(31).U(1, 1).U(0x7FFFFFFF, 31), 4294967294u, 63},
      {"32 zeros, 1, 32 zeros", BitWriter().Zeros(32).U(1, 1).Zeros(32), 4294967295u, 65},
      {"32 zeros, 1, 32 ones", BitWriter().Zeros(32).U(1, 1).U(0xFFFFFFFF, 32), 4294967295u, 65},
      {"40 zeros, 1, 40 ones", BitWriter().Zeros(40).U(1, 1).U(0xFFFFFFFFFF, 40), 4294967295u, 81},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    // A marker after the code shows that reading stopped exactly at its end.
    BitWriter writer = c.code;
    writer.U(0xA5, 8);
    const std::vector<uint8_t> unit = writer.Unit();

    RbspBits read = ExpandRbsp(unit);
    EXPECT_EQ(ReadUe(read), c.value);
    EXPECT_EQ(BitPosition(read), c.length);
    EXPECT_EQ(ReadBits(read, 8), 0xA5u);
    EXPECT_FALSE(Overrun(read));

    RbspBits skip = ExpandRbsp(unit);
    SkipExpGolomb(skip);
    EXPECT_EQ(BitPosition(skip), c.length);
    EXPECT_EQ(ReadBits(skip, 8), 0xA5u);
  }
}

TEST(RbspBitsTest, ReadsAtTheEndYieldZeroAndMarkOverrun) {
  const std::vector<uint8_t> unit = {0xFF, 0xFF};

  RbspBits exact = ExpandRbsp(unit);
  EXPECT_EQ(ReadBits(exact, 16), 0xFFFFu);
  EXPECT_FALSE(Overrun(exact));
  EXPECT_EQ(ReadBits(exact, 0), 0u);
  EXPECT_FALSE(Overrun(exact));

  RbspBits straddle = ExpandRbsp(unit);
  SkipBits(straddle, 12);
  EXPECT_EQ(ReadBits(straddle, 8), 0xF0u);  // four real bits, four past the end
  EXPECT_EQ(BitPosition(straddle), 20u);
  EXPECT_TRUE(Overrun(straddle));
  EXPECT_EQ(ReadUe(straddle), 0u);
  EXPECT_TRUE(Overrun(straddle));  // sticky

  RbspBits skip_to_end = ExpandRbsp(unit);
  SkipBits(skip_to_end, 16);
  EXPECT_FALSE(Overrun(skip_to_end));
  SkipBits(skip_to_end, 1);
  EXPECT_TRUE(Overrun(skip_to_end));

  RbspBits far = ExpandRbsp(unit);
  SkipBits(far, 4294967295u);
  SkipBits(far, 4294967295u);
  EXPECT_EQ(BitPosition(far), 2 * 4294967295ull);
  EXPECT_EQ(ReadBits(far, 32), 0u);
  EXPECT_TRUE(Overrun(far));
}

TEST(RbspBitsTest, ZeroCountStopsAtEndOfData) {
  // 16 zeros: the code is taken as ending at the data's end, its 1 and its
  // 16 information bits past it.
  const std::vector<uint8_t> two_zero_bytes = {0x00, 0x00};
  RbspBits short_run = ExpandRbsp(two_zero_bytes);
  EXPECT_EQ(ReadUe(short_run), 65535u);
  EXPECT_EQ(BitPosition(short_run), 33u);
  EXPECT_TRUE(Overrun(short_run));

  const std::vector<uint8_t> long_zero_run(4096, 0x00);
  RbspBits long_run = ExpandRbsp(long_zero_run);
  EXPECT_EQ(ReadUe(long_run), 4294967295u);
  EXPECT_TRUE(Overrun(long_run));

  RbspBits skipped = ExpandRbsp(long_zero_run);
  SkipExpGolomb(skipped);
  EXPECT_EQ(BitPosition(skipped), 2 * 8 * 4096 + 1u);
  EXPECT_TRUE(Overrun(skipped));

  RbspBits empty = ExpandRbsp({});
  EXPECT_EQ(ReadUe(empty), 0u);
  EXPECT_TRUE(Overrun(empty));
}

}  // namespace
}  // namespace tandrel
