// A strict Matroska reader for tests: parses a whole file into the values that a
// stereo muxer's output is checked against. The file must be an EBML header followed
// by one Segment that ends exactly at the end of the file; structural faults raise
// EbmlFormatError.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "support/ebml_reader.h"

namespace tandrel::test {

struct EbmlHeaderValues {
  std::uint64_t version = 0;
  std::uint64_t read_version = 0;
  std::uint64_t max_id_length = 0;
  std::uint64_t max_size_length = 0;
  std::string doc_type;
  std::uint64_t doc_type_version = 0;
  std::uint64_t doc_type_read_version = 0;
};

struct BlockAdditionMapping {
  std::optional<std::uint64_t> id_type;
  std::vector<std::uint8_t> id_extra_data;
};

struct VideoSettings {
  std::optional<std::uint64_t> pixel_width;
  std::optional<std::uint64_t> pixel_height;
  std::optional<std::uint64_t> display_width;
  std::optional<std::uint64_t> display_height;
  std::optional<std::uint64_t> stereo_mode;
  std::size_t stereo_mode_value_offset = 0;  // file offset of StereoMode's value
};

struct TrackEntry {
  std::optional<std::uint64_t> track_number;
  std::optional<std::uint64_t> track_uid;
  std::optional<std::uint64_t> track_type;
  std::string codec_id;
  std::vector<std::uint8_t> codec_private;
  std::vector<BlockAdditionMapping> block_addition_mappings;
  std::optional<VideoSettings> video;
  std::optional<std::uint64_t> default_duration;
};

struct SimpleBlock {
  std::size_t offset = 0;  // of the SimpleBlock ID
  std::size_t size_width = 0;
  std::uint64_t track_number = 0;
  std::int16_t relative_timecode = 0;
  std::uint8_t flags = 0;
  std::vector<std::uint8_t> payload;  // the frame data after the flags byte
};

struct Cluster {
  std::size_t offset = 0;  // of the Cluster ID
  std::size_t size_width = 0;
  std::optional<std::uint64_t> timecode;
  std::vector<SimpleBlock> blocks;
};

struct SeekEntry {
  std::uint32_t id = 0;        // the element ID named by SeekID
  std::uint64_t position = 0;  // SeekPosition, from the start of the Segment's data
};

struct CuePointEntry {
  std::optional<std::uint64_t> time;
  std::optional<std::uint64_t> track;
  std::optional<std::uint64_t> cluster_position;  // from the start of the Segment's data
};

struct MatroskaFile {
  EbmlHeaderValues ebml;
  std::size_t segment_offset = 0;  // of the Segment ID
  std::size_t segment_size_width = 0;
  std::size_t segment_data_offset = 0;
  std::uint64_t segment_size = 0;
  std::vector<std::uint32_t> segment_children;  // IDs of the Segment's children in file order
  std::optional<std::size_t> seek_head_offset;
  std::vector<SeekEntry> seek_entries;
  std::optional<std::size_t> cues_offset;
  std::vector<CuePointEntry> cue_points;  // one CueTrackPositions each
  std::optional<std::size_t> info_offset;
  std::optional<std::uint64_t> timecode_scale;
  std::optional<double> duration;
  std::optional<std::size_t> tracks_offset;
  std::vector<TrackEntry> tracks;
  std::vector<Cluster> clusters;
};

MatroskaFile ReadMatroska(std::span<const std::uint8_t> file);

}  // namespace tandrel::test
