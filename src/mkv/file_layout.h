// The fixed start of the file and its finish.
//
// Layout: EBML header (40 bytes), Segment ID and 8-byte size (12), with the
// seeking index a SeekHead (68), then Info (19), the Tracks element and the
// clusters in input order, and with the seeking index the Cues. The Segment
// size, the Duration and the SeekHead are patched at the end.
#pragma once

#include <cstdint>

namespace tandrel {

struct MuxState;

inline constexpr uint64_t kSegmentSizeOffset = 44;
inline constexpr uint64_t kSegmentDataOffset = 52;

[[nodiscard]] bool WriteFileHeader(MuxState& state);
// Writes the last cluster and the Cues, patches the Segment size, the
// Duration and the SeekHead, closes the three files and ends the progress line.
[[nodiscard]] bool FinishFile(MuxState& state);

}  // namespace tandrel
