#include "app/pairing_loop.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/run_in_process.h"
#include "support/annex_b_oracle.h"
#include "support/file_bytes.h"
#include "support/mkv_reader.h"
#include "support/scratch_directory.h"

namespace tandrel {
namespace {

using Bytes = std::vector<uint8_t>;

// An Annex B stream of `units`, each behind a four-byte start code.
Bytes Stream(const std::vector<Bytes>& units) {
  Bytes stream;
  for (const Bytes& unit : units) {
    stream.insert(stream.end(), {0, 0, 0, 1});
    stream.insert(stream.end(), unit.begin(), unit.end());
  }
  return stream;
}

const Bytes kAudI = {0x09, 0x10}, kAudP = {0x09, 0x30}, kAudB = {0x09, 0x50};
const Bytes kDepAud = {0x18, 0x10};
const Bytes kIdr = {0x65, 0x88, 0x84}, kP = {0x41, 0x9A, 0x02}, kB = {0x01, 0x9E, 0x04};
const Bytes kExt = {0x14, 0x80, 0x11}, kExtRef = {0x74, 0x80, 0x12};

Bytes Base(int access_units) {
  std::vector<Bytes> units;
  for (int i = 0; i < access_units; ++i) {
    const bool intra = i % 3 == 0;
    units.push_back(intra ? kAudI : (i % 3 == 1 ? kAudP : kAudB));
    units.push_back(intra ? kIdr : (i % 3 == 1 ? kP : kB));
  }
  return Stream(units);
}

Bytes Dependent(int access_units) {
  std::vector<Bytes> units;
  for (int i = 0; i < access_units; ++i) {
    units.push_back(kDepAud);
    units.push_back(i % 2 == 0 ? kExtRef : kExt);
  }
  return Stream(units);
}

class PairingTest : public testing::Test {
 protected:
  test::RunResult Mux(const Bytes& base, const Bytes& dependent) {
    Write(base_, base);
    Write(dependent_, dependent);
    return test::RunInProcess({base_, dependent_, output_, "-y"});
  }
  // The block payloads of the output, after checking that it is a whole file.
  std::vector<Bytes> Blocks(size_t* clusters = nullptr) {
    const auto file = test::ReadMatroska(test::ReadFileBytes(output_));
    std::vector<Bytes> blocks;
    for (const auto& cluster : file.clusters) {
      for (const auto& block : cluster.blocks) blocks.push_back(block.payload);
    }
    if (clusters != nullptr) *clusters = file.clusters.size();
    return blocks;
  }
  std::vector<Bytes> Expected(const Bytes& base, const Bytes& dependent) {
    std::vector<Bytes> blocks;
    for (const auto& block : test::ExpectStereoBlocks(base, dependent))
      blocks.push_back(block.payload);
    return blocks;
  }
  static void Write(const std::string& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
  }
  std::string Path(const char* name) const { return (scratch_.path() / name).string(); }

