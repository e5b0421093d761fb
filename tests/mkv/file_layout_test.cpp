#include "mkv/file_layout.h"

#include <gtest/gtest.h>

#include <vector>

#include "mkv/cluster.h"
#include "mkv/mux_fixture.h"

namespace tandrel {
namespace {

using Bytes = std::vector<uint8_t>;
using test::Slice;

TEST(FileLayout, HeaderIsTheFixedStartOfEveryFile) {
  test::MuxFixture fixture;
  ASSERT_TRUE(WriteFileHeader(fixture.state()));
  const Bytes out = fixture.Output();
  ASSERT_EQ(out.size(), 71u);
  EXPECT_EQ(Slice(out, 0, 5), (Bytes{0x1A, 0x45, 0xDF, 0xA3, 0xA3}));
  EXPECT_EQ(Slice(out, 32, 8), (Bytes{0x42, 0x87, 0x81, 0x04, 0x42, 0x85, 0x81, 0x02}));
  EXPECT_EQ(Slice(out, 40, 12),
            (Bytes{0x18, 0x53, 0x80, 0x67, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(Slice(out, 57, 14), (Bytes{0x2A, 0xD7, 0xB1, 0x83, 0x0F, 0x42, 0x40, 0x44, 0x89, 0x84,
                                       0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(fixture.state().segment_bytes, 19u);
}

struct DurationCase {
  float frame_factor;
  uint32_t frames;
  Bytes duration;
};

TEST(FileLayout, FinishPatchesSegmentSizeAndDuration) {
  const float factor = static_cast<float>(1001.0 / 48000.0);
  for (const DurationCase& c : {DurationCase{factor, 1000, {0x47, 0x22, 0xEC, 0x00}},
                                DurationCase{factor, 24, {0x44, 0x7A, 0x40, 0x00}},
                                DurationCase{0.0f, 24, {0x00, 0x00, 0x00, 0x00}}}) {
    test::MuxFixture fixture;
    MuxState& state = fixture.state();
    ASSERT_TRUE(WriteFileHeader(state));
    ASSERT_TRUE(BeginFrame(state, 0x10));
    ASSERT_TRUE(AppendNal(state, Bytes{0x65, 0x88}));
    ASSERT_TRUE(EndFrame(state));
    state.frame_factor = c.frame_factor;
    state.total_frames = c.frames;
    ASSERT_TRUE(FinishFile(state));
    EXPECT_EQ(state.mkv_file, nullptr);
    const Bytes out = fixture.Output();
    ASSERT_EQ(out.size(), 71u + 21 + 6);
    EXPECT_EQ(Slice(out, 44, 8),
              (Bytes{0x01, 0, 0, 0, 0, 0, 0, static_cast<uint8_t>(out.size() - 52)}));
    EXPECT_EQ(Slice(out, 67, 4), c.duration) << c.frames << " frames";
    EXPECT_EQ(fixture.Out(), "\n");
  }
}

TEST(FileLayout, SegmentSizeTakesAllEightBytes) {
  test::MuxFixture fixture;
  MuxState& state = fixture.state();
  ASSERT_TRUE(WriteFileHeader(state));
  state.segment_bytes = 356;
  ASSERT_TRUE(FinishFile(state));  // no frame completed: no cluster written
  const Bytes out = fixture.Output();
  EXPECT_EQ(out.size(), 71u);
  EXPECT_EQ(Slice(out, 44, 8), (Bytes{0x01, 0, 0, 0, 0, 0, 0x01, 0x64}));
}

TEST(FileLayout, FailedWriteIsReportedByName) {
  test::MuxFixture fixture;
  MuxState& state = fixture.state();
  std::fclose(state.mkv_file);
  state.mkv_file = std::fopen("/dev/full", "wb");
  ASSERT_NE(state.mkv_file, nullptr);
  state.mkv_name = "/dev/full";
  ASSERT_TRUE(WriteFileHeader(state));  // still in the stream's buffer
  ASSERT_TRUE(BeginFrame(state, 0x10));
  ASSERT_TRUE(EndFrame(state));
  EXPECT_FALSE(FinishFile(state));
  EXPECT_EQ(fixture.Err(), "Error: could not write mkv-file /dev/full\n");
  EXPECT_FALSE(CloseFiles(state));
  EXPECT_EQ(fixture.Err(), "Error: could not write mkv-file /dev/full\n");  // once only
}

}  // namespace
}  // namespace tandrel
