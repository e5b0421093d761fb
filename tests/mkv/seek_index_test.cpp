#include "mkv/seek_index.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "mkv/file_layout.h"
#include "mkv/mux_fixture.h"
#include "support/matroska_ids.h"
#include "support/mkv_reader.h"

namespace tandrel {
namespace {

namespace id = test::id;

struct IndexCase {
  std::vector<CuePoint> cue_points;
  std::vector<uint32_t> segment_children;
};

// A run with the index but without frames: whatever the SeekHead does not
// name is covered by a Void, so that the SeekHead keeps its reserved size.
TEST(SeekIndex, CuesHoldEveryClusterAtAnyWidthAndAbsentElementsBecomeVoid) {
  const std::vector<IndexCase> cases = {
      {{}, {id::kSeekHead, id::kVoid, id::kInfo}},
      {{{0, 0}, {255, 0xFFFFFF}, {uint64_t{1} << 40, 256}, {0xFFFFFFFFFFFFFFFF, 1}},
       {id::kSeekHead, id::kVoid, id::kInfo, id::kCues}},
  };
  for (const IndexCase& c : cases) {
    test::MuxFixture fixture;
    MuxState& state = fixture.state();
    state.seek_index.enabled = true;
    ASSERT_TRUE(WriteFileHeader(state));
    EXPECT_EQ(state.segment_bytes, kSeekHeadBytes + 19);
    state.seek_index.cue_points = c.cue_points;
    ASSERT_TRUE(FinishFile(state));
    const std::vector<uint8_t> out = fixture.Output();
    const test::MatroskaFile mkv = test::ReadMatroska(out);
    EXPECT_EQ(mkv.segment_children, c.segment_children);
    ASSERT_EQ(mkv.info_offset, kSegmentDataOffset + kSeekHeadBytes);
    EXPECT_EQ(mkv.duration, 0.0);

    ASSERT_EQ(mkv.seek_entries.size(), c.cue_points.empty() ? 1u : 2u);
    EXPECT_EQ(mkv.seek_entries[0].id, id::kInfo);
    EXPECT_EQ(mkv.seek_entries[0].position, kSeekHeadBytes);
    ASSERT_EQ(mkv.cue_points.size(), c.cue_points.size());
    if (c.cue_points.empty()) continue;
    EXPECT_EQ(mkv.seek_entries[1].id, id::kCues);
    EXPECT_EQ(kSegmentDataOffset + mkv.seek_entries[1].position, mkv.cues_offset);
    for (size_t i = 0; i < c.cue_points.size(); ++i) {
      EXPECT_EQ(mkv.cue_points[i].time, c.cue_points[i].cluster_timecode);
      EXPECT_EQ(mkv.cue_points[i].track, 1u);
      EXPECT_EQ(mkv.cue_points[i].cluster_position, c.cue_points[i].cluster_position);
    }
  }
}

}  // namespace
}  // namespace tandrel
