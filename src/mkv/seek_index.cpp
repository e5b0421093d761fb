#include "mkv/seek_index.h"

#include <cstring>

#include "app/mux_state.h"
#include "mkv/ebml_vint.h"
#include "mkv/output_file.h"

namespace tandrel {
namespace {

constexpr uint8_t kInfoId[] = {0x15, 0x49, 0xA9, 0x66};
constexpr uint8_t kTracksId[] = {0x16, 0x54, 0xAE, 0x6B};
constexpr uint8_t kCuesId[] = {0x1C, 0x53, 0xBB, 0x6B};

constexpr size_t kSeekEntryBytes = 21;
constexpr uint8_t kSeekHeadHeader[] = {0x11, 0x4D, 0x9B, 0x74, 0x80};  // SeekHead, size set below
constexpr uint8_t kVoidId = 0xEC;

// Seek { SeekID (4-byte element ID), SeekPosition (8-byte unsigned) }.
void PutSeekEntry(uint8_t* at, const uint8_t (&element_id)[4], uint64_t position) {
  const uint8_t head[] = {0x4D, 0xBB, 0x92, 0x53, 0xAB, 0x84};  // Seek size 18, SeekID size 4
  std::memcpy(at, head, sizeof head);
  std::memcpy(at + 6, element_id, 4);
  at[10] = 0x53;  // SeekPosition, size 8
  at[11] = 0xAC;
  at[12] = 0x88;
  for (int i = 0; i < 8; ++i) at[13 + i] = static_cast<uint8_t>(position >> (56 - 8 * i));
}

// Bytes of an unsigned integer element value: the fewest that hold it, at least one.
unsigned UintWidth(uint64_t value) {
  unsigned width = 1;
  while (width < 8 && (value >> (8 * width)) != 0) ++width;
  return width;
}

// CuePoint { CueTime, CueTrackPositions { CueTrack 1, CueClusterPosition } }.
// Every size here is below 127 and takes one byte.
struct CuePointBytes {
  uint8_t bytes[32] = {};
  size_t length = 0;
};

CuePointBytes EncodeCuePoint(const CuePoint& point) {
  const unsigned time_width = UintWidth(point.cluster_timecode);
  const unsigned position_width = UintWidth(point.cluster_position);
  const auto positions_size = static_cast<uint8_t>(3 + 2 + position_width);
  const auto point_size = static_cast<uint8_t>(2 + time_width + 2 + positions_size);
  CuePointBytes out;
  auto put = [&out](uint64_t byte) { out.bytes[out.length++] = static_cast<uint8_t>(byte); };
  put(0xBB);  // CuePoint
  put(0x80 | point_size);
  put(0xB3);  // CueTime
  put(0x80 | time_width);
  for (unsigned i = time_width; i-- > 0;) put(point.cluster_timecode >> (8 * i));
  put(0xB7);  // CueTrackPositions
  put(0x80 | positions_size);
  put(0xF7);  // CueTrack 1
  put(0x81);
  put(0x01);
  put(0xF1);  // CueClusterPosition
  put(0x80 | position_width);
  for (unsigned i = position_width; i-- > 0;) put(point.cluster_position >> (8 * i));
  return out;
}

}  // namespace

std::array<uint8_t, kSeekHeadBytes> BuildSeekHead(const SeekPositions& positions) {
  std::array<uint8_t, kSeekHeadBytes> head{};
  size_t fill = sizeof kSeekHeadHeader;
  PutSeekEntry(head.data() + fill, kInfoId, positions.info);
  fill += kSeekEntryBytes;
  if (positions.tracks) {
    PutSeekEntry(head.data() + fill, kTracksId, *positions.tracks);
    fill += kSeekEntryBytes;
  }
  if (positions.cues) {
    PutSeekEntry(head.data() + fill, kCuesId, *positions.cues);
    fill += kSeekEntryBytes;
  }
  std::memcpy(head.data(), kSeekHeadHeader, sizeof kSeekHeadHeader);
  head[4] = static_cast<uint8_t>(0x80 | (fill - sizeof kSeekHeadHeader));
  if (fill < kSeekHeadBytes) {
    // The unused entries become one Void (ID, 1-byte size, zeros).
    head[fill] = kVoidId;
    head[fill + 1] = static_cast<uint8_t>(0x80 | (kSeekHeadBytes - fill - 2));
  }
  return head;
}

bool WriteCues(MuxState& state, std::optional<uint64_t>& cues_position) {
  cues_position.reset();
  const std::vector<CuePoint>& points = state.seek_index.cue_points;
  if (points.empty()) return true;
  // Sized by a first pass, so that the CuePoints stream out one by one.
  uint64_t body = 0;
  for (const CuePoint& point : points) body += EncodeCuePoint(point).length;
  VintBuffer size;
  if (!EncodeVint(body, 8, size)) {
    ReportSizeTooLarge(state);
    return false;
  }
  if (!WriteOutput(state, kCuesId) || !WriteOutput(state, {size.bytes, 8})) return false;
  for (const CuePoint& point : points) {
    const CuePointBytes encoded = EncodeCuePoint(point);
    if (!WriteOutput(state, {encoded.bytes, encoded.length})) return false;
  }
  cues_position = state.segment_bytes;
  state.segment_bytes += sizeof kCuesId + 8 + body;
  return true;
}

}  // namespace tandrel
