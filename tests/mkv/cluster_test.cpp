#include "mkv/cluster.h"

#include <gtest/gtest.h>

#include <vector>

#include "mkv/ebml_vint.h"
#include "mkv/mux_fixture.h"

namespace tandrel {
namespace {

using Bytes = std::vector<uint8_t>;
using test::Slice;

constexpr float kFactor1001Over48000 = static_cast<float>(1001.0 / 48000.0);

class ClusterTest : public testing::Test {
 protected:
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
  // Relative timecode of the block whose header starts at `header`.
  int RelativeTimecode(size_t header) {
    const Bytes& b = state().cluster.bytes;
    return static_cast<int16_t>(b[header + 5] << 8 | b[header + 6]);
  }

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
  EXPECT_EQ(fixture_.Output(),
            (Bytes{0x1F, 0x43, 0xB6, 0x75, 0x10, 0x00, 0x00, 0x27, 0xE7, 0x83, 0x00, 0x00,
                   0x00, 0xA3, 0x20, 0x00, 0x11, 0x81, 0x00, 0x00, 0x80, 0x00, 0x00, 0x00,
                   0x02, 0x06, 0x01, 0x00, 0x00, 0x00, 0x03, 0x65, 0xAA, 0xBB, 0xA3, 0x20,
                   0x00, 0x09, 0x81, 0x00, 0x2A, 0x00, 0x00, 0x00, 0x00, 0x01, 0x06}));
  EXPECT_EQ(state().segment_bytes, 47u);
  EXPECT_EQ(state().total_frames, 2u);
}

TEST_F(ClusterTest, SizesFillTheirPlaceholders) {
  Begin(0x10);
  Append(Bytes(5, 0x41));
  Append(Bytes(100, 0x41));
  End();
  EXPECT_EQ(state().cluster.block_bytes, 117u);
  EXPECT_EQ(Slice(state().cluster.bytes, 14, 3), (Bytes{0x20, 0x00, 0x75}));
  Append(Bytes(183, 0x41));  // fills the cluster to 13 + 8 + 300 bytes
  ASSERT_EQ(state().cluster.cluster_fill, 321u);
  Flush();
  EXPECT_EQ(Slice(fixture_.Output(), 4, 4), (Bytes{0x10, 0x00, 0x01, 0x39}));
}

TEST_F(ClusterTest, DelimiterDecidesClusterAndFlags) {
  Begin(0x10);
  Append({0x65});
  End();
  Begin(0x30);  // I and P: a further block, not discardable
  End();
  Begin(0x50);  // B: discardable
  End();
  const Bytes& b = state().cluster.bytes;
  EXPECT_EQ(b[20], 0x80);
  EXPECT_EQ(b[21 + 5 + 7], 0x00);
  EXPECT_EQ(b[21 + 5 + 8 + 7], 0x01);
  EXPECT_EQ(state().cluster.cluster_frames, 2);
  EXPECT_TRUE(fixture_.Output().empty());
  Begin(0x10);  // the next I picture closes the cluster
  EXPECT_EQ(fixture_.Output().size(), 21u + 5 + 8 + 8);
  EXPECT_EQ(state().cluster.cluster_fill, kEmptyClusterFill);
}

// Blocks are timed by their index in the cluster, whether a picture timing
// message stamps them or, without one, EndFrame does.
TEST_F(ClusterTest, BlocksAreStampedByTheirIndexInTheCluster) {
  for (const bool timing_message : {true, false}) {
    test::MuxFixture fixture;
    MuxState& s = fixture.state();
    s.frame_factor = kFactor1001Over48000;
    std::vector<int> relative;
    for (int frame = 0; frame < 24; ++frame) {
      ASSERT_TRUE(BeginFrame(s, frame == 0 ? 0x10 : 0x50));
      if (timing_message) StampFrame(s);
      ASSERT_TRUE(EndFrame(s));
      const uint8_t* header = s.cluster.bytes.data() + 13 + 8 * frame;
      if (frame < 8) relative.push_back(static_cast<int16_t>(header[5] << 8 | header[6]));
    }
    EXPECT_EQ(relative, (std::vector<int>{0, 42, 83, 125, 167, 209, 250, 292}));
    ASSERT_TRUE(BeginFrame(s, 0x10));
    if (timing_message) StampFrame(s);
    ASSERT_TRUE(EndFrame(s));
    EXPECT_EQ(Slice(s.cluster.bytes, 10, 3), (Bytes{0x00, 0x03, 0xE9}));  // 1001 ms
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
  EXPECT_EQ(Slice(state().cluster.bytes, 10, 3), (Bytes{0, 0, 0}));
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
  EXPECT_EQ(Slice(state().cluster.bytes, 10, 3), (Bytes{0x00, 0x00, 0xFA}));  // tick 12: 250 ms
  EXPECT_EQ(RelativeTimecode(13 + 14), -83);
}

TEST_F(ClusterTest, RunStartingWithoutAnIPictureUsesThePresetBlock) {
  Append({0x06, 0x01});  // a unit before the first delimiter
  Begin(0x30);
  StampFrame(state());
  Append({0x41, 0x9A});
  End();
  const Bytes& b = state().cluster.bytes;
  EXPECT_EQ(state().cluster.cluster_fill, 21u + 6 + 6);
  EXPECT_EQ(b[20], 0x00);
  EXPECT_EQ(Slice(b, 10, 3), (Bytes{0, 0, 0}));  // cluster timecode stamped
  EXPECT_EQ(Slice(b, 14, 3), (Bytes{0x20, 0x00, 0x10}));
  Begin(0x50);
  End();
  Begin(0x10);  // an I picture: the next cluster's first block is a keyframe again
  EXPECT_EQ(state().cluster.bytes[20], 0x80);
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
  Begin(0x10);  // flushes the cluster
  const Bytes out = fixture_.Output();
  ASSERT_EQ(out.size(), 13 + 1 + 4 + block_bytes + 8 + 6);
  EXPECT_EQ(Slice(out, 13, 9), (Bytes{0xA3, 0x10, 0x20, 0x00, 0x08, 0x81, 0x00, 0x00, 0x80}));
  EXPECT_EQ(Slice(out, 22, 4), (Bytes{0x00, 0x20, 0x00, 0x00}));
  EXPECT_EQ(out[22 + 4 + unit_bytes - 1], 0x99);
  EXPECT_EQ(Slice(out, out.size() - 14, 8),
            (Bytes{0xA3, 0x20, 0x00, 0x0A, 0x81, 0x00, 0x2A, 0x01}));
  // The next cluster's first block header is back to its 3-byte size form.
  EXPECT_EQ(Slice(state().cluster.bytes, 13, 8),
            (Bytes{0xA3, 0xFF, 0xFF, 0xFF, 0x81, 0x00, 0x00, 0x80}));
  Append({0x65});
  End();
  EXPECT_EQ(Slice(state().cluster.bytes, 14, 3), (Bytes{0x20, 0x00, 0x09}));
}

TEST_F(ClusterTest, ClusterLargerThanTheBufferGrowsIt) {
  Begin(0x10);
  const Bytes unit(size_t{3} << 20, 0x41);
  for (int frame = 0; frame < 4; ++frame) {
    if (frame > 0) Begin(0x50);
    Append(Bytes(1000, 0x01));
    End();
  }
  for (int frame = 0; frame < 4; ++frame) {
    Begin(0x50);
    Append(unit);
    End();
  }
  const size_t fill = state().cluster.cluster_fill;
  EXPECT_GT(fill, kClusterBufferBytes);
  Flush();
  const Bytes out = fixture_.Output();
  ASSERT_EQ(out.size(), fill);
  VintBuffer size;
  ASSERT_TRUE(EncodeVint(fill - 8, 4, size));
  EXPECT_EQ(Slice(out, 4, 4), Bytes(size.bytes, size.bytes + 4));
  EXPECT_EQ(out.back(), 0x41);
}

}  // namespace
}  // namespace tandrel
