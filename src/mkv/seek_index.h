// The optional seeking index: a SeekHead at the start of the Segment and Cues
// after the last cluster, with one CuePoint per cluster.
//
// The SeekHead is reserved at a fixed size before Info and filled in at the
// end, when the positions of Tracks and Cues are known; an entry for an
// element the file does not hold becomes part of a Void. Positions count from
// the start of the Segment's data, as Matroska requires.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace tandrel {

struct MuxState;

// SeekHead ID and size (5) and three Seek entries of 21 bytes.
inline constexpr uint64_t kSeekHeadBytes = 68;

struct CuePoint {
  uint64_t cluster_position = 0;  // from the start of the Segment's data
  uint32_t cluster_timecode = 0;  // ms
};

struct SeekIndex {
  bool enabled = false;              // --cues
  std::vector<CuePoint> cue_points;  // one per cluster written
  std::optional<uint64_t> tracks_position;
};

struct SeekPositions {
  uint64_t info = 0;
  std::optional<uint64_t> tracks;
  std::optional<uint64_t> cues;
};

std::array<uint8_t, kSeekHeadBytes> BuildSeekHead(const SeekPositions& positions);

// Writes the Cues element at the current end of the Segment; a file without
// clusters gets none (Matroska requires at least one CuePoint). Returns the
// Cues position, or no position when none was written; false on a failed
// write (reported).
[[nodiscard]] bool WriteCues(MuxState& state, std::optional<uint64_t>& cues_position);

}  // namespace tandrel
