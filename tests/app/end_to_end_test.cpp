// Muxes every stereo sample pair with the real tandrel binary and checks the
// Matroska file it writes, block by block, against a reference model computed
// straight from the two input streams.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "support/annex_b_oracle.h"
#include "support/command_runner.h"
#include "support/file_bytes.h"
#include "support/matroska_ids.h"
#include "support/media_tools.h"
#include "support/mkv_reader.h"
#include "support/parameter_set_ids.h"
#include "support/scratch_directory.h"

namespace tandrel::test {
namespace {

namespace fs = std::filesystem;

// "mvcC" read as a big-endian 32-bit number: the BlockAddIDType of the MVC record.
constexpr std::uint64_t kMvcCFourCc = 0x6D766343;
constexpr std::uint8_t kStereoModeLeftFirst = 13;
constexpr std::uint8_t kStereoModeRightFirst = 14;
// EBML header (40 bytes) and the Segment ID with its 8-byte size.
constexpr std::size_t kSegmentOffset = 40;
constexpr std::size_t kSegmentDataOffset = 52;

struct SamplePair {
  std::string name;
  fs::path base_view;
  fs::path dependent_view;
};

void PrintTo(const SamplePair& pair, std::ostream* out) { *out << pair.name; }

// Every NAME.264 in the test data that has a NAME.mvc beside it.
std::vector<SamplePair> FindSamplePairs() {
  std::vector<SamplePair> pairs;
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(TANDREL_TEST_DATA, error)) {
    if (entry.path().extension() != ".264") {
      continue;
    }
    fs::path dependent = entry.path();
    dependent.replace_extension(".mvc");
    if (fs::is_regular_file(dependent)) {
      pairs.push_back({entry.path().stem().string(), entry.path(), dependent});
    }
  }
  std::sort(pairs.begin(), pairs.end(),
            [](const SamplePair& a, const SamplePair& b) { return a.name < b.name; });
  return pairs;
}

CommandResult RunTandrel(const SamplePair& pair, const fs::path& output,
                         const std::vector<std::string>& options = {}) {
  std::vector<std::string> arguments = {TANDREL_EXE, pair.base_view.string(),
                                        pair.dependent_view.string(), output.string()};
  arguments.insert(arguments.end(), options.begin(), options.end());
  return RunCommand(arguments);
}

// The picture size of the samples, for machines without ffprobe.
std::optional<PictureSize> KnownPictureSize(const std::string& name) {
  if (name.starts_with("MVC")) {
    return PictureSize{640, 480};
  }
  if (name == "jm_320x240_sei") {
    return PictureSize{320, 240};
  }
  if (name == "x264_360p") {
    return PictureSize{640, 360};
  }
  return std::nullopt;
}

void AppendBigEndian(std::uint64_t value, std::size_t width, Bytes& out) {
  for (std::size_t i = width; i > 0; --i) {
    out.push_back(static_cast<std::uint8_t>(value >> (8 * (i - 1))));
  }
}

void AppendParameterSet(const Bytes& unit, Bytes& out) {
  AppendBigEndian(unit.size(), 2, out);
  out.insert(out.end(), unit.begin(), unit.end());
}

// The AVC decoder configuration record (ISO/IEC 14496-15) up to its PPS: version 1,
// profile and level from the SPS, profile_compatibility 0, 4-byte NAL lengths, one
// SPS and one PPS.
Bytes ExpectedAvcRecordHead(const Bytes& sps, const Bytes& pps) {
  Bytes record = {0x01, sps.at(1), 0x00, sps.at(3), 0xFF, 0xE1};
  AppendParameterSet(sps, record);
  record.push_back(0x01);
  AppendParameterSet(pps, record);
  return record;
}

// The MVC decoder configuration record: MVC profile 128 at level 4.1 with 4-byte NAL
// lengths, then the base SPS and the subset SPS, then the base PPS and the
// dependent PPS.
Bytes ExpectedMvcRecord(const Bytes& sps, const Bytes& subset_sps, const Bytes& pps,
                        const Bytes& dependent_pps) {
  Bytes record = {0x01, 0x80, 0x00, 0x29, 0xFF, 0x02};
  AppendParameterSet(sps, record);
  AppendParameterSet(subset_sps, record);
  record.push_back(0x02);
  AppendParameterSet(pps, record);
  AppendParameterSet(dependent_pps, record);
  return record;
}

// Where two byte strings part, without printing megabytes of data.
std::string DescribeDifference(const Bytes& actual, const Bytes& expected) {
  const auto mismatch =
      std::mismatch(actual.begin(), actual.end(), expected.begin(), expected.end());
  return "actual " + std::to_string(actual.size()) + " bytes, expected " +
         std::to_string(expected.size()) + " bytes, first difference at byte " +
         std::to_string(mismatch.first - actual.begin());
}

std::string ToolReport(const CommandResult& run) {
  return "exit status " + std::to_string(run.exit_status) + ", standard error:\n" +
         run.standard_error;
}

// ffmpeg's H.264 decoder skips subset SPS units but parses every PPS, so when the
// dependent view's PPS refers to a subset SPS whose id no base-view SPS has, it
// complains "sps_id N out of range". That is the decoder's limit, not a fault of the
// file; every other line of error output is. Returns the output without that line.
std::string WithoutSubsetSpsComplaint(const std::string& error_output, const Bytes& base_view,
                                      const Bytes& dependent_view) {
  const auto base_sps = FirstUnitOfType(SplitNalUnits(base_view), kNalSps);
  const auto dependent_pps = FirstUnitOfType(SplitNalUnits(dependent_view), kNalPps);
  const auto base_id = base_sps ? SpsId(*base_sps) : std::nullopt;
  const auto referenced_id = dependent_pps ? PpsReferencedSpsId(*dependent_pps) : std::nullopt;
  if (!referenced_id || referenced_id == base_id) {
    return error_output;
  }
  const std::string complaint = "] sps_id " + std::to_string(*referenced_id) + " out of range";
  std::string kept;
  std::size_t begin = 0;
  while (begin < error_output.size()) {
    std::size_t end = error_output.find('\n', begin);
    end = end == std::string::npos ? error_output.size() : end + 1;
    const std::string line = error_output.substr(begin, end - begin);
    const std::string text = line.ends_with('\n') ? line.substr(0, line.size() - 1) : line;
    if (!(text.starts_with("[h264 @ ") && text.ends_with(complaint))) {
      kept += line;
    }
    begin = end;
  }
  return kept;
}

std::size_t CountOccurrences(const std::string& text, const std::string& fragment) {
  std::size_t count = 0;
  for (std::size_t pos = text.find(fragment); pos != std::string::npos;
       pos = text.find(fragment, pos + fragment.size())) {
    ++count;
  }
  return count;
}

// Muxes one sample pair into a fresh directory and reads the result back.
class MuxedOutput : public ::testing::Test {
 protected:
  void MuxAndRead(const SamplePair& pair) {
    output_ = scratch_.path() / (pair.name + ".mkv");
    run_ = RunTandrel(pair, output_);
    ASSERT_TRUE(run_.exited) << "could not run " << TANDREL_EXE;
    ASSERT_EQ(run_.exit_status, 0) << run_.standard_output << run_.standard_error;
    file_ = ReadFileBytes(output_);
    try {
      mkv_ = ReadMatroska(file_);
    } catch (const EbmlFormatError& error) {
      FAIL() << "the output is not a well-formed Matroska file: " << error.what();
    }
    base_view_ = ReadFileBytes(pair.base_view);
    dependent_view_ = ReadFileBytes(pair.dependent_view);
    expected_blocks_ = ExpectStereoBlocks(base_view_, dependent_view_);
  }

