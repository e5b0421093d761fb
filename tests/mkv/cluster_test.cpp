#include "mkv/cluster.h"

#include <gtest/gtest.h>

#include <vector>

#include "mkv/ebml_vint.h"
#include "mkv/file_layout.h"
#include "mkv/mux_fixture.h"

namespace tandrel {
namespace {

using Bytes = std::vector<uint8_t>;
using test::Slice;

constexpr float kFactor1001Over48000 = static_cast<float>(1001.0 / 48000.0);

class ClusterTest : public testing::Test {
 protected:
  ClusterTest() { EXPECT_TRUE(WriteFileHeader(state())); }
  MuxState& state() { return fixture_.state(); }
  void Begin(uint8_t delimiter_byte) { ASSERT_TRUE(BeginFrame(state(), delimiter_byte)); }
  void Append(const Bytes& unit) { ASSERT_TRUE(AppendNal(state(), unit)); }
  void End() { ASSERT_TRUE(EndFrame(state())); }
  void Flush() { ASSERT_TRUE(FlushCluster(state())); }
  // One frame with a picture timing message carrying `dpb_output_delay`.
  void Frame(uint8_t delimiter_byte, uint32_t dpb_output_delay) {
    Begin(delimiter_byte);
    state().pic_timing.cpb_dpb_delays_present_flag = 1;
    state().pic_timing.dpb_output_delay = dpb_output_delay;
    StampFrame(state());
    Append({0x01, 0xAA});
    End();
  }
  // The clusters written so far, without the file header.
  Bytes Written() {
    const Bytes out = fixture_.Output();
    return Bytes(out.begin() + kHeaderBytes, out.end());
  }
  // Relative timecode of the written block whose header starts at `header`.
  int RelativeTimecode(size_t header) {
    const Bytes b = Written();
    return static_cast<int16_t>(b[header + 5] << 8 | b[header + 6]);
  }

