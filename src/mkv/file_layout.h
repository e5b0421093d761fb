// The fixed start of the file and its finish.
//
// Layout: EBML header (40 bytes), Segment ID and 8-byte size (12), Info (19),
// then the Tracks element and the clusters in input order. The Segment size
// (offset 44) and the Duration (offset 67) are patched at the end.
#pragma once

#include <cstdint>

namespace tandrel {

struct MuxState;

inline constexpr uint64_t kSegmentSizeOffset = 44;
inline constexpr uint64_t kDurationOffset = 67;
inline constexpr uint64_t kSegmentDataOffset = 52;

[[nodiscard]] bool WriteFileHeader(MuxState& state);
// Writes the last cluster, patches the Segment size and the Duration, closes
// the three files and ends the progress line.
[[nodiscard]] bool FinishFile(MuxState& state);

}  // namespace tandrel
