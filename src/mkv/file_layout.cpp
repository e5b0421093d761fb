#include "mkv/file_layout.h"

#include <bit>
#include <cstring>

#include "app/mux_state.h"
#include "mkv/ebml_vint.h"
#include "mkv/output_file.h"
#include "mkv/timestamps.h"

namespace tandrel {
namespace {

constexpr uint8_t kFileHeaderTemplate[] = {
    // EBML header, 40 bytes.
    0x1A, 0x45, 0xDF, 0xA3, 0xA3,                              // EBML, size 35
    0x42, 0x86, 0x81, 0x01,                                    // EBMLVersion 1
    0x42, 0xF7, 0x81, 0x01,                                    // EBMLReadVersion 1
    0x42, 0xF2, 0x81, 0x04,                                    // EBMLMaxIDLength 4
    0x42, 0xF3, 0x81, 0x08,                                    // EBMLMaxSizeLength 8
    0x42, 0x82, 0x88, 'm', 'a', 't', 'r', 'o', 's', 'k', 'a',  // DocType
    // DocTypeVersion 4: BlockAdditionMapping is a version 4 element.
    0x42, 0x87, 0x81, 0x04, 0x42, 0x85, 0x81, 0x02,  // DocTypeReadVersion 2
    // Segment with an 8-byte size, patched at the end.
    0x18, 0x53, 0x80, 0x67, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
    // Info, 19 bytes.
    0x15, 0x49, 0xA9, 0x66, 0x8E,              // Info, size 14
    0x2A, 0xD7, 0xB1, 0x83, 0x0F, 0x42, 0x40,  // TimecodeScale 1000000 ns: ms timestamps
    0x44, 0x89, 0x84, 0xFF, 0xFF, 0xFF, 0xFF,  // Duration, float, patched at the end
};
static_assert(sizeof(kFileHeaderTemplate) == 71);
constexpr uint64_t kInfoBytes = 19;

}  // namespace

bool WriteFileHeader(MuxState& state) {
  if (!WriteOutput(state, kFileHeaderTemplate)) return false;
  state.segment_bytes += kInfoBytes;
  return true;
}

bool FinishFile(MuxState& state) {
  // With no frame completed (a dependent view against an empty base view) the
  // block set up at start-up was never filled, and there is no cluster.
  if (state.total_frames > 0 && !FlushCluster(state)) return false;

  VintBuffer segment_size;
  if (!EncodeVint(state.segment_bytes, 8, segment_size)) {
    ReportSizeTooLarge(state);
    return false;
  }
  if (!PatchOutput(state, kSegmentSizeOffset, {segment_size.bytes, 8})) return false;

  const float duration_ms = static_cast<float>(FramesToMs(state.frame_factor, state.total_frames));
  const uint32_t bits = std::bit_cast<uint32_t>(duration_ms);
  const uint8_t duration[4] = {static_cast<uint8_t>(bits >> 24), static_cast<uint8_t>(bits >> 16),
                               static_cast<uint8_t>(bits >> 8), static_cast<uint8_t>(bits)};
  if (!PatchOutput(state, kDurationOffset, duration)) return false;

  if (!CloseFiles(state)) return false;
  PrintOut(state.console, "\n");
  return true;
}

}  // namespace tandrel
