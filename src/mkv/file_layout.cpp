#include "mkv/file_layout.h"

#include <bit>
#include <cstring>
#include <optional>

#include "app/mux_state.h"
#include "mkv/ebml_vint.h"
#include "mkv/output_file.h"
#include "mkv/seek_index.h"
#include "mkv/timestamps.h"

namespace tandrel {
namespace {

constexpr uint8_t kEbmlAndSegmentHeader[] = {
    // EBML header, 40 bytes.
    0x1A,
    0x45,
    0xDF,
    0xA3,
    0xA3,  // EBML, size 35
    0x42,
    0x86,
    0x81,
    0x01,  // EBMLVersion 1
    0x42,
    0xF7,
    0x81,
    0x01,  // EBMLReadVersion 1
    0x42,
    0xF2,
    0x81,
    0x04,  // EBMLMaxIDLength 4
    0x42,
    0xF3,
    0x81,
    0x08,  // EBMLMaxSizeLength 8
    0x42,
    0x82,
    0x88,
    'm',
    'a',
    't',
    'r',
    'o',
    's',
    'k',
    'a',  // DocType
    // DocTypeVersion 4: BlockAdditionMapping is a version 4 element.
    0x42,
    0x87,
    0x81,
    0x04,
    0x42,
    0x85,
    0x81,
    0x02,  // DocTypeReadVersion 2
    // Segment with an 8-byte size, patched at the end.
    0x18,
    0x53,
    0x80,
    0x67,
    0xFF,
    0xFF,
    0xFF,
    0xFF,
    0xFF,
    0xFF,
    0xFF,
    0xFF,
};
static_assert(sizeof(kEbmlAndSegmentHeader) == kSegmentDataOffset);

constexpr uint8_t kInfoTemplate[] = {
    0x15, 0x49, 0xA9, 0x66, 0x8E,              // Info, size 14
    0x2A, 0xD7, 0xB1, 0x83, 0x0F, 0x42, 0x40,  // TimecodeScale 1000000 ns: ms timestamps
    0x44, 0x89, 0x84, 0xFF, 0xFF, 0xFF, 0xFF,  // Duration, float, patched at the end
};
constexpr uint64_t kDurationInInfo = 15;

// Info follows the SeekHead when there is one.
uint64_t InfoPosition(const MuxState& state) {
  return state.seek_index.enabled ? kSeekHeadBytes : 0;
}

bool PatchDuration(MuxState& state) {
  const float duration_ms = static_cast<float>(FramesToMs(state.frame_factor, state.total_frames));
  const uint32_t bits = std::bit_cast<uint32_t>(duration_ms);
  const uint8_t duration[4] = {static_cast<uint8_t>(bits >> 24), static_cast<uint8_t>(bits >> 16),
                               static_cast<uint8_t>(bits >> 8), static_cast<uint8_t>(bits)};
  return PatchOutput(state, kSegmentDataOffset + InfoPosition(state) + kDurationInInfo, duration);
}

}  // namespace

bool WriteFileHeader(MuxState& state) {
  if (!WriteOutput(state, kEbmlAndSegmentHeader)) return false;
  if (state.seek_index.enabled) {
    // Until it is patched the SeekHead names Info alone, so that even a file
    // cut short has a valid one.
    SeekPositions info_only;
    info_only.info = InfoPosition(state);
    if (!WriteOutput(state, BuildSeekHead(info_only))) return false;
    state.segment_bytes += kSeekHeadBytes;
  }
  if (!WriteOutput(state, kInfoTemplate)) return false;
  state.segment_bytes += sizeof kInfoTemplate;
  return true;
}

bool FinishFile(MuxState& state) {
  // With no frame completed (a dependent view against an empty base view) the
  // block set up at start-up was never filled, and there is no cluster.
  if (state.total_frames > 0 && !FlushCluster(state)) return false;

  std::optional<uint64_t> cues_position;
  if (state.seek_index.enabled && !WriteCues(state, cues_position)) return false;

  VintBuffer segment_size;
  if (!EncodeVint(state.segment_bytes, 8, segment_size)) {
    ReportSizeTooLarge(state);
    return false;
  }
  if (!PatchOutput(state, kSegmentSizeOffset, {segment_size.bytes, 8})) return false;
  if (!PatchDuration(state)) return false;
  if (state.seek_index.enabled) {
    const SeekPositions positions{InfoPosition(state), state.seek_index.tracks_position,
                                  cues_position};
    if (!PatchOutput(state, kSegmentDataOffset, BuildSeekHead(positions))) return false;
  }

  if (!CloseFiles(state)) return false;
  PrintOut(state.console, "\n");
  return true;
}

}  // namespace tandrel
