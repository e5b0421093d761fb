// Cluster and SimpleBlock assembly: one SimpleBlock per stereo access unit,
// built in memory and written one whole cluster at a time. Clusters open at
// access units whose delimiter announces an I picture.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace tandrel {

struct MuxState;

// Cluster header (13 bytes) then the header of the cluster's first block (8).
inline constexpr size_t kClusterHeaderBytes = 13;
inline constexpr size_t kBlockHeaderBytes = 8;
inline constexpr size_t kEmptyClusterFill = kClusterHeaderBytes + kBlockHeaderBytes;
inline constexpr size_t kClusterBufferBytes = size_t{8} << 20;

// Delimiter bytes (primary_pic_type << 5 | stop bit) that steer the blocks.
inline constexpr uint8_t kDelimiterIOnly = 0x10;  // I slices only: opens a cluster
inline constexpr uint8_t kDelimiterIAndP = 0x30;  // I and P slices: not discardable

struct ClusterBuffer {
  // Grows only for a cluster larger than kClusterBufferBytes, then stays so.
  std::vector<uint8_t> bytes;
  size_t cluster_fill = kEmptyClusterFill;
  size_t block_size_pos = kClusterHeaderBytes + 1;  // the block's 3-byte size field
  uint64_t block_bytes = 4;     // track number, timecode and flags, plus the units
  size_t block_size_width = 3;  // bytes of the block's size field; more once widened
  bool block_stamped = false;   // the block being built has its timestamp
  bool cluster_start = true;    // the block being built is the cluster's first
  int32_t cluster_frames = 0;   // index of the block being built in its cluster
  // Extra size bytes the cluster's first block took when it was too large for
  // a 3-byte size; the next cluster's first block header is rebuilt then.
  size_t first_block_widening = 0;
  // Presentation offsets, in clock ticks: the dpb_output_delay of the run's
  // first picture timing message with delays, and the display offset of the
  // current cluster's first block.
  bool have_first_dpb_output_delay = false;
  uint32_t first_dpb_output_delay = 0;
  int64_t cluster_display_offset = 0;
};

// Puts the cluster header and the first block header in place.
void InitClusterBuffer(ClusterBuffer& cluster);

// The operations return false after writing their message when the run must
// end: the output could not be written, or a size does not fit its field.
[[nodiscard]] bool BeginFrame(MuxState& state, uint8_t delimiter_byte);
[[nodiscard]] bool AppendNal(MuxState& state, std::span<const uint8_t> unit);
// Timestamps the block being built from the picture timing message just
// parsed; a block left unstamped is timed by EndFrame from its decode order.
void StampFrame(MuxState& state);
// The block being built holds a reference picture (a slice with nal_ref_idc
// above 0, in either view): it is not discardable whatever its delimiter says.
void MarkReferencePicture(MuxState& state);
[[nodiscard]] bool EndFrame(MuxState& state);
[[nodiscard]] bool FlushCluster(MuxState& state);

}  // namespace tandrel