  test::ScratchDirectory scratch_;
  const std::string base_ = Path("in.264");
  const std::string dependent_ = Path("in.mvc");
  const std::string output_ = Path("out.mkv");
};

TEST_F(PairingTest, OneBlockPerStereoAccessUnit) {
  struct CountCase {
    int base;
    int dependent;
  };
  // Equal counts, and a dependent view that ends early: the remaining
  // frames hold base-view units only.
  for (const CountCase& c : {CountCase{7, 7}, CountCase{7, 2}, CountCase{1, 0}}) {
    const Bytes base = Base(c.base), dependent = Dependent(c.dependent);
    const auto run = Mux(base, dependent);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    size_t clusters = 0;
    EXPECT_EQ(Blocks(&clusters), Expected(base, dependent)) << c.base << "/" << c.dependent;
    EXPECT_EQ(clusters, static_cast<size_t>((c.base + 2) / 3));
  }
}

TEST_F(PairingTest, BothInputsEmptyGiveOneEmptyBlock) {
  const auto run = Mux({}, {});
  ASSERT_EQ(run.status, 0);
  EXPECT_EQ(Blocks(), std::vector<Bytes>{Bytes{}});
}

TEST_F(PairingTest, SurplusDependentAccessUnitsAreDroppedWithAWarning) {
  for (int base_units : {0, 3}) {
    const Bytes base = Base(base_units), dependent = Dependent(5);
    const auto run = Mux(base, dependent);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err,
              "warning: mvc-file has more access units than h264-file; the rest is dropped\n");
    EXPECT_EQ(Blocks(), Expected(base, dependent)) << base_units;
  }
}

TEST_F(PairingTest, UnitsOfTheOtherViewAreDroppedSilently) {
  const Bytes sei_nesting = {0x06, 0x25, 0x01, 0x80};
  const Bytes subset_sps = {0x6F, 0x80, 0x00};
  const Bytes end_of_sequence = {0x0A};
  const Bytes filler = {0x0C, 0xFF, 0xFF};
  const Bytes base =
      Stream({kAudI, kIdr, kExt, sei_nesting, subset_sps, filler, end_of_sequence, kAudB, kB});
  const Bytes dependent =
      Stream({kDepAud, kIdr, {0x67, 0x42}, kExt, {0x06, 0x01, 0x02}, kDepAud, kExtRef, filler});
  const auto run = Mux(base, dependent);
  ASSERT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  const std::vector<Bytes> blocks = Blocks();
  EXPECT_EQ(blocks, Expected(base, dependent));
  ASSERT_EQ(blocks.size(), 2u);
  EXPECT_EQ(blocks[0], (Bytes{0, 0, 0, 3, 0x65, 0x88, 0x84, 0, 0, 0, 3, 0x14, 0x80, 0x11}));
}

TEST_F(PairingTest, UnitsBeforeTheFirstDelimiterOpenTheFirstBlock) {
  const Bytes base = Stream({{0x06, 0x00, 0x01, 0x80}, kAudP, kP, kAudI, kIdr});
  const Bytes dependent = Dependent(2);
  const auto run = Mux(base, dependent);
  ASSERT_EQ(run.status, 0);
  const auto file = test::ReadMatroska(test::ReadFileBytes(output_));
  ASSERT_EQ(file.clusters.size(), 2u);
  EXPECT_EQ(file.clusters[0].blocks[0].flags, 0x00);
  EXPECT_EQ(Blocks(), Expected(base, dependent));
}

// Delimiters other than I and I/P mark a block discardable, unless a slice
// of either view is a reference picture.
TEST_F(PairingTest, OnlyBlocksWithoutReferencePicturesAreDiscardable) {
  struct FlagsCase {
    Bytes base_slice;
    Bytes dependent_slice;
    uint8_t flags;
  };
  for (const FlagsCase& c : {FlagsCase{kB, kExt, 0x01}, FlagsCase{kP, kExt, 0x00},
                             FlagsCase{kB, {0x34, 0x80}, 0x00}, FlagsCase{kB, kExtRef, 0x00}}) {
    const Bytes base = Stream({kAudI, kIdr, kAudB, c.base_slice});
    const Bytes dependent = Stream({kDepAud, kExt, kDepAud, c.dependent_slice});
    ASSERT_EQ(Mux(base, dependent).status, 0);
    const auto file = test::ReadMatroska(test::ReadFileBytes(output_));
    ASSERT_EQ(file.clusters.size(), 1u);
    ASSERT_EQ(file.clusters[0].blocks.size(), 2u);
    EXPECT_EQ(file.clusters[0].blocks[1].flags, c.flags)
        << int{c.base_slice[0]} << "/" << int{c.dependent_slice[0]};
    EXPECT_EQ(test::ExpectStereoBlocks(base, dependent)[1].flags, c.flags);
  }
}

// The four parameter sets are complete only in the third frame, when the
// first cluster is already on file: the Tracks element must not land inside
// it, but follow it.
TEST_F(PairingTest, LateParameterSetPutsTheTrackHeaderAfterTheOpenCluster) {
  const Bytes sps = {0x67, 0x42, 0x00, 0x1E, 0xF4}, pps = {0x68, 0xCE, 0x38, 0x80};
  const Bytes subset_sps = {0x6F, 0x80, 0x00, 0x1E, 0xF4}, dependent_pps = {0x68, 0xCE, 0x3C, 0x80};
  const Bytes base = Stream({kAudI, sps, pps, kIdr, kAudB, kB, kAudB, kB, kAudI, kIdr, kAudB, kB});
  const Bytes dependent = Stream({kDepAud, subset_sps, kExtRef, kDepAud, kExt, kDepAud,
                                  dependent_pps, kExt, kDepAud, kExtRef, kDepAud, kExt});
  const auto run = Mux(base, dependent);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(Blocks(), Expected(base, dependent));
  const auto file = test::ReadMatroska(test::ReadFileBytes(output_));
  ASSERT_EQ(file.clusters.size(), 2u);
  ASSERT_EQ(file.tracks.size(), 1u);
  EXPECT_GT(file.tracks_offset, file.clusters[0].offset);
  EXPECT_LT(file.tracks_offset, file.clusters[1].offset);
}

struct StreamErrorCase {
  const char* name;
  Bytes base;
  Bytes dependent;
  std::string out_ends_with;
  std::string err;
};

TEST_F(PairingTest, StreamErrorsStopTheRun) {
  const std::vector<StreamErrorCase> cases = {
      {"views_swapped", Dependent(2), Base(2), "\rfirst file is not a h264\n", ""},
      {"delimiter_in_dependent_view", Base(2), Stream({kDepAud, kExt, kAudP}),
       "\rsecond file is not a mvc\n", ""},
      {"unknown_base_unit", Stream({kAudI, kIdr, {0x61, 0x00}}), Dependent(1), "",
       "...unknown-NAL in h264-file: 97\n"},
      {"unknown_dependent_unit", Base(1), Stream({kDepAud, {0x05, 0x01}}), "",
       "...unknown-NAL in mvc-file : 5\n"},
  };
  for (const StreamErrorCase& c : cases) {
    const auto run = Mux(c.base, c.dependent);
    EXPECT_EQ(run.status, 1) << c.name;
    EXPECT_EQ(run.err, c.err) << c.name;
    EXPECT_TRUE(run.out.ends_with(c.out_ends_with)) << c.name << ": " << run.out;
    EXPECT_FALSE(run.out.ends_with("%\n")) << c.name;  // the run was not finished
  }
}

}  // namespace
}  // namespace tandrel