  // ffprobe reads one packet per block and has nothing to complain of.
  void ExpectFfprobeReadsEveryBlock(const fs::path& file) const {
    const CommandResult ffprobe =
        RunCommand({"ffprobe", "-v", "error", "-select_streams", "v:0", "-show_packets",
                    "-show_entries", "packet=size", "-of", "csv=p=0", file.string()});
    EXPECT_EQ(ffprobe.exit_status, 0) << ToolReport(ffprobe);
    EXPECT_EQ(WithoutSubsetSpsComplaint(ffprobe.standard_error, base_view_, dependent_view_), "");
    EXPECT_EQ(CountOccurrences(ffprobe.standard_output, "\n"), expected_blocks_.size());
  }

  std::vector<const SimpleBlock*> AllBlocks() const {
    std::vector<const SimpleBlock*> blocks;
    for (const Cluster& cluster : mkv_.clusters) {
      for (const SimpleBlock& block : cluster.blocks) {
        blocks.push_back(&block);
      }
    }
    return blocks;
  }

  ScratchDirectory scratch_;
  fs::path output_;
  CommandResult run_;
  Bytes file_;
  MatroskaFile mkv_;
  Bytes base_view_;
  Bytes dependent_view_;
  std::vector<ExpectedBlock> expected_blocks_;
};

class MuxedSamplePair : public MuxedOutput, public ::testing::WithParamInterface<SamplePair> {
 protected:
  void SetUp() override { MuxAndRead(GetParam()); }
};

TEST_P(MuxedSamplePair, ReportsNothingOnStandardError) { EXPECT_EQ(run_.standard_error, ""); }

TEST_P(MuxedSamplePair, BlocksHoldTheKeptUnitsOfBothViewsInStreamOrder) {
  const std::vector<const SimpleBlock*> blocks = AllBlocks();
  ASSERT_EQ(blocks.size(), expected_blocks_.size()) << "one block per base-view access unit";
  for (std::size_t i = 0; i < blocks.size(); ++i) {
    SCOPED_TRACE("block " + std::to_string(i));
    EXPECT_EQ(blocks[i]->track_number, 1U);
    EXPECT_EQ(blocks[i]->flags, expected_blocks_[i].flags);
    EXPECT_TRUE(blocks[i]->payload == expected_blocks_[i].payload)
        << DescribeDifference(blocks[i]->payload, expected_blocks_[i].payload);
  }
}

TEST_P(MuxedSamplePair, ClustersOpenExactlyAtIntraAccessUnits) {
  std::vector<std::size_t> cluster_starts;
  std::size_t block_index = 0;
  for (const Cluster& cluster : mkv_.clusters) {
    cluster_starts.push_back(block_index);
    block_index += cluster.blocks.size();
  }
  std::vector<std::size_t> expected_starts;
  for (std::size_t i = 0; i < expected_blocks_.size(); ++i) {
    if (expected_blocks_[i].opens_cluster) {
      expected_starts.push_back(i);
    }
  }
  EXPECT_EQ(cluster_starts, expected_starts);
  for (const Cluster& cluster : mkv_.clusters) {
    EXPECT_TRUE(cluster.timecode.has_value()) << "cluster at " << cluster.offset;
  }
}

// Every sample runs at 24000/1001 frames a second, by its SPS timing or by
// default: sorted, the block times must step one frame (41 or 42 ms) at a
// time from 0, whether they come from picture timing messages or from the
// decode order, and the Duration must cover every frame.
TEST_P(MuxedSamplePair, EveryFrameHasItsOwnTimeOneFrameApart) {
  std::vector<std::int64_t> times;
  for (const Cluster& cluster : mkv_.clusters) {
    ASSERT_TRUE(cluster.timecode.has_value());
    for (const SimpleBlock& block : cluster.blocks) {
      times.push_back(static_cast<std::int64_t>(*cluster.timecode) + block.relative_timecode);
    }
  }
  std::sort(times.begin(), times.end());
  ASSERT_FALSE(times.empty());
  EXPECT_EQ(times.front(), 0);
  for (std::size_t i = 1; i < times.size(); ++i) {
    const std::int64_t step = times[i] - times[i - 1];
    EXPECT_TRUE(step == 41 || step == 42)
        << "between sorted frames " << i - 1 << " and " << i << ": " << step << " ms";
  }
  ASSERT_TRUE(mkv_.duration.has_value());
  EXPECT_NEAR(*mkv_.duration, static_cast<double>(times.size()) * 1001.0 / 24.0, 0.5);
}

TEST_P(MuxedSamplePair, HeaderDeclaresMatroskaVersion4AndTheSegmentSpansTheFile) {
  EXPECT_EQ(mkv_.ebml.doc_type, "matroska");
  EXPECT_EQ(mkv_.ebml.doc_type_version, 4U);
  EXPECT_EQ(mkv_.ebml.doc_type_read_version, 2U);
  EXPECT_EQ(mkv_.segment_offset, kSegmentOffset);
  EXPECT_EQ(mkv_.segment_data_offset, kSegmentDataOffset);
  EXPECT_EQ(mkv_.segment_size, file_.size() - kSegmentDataOffset);
  EXPECT_EQ(mkv_.timecode_scale, 1000000U);
  EXPECT_TRUE(mkv_.duration.has_value());
  ASSERT_TRUE(mkv_.tracks_offset.has_value());
  ASSERT_FALSE(mkv_.clusters.empty());
  EXPECT_LT(*mkv_.tracks_offset, mkv_.clusters.front().offset)
      << "the track header must precede the first cluster";
}

TEST_P(MuxedSamplePair, TrackCarriesAvcAndMvcRecordsFromTheFirstParameterSets) {
  const std::vector<Bytes> base_units = SplitNalUnits(base_view_);
  const std::vector<Bytes> dependent_units = SplitNalUnits(dependent_view_);
  const auto sps = FirstUnitOfType(base_units, kNalSps);
  const auto pps = FirstUnitOfType(base_units, kNalPps);
  const auto subset_sps = FirstUnitOfType(dependent_units, kNalSubsetSps);
  const auto dependent_pps = FirstUnitOfType(dependent_units, kNalPps);
  ASSERT_TRUE(sps && pps && subset_sps && dependent_pps) << "the sample lacks a parameter set";

  ASSERT_EQ(mkv_.tracks.size(), 1U);
  const TrackEntry& track = mkv_.tracks[0];
  EXPECT_EQ(track.track_number, 1U);
  EXPECT_EQ(track.track_type, 1U);
  EXPECT_EQ(track.codec_id, "V_MPEG4/ISO/AVC");

  const Bytes avc_head = ExpectedAvcRecordHead(*sps, *pps);
  const Bytes& codec_private = track.codec_private;
  EXPECT_TRUE(codec_private.size() >= avc_head.size() &&
              std::equal(avc_head.begin(), avc_head.end(), codec_private.begin()))
      << "CodecPrivate must open with the avcC record of the first SPS and PPS";

  ASSERT_EQ(track.block_addition_mappings.size(), 1U);
  const BlockAdditionMapping& mapping = track.block_addition_mappings[0];
  EXPECT_EQ(mapping.id_type, kMvcCFourCc);
  const Bytes mvc_record = ExpectedMvcRecord(*sps, *subset_sps, *pps, *dependent_pps);
  EXPECT_TRUE(mapping.id_extra_data == mvc_record)
      << DescribeDifference(mapping.id_extra_data, mvc_record);

  // The CodecPrivate ends with an extension box: a 4-byte size that counts the
  // "mvcC" code and the record, the code, then the record itself.
  const Bytes four_cc = {'m', 'v', 'c', 'C'};
  const auto code =
      std::search(codec_private.begin(), codec_private.end(), four_cc.begin(), four_cc.end());
  ASSERT_NE(code, codec_private.end()) << "no mvcC box in the CodecPrivate";
  const auto code_offset = static_cast<std::size_t>(code - codec_private.begin());
  ASSERT_GE(code_offset, avc_head.size() + 4);
  std::uint64_t box_size = 0;
  for (std::size_t i = code_offset - 4; i < code_offset; ++i) {
    box_size = box_size << 8 | codec_private[i];
  }
  const Bytes boxed_record(code + 4, codec_private.end());
  EXPECT_TRUE(boxed_record == mapping.id_extra_data)
      << DescribeDifference(boxed_record, mapping.id_extra_data);
  EXPECT_EQ(box_size, 4 + boxed_record.size());
}

TEST_P(MuxedSamplePair, PictureSizeIsThatOfTheBaseView) {
  const std::optional<PictureSize> expected = IsOnPath("ffprobe")
                                                  ? ProbePictureSize(GetParam().base_view)
                                                  : KnownPictureSize(GetParam().name);
  if (!expected) {
    GTEST_SKIP() << "no reference picture size for " << GetParam().name;
  }
  ASSERT_EQ(mkv_.tracks.size(), 1U);
  ASSERT_TRUE(mkv_.tracks[0].video.has_value());
  const VideoSettings& video = *mkv_.tracks[0].video;
  EXPECT_EQ(video.pixel_width, expected->width);
  EXPECT_EQ(video.pixel_height, expected->height);
  EXPECT_EQ(video.display_width, expected->width);
  EXPECT_EQ(video.display_height, expected->height);
}

TEST_P(MuxedSamplePair, RightEyeFirstOptionChangesOnlyTheStereoMode) {
  const fs::path right_first_output = scratch_.path() / "right_eye_first.mkv";
  const CommandResult run = RunTandrel(GetParam(), right_first_output, {"-r"});
  ASSERT_EQ(run.exit_status, 0) << run.standard_error;
  const Bytes right_first = ReadFileBytes(right_first_output);

  ASSERT_EQ(mkv_.tracks.size(), 1U);
  ASSERT_TRUE(mkv_.tracks[0].video.has_value());
  const VideoSettings& video = *mkv_.tracks[0].video;
  EXPECT_EQ(video.stereo_mode, kStereoModeLeftFirst);

  ASSERT_EQ(right_first.size(), file_.size());
  std::vector<std::size_t> differing_offsets;
  for (std::size_t i = 0; i < file_.size(); ++i) {
    if (file_[i] != right_first[i]) {
      differing_offsets.push_back(i);
    }
  }
  EXPECT_EQ(differing_offsets, std::vector<std::size_t>{video.stereo_mode_value_offset});
  EXPECT_EQ(right_first[video.stereo_mode_value_offset], kStereoModeRightFirst);
}

TEST_P(MuxedSamplePair, MkvinfoAndFfprobeReadEveryBlockWithoutComplaint) {
  if (!IsOnPath("mkvinfo") || !IsOnPath("ffprobe")) {
    GTEST_SKIP() << "mkvinfo and ffprobe are needed";
  }
  const CommandResult mkvinfo =
      RunCommand({"mkvinfo", "--ui-language", "en_US", "--all", output_.string()});
  EXPECT_EQ(mkvinfo.exit_status, 0) << ToolReport(mkvinfo);
  EXPECT_EQ(mkvinfo.standard_error, "");
  EXPECT_EQ(CountOccurrences(mkvinfo.standard_output, "+ Simple block:"), expected_blocks_.size());

  ExpectFfprobeReadsEveryBlock(output_);
}

TEST_P(MuxedSamplePair, SeekingIndexPointsAtEveryClusterAndAddsNothingElse) {
  const fs::path indexed_output = scratch_.path() / "indexed.mkv";
  const CommandResult run = RunTandrel(GetParam(), indexed_output, {"--cues"});
  ASSERT_EQ(run.exit_status, 0) << run.standard_error;
  EXPECT_EQ(run.standard_error, "");
  const Bytes indexed_file = ReadFileBytes(indexed_output);
  MatroskaFile indexed;
  try {
    indexed = ReadMatroska(indexed_file);
  } catch (const EbmlFormatError& error) {
    FAIL() << "the indexed output is not a well-formed Matroska file: " << error.what();
  }
  ASSERT_FALSE(indexed.segment_children.empty());
  EXPECT_EQ(indexed.segment_children.front(), id::kSeekHead);
  EXPECT_EQ(indexed.segment_children.back(), id::kCues);
  ASSERT_TRUE(indexed.info_offset && indexed.tracks_offset && indexed.cues_offset);
  const std::size_t data = indexed.segment_data_offset;
  const std::vector<std::pair<std::uint32_t, std::uint64_t>> expected_seeks = {
      {id::kInfo, *indexed.info_offset - data},
      {id::kTracks, *indexed.tracks_offset - data},
      {id::kCues, *indexed.cues_offset - data}};
  std::vector<std::pair<std::uint32_t, std::uint64_t>> seeks;
  for (const SeekEntry& entry : indexed.seek_entries) seeks.emplace_back(entry.id, entry.position);
  EXPECT_EQ(seeks, expected_seeks);

  ASSERT_EQ(indexed.cue_points.size(), indexed.clusters.size()) << "one CuePoint per cluster";
  for (std::size_t i = 0; i < indexed.clusters.size(); ++i) {
    SCOPED_TRACE("cluster " + std::to_string(i));
    const CuePointEntry& cue = indexed.cue_points[i];
    EXPECT_EQ(cue.time, indexed.clusters[i].timecode);
    EXPECT_EQ(cue.track, 1U);
    ASSERT_TRUE(cue.cluster_position.has_value());
    EXPECT_EQ(data + *cue.cluster_position, indexed.clusters[i].offset);
  }

  // Between the SeekHead and the Cues lie the very bytes of the file made
  // without the index.
  const std::size_t seek_head_end = *indexed.info_offset;
  ASSERT_EQ(indexed_file.size() - file_.size(),
            (seek_head_end - data) + (indexed_file.size() - *indexed.cues_offset));
  EXPECT_TRUE(std::equal(file_.begin() + static_cast<std::ptrdiff_t>(data), file_.end(),
                         indexed_file.begin() + static_cast<std::ptrdiff_t>(seek_head_end)));

  if (IsOnPath("mkvinfo") && IsOnPath("ffprobe")) {
    const CommandResult mkvinfo =
        RunCommand({"mkvinfo", "--ui-language", "en_US", "--all", indexed_output.string()});
    EXPECT_EQ(mkvinfo.standard_error, "");
    EXPECT_EQ(CountOccurrences(mkvinfo.standard_output, "+ Cue point"), indexed.clusters.size());
    ExpectFfprobeReadsEveryBlock(indexed_output);
  }
}

INSTANTIATE_TEST_SUITE_P(SampleData, MuxedSamplePair, ::testing::ValuesIn(FindSamplePairs()),
                         [](const auto& case_info) {
                           std::string name = case_info.param.name;
                           std::replace_if(
                               name.begin(), name.end(),
                               [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); },
                               '_');
                           return name;
                         });

