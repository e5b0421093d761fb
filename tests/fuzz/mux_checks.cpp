#include "mux_checks.h"

#include <algorithm>
#include <cstddef>
#include <iterator>
#include <optional>
#include <utility>
#include <vector>

#include "fuzz_check.h"
#include "input/nal_reader.h"
#include "support/annex_b_oracle.h"
#include "support/ebml_reader.h"
#include "support/matroska_ids.h"
#include "support/mkv_reader.h"

namespace tandrel::fuzz {
namespace {

using test::Bytes;

constexpr uint8_t kEndOfSequenceHeader = 0x0A;
// Parameter sets up to this size always fit the 2-byte sizes of the track
// header, which holds each of the four at most twice.
constexpr size_t kSmallParameterSet = 1024;
constexpr size_t kLengthPrefixBytes = 4;
// avcC: version, profile, compatibility, level, length size, SPS count.
constexpr size_t kAvcRecordHead = 6;
// mvcC: version, profile, compatibility, level, length size.
constexpr size_t kMvcRecordHead = 5;
constexpr uint64_t kStereoModeLeftFirst = 13;
constexpr uint64_t kStereoModeRightFirst = 14;

// The EBML header and the Segment ID, then the Segment's 8-byte size.
constexpr size_t kSegmentSizeOffset = 44;
constexpr size_t kSegmentDataOffset = 52;
constexpr size_t kSeekHeadBytes = 68;

struct Views {
  std::vector<Bytes> base;
  std::vector<Bytes> dependent;
};

Views Split(std::span<const uint8_t> base, std::span<const uint8_t> dependent) {
  return {test::SplitNalUnits(base), test::SplitNalUnits(dependent)};
}

// A block as written: its units split at their length prefixes.
struct WrittenBlock {
  std::vector<Bytes> units;
  const std::vector<uint8_t>* payload = nullptr;
  uint8_t flags = 0;
  bool opens_cluster = false;
};

bool IsType(const Bytes& unit, uint8_t type) { return test::NalUnitType(unit) == type; }

bool IsBaseSlice(const Bytes& unit) {
  return IsType(unit, test::kNalSlice) || IsType(unit, test::kNalIdrSlice);
}

bool IsSliceExtension(const Bytes& unit) { return IsType(unit, test::kNalSliceExtension); }

bool IsParameterSet(const Bytes& unit) {
  return IsType(unit, test::kNalSps) || IsType(unit, test::kNalPps) ||
         IsType(unit, test::kNalSubsetSps);
}

bool HoldsEndOfSequence(const std::vector<Bytes>& units) {
  return std::ranges::any_of(units,
                             [](const Bytes& unit) { return unit[0] == kEndOfSequenceHeader; });
}

// The muxer ends an access unit at a delimiter only once the access unit
// holds a slice of its view; a delimiter before that stays in the access unit
// begun. The reference model opens an access unit at every delimiter and puts
// the units before the first one into the first. The two agree when the units
// before the first delimiter hold no slice and every access unit holds one
// (the last one may go without when `last_may_lack_slice`).
template <typename IsSlice>
bool DelimitsAsTheModel(const std::vector<Bytes>& units, uint8_t delimiter_type, IsSlice is_slice,
                        bool last_may_lack_slice) {
  std::vector<bool> holds_slice = {
      false};  // the units before the first delimiter, then each access unit
  for (const Bytes& unit : units) {
    if (IsType(unit, delimiter_type)) {
      holds_slice.push_back(false);
    } else if (is_slice(unit)) {
      holds_slice.back() = true;
    }
  }
  if (holds_slice.size() == 1) return holds_slice[0] || last_may_lack_slice;
  if (holds_slice[0]) return false;
  const size_t must_hold = last_may_lack_slice ? holds_slice.size() - 1 : holds_slice.size();
  return std::all_of(holds_slice.begin() + 1, holds_slice.begin() + static_cast<long>(must_hold),
                     [](bool holds) { return holds; });
}

// Inputs for which the muxer's blocks are the reference model's, one for one.
// A run without base-view units still writes a block for dependent-view units
// before its first delimiter, which the model has no block for.
bool GroupsAsTheModel(const Views& views) {
  if (views.base.empty()) return false;
  if (HoldsEndOfSequence(views.base) || HoldsEndOfSequence(views.dependent)) return false;
  return DelimitsAsTheModel(views.base, test::kNalAccessUnitDelimiter, IsBaseSlice, false) &&
         DelimitsAsTheModel(views.dependent, test::kNalDependentDelimiter, IsSliceExtension, true);
}

std::vector<Bytes> PayloadUnits(const std::vector<uint8_t>& payload, size_t block) {
  std::vector<Bytes> units;
  size_t pos = 0;
  while (pos < payload.size()) {
    FUZZ_CHECK(payload.size() - pos >= kLengthPrefixBytes,
               "block %zu: a length prefix at %zu is cut off", block, pos);
    size_t length = 0;
    for (size_t i = 0; i < kLengthPrefixBytes; ++i) length = length << 8 | payload[pos + i];
    pos += kLengthPrefixBytes;
    FUZZ_CHECK(length >= 1 && length <= payload.size() - pos,
               "block %zu: a unit of %zu bytes at %zu does not fit the block", block, length, pos);
    units.emplace_back(payload.begin() + static_cast<long>(pos),
                       payload.begin() + static_cast<long>(pos + length));
    pos += length;
  }
  return units;
}

std::vector<WrittenBlock> CheckLayout(const test::MatroskaFile& file, const MuxOptions& options) {
  FUZZ_CHECK(file.ebml.doc_type == "matroska", "doc type %s", file.ebml.doc_type.c_str());
  FUZZ_CHECK(file.tracks.size() <= 1, "%zu tracks", file.tracks.size());
  if (!file.tracks.empty()) {
    const uint64_t stereo_mode =
        options.right_eye_first ? kStereoModeRightFirst : kStereoModeLeftFirst;
    FUZZ_CHECK(file.tracks[0].video && file.tracks[0].video->stereo_mode == stereo_mode,
               "StereoMode is not %llu", static_cast<unsigned long long>(stereo_mode));
  }
  std::vector<WrittenBlock> blocks;
  for (size_t c = 0; c < file.clusters.size(); ++c) {
    const test::Cluster& cluster = file.clusters[c];
    FUZZ_CHECK(cluster.timecode.has_value() && !cluster.blocks.empty(),
               "cluster %zu lacks its timecode or a block", c);
    // The cluster timecode is the first block's time.
    FUZZ_CHECK(cluster.blocks[0].relative_timecode == 0,
               "cluster %zu: its first block is %d ms off", c, cluster.blocks[0].relative_timecode);
    for (size_t b = 0; b < cluster.blocks.size(); ++b) {
      const test::SimpleBlock& block = cluster.blocks[b];
      FUZZ_CHECK(block.track_number == 1, "block on track %llu",
                 static_cast<unsigned long long>(block.track_number));
      blocks.push_back(
          {PayloadUnits(block.payload, blocks.size()), &block.payload, block.flags, b == 0});
    }
  }
  return blocks;
}

// The SeekHead opens the Segment and names Info, Tracks (when written) and
// Cues (when written, which is when there is a cluster); the Cues close the
// Segment with one point per cluster, at its position and timecode.
void CheckSeekIndex(const test::MatroskaFile& file, const MuxOptions& options) {
  if (!options.cues) {
    FUZZ_CHECK(!file.seek_head_offset && !file.cues_offset, "an index without --cues");
    return;
  }
  FUZZ_CHECK(!file.segment_children.empty() && file.segment_children.front() == test::id::kSeekHead,
             "the Segment does not open with a SeekHead");
  FUZZ_CHECK(file.cues_offset.has_value() == !file.clusters.empty(), "Cues %s, %zu clusters",
             file.cues_offset ? "written" : "missing", file.clusters.size());
  const size_t data = file.segment_data_offset;
  std::vector<std::pair<uint32_t, uint64_t>> expected_seeks = {
      {test::id::kInfo, *file.info_offset - data}};
  if (file.tracks_offset)
    expected_seeks.emplace_back(test::id::kTracks, *file.tracks_offset - data);
  if (file.cues_offset) expected_seeks.emplace_back(test::id::kCues, *file.cues_offset - data);
  std::vector<std::pair<uint32_t, uint64_t>> seeks;
  for (const test::SeekEntry& entry : file.seek_entries)
    seeks.emplace_back(entry.id, entry.position);
  FUZZ_CHECK(seeks == expected_seeks,
             "the SeekHead has %zu entries, %zu expected, or wrong positions", seeks.size(),
             expected_seeks.size());
  if (!file.cues_offset) return;

  FUZZ_CHECK(file.segment_children.back() == test::id::kCues,
             "the Cues are not the Segment's last element");
  FUZZ_CHECK(file.cue_points.size() == file.clusters.size(), "%zu cue points for %zu clusters",
             file.cue_points.size(), file.clusters.size());
  for (size_t i = 0; i < file.clusters.size(); ++i) {
    const test::CuePointEntry& cue = file.cue_points[i];
    FUZZ_CHECK(cue.time == file.clusters[i].timecode && cue.track == 1u && cue.cluster_position &&
                   data + *cue.cluster_position == file.clusters[i].offset,
               "cue point %zu does not point at cluster %zu", i, i);
  }
}

template <typename Keep>
std::vector<Bytes> Filtered(const std::vector<Bytes>& units, Keep keep) {
  std::vector<Bytes> kept;
  std::ranges::copy_if(units, std::back_inserter(kept), keep);
  return kept;
}

size_t FirstDifference(const std::vector<Bytes>& a, const std::vector<Bytes>& b) {
  const size_t common = std::min(a.size(), b.size());
  return static_cast<size_t>(
      std::mismatch(a.begin(), a.begin() + static_cast<long>(common), b.begin()).first - a.begin());
}

// Whatever the grouping, the blocks hold every unit the base view keeps, in
// order, and the units the dependent view keeps, in order, up to where the
// run stopped reading it. PPS units are kept by both views and are counted.
void CheckUnitsInOrder(const Views& views, const std::vector<WrittenBlock>& blocks) {
  const auto base_only = [](const Bytes& unit) {
    return test::IsKeptInBaseView(unit) && !test::IsKeptInDependentView(unit);
  };
  const auto dependent_only = [](const Bytes& unit) {
    return test::IsKeptInDependentView(unit) && !test::IsKeptInBaseView(unit);
  };
  const auto pps = [](const Bytes& unit) { return IsType(unit, test::kNalPps); };

  std::vector<Bytes> written;
  for (size_t b = 0; b < blocks.size(); ++b) {
    for (const Bytes& unit : blocks[b].units) {
      FUZZ_CHECK(test::IsKeptInBaseView(unit) || test::IsKeptInDependentView(unit),
                 "block %zu holds a unit of type %u, which no view keeps", b, unit[0] & 0x1Fu);
      written.push_back(unit);
    }
  }
  const std::vector<Bytes> written_base = Filtered(written, base_only);
  const std::vector<Bytes> expected_base = Filtered(views.base, base_only);
  FUZZ_CHECK(written_base == expected_base,
             "base view: %zu units written, %zu expected, first difference at %zu",
             written_base.size(), expected_base.size(),
             FirstDifference(written_base, expected_base));
  const std::vector<Bytes> written_dependent = Filtered(written, dependent_only);
  const std::vector<Bytes> expected_dependent = Filtered(views.dependent, dependent_only);
  const size_t same = FirstDifference(written_dependent, expected_dependent);
  FUZZ_CHECK(same == written_dependent.size(),
             "dependent view: %zu units written, %zu in the input, first difference at %zu",
             written_dependent.size(), expected_dependent.size(), same);
  const auto written_pps = static_cast<size_t>(std::ranges::count_if(written, pps));
  const auto base_pps = static_cast<size_t>(std::ranges::count_if(views.base, pps));
  const auto dependent_pps = static_cast<size_t>(std::ranges::count_if(views.dependent, pps));
  FUZZ_CHECK(written_pps >= base_pps && written_pps <= base_pps + dependent_pps,
             "%zu PPS written, %zu in the base view, %zu in the dependent view", written_pps,
             base_pps, dependent_pps);
}

void CheckBlocks(std::span<const uint8_t> base, std::span<const uint8_t> dependent,
                 const Views& views, const std::vector<WrittenBlock>& blocks) {
  const std::vector<test::ExpectedBlock> expected = test::ExpectStereoBlocks(base, dependent);
  FUZZ_CHECK(blocks.size() == expected.size(), "%zu blocks written, the model has %zu",
             blocks.size(), expected.size());
  // A delimiter without its payload byte has no picture type: the muxer
  // treats it as a non-I picture, the model as a keyframe. Flags are compared
  // only where every delimiter carries one.
  const bool picture_types_known = std::ranges::all_of(views.base, [](const Bytes& unit) {
    return !IsType(unit, test::kNalAccessUnitDelimiter) || unit.size() >= 2;
  });
  for (size_t i = 0; i < blocks.size(); ++i) {
    FUZZ_CHECK(*blocks[i].payload == expected[i].payload,
               "block %zu: %zu payload bytes written, the model has %zu, units %zu", i,
               blocks[i].payload->size(), expected[i].payload.size(), blocks[i].units.size());
    FUZZ_CHECK(blocks[i].opens_cluster == expected[i].opens_cluster,
               "block %zu: %s a cluster, the model %s", i,
               blocks[i].opens_cluster ? "opens" : "does not open",
               expected[i].opens_cluster ? "opens one" : "does not");
    if (picture_types_known) {
      FUZZ_CHECK(blocks[i].flags == expected[i].flags, "block %zu: flags 0x%02X, the model 0x%02X",
                 i, blocks[i].flags, expected[i].flags);
    }
  }
}

void PutParameterSet(Bytes& out, const Bytes& unit) {
  out.push_back(static_cast<uint8_t>(unit.size() >> 8));
  out.push_back(static_cast<uint8_t>(unit.size()));
  out.insert(out.end(), unit.begin(), unit.end());
}

bool HoldsAt(const std::vector<uint8_t>& bytes, size_t offset, const Bytes& part) {
  return bytes.size() >= offset && bytes.size() - offset >= part.size() &&
         std::equal(part.begin(), part.end(), bytes.begin() + static_cast<long>(offset));
}

// The track header is written once the first SPS and PPS of the base view and
// the first subset SPS and PPS of the dependent view (as far as the run read
// it) have all been met, and its records carry exactly those.
void CheckTrack(const Views& views, const test::MatroskaFile& file) {
  const size_t base_access_units =
      test::GroupAccessUnits(views.base, test::kNalAccessUnitDelimiter).size();
  const std::vector<test::AccessUnit> dependent_access_units =
      test::GroupAccessUnits(views.dependent, test::kNalDependentDelimiter);
  std::vector<Bytes> dependent_read;
  for (size_t i = 0; i < std::min(base_access_units, dependent_access_units.size()); ++i) {
    const std::vector<Bytes>& units = dependent_access_units[i].units;
    dependent_read.insert(dependent_read.end(), units.begin(), units.end());
  }
  const std::optional<Bytes> sps = test::FirstUnitOfType(views.base, test::kNalSps);
  const std::optional<Bytes> pps = test::FirstUnitOfType(views.base, test::kNalPps);
  const std::optional<Bytes> subset_sps =
      test::FirstUnitOfType(dependent_read, test::kNalSubsetSps);
  const std::optional<Bytes> dependent_pps = test::FirstUnitOfType(dependent_read, test::kNalPps);
  const bool all_met = sps && pps && subset_sps && dependent_pps;
  FUZZ_CHECK(file.tracks.size() == (all_met ? 1u : 0u), "%zu tracks, parameter sets %s",
             file.tracks.size(), all_met ? "all met" : "missing");
  if (!all_met) return;

  const test::TrackEntry& track = file.tracks[0];
  Bytes avc_sets;
  PutParameterSet(avc_sets, *sps);
  avc_sets.push_back(1);  // PPS count
  PutParameterSet(avc_sets, *pps);
  FUZZ_CHECK(HoldsAt(track.codec_private, kAvcRecordHead, avc_sets),
             "CodecPrivate does not carry the first SPS and PPS");

  Bytes mvc_sets = {2};  // SPS count: base SPS, subset SPS
  PutParameterSet(mvc_sets, *sps);
  PutParameterSet(mvc_sets, *subset_sps);
  mvc_sets.push_back(2);  // PPS count: base and dependent PPS
  PutParameterSet(mvc_sets, *pps);
  PutParameterSet(mvc_sets, *dependent_pps);
  FUZZ_CHECK(track.block_addition_mappings.size() == 1, "%zu BlockAdditionMappings",
             track.block_addition_mappings.size());
  const std::vector<uint8_t>& record = track.block_addition_mappings[0].id_extra_data;
  FUZZ_CHECK(record.size() == kMvcRecordHead + mvc_sets.size() &&
                 HoldsAt(record, kMvcRecordHead, mvc_sets),
             "the mvcC record does not carry the first parameter sets of both views");
}

}  // namespace

bool MustComplete(std::span<const uint8_t> base, std::span<const uint8_t> dependent) {
  const Views views = Split(base, dependent);
  const auto accepted = [](NalKind delimiter_of_the_other_view) {
    return [delimiter_of_the_other_view](const Bytes& unit) {
      const NalKind kind = ClassifyNal(unit);
      return kind != NalKind::Unknown && kind != delimiter_of_the_other_view &&
             (!IsParameterSet(unit) || unit.size() <= kSmallParameterSet);
    };
  };
  return std::ranges::all_of(views.base, accepted(NalKind::DependentDelimiter)) &&
         std::ranges::all_of(views.dependent, accepted(NalKind::AccessUnitDelimiter));
}

bool IsIndependentOfLoadSize(std::span<const uint8_t> base, std::span<const uint8_t> dependent) {
  const Views views = Split(base, dependent);
  return !HoldsEndOfSequence(views.base) && !HoldsEndOfSequence(views.dependent);
}

void CheckMuxOutput(std::span<const uint8_t> base, std::span<const uint8_t> dependent,
                    const MuxOptions& options, std::span<const uint8_t> output) {
  test::MatroskaFile file;
  try {
    file = test::ReadMatroska(output);
  } catch (const test::EbmlFormatError& error) {
    FUZZ_CHECK(false, "the output is no whole Matroska file: %s", error.what());
  }
  const Views views = Split(base, dependent);
  const std::vector<WrittenBlock> blocks = CheckLayout(file, options);
  CheckSeekIndex(file, options);
  CheckUnitsInOrder(views, blocks);
  if (GroupsAsTheModel(views)) {
    CheckBlocks(base, dependent, views, blocks);
    CheckTrack(views, file);
  }
}

void CheckIndexOnlyAdds(std::span<const uint8_t> plain, std::span<const uint8_t> indexed,
                        bool completed) {
  // A run that did not complete leaves both Segment sizes unpatched and writes no Cues.
  const size_t compared = plain.size() > kSegmentDataOffset ? plain.size() - kSegmentDataOffset : 0;
  const size_t head = completed ? kSegmentSizeOffset : kSegmentDataOffset;
  const bool same =
      plain.size() >= head && indexed.size() >= kSegmentDataOffset + kSeekHeadBytes + compared &&
      std::equal(plain.begin(), plain.begin() + static_cast<long>(head), indexed.begin()) &&
      std::equal(plain.begin() + kSegmentDataOffset, plain.end(),
                 indexed.begin() + kSegmentDataOffset + kSeekHeadBytes);
  FUZZ_CHECK(same,
             "the file made with --cues (%zu bytes) is not the one made without (%zu bytes) "
             "with a SeekHead",
             indexed.size(), plain.size());
  if (!completed) {
    FUZZ_CHECK(indexed.size() == plain.size() + kSeekHeadBytes,
               "a run that did not complete wrote %zu bytes with --cues, %zu without",
               indexed.size(), plain.size());
  }
}

}  // namespace tandrel::fuzz