  static constexpr long kHeaderBytes = 71;
  test::MuxFixture fixture_;
};

TEST_F(ClusterTest, TwoFramesMakeTheReferenceCluster) {
  state().frame_factor = kFactor1001Over48000;
  Begin(0x10);
  Append({0x06, 0x01});
  StampFrame(state());
  Append({0x65, 0xAA, 0xBB});
  End();
  Begin(0x30);
  Append({0x06});
  StampFrame(state());
  End();
  Flush();
  EXPECT_EQ(Written(),
            (Bytes{0x1F, 0x43, 0xB6, 0x75, 0x10, 0x00, 0x00, 0x27, 0xE7, 0x83, 0x00, 0x00,
                   0x00, 0xA3, 0x20, 0x00, 0x11, 0x81, 0x00, 0x00, 0x80, 0x00, 0x00, 0x00,
                   0x02, 0x06, 0x01, 0x00, 0x00, 0x00, 0x03, 0x65, 0xAA, 0xBB, 0xA3, 0x20,
                   0x00, 0x09, 0x81, 0x00, 0x2A, 0x00, 0x00, 0x00, 0x00, 0x01, 0x06}));
  EXPECT_EQ(state().segment_bytes, 19u + 47u);
  EXPECT_EQ(state().total_frames, 2u);
}

TEST_F(ClusterTest, SizesFillTheirPlaceholders) {
  Begin(0x10);
  Append(Bytes(5, 0x41));
  Append(Bytes(100, 0x41));
  Append(Bytes(183, 0x41));  // a block of 4 + 300 bytes, a cluster of 13 + 8 + 300
  End();
  EXPECT_EQ(Slice(Written(), 4, 4), (Bytes{0xFF, 0xFF, 0xFF, 0xFF}));  // until the flush
  EXPECT_EQ(Slice(Written(), 14, 3), (Bytes{0x20, 0x01, 0x30}));
  Flush();
  const Bytes written = Written();
  ASSERT_EQ(written.size(), 321u);
  EXPECT_EQ(Slice(written, 4, 4), (Bytes{0x10, 0x00, 0x01, 0x39}));
}

TEST_F(ClusterTest, DelimiterDecidesClusterAndFlags) {
  Begin(0x10);
  Append({0x65});
  End();
  Begin(0x30);  // I and P: a further block, not discardable
  End();
  Begin(0x50);  // B: discardable
  End();
  Bytes b = Written();
  ASSERT_EQ(b.size(), 21u + 5 + 8 + 8);
  EXPECT_EQ(b[20], 0x80);
  EXPECT_EQ(b[21 + 5 + 7], 0x00);
  EXPECT_EQ(b[21 + 5 + 8 + 7], 0x01);
  EXPECT_EQ(state().cluster.cluster_frames, 2);
  Begin(0x10);  // the next I picture completes the cluster
  b = Written();
  EXPECT_EQ(b.size(), 21u + 5 + 8 + 8);
  EXPECT_EQ(Slice(b, 4, 4), (Bytes{0x10, 0x00, 0x00, 0x22}));
}

// Blocks are timed by their index in the cluster, whether a picture timing
// message stamps them or, without one, EndFrame does.
TEST_F(ClusterTest, BlocksAreStampedByTheirIndexInTheCluster) {
  for (const bool timing_message : {true, false}) {
    test::MuxFixture fixture;
    MuxState& s = fixture.state();
    ASSERT_TRUE(WriteFileHeader(s));
    s.frame_factor = kFactor1001Over48000;
    for (int frame = 0; frame < 24; ++frame) {
      ASSERT_TRUE(BeginFrame(s, frame == 0 ? 0x10 : 0x50));
      if (timing_message) StampFrame(s);
      ASSERT_TRUE(EndFrame(s));
    }
    ASSERT_TRUE(BeginFrame(s, 0x10));
    if (timing_message) StampFrame(s);
    ASSERT_TRUE(EndFrame(s));
    const Bytes out = fixture.Output();
    std::vector<int> relative;
    for (size_t frame = 0; frame < 8; ++frame) {
      const size_t header = kHeaderBytes + 13 + 8 * frame;
      relative.push_back(static_cast<int16_t>(out[header + 5] << 8 | out[header + 6]));
    }
    EXPECT_EQ(relative, (std::vector<int>{0, 42, 83, 125, 167, 209, 250, 292}));
    const size_t second_cluster = kHeaderBytes + 13 + 8 * 24;
    EXPECT_EQ(Slice(out, second_cluster + 10, 3), (Bytes{0x00, 0x03, 0xE9}));  // 1001 ms
  }
}

// Display order I0 B1 B2 P3, decoded as I0 P3 B1 B2: a picture is shown
// dpb_output_delay ticks after it is decoded, two ticks per frame.
TEST_F(ClusterTest, TimestampsFollowPresentationOrder) {
  state().frame_factor = kFactor1001Over48000;
  Frame(0x10, 2);  // I0
  Frame(0x30, 6);  // P3
  Frame(0x50, 0);  // B1
  Frame(0x50, 0);  // B2
  EXPECT_EQ(Slice(Written(), 10, 3), (Bytes{0, 0, 0}));
  std::vector<int> relative;
  for (size_t header = 13, i = 0; i < 4; ++i) {
    relative.push_back(RelativeTimecode(header));
    header += 8 + 6;  // block header and one 2-byte unit with its length
  }
  EXPECT_EQ(relative, (std::vector<int>{0, 125, 42, 83}));

  // A new cluster at an I picture shown after the B picture decoded next:
  // the I picture is decoded at tick 8 and shown at 14, the B picture decoded
  // at 10 and shown at once, 4 ticks before its cluster's timecode.
  Frame(0x10, 6);
  Frame(0x50, 0);
  const size_t second_cluster = 13 + 4 * 14;
  EXPECT_EQ(Slice(Written(), second_cluster + 10, 3), (Bytes{0x00, 0x00, 0xFA}));  // 250 ms
  EXPECT_EQ(RelativeTimecode(second_cluster + 13 + 14), -83);
}

TEST_F(ClusterTest, RunStartingWithoutAnIPictureUsesThePresetBlock) {
  Append({0x06, 0x01});  // a unit before the first delimiter
  Begin(0x30);
  StampFrame(state());
  Append({0x41, 0x9A});
  End();
  Bytes b = Written();
  ASSERT_EQ(b.size(), 21u + 6 + 6);
  EXPECT_EQ(b[20], 0x00);
  EXPECT_EQ(Slice(b, 10, 3), (Bytes{0, 0, 0}));  // cluster timecode stamped
  EXPECT_EQ(Slice(b, 14, 3), (Bytes{0x20, 0x00, 0x10}));
  Begin(0x50);
  End();
  Begin(0x10);  // an I picture: the next cluster's first block is a keyframe again
  Append({0x65});
  End();
  b = Written();
  const size_t second_cluster = 21 + 12 + 8;
  ASSERT_EQ(b.size(), second_cluster + 21 + 5);
  EXPECT_EQ(b[second_cluster + 20], 0x80);
}

// A malformed stream may bring units after a frame has ended and before the
// next delimiter: they form a block of their own, and nothing is lost.
TEST_F(ClusterTest, UnitsOutsideAFrameFormABlockOfTheirOwn) {
  Begin(0x10);
  Append({0x65});
  End();
  MarkReferencePicture(state());
  Append({0x41, 0x9A});
  End();
  const Bytes b = Written();
  ASSERT_EQ(b.size(), 21u + 5 + 8 + 6);
  EXPECT_EQ(Slice(b, 26, 8), (Bytes{0xA3, 0x20, 0x00, 0x0A, 0x81, 0x00, 0x2A, 0x00}));
  EXPECT_EQ(Slice(b, 34, 6), (Bytes{0x00, 0x00, 0x00, 0x02, 0x41, 0x9A}));
  EXPECT_EQ(state().total_frames, 2u);
}

TEST_F(ClusterTest, OversizedBlockGetsAWiderSizeField) {
  const size_t unit_bytes = size_t{1} << 21;
  Bytes unit(unit_bytes, 0x41);
  unit.back() = 0x99;
  Begin(0x10);
  StampFrame(state());
  Append(unit);
  End();
  const uint64_t block_bytes = 4 + 4 + unit_bytes;
  Begin(0x50);
  Append({0x01, 0x77});
  End();
  Begin(0x10);  // completes the cluster
  Append({0x65});
  End();
  const Bytes out = Written();
  const size_t first_cluster = 13 + 1 + 4 + block_bytes + 8 + 6;
  ASSERT_EQ(out.size(), first_cluster + 21 + 5);
  VintBuffer size;
  ASSERT_TRUE(EncodeVint(first_cluster - 8, 4, size));
  EXPECT_EQ(Slice(out, 4, 4), Bytes(size.bytes, size.bytes + 4));
  EXPECT_EQ(Slice(out, 13, 9), (Bytes{0xA3, 0x10, 0x20, 0x00, 0x08, 0x81, 0x00, 0x00, 0x80}));
  EXPECT_EQ(Slice(out, 22, 4), (Bytes{0x00, 0x20, 0x00, 0x00}));
  EXPECT_EQ(out[22 + 4 + unit_bytes - 1], 0x99);
  EXPECT_EQ(Slice(out, first_cluster - 14, 8),
            (Bytes{0xA3, 0x20, 0x00, 0x0A, 0x81, 0x00, 0x2A, 0x01}));
  // The next cluster's first block has its 3-byte size form again.
  EXPECT_EQ(Slice(out, first_cluster + 13, 8),
            (Bytes{0xA3, 0x20, 0x00, 0x09, 0x81, 0x00, 0x00, 0x80}));
}

// Memory follows the largest block: a cluster of many megabytes is written
// block by block and its size patched in at the end.
TEST_F(ClusterTest, LargeClusterIsWrittenBlockByBlock) {
  const Bytes unit(size_t{3} << 20, 0x41);
  for (int frame = 0; frame < 8; ++frame) {
    Begin(frame == 0 ? 0x10 : 0x50);
    Append(frame < 4 ? Bytes(1000, 0x01) : unit);
    End();
  }
  Flush();
  const Bytes out = Written();
  ASSERT_GT(out.size(), size_t{12} << 20);
  VintBuffer size;
  ASSERT_TRUE(EncodeVint(out.size() - 8, 4, size));
  EXPECT_EQ(Slice(out, 4, 4), Bytes(size.bytes, size.bytes + 4));
  EXPECT_EQ(out.back(), 0x41);
  EXPECT_LT(state().cluster.bytes.size(), size_t{8} << 20);
}

// A cluster that no 4-byte size could describe ends the run before the
// block that would overflow it is written.
TEST_F(ClusterTest, ClusterBeyondTheLargestSizeEndsTheRun) {
  Begin(0x10);
  End();
  Begin(0x50);
  Append(Bytes(64, 0x01));
  state().cluster.cluster_written = (uint64_t{1} << 28) - 40;  // as if that much were written
  const size_t before = Written().size();
  EXPECT_FALSE(EndFrame(state()));
  EXPECT_EQ(fixture_.Err(), "ERROR: vint is bigger than targeted size.\n");
  EXPECT_EQ(Written().size(), before);
}

}  // namespace
}  // namespace tandrel
