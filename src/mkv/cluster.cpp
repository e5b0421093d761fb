#include "mkv/cluster.h"

#include <algorithm>
#include <cstring>

#include "app/mux_state.h"
#include "mkv/ebml_vint.h"
#include "mkv/file_layout.h"
#include "mkv/output_file.h"
#include "mkv/timestamps.h"
#include "mkv/track_header.h"

namespace tandrel {
namespace {

constexpr uint8_t kClusterHeaderTemplate[kClusterHeaderBytes] = {
    0x1F, 0x43, 0xB6, 0x75,  // Cluster
    0xFF, 0xFF, 0xFF, 0xFF,  // size, 4 bytes, patched when the cluster closes
    0xE7, 0x83,              // Timecode, 3 bytes
    0xFF, 0xFF, 0xFF,        // cluster timecode in ms, set by StampFrame
};

constexpr uint8_t kBlockHeaderTemplate[kBlockHeaderBytes] = {
    0xA3,              // SimpleBlock
    0xFF, 0xFF, 0xFF,  // size, 3 bytes, set by EndFrame
    0x81,              // track number 1
    0xFF, 0xFF,        // relative timecode in ms, set by StampFrame
    0x80,              // flags: keyframe
};

constexpr size_t kClusterTimecodePos = 10;
constexpr size_t kFirstBlockPos = kClusterHeaderBytes;
constexpr size_t kFirstBlockFlagsPos = kFirstBlockPos + kBlockHeaderBytes - 1;
constexpr size_t kBlockSizeWidth = 3;
constexpr size_t kClusterSizeWidth = 4;
// A cluster's size counts everything after its ID and 4-byte size field.
constexpr size_t kClusterSizeOverhead = 8;
// Largest value a 4-byte EBML size holds.
constexpr uint64_t kMaxClusterSize = (uint64_t{1} << 28) - 2;

constexpr uint8_t kFlagsKeyframe = 0x80;
constexpr uint8_t kFlagsPlain = 0x00;
constexpr uint8_t kFlagsDiscardable = 0x01;
// Units outside any access unit are treated as a frame without a delimiter.
constexpr uint8_t kNoDelimiter = 0x00;

uint8_t BlockFlags(uint8_t delimiter_byte) {
  if (delimiter_byte == kDelimiterIOnly) return kFlagsKeyframe;
  if (delimiter_byte == kDelimiterIAndP) return kFlagsPlain;
  return kFlagsDiscardable;
}

void PutBigEndian(uint8_t* at, uint64_t value, size_t width) {
  for (size_t i = width; i-- > 0;) {
    at[i] = static_cast<uint8_t>(value);
    value >>= 8;
  }
}

// Makes room for a block of `needed` bytes. The buffer grows only for an
// outsized block; one that would take its cluster beyond what a 4-byte size
// can describe ends the run.
bool Reserve(MuxState& state, size_t needed) {
  ClusterBuffer& c = state.cluster;
  if (needed <= c.bytes.size()) return true;
  if (c.cluster_written + needed - kClusterSizeOverhead > kMaxClusterSize) {
    ReportSizeTooLarge(state);
    return false;
  }
  c.bytes.resize(std::max(needed, c.bytes.size() * 2));
  return true;
}

// Lays the header of a new block, behind a new cluster header when the
// delimiter announces an I picture.
void OpenBlock(ClusterBuffer& c, uint8_t delimiter_byte) {
  if (delimiter_byte == kDelimiterIOnly) {
    std::memcpy(c.bytes.data(), kClusterHeaderTemplate, kClusterHeaderBytes);
    c.fill = kClusterHeaderBytes;
    c.cluster_frames = 0;
    c.cluster_start = true;
  } else {
    c.fill = 0;
    c.cluster_frames += 1;
    c.cluster_start = false;
  }
  uint8_t* header = c.bytes.data() + c.fill;
  std::memcpy(header, kBlockHeaderTemplate, kBlockHeaderBytes);
  header[kBlockHeaderBytes - 1] = BlockFlags(delimiter_byte);
  c.fill += kBlockHeaderBytes;
  c.block_size_pos = c.fill - kBlockHeaderBytes + 1;
  c.block_size_width = kBlockSizeWidth;
  c.block_stamped = false;
  c.block_bytes = 4;
  c.block_open = true;
}

}  // namespace

void InitClusterBuffer(ClusterBuffer& cluster) {
  cluster = ClusterBuffer{};
  cluster.bytes.resize(kBlockBufferBytes);
  std::memcpy(cluster.bytes.data(), kClusterHeaderTemplate, kClusterHeaderBytes);
  std::memcpy(cluster.bytes.data() + kFirstBlockPos, kBlockHeaderTemplate, kBlockHeaderBytes);
}

bool BeginFrame(MuxState& state, uint8_t delimiter_byte) {
  ClusterBuffer& c = state.cluster;
  if (state.total_frames == 0 && c.cluster_frames == 0 && c.block_open) {
    // The run's first delimiter: the block set up at start-up is this frame's
    // block, whatever the picture type, so that it never stays empty and
    // unsized. Units met before the delimiter stay in it.
    c.bytes[kFirstBlockFlagsPos] = BlockFlags(delimiter_byte);
    return true;
  }
  if (c.block_open && !EndFrame(state)) return false;  // a frame left open
  if (delimiter_byte == kDelimiterIOnly && !FlushCluster(state)) return false;
  OpenBlock(c, delimiter_byte);
  return true;
}

namespace {

bool EnsureBlockOpen(MuxState& state) {
  if (state.cluster.block_open) return true;
  return BeginFrame(state, kNoDelimiter);
}

}  // namespace

bool AppendNal(MuxState& state, std::span<const uint8_t> unit) {
  if (!EnsureBlockOpen(state)) return false;
  ClusterBuffer& c = state.cluster;
  const size_t needed = c.fill + 4 + unit.size();
  if (needed > c.bytes.size() && !Reserve(state, needed)) return false;
  uint8_t* at = c.bytes.data() + c.fill;
  PutBigEndian(at, unit.size(), 4);
  std::memcpy(at + 4, unit.data(), unit.size());
  c.fill = needed;
  c.block_bytes += 4 + unit.size();
  return true;
}

namespace {

// Writes the timestamps of the block being built: the cluster's first block
// sets the cluster timecode, every further block its offset from it. A block
// is shown `display_offset` ticks after its decode time, two ticks a frame.
void StampBlock(MuxState& state, int64_t display_offset) {
  ClusterBuffer& c = state.cluster;
  uint8_t* block_timecode = c.bytes.data() + c.block_size_pos + c.block_size_width + 1;
  if (c.cluster_start) {
    const int64_t ticks = 2 * int64_t{state.total_frames} + display_offset;
    c.cluster_timecode = static_cast<uint32_t>(TicksToMs(state.frame_factor, ticks)) & 0xFFFFFF;
    PutBigEndian(c.bytes.data() + kClusterTimecodePos, c.cluster_timecode, 3);
    PutBigEndian(block_timecode, 0, 2);
    c.cluster_display_offset = display_offset;
  } else {
    const int64_t ticks = 2 * int64_t{c.cluster_frames} + display_offset - c.cluster_display_offset;
    PutBigEndian(block_timecode, static_cast<uint64_t>(TicksToMs(state.frame_factor, ticks)), 2);
  }
  c.block_stamped = true;
}

}  // namespace

void StampFrame(MuxState& state) {
  // Only a stream that lost its delimiter leaves no block open here; the
  // output failure such a block might meet is reported when it is written.
  if (!EnsureBlockOpen(state)) return;
  ClusterBuffer& c = state.cluster;
  const PicTimingInfo& timing = state.pic_timing;
  // A picture is output dpb_output_delay ticks after it is decoded, so its
  // display offset from decode order is its delay less the first one's.
  int64_t display_offset = 0;
  if (timing.cpb_dpb_delays_present_flag != 0) {
    if (!c.have_first_dpb_output_delay) {
      c.have_first_dpb_output_delay = true;
      c.first_dpb_output_delay = timing.dpb_output_delay;
    }
    display_offset = int64_t{timing.dpb_output_delay} - int64_t{c.first_dpb_output_delay};
  }
  StampBlock(state, display_offset);
}

void MarkReferencePicture(MuxState& state) {
  if (!EnsureBlockOpen(state)) return;
  ClusterBuffer& c = state.cluster;
  // The flags follow the size field, the track number and the timecode.
  c.bytes[c.block_size_pos + c.block_size_width + 3] &= static_cast<uint8_t>(~kFlagsDiscardable);
}

bool EndFrame(MuxState& state) {
  if (!EnsureBlockOpen(state)) return false;
  ClusterBuffer& c = state.cluster;
  // A frame without a picture timing message is timed by its decode order.
  if (!c.block_stamped) StampBlock(state, 0);
  // A block too large for its size field gets the width it needs, and its
  // data moves up to make room.
  const int needed = ShortestVintWidth(c.block_bytes);
  VintBuffer size;
  if (needed == 0 ||
      !EncodeVint(c.block_bytes, std::max(needed, static_cast<int>(c.block_size_width)), size)) {
    ReportSizeTooLarge(state);
    return false;
  }
  const size_t width = static_cast<size_t>(size.length);
  const size_t extra = width - c.block_size_width;
  if (extra > 0) {
    if (!Reserve(state, c.fill + extra)) return false;
    uint8_t* data = c.bytes.data() + c.block_size_pos + c.block_size_width;
    std::memmove(data + extra, data, c.fill - (c.block_size_pos + c.block_size_width));
    c.fill += extra;
    c.block_size_width = width;
  }
  std::memcpy(c.bytes.data() + c.block_size_pos, size.bytes, width);
  if (c.cluster_written + c.fill - kClusterSizeOverhead > kMaxClusterSize) {
    ReportSizeTooLarge(state);
    return false;
  }
  if (c.cluster_start) c.cluster_position = state.segment_bytes;
  if (!WriteOutput(state, {c.bytes.data(), c.fill})) return false;
  state.segment_bytes += c.fill;
  c.cluster_written += c.fill;
  c.fill = 0;
  c.block_open = false;
  state.total_frames += 1;
  return true;
}

bool FlushCluster(MuxState& state) {
  ClusterBuffer& c = state.cluster;
  if (c.cluster_written == 0) return true;
  VintBuffer size;
  if (!EncodeVint(c.cluster_written - kClusterSizeOverhead, kClusterSizeWidth, size)) {
    ReportSizeTooLarge(state);
    return false;
  }
  const uint64_t size_offset = kSegmentDataOffset + c.cluster_position + 4;
  if (!PatchOutput(state, size_offset, {size.bytes, kClusterSizeWidth})) return false;
  if (state.seek_index.enabled) {
    state.seek_index.cue_points.push_back({c.cluster_position, c.cluster_timecode});
  }
  c.cluster_written = 0;
  return WritePendingTrackHeader(state);
}

}  // namespace tandrel
