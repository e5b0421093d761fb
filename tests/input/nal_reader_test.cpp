#include "input/nal_reader.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "input/start_code.h"
#include "input/test_input.h"

namespace tandrel {
namespace {

using Bytes = std::vector<uint8_t>;

struct Delivered {
  NalKind kind;
  Bytes unit;
  bool operator==(const Delivered&) const = default;
  friend void PrintTo(const Delivered& d, std::ostream* os) {
    *os << "kind " << static_cast<int>(d.kind) << " {";
    for (uint8_t b : d.unit) *os << ' ' << std::hex << int{b} << std::dec;
    *os << " }";
  }
};

// Reads the whole file with SkipNal after every unit, up to the End that
// leaves the reader exhausted.
std::vector<Delivered> ReadAll(const Bytes& file_bytes, size_t read_size = kReadSize) {
  std::FILE* file = test::FileWith(file_bytes);
  NalReader reader;
  InitNalReader(reader, read_size);
  std::vector<Delivered> units;
  for (int guard = 0; guard < 100000; ++guard) {
    const NalKind kind = NextNal(reader, file);
    if (kind == NalKind::End && IsExhausted(reader)) break;
    const auto unit = CurrentNal(reader);
    units.push_back({kind, Bytes(unit.begin(), unit.end())});
    SkipNal(reader);
  }
  EXPECT_EQ(reader.failure, ReadFailure::None);
  std::fclose(file);
  return units;
}

struct ReaderCase {
  const char* name;
  Bytes file;
  std::vector<Delivered> expected;
  friend void PrintTo(const ReaderCase& c, std::ostream* os) { *os << c.name; }
};

class ReaderCases : public testing::TestWithParam<ReaderCase> {};

TEST_P(ReaderCases, DeliversUnitsAsDelimited) {
  EXPECT_EQ(ReadAll(GetParam().file), GetParam().expected);
}

using K = NalKind;
INSTANTIATE_TEST_SUITE_P(
    Table, ReaderCases,
    testing::Values(
        ReaderCase{"empty_file", {}, {}},
        ReaderCase{"four_and_three_byte_start_codes",
                   {0, 0, 0, 1, 0x25, 0xB8, 0, 0, 0, 1, 0x21, 0x9A, 0, 0, 1, 0x09, 0xF0},
                   {{K::IdrSlice, {0x25, 0xB8}},
                    {K::RefSlice, {0x21, 0x9A}},
                    {K::AccessUnitDelimiter, {0x09, 0xF0}}}},
        ReaderCase{"five_byte_start_code_gives_a_zero_unit",
                   {0, 0, 0, 0, 1, 0x09, 0x10},
                   {{K::Unknown, {0x00}}, {K::AccessUnitDelimiter, {0x09, 0x10}}}},
        ReaderCase{"bytes_before_the_first_start_code",
                   {0xAA, 0xBB, 0, 0, 1, 0x09, 0x10},
                   {{K::Unknown, {0xAA, 0xBB}}, {K::AccessUnitDelimiter, {0x09, 0x10}}}},
        ReaderCase{"only_one_zero_trimmed_before_a_start_code",
                   {0, 0, 1, 0x65, 0x11, 0, 0, 0, 0, 0, 1, 0x09, 0x10},
                   {{K::IdrSlice, {0x65, 0x11, 0, 0}}, {K::AccessUnitDelimiter, {0x09, 0x10}}}},
        ReaderCase{"final_zero_of_the_file_trimmed",
                   {0, 0, 1, 0x65, 0x11, 0, 0},
                   {{K::IdrSlice, {0x65, 0x11, 0}}}},
        ReaderCase{"file_ending_in_a_start_code",
                   {0, 0, 1, 0x65, 0x11, 0, 0, 1},
                   {{K::IdrSlice, {0x65, 0x11}}}},
        ReaderCase{"end_of_sequence_inside_the_data",
                   {0, 0, 1, 0x0A, 0, 0, 1, 0x09, 0x10},
                   {{K::End, {0x0A}}, {K::AccessUnitDelimiter, {0x09, 0x10}}}},
        ReaderCase{"one_byte_unit",
                   {0, 0, 1, 0x09, 0, 0, 1, 0x21, 0xAA},
                   {{K::AccessUnitDelimiter, {0x09}}, {K::RefSlice, {0x21, 0xAA}}}},
        ReaderCase{"sei_kinds_by_first_payload_type",
                   {0,    0,    1,    6,    0x00, 0x80, 0,    0,    1,    6,    0x01, 0x80, 0, 0,
                    1,    6,    0x06, 0x80, 0,    0,    1,    6,    0x25, 0x80, 0,    0,    1, 6,
                    0x05, 0x80, 0,    0,    1,    6,    0xFF, 0x80, 0,    0,    1,    6},
                   {{K::SeiBufferingPeriod, {6, 0x00, 0x80}},
                    {K::SeiPicTiming, {6, 0x01, 0x80}},
                    {K::SeiRecoveryPoint, {6, 0x06, 0x80}},
                    {K::SeiMvcNesting, {6, 0x25, 0x80}},
                    {K::Unknown, {6, 0x05, 0x80}},
                    {K::Unknown, {6, 0xFF, 0x80}},
                    {K::Unknown, {6}}}}),
    [](const testing::TestParamInfo<ReaderCase>& param) { return std::string(param.param.name); });

TEST(ClassifyNal, AcceptsOnlyTheKnownHeaderBytes) {
  const std::vector<std::pair<uint8_t, NalKind>> table = {
      {0x0A, K::End},
      {0x0C, K::Filler},
      {0x09, K::AccessUnitDelimiter},
      {0x18, K::DependentDelimiter},
      {0x21, K::RefSlice},
      {0x41, K::RefSlice},
      {0x01, K::NonRefSlice},
      {0x25, K::IdrSlice},
      {0x65, K::IdrSlice},
      {0x14, K::SliceExtension},
      {0x34, K::SliceExtension},
      {0x54, K::SliceExtension},
      {0x74, K::SliceExtensionRef3},
      {0x27, K::Sps},
      {0x67, K::Sps},
      {0x2F, K::SubsetSps},
      {0x6F, K::SubsetSps},
      {0x28, K::Pps},
      {0x68, K::Pps},
      // Combinations of nal_ref_idc and type that are not accepted.
      {0x61, K::Unknown},
      {0x45, K::Unknown},
      {0x47, K::Unknown},
      {0x48, K::Unknown},
      {0x4F, K::Unknown},
      {0x05, K::Unknown},
      {0x07, K::Unknown},
      {0x08, K::Unknown},
      {0x0F, K::Unknown},
      {0x0B, K::Unknown},
      {0x0E, K::Unknown},
      {0xE7, K::Unknown},
      {0x89, K::Unknown},
  };
  for (const auto& [header, kind] : table) {
    const uint8_t unit[] = {header, 0x80};
    EXPECT_EQ(ClassifyNal(unit), kind) << "header byte " << int{header};
  }
}

TEST(NextNal, DeliversTheSameUnitAgainUntilSkipped) {
  std::FILE* file = test::FileWith({0, 0, 0, 1, 0x25, 0xB8, 0, 0, 0, 1, 0x21, 0x9A});
  NalReader reader;
  InitNalReader(reader);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(NextNal(reader, file), NalKind::IdrSlice);
    EXPECT_EQ(Bytes(CurrentNal(reader).begin(), CurrentNal(reader).end()), (Bytes{0x25, 0xB8}));
  }
  std::fclose(file);
}

TEST(NextNal, EmptyFileIsOneLoadThenExhausted) {
  std::FILE* file = test::FileWith({});
  NalReader reader;
  InitNalReader(reader);
  EXPECT_EQ(NextNal(reader, file), NalKind::End);
  EXPECT_TRUE(IsExhausted(reader));
  EXPECT_EQ(reader.refill_count, 1);
  EXPECT_EQ(NextNal(reader, file), NalKind::End);
  EXPECT_EQ(reader.refill_count, 1);
  std::fclose(file);
}

// A stream of units of many lengths, some longer than the small loads used
// below, with three- and four-byte start codes and trailing zeros.
Bytes MixedStream(std::vector<Bytes>& units) {
  Bytes stream;
  uint32_t seed = 12345;
  for (int i = 0; i < 60; ++i) {
    seed = seed * 1103515245u + 12345u;
    const size_t length = 1 + (seed >> 16) % (i % 7 == 0 ? 300 : 40);
    Bytes unit = {0x41};
    for (size_t k = 1; k < length; ++k) {
      seed = seed * 1103515245u + 12345u;
      // Zero-heavy payload without any 00 00 0x (x <= 3) sequence: escape as
      // an encoder would.
      uint8_t byte = static_cast<uint8_t>((seed >> 24) % 4 == 0 ? 0 : seed >> 16);
      if (byte <= 3 && unit.size() >= 2 && unit[unit.size() - 1] == 0 &&
          unit[unit.size() - 2] == 0) {
        unit.push_back(3);
      }
      unit.push_back(byte);
    }
    if (unit.back() == 0) unit.push_back(0x80);  // rbsp trailing bits end a unit
    if (i % 3 == 0) stream.push_back(0);
    stream.insert(stream.end(), {0, 0, 1});
    stream.insert(stream.end(), unit.begin(), unit.end());
    units.push_back(std::move(unit));
  }
  return stream;
}

TEST(NextNal, SmallLoadsDeliverEveryUnitWhole) {
  std::vector<Bytes> units;
  const Bytes stream = MixedStream(units);
  std::vector<Delivered> expected;
  for (const Bytes& unit : units) expected.push_back({NalKind::RefSlice, unit});
  // Load sizes around the refill margin, and ones that split start codes and
  // units of every length, including units longer than a load.
  for (size_t read_size : {17u, 18u, 19u, 20u, 23u, 31u, 64u, 100u, 257u, 4096u}) {
    EXPECT_EQ(ReadAll(stream, read_size), expected) << "read size " << read_size;
  }
}

// With full 4 MiB loads a start code beyond the refill mark makes the reader
// load more before it delivers the unit that ends there.
TEST(NextNal, StartCodeBeyondTheRefillMarkLoadsFirst) {
  for (const size_t offset : {size_t{4194288}, size_t{4194289}}) {
    Bytes stream(kReadSize + 1000, 0xFF);
    stream[0] = 0, stream[1] = 0, stream[2] = 1, stream[3] = 0x65;
    const Bytes delimiter = {0, 0, 1, 0x09, 0x10};
    std::copy(delimiter.begin(), delimiter.end(), stream.begin() + static_cast<long>(offset));
    std::FILE* file = test::FileWith(stream);
    NalReader reader;
    InitNalReader(reader);
    ASSERT_EQ(NextNal(reader, file), NalKind::IdrSlice);
    EXPECT_EQ(CurrentNal(reader).size(), offset - 3);
    EXPECT_EQ(reader.refill_count, offset > 4194288 ? 2 : 1) << "offset " << offset;
    SkipNal(reader);
    EXPECT_EQ(NextNal(reader, file), NalKind::AccessUnitDelimiter);
    std::fclose(file);
  }
}

TEST(NextNal, UnitLongerThanTheLimitFails) {
  Bytes stream = {0, 0, 1, 0x65};
  stream.resize(5000, 0xAB);
  std::FILE* file = test::FileWith(stream);
  NalReader reader;
  InitNalReader(reader, 64, 1000);
  EXPECT_EQ(NextNal(reader, file), NalKind::End);
  EXPECT_EQ(reader.failure, ReadFailure::UnitTooLarge);
  EXPECT_TRUE(IsExhausted(reader));
  EXPECT_LE(reader.capacity, 1000u + 64u);
  std::fclose(file);
}

struct LimitCase {
  const char* name;
  size_t unit_bytes;
  bool delivered;
  friend void PrintTo(const LimitCase& c, std::ostream* os) { *os << c.name; }
};

class UnitLimit : public testing::TestWithParam<LimitCase> {};

// The limit is exact wherever the unit falls against the loads: a unit of the
// limit's length is delivered, and one byte more ends the run before the unit
// is delivered. The unit follows a filler unit of 1 to 41 bytes, so that its
// end and its closing start code meet every position in a load, the refill
// margin included.
TEST_P(UnitLimit, RefusesOnlyUnitsLongerThanTheLimit) {
  constexpr size_t kLimit = 100;
  const Bytes slice = [] {
    Bytes unit(GetParam().unit_bytes, 0xAB);
    unit[0] = 0x41;
    return unit;
  }();
  for (size_t read_size : {16u, 17u, 24u, 64u, 100u, 116u, 117u, 4096u}) {
    for (size_t lead = 0; lead <= 40; ++lead) {
      Bytes filler(lead + 1, 0xFF);
      filler[0] = 0x0C;
      Bytes stream = {0, 0, 1};
      stream.insert(stream.end(), filler.begin(), filler.end());
      stream.insert(stream.end(), {0, 0, 0, 1});
      stream.insert(stream.end(), slice.begin(), slice.end());
      stream.insert(stream.end(), {0, 0, 0, 1, 0x09, 0x10});

      std::FILE* file = test::FileWith(stream);
      NalReader reader;
      InitNalReader(reader, read_size, kLimit);
      std::vector<Bytes> units;
      while (NextNal(reader, file) != NalKind::End || !IsExhausted(reader)) {
        units.emplace_back(CurrentNal(reader).begin(), CurrentNal(reader).end());
        SkipNal(reader);
      }
      std::fclose(file);

      const std::vector<Bytes> expected = GetParam().delivered
                                              ? std::vector<Bytes>{filler, slice, {0x09, 0x10}}
                                              : std::vector<Bytes>{filler};
      const ReadFailure failure =
          GetParam().delivered ? ReadFailure::None : ReadFailure::UnitTooLarge;
      EXPECT_EQ(units, expected) << "read size " << read_size << ", lead " << lead;
      EXPECT_EQ(reader.failure, failure) << "read size " << read_size << ", lead " << lead;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Table, UnitLimit,
                         testing::Values(LimitCase{"one_byte_below", 99, true},
                                         LimitCase{"at_the_limit", 100, true},
                                         LimitCase{"one_byte_above", 101, false},
                                         LimitCase{"a_refill_margin_above", 117, false},
                                         LimitCase{"a_load_above", 164, false}),
                         [](const testing::TestParamInfo<LimitCase>& param) {
                           return std::string(param.param.name);
                         });

TEST(NextNal, ReadErrorIsNotTheEndOfTheFile) {
  std::FILE* directory = std::fopen(".", "rb");
  ASSERT_NE(directory, nullptr);
  NalReader reader;
  InitNalReader(reader);
  EXPECT_EQ(NextNal(reader, directory), NalKind::End);
  EXPECT_EQ(reader.failure, ReadFailure::ReadError);
  std::fclose(directory);
}

TEST(FindStartCode, FindsTheFirstWholeStartCode) {
  const Bytes data = {1, 0, 1, 0, 0, 0, 1, 0, 0, 1};
  const uint8_t* begin = data.data();
  const uint8_t* end = begin + data.size();
  EXPECT_EQ(FindStartCode(begin, end) - begin, 4);
  EXPECT_EQ(FindStartCode(begin + 5, end) - begin, 7);
  EXPECT_EQ(FindStartCode(begin, begin + 6), begin + 6);  // 01 cut off
  EXPECT_EQ(FindStartCode(begin + 8, end), end);
  EXPECT_EQ(FindStartCode(end, end), end);
}

// The search works 32 positions at a time: every placement of a start code
// (and of the patterns that are almost one) around those steps and the end of
// the range must give what a byte-by-byte search gives.
TEST(FindStartCode, AgreesWithAPlainSearchAtEveryPlacement) {
  const auto plain = [](const uint8_t* p, const uint8_t* end) {
    for (; end - p >= 3; ++p) {
      if (p[0] == 0 && p[1] == 0 && p[2] == 1) return p;
    }
    return end;
  };
  const std::vector<Bytes> patterns = {{0, 0, 1}, {0, 0, 0, 1}, {0, 0, 2},
                                       {0, 0, 0}, {0, 1},       {0, 0, 3, 0, 0, 1}};
  for (const Bytes& pattern : patterns) {
    for (size_t length = 0; length <= 100; ++length) {
      for (size_t at = 0; at + pattern.size() <= length + 2; ++at) {
        Bytes data(length, 0x55);
        for (size_t i = 0; i < pattern.size() && at + i < length; ++i) data[at + i] = pattern[i];
        if (length > 40) data[length / 2] = 0x00;  // a lone zero on the way
        const uint8_t* begin = data.data();
        const uint8_t* end = begin + data.size();
        for (size_t from : {size_t{0}, size_t{1}, at}) {
          if (from > length) continue;
          ASSERT_EQ(FindStartCode(begin + from, end), plain(begin + from, end))
              << "pattern of " << pattern.size() << " at " << at << " in " << length << " from "
              << from;
        }
      }
    }
  }
}

}  // namespace
}  // namespace tandrel