TEST(SampleData, HoldsStereoPairs) { EXPECT_FALSE(FindSamplePairs().empty()) << TANDREL_TEST_DATA; }

// The x264 pair has B pictures and HRD timing: decode order differs from display
// order, so it shows whether the blocks decode and are timed as presented.
class X264SamplePair : public MuxedOutput {
 protected:
  void SetUp() override {
    if (!IsOnPath("ffmpeg") || !IsOnPath("ffprobe")) {
      GTEST_SKIP() << "ffmpeg and ffprobe are needed";
    }
    const fs::path data(TANDREL_TEST_DATA);
    MuxAndRead({"x264_360p", data / "x264_360p.264", data / "x264_360p.mvc"});
  }
};

TEST_F(X264SamplePair, DecodesToTheFramesOfTheBaseView) {
  const DecodedFrames from_mkv = DecodeFrameHashes(output_);
  const DecodedFrames from_base_view =
      DecodeFrameHashes(fs::path(TANDREL_TEST_DATA) / "x264_360p.264");
  ASSERT_EQ(from_base_view.run.exit_status, 0) << ToolReport(from_base_view.run);
  ASSERT_EQ(from_mkv.run.exit_status, 0) << ToolReport(from_mkv.run);
  EXPECT_EQ(from_mkv.run.standard_error, "");
  ASSERT_FALSE(from_base_view.md5.empty());
  EXPECT_EQ(from_mkv.md5, from_base_view.md5);
}

TEST_F(X264SamplePair, PresentationTimesRiseByOneFrameInDisplayOrder) {
  const FrameTimes times = ProbeFrameTimes(output_);
  ASSERT_EQ(times.run.exit_status, 0) << ToolReport(times.run);
  EXPECT_EQ(times.run.standard_error, "");
  ASSERT_EQ(times.best_effort_ms.size(), expected_blocks_.size());
  for (std::size_t i = 0; i < times.best_effort_ms.size(); ++i) {
    SCOPED_TRACE("frame " + std::to_string(i));
    ASSERT_TRUE(times.best_effort_ms[i].has_value());
    EXPECT_EQ(times.pts_ms[i], times.best_effort_ms[i]);
    if (i > 0) {
      // 1001/24000 s per frame, rounded to whole milliseconds either way.
      const std::int64_t step = *times.best_effort_ms[i] - *times.best_effort_ms[i - 1];
      EXPECT_TRUE(step == 41 || step == 42) << "step " << step << " ms";
    }
  }
}

}  // namespace
}  // namespace tandrel::test
