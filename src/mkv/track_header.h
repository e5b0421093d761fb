// The codec configuration records and the Tracks element.
//
// The single video track declares V_MPEG4/ISO/AVC. Its CodecPrivate is an
// AVC decoder configuration record (avcC) for the base view with an mvcC box
// appended; the same MVC decoder configuration record is also the extra data
// of a BlockAdditionMapping of type "mvcC". Both are built from the first
// base-view SPS and PPS and the first dependent-view subset SPS and PPS.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "h264/sps_parser.h"

namespace tandrel {

struct MuxState;

inline constexpr PictureSize kDefaultPictureSize{1920, 1080};
inline constexpr uint32_t kDefaultFrameDurationNs = 41708333;  // 24000/1001 fps

struct TrackSettings {
  uint8_t profile_idc = 0;
  uint8_t level_idc = 0;
  PictureSize picture_size = kDefaultPictureSize;
  uint32_t default_duration_ns = kDefaultFrameDurationNs;
  bool right_eye_first = false;
};

struct CodecParameterSets {
  std::vector<uint8_t> saved_sps;            // base view
  std::vector<uint8_t> saved_pps;            // base view
  std::vector<uint8_t> saved_subset_sps;     // dependent view
  std::vector<uint8_t> saved_dependent_pps;  // dependent view
};

struct TrackHeaderState {
  CodecParameterSets parameter_sets;
  TrackSettings settings;
  bool track_header_written = false;
  // Complete, but waiting for the cluster on file to be completed: written
  // inside it, the Tracks element would break the cluster.
  bool track_header_pending = false;
};

// Builds the whole Tracks element into `out`. Returns false when a record is
// too large for the 2-byte size fields of the track header.
[[nodiscard]] bool BuildTrackHeader(const CodecParameterSets& sets, const TrackSettings& settings,
                                    std::vector<uint8_t>& out);

// The DefaultDuration of a frame of two clock ticks, in nanoseconds; the
// 24000/1001 default when the timing gives 0 or does not fit 32 bits.
uint32_t FrameDurationNs(uint32_t num_units_in_tick, uint32_t time_scale);

// Each capture keeps only the first unit of its kind. The track header is
// written once all four are captured; these return false when that write
// fails (message written).
[[nodiscard]] bool CaptureSps(MuxState& state, std::span<const uint8_t> unit);
[[nodiscard]] bool CapturePps(MuxState& state, std::span<const uint8_t> unit);
[[nodiscard]] bool CaptureSubsetSps(MuxState& state, std::span<const uint8_t> unit);
[[nodiscard]] bool CaptureDependentPps(MuxState& state, std::span<const uint8_t> unit);
[[nodiscard]] bool WriteTrackHeader(MuxState& state);
// Writes a track header left pending by WriteTrackHeader; called once the
// open cluster has been completed.
[[nodiscard]] bool WritePendingTrackHeader(MuxState& state);

}  // namespace tandrel
