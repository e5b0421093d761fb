// Cluster and SimpleBlock assembly: one SimpleBlock per stereo access unit.
// Clusters open at access units whose delimiter announces an I picture.
//
// Only the block being built is held in memory: it is written out as soon as
// it ends, behind its cluster's header when it is the cluster's first block,
// and the cluster's size is patched in when the next cluster opens or the
// file ends. Memory follows the largest block, not the largest cluster.
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
// Room for a typical stereo access unit of a disc-rate film; a larger block
// grows the buffer, which then stays so.
inline constexpr size_t kBlockBufferBytes = size_t{2} << 20;

// Delimiter bytes (primary_pic_type << 5 | stop bit) that steer the blocks.
inline constexpr uint8_t kDelimiterIOnly = 0x10;  // I slices only: opens a cluster
inline constexpr uint8_t kDelimiterIAndP = 0x30;  // I and P slices: not discardable

struct ClusterBuffer {
  // The block being built, from bytes[0]; when it opens a cluster, the
  // cluster header comes first and the block follows at kClusterHeaderBytes.
  std::vector<uint8_t> bytes;
  size_t fill = kEmptyClusterFill;
  size_t block_size_pos = kClusterHeaderBytes + 1;  // the block's size field
  uint64_t block_bytes = 4;     // track number, timecode and flags, plus the units
  size_t block_size_width = 3;  // bytes of the block's size field; more once widened
  bool block_open = true;       // a block is being built (at start, the pre-set one)
  bool block_stamped = false;   // the block being built has its timestamp
  bool cluster_start = true;    // the block being built is the cluster's first
  int32_t cluster_frames = 0;   // index of the block being built in its cluster
  // The cluster written so far: where it starts in the Segment's data, its
  // bytes on file (0 while none is open) and its timecode in ms.
  uint64_t cluster_position = 0;
  uint64_t cluster_written = 0;
  uint32_t cluster_timecode = 0;
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
// Units met between the end of one frame and the next delimiter (a malformed
// stream) form a block of their own.
[[nodiscard]] bool AppendNal(MuxState& state, std::span<const uint8_t> unit);
// Timestamps the block being built from the picture timing message just
// parsed; a block left unstamped is timed by EndFrame from its decode order.
void StampFrame(MuxState& state);
// The block being built holds a reference picture (a slice with nal_ref_idc
// above 0, in either view): it is not discardable whatever its delimiter says.
void MarkReferencePicture(MuxState& state);
// Ends the block being built and writes it out.
[[nodiscard]] bool EndFrame(MuxState& state);
// Completes the open cluster: patches its size and indexes it.
[[nodiscard]] bool FlushCluster(MuxState& state);

}  // namespace tandrel
