#include "mkv/track_header.h"

#include <gtest/gtest.h>

#include <vector>

#include "mkv/mux_fixture.h"
#include "mkv/timestamps.h"

namespace tandrel {
namespace {

using Bytes = std::vector<uint8_t>;
using test::Slice;

CodecParameterSets SetsOfSizes(size_t s, size_t p, size_t u, size_t d) {
  CodecParameterSets sets;
  sets.saved_sps.assign(s, 0x67);
  sets.saved_pps.assign(p, 0x68);
  sets.saved_subset_sps.assign(u, 0x6F);
  sets.saved_dependent_pps.assign(d, 0x68);
  return sets;
}

TEST(TrackHeader, SizesOfTheReferenceLayout) {
  TrackSettings settings;
  settings.profile_idc = 100;
  settings.level_idc = 41;
  Bytes tracks;
  ASSERT_TRUE(BuildTrackHeader(SetsOfSizes(24, 8, 34, 6), settings, tracks));
  // TL = 199 bytes of Tracks, TrackEntry, fixed elements and CodecPrivate,
  // BL = 102 of BlockAdditionMapping, then 36 of Video and DefaultDuration.
  ASSERT_EQ(tracks.size(), 337u);
  EXPECT_EQ(Slice(tracks, 0, 6), (Bytes{0x16, 0x54, 0xAE, 0x6B, 0x41, 0x4B}));
  EXPECT_EQ(Slice(tracks, 6, 3), (Bytes{0xAE, 0x41, 0x48}));
  EXPECT_EQ(Slice(tracks, 53, 10),
            (Bytes{0x63, 0xA2, 0x40, 0x8E, 0x01, 0x64, 0x00, 0x29, 0xFF, 0xE1}));
  // The mvcC box: its size counts the type code and the 87-byte record.
  EXPECT_EQ(Slice(tracks, 104, 8), (Bytes{0x00, 0x00, 0x00, 0x5B, 'm', 'v', 'c', 'C'}));
  EXPECT_EQ(Slice(tracks, 199, 4), (Bytes{0x41, 0xE4, 0x40, 0x62}));
  EXPECT_EQ(Slice(tracks, 210, 4), (Bytes{0x41, 0xED, 0x40, 0x57}));
  // The same MVC record in CodecPrivate and BlockAddIDExtraData.
  EXPECT_EQ(Slice(tracks, 112, 87), Slice(tracks, 214, 87));
  EXPECT_EQ(Slice(tracks, 112, 8), (Bytes{0x01, 0x80, 0x00, 0x29, 0xFF, 0x02, 0x00, 24}));
  EXPECT_EQ(Slice(tracks, 112 + 8 + 24 + 2 + 34, 3), (Bytes{0x02, 0x00, 8}));
  // Video for 1920x1080, StereoMode 13, DefaultDuration 41708333 ns.
  EXPECT_EQ(Slice(tracks, 301, 36),
            (Bytes{0xE0, 0x9A, 0xB0, 0x82, 0x07, 0x80, 0xBA, 0x82, 0x04, 0x38, 0x54, 0xB0,
                   0x84, 0x00, 0x00, 0x07, 0x80, 0x54, 0xBA, 0x84, 0x00, 0x00, 0x04, 0x38,
                   0x53, 0xB8, 0x81, 0x0D, 0x23, 0xE3, 0x83, 0x84, 0x02, 0x7C, 0x6B, 0x2D}));
}

TEST(TrackHeader, RightEyeFirstChangesOnlyTheStereoMode) {
  const CodecParameterSets sets = SetsOfSizes(10, 4, 12, 4);
  TrackSettings settings;
  Bytes left, right;
  ASSERT_TRUE(BuildTrackHeader(sets, settings, left));
  settings.right_eye_first = true;
  ASSERT_TRUE(BuildTrackHeader(sets, settings, right));
  ASSERT_EQ(left.size(), right.size());
  std::vector<size_t> differ;
  for (size_t i = 0; i < left.size(); ++i) {
    if (left[i] != right[i]) differ.push_back(i);
  }
  ASSERT_EQ(differ.size(), 1u);
  EXPECT_EQ(left[differ[0]], 0x0D);
  EXPECT_EQ(right[differ[0]], 0x0E);
  EXPECT_EQ(Slice(left, differ[0] - 3, 3), (Bytes{0x53, 0xB8, 0x81}));
}

TEST(TrackHeader, PictureSizeAndDurationComeFromTheSettings) {
  TrackSettings settings;
  settings.picture_size = {1280, 720};
  settings.default_duration_ns = FrameDurationNs(1, 100);  // 50 fps
  Bytes tracks;
  ASSERT_TRUE(BuildTrackHeader(SetsOfSizes(10, 4, 12, 4), settings, tracks));
  EXPECT_EQ(Slice(tracks, tracks.size() - 36, 10),
            (Bytes{0xE0, 0x9A, 0xB0, 0x82, 0x05, 0x00, 0xBA, 0x82, 0x02, 0xD0}));
  EXPECT_EQ(Slice(tracks, tracks.size() - 4, 4), (Bytes{0x01, 0x31, 0x2D, 0x00}));  // 20 ms
}

TEST(TrackHeader, RecordTooLargeForTwoByteSizesFails) {
  Bytes tracks;
  EXPECT_TRUE(BuildTrackHeader(SetsOfSizes(4000, 4, 100, 4), TrackSettings{}, tracks));
  EXPECT_FALSE(BuildTrackHeader(SetsOfSizes(8000, 4, 100, 4), TrackSettings{}, tracks));
}

TEST(TrackHeader, FrameDurationFromTheTiming) {
  EXPECT_EQ(FrameDurationNs(1001, 48000), 41708333u);
  EXPECT_EQ(FrameDurationNs(1001, 60000), 33366667u);
  EXPECT_EQ(FrameDurationNs(1, 50), 40000000u);
  EXPECT_EQ(FrameDurationNs(0, 48000), kDefaultFrameDurationNs);
  EXPECT_EQ(FrameDurationNs(1001, 0), kDefaultFrameDurationNs);
  EXPECT_EQ(FrameDurationNs(4294967295u, 1), kDefaultFrameDurationNs);
}

// Parameter sets of the 320x240 reference-encoder pair, which repeats the PPS
// three times in its first access unit.
const Bytes kSps = {0x67, 0x64, 0x00, 0x29, 0xac, 0xdb, 0x05, 0x07, 0xe8,
                    0x40, 0x00, 0x00, 0xfa, 0x40, 0x00, 0x2e, 0xe0, 0x25};
const Bytes kPps = {0x68, 0xea, 0x43, 0x8b};
const Bytes kOtherPps = {0x68, 0x5a, 0x95, 0xe2, 0xc0};
const Bytes kSubsetSps = {0x6f, 0x80, 0x00, 0x29, 0xac, 0xdb, 0x05, 0x07, 0xe8, 0x40, 0x00, 0x00,
                          0xfa, 0x40, 0x00, 0x2e, 0xe0, 0x25, 0x54, 0xaa, 0xab, 0x29, 0x8f, 0x8e};

TEST(TrackHeader, CapturesKeepTheFirstOfEachKindAndWriteOnTheFourth) {
  test::MuxFixture fixture;
  MuxState& state = fixture.state();
  ASSERT_TRUE(CaptureSps(state, kSps));
  ASSERT_TRUE(CapturePps(state, kPps));
  ASSERT_TRUE(CapturePps(state, kOtherPps));
  ASSERT_TRUE(CaptureSps(state, kOtherPps));
  ASSERT_TRUE(CaptureSubsetSps(state, kSubsetSps));
  EXPECT_FALSE(state.track.track_header_written);
  EXPECT_TRUE(fixture.Output().empty());
  ASSERT_TRUE(CaptureDependentPps(state, kPps));
  EXPECT_TRUE(state.track.track_header_written);

  EXPECT_EQ(state.track.parameter_sets.saved_sps, kSps);
  EXPECT_EQ(state.track.parameter_sets.saved_pps, kPps);
  EXPECT_FLOAT_EQ(state.frame_factor, static_cast<float>(1001.0 / 48000.0));
  Bytes expected;
  ASSERT_TRUE(BuildTrackHeader(state.track.parameter_sets, state.track.settings, expected));
  EXPECT_EQ(fixture.Output(), expected);
  EXPECT_EQ(state.segment_bytes, expected.size());
  EXPECT_EQ(state.track.settings.picture_size.width, 320u);
  EXPECT_EQ(state.track.settings.picture_size.height, 240u);
  EXPECT_EQ(state.track.settings.default_duration_ns, 41708333u);
  EXPECT_EQ(Slice(expected, 57, 6), (Bytes{0x01, 0x64, 0x00, 0x29, 0xFF, 0xE1}));
  EXPECT_TRUE(fixture.Err().empty());
}

TEST(TrackHeader, SpsWithoutUsableTimingKeepsTheDefaults) {
  test::MuxFixture fixture;
  MuxState& state = fixture.state();
  // The same SPS cut short inside its VUI: reported, and its timing is unread.
  const Bytes cut(kSps.begin(), kSps.begin() + 10);
  ASSERT_TRUE(CaptureSps(state, cut));
  EXPECT_EQ(fixture.Err(), "read over SPS-NAL size !\n");
  EXPECT_EQ(state.frame_factor, kDefaultFrameFactor);
  EXPECT_EQ(state.track.settings.default_duration_ns, kDefaultFrameDurationNs);
  EXPECT_EQ(state.track.settings.picture_size.width, 1920u);
}

}  // namespace
}  // namespace tandrel
