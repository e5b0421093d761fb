// Annex B NAL unit reader: delivers the NAL units of a byte stream one by one
// from a window that is refilled from the file, without copying them out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <span>

#include "input/progress_line.h"

namespace tandrel {

enum class NalKind : uint8_t {
  End,                  // end of sequence (0x0A), or no data left
  Filler,               // 0x0C
  AccessUnitDelimiter,  // 0x09
  DependentDelimiter,   // 0x18, MVC dependent-view delimiter
  RefSlice,             // 0x21, 0x41
  NonRefSlice,          // 0x01
  IdrSlice,             // 0x25, 0x65
  SliceExtension,       // 0x14, 0x34, 0x54
  SliceExtensionRef3,   // 0x74
  SeiBufferingPeriod,   // 0x06 00
  SeiPicTiming,         // 0x06 01
  SeiRecoveryPoint,     // 0x06 06
  SeiMvcNesting,        // 0x06 25
  Sps,                  // 0x27, 0x67
  SubsetSps,            // 0x2F, 0x6F
  Pps,                  // 0x28, 0x68
  Unknown,              // every other header byte or SEI payload type
};

// Classifies a unit by its header byte and, for SEI, the first payload type
// byte. A one-byte SEI unit has no payload type and is Unknown.
NalKind ClassifyNal(std::span<const uint8_t> unit);

enum class ReadFailure : uint8_t {
  None,
  ReadError,     // the file reported an error (not the end of the file)
  UnitTooLarge,  // a unit longer than kMaxUnitBytes
};

// Bytes asked of the file by an ordinary window load.
inline constexpr size_t kReadSize = size_t{4} << 20;
// A start code that begins this close to the end of a full load, or closer,
// makes the reader load more data first.
inline constexpr size_t kRefillMargin = 16;
// Units are held whole in the window; a longer one ends the run.
inline constexpr size_t kMaxUnitBytes = size_t{256} << 20;

// The window is a malloc block so that it can grow with realloc, which moves
// large blocks by remapping their pages rather than copying them.
struct FreeWindow {
  void operator()(uint8_t* window) const { std::free(window); }
};

// Positions are offsets into `window`, so that they survive a window that
// grows. The current unit is [nal_start, nal_end) when nal_end > nal_start.
struct NalReader {
  std::unique_ptr<uint8_t, FreeWindow> window;
  size_t capacity = 0;  // bytes allocated for `window`
  size_t read_size = kReadSize;
  size_t max_unit_bytes = kMaxUnitBytes;
  size_t nal_start = 0;    // header byte of the current unit; between units, the scan position
  size_t nal_end = 0;      // one past the last byte of the current unit
  size_t data_end = 0;     // one past the last byte read into the window
  size_t refill_mark = 0;  // a start code found beyond this triggers a load first
  bool eof = false;        // a load delivered less than it asked; never cleared
  int32_t refill_count = 0;
  ReadFailure failure = ReadFailure::None;
  const ProgressLine* progress = nullptr;  // printed after every load when set
};

// Allocates the window and puts the reader in its initial state. Tests use
// small sizes to reach the load boundaries and the unit limit cheaply.
void InitNalReader(NalReader& reader, size_t read_size = kReadSize,
                   size_t max_unit_bytes = kMaxUnitBytes);

// Makes the next unit current and returns its kind, loading from `file` as
// needed. Without SkipNal in between, returns the same unit again. With no
// data left, or after a read failure (see `failure`), returns End and leaves
// the reader exhausted.
NalKind NextNal(NalReader& reader, std::FILE* file);

// Consumes the current unit.
inline void SkipNal(NalReader& reader) { reader.nal_start = reader.nal_end; }

inline bool IsExhausted(const NalReader& reader) {
  return reader.eof && reader.nal_end == reader.data_end;
}

// The current unit; empty when there is none.
inline std::span<const uint8_t> CurrentNal(const NalReader& reader) {
  if (reader.nal_end <= reader.nal_start) return {};
  return {reader.window.get() + reader.nal_start, reader.nal_end - reader.nal_start};
}

}  // namespace tandrel
