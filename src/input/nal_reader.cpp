#include "input/nal_reader.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <new>

#include "input/start_code.h"

namespace tandrel {
namespace {

// Kinds by NAL header byte (forbidden bit, nal_ref_idc, nal_unit_type). Only
// the combinations of nal_ref_idc and type that the muxer knows are accepted;
// 0x06 (SEI) is settled by the payload type that follows.
constexpr std::array<NalKind, 256> MakeHeaderTable() {
  std::array<NalKind, 256> table{};
  table.fill(NalKind::Unknown);
  table[0x0A] = NalKind::End;
  table[0x0C] = NalKind::Filler;
  table[0x09] = NalKind::AccessUnitDelimiter;
  table[0x18] = NalKind::DependentDelimiter;
  table[0x21] = table[0x41] = NalKind::RefSlice;
  table[0x01] = NalKind::NonRefSlice;
  table[0x25] = table[0x65] = NalKind::IdrSlice;
  table[0x14] = table[0x34] = table[0x54] = NalKind::SliceExtension;
  table[0x74] = NalKind::SliceExtensionRef3;
  table[0x27] = table[0x67] = NalKind::Sps;
  table[0x2F] = table[0x6F] = NalKind::SubsetSps;
  table[0x28] = table[0x68] = NalKind::Pps;
  return table;
}
constexpr std::array<NalKind, 256> kHeaderKinds = MakeHeaderTable();

constexpr uint8_t kSeiHeader = 0x06;

NalKind ClassifySei(uint8_t payload_type) {
  switch (payload_type) {
    case 0:
      return NalKind::SeiBufferingPeriod;
    case 1:
      return NalKind::SeiPicTiming;
    case 6:
      return NalKind::SeiRecoveryPoint;
    case 37:
      return NalKind::SeiMvcNesting;
    default:
      return NalKind::Unknown;
  }
}

uint8_t* AllocateWindow(uint8_t* window, size_t bytes) {
  void* allocated = std::realloc(window, bytes);
  if (allocated == nullptr) throw std::bad_alloc();
  return static_cast<uint8_t*>(allocated);
}

// Moves the unread tail to the front of the window and fills the rest with
// one load from the file. A load asks for `read_size` bytes less the tail, so
// that the window holds one full load; a tail of a whole load or more (a unit
// longer than the window) grows the window so that the load still asks for
// `read_size` bytes. Returns false on a read error or an outsized unit.
bool Refill(NalReader& reader, std::FILE* file) {
  const size_t tail = reader.data_end - reader.nal_start;
  // The tail is the current unit, or its start, and what follows it in the
  // window: the start code that ends it and, when that start code lies within
  // the refill margin, the rest of the margin. Only a tail longer than the
  // limit plus the margin is sure to hold an outsized unit; NextNal measures
  // the unit itself once its end is in the window.
  if (tail > reader.max_unit_bytes + kRefillMargin) {
    reader.failure = ReadFailure::UnitTooLarge;
    return false;
  }
  const size_t ask = tail < reader.read_size ? reader.read_size - tail : reader.read_size;
  if (reader.nal_start > 0 && tail > 0) {
    std::memmove(reader.window.get(), reader.window.get() + reader.nal_start, tail);
  }
  if (tail + ask > reader.capacity) {
    // Doubling keeps the growth for one long unit linear in its length; no
    // window beyond the longest unit allowed, the refill margin and one load
    // is ever needed.
    const size_t largest = reader.max_unit_bytes + kRefillMargin + reader.read_size;
    const size_t grown = std::max(tail + ask, std::min(2 * reader.capacity, largest));
    reader.window.reset(AllocateWindow(reader.window.release(), grown));
    reader.capacity = grown;
  }
  uint8_t* const read_at = reader.window.get() + tail;
  const size_t got = std::fread(read_at, 1, ask, file);
  if (got < ask && std::ferror(file)) {
    reader.failure = ReadFailure::ReadError;
    return false;
  }
  reader.data_end = tail + got;
  // fread returns short only at the end of the file (or on an error, above).
  if (got < ask) reader.eof = true;
  reader.refill_mark = tail + ask - kRefillMargin;
  reader.refill_count += 1;
  reader.nal_start = 0;
  reader.nal_end = 0;
  if (reader.progress != nullptr) PrintProgress(*reader.progress);
  return true;
}

// After a failure the reader behaves as an exhausted one.
NalKind Fail(NalReader& reader) {
  reader.eof = true;
  reader.nal_start = reader.nal_end = reader.data_end;
  return NalKind::End;
}

}  // namespace

NalKind ClassifyNal(std::span<const uint8_t> unit) {
  if (unit.empty()) return NalKind::Unknown;
  if (unit[0] != kSeiHeader) return kHeaderKinds[unit[0]];
  return unit.size() >= 2 ? ClassifySei(unit[1]) : NalKind::Unknown;
}

void InitNalReader(NalReader& reader, size_t read_size, size_t max_unit_bytes) {
  reader = NalReader{};
  reader.read_size = read_size;
  reader.max_unit_bytes = max_unit_bytes;
  reader.window.reset(AllocateWindow(nullptr, read_size));
  reader.capacity = read_size;
  reader.refill_mark = read_size - kRefillMargin;
}

NalKind NextNal(NalReader& reader, std::FILE* file) {
  for (;;) {
    const uint8_t* const window = reader.window.get();
    const size_t scan_from =
        reader.nal_start < reader.data_end ? reader.nal_start : reader.data_end;
    const size_t p =
        static_cast<size_t>(FindStartCode(window + scan_from, window + reader.data_end) - window);
    // Load more first when the window holds no further start code, or one so
    // close to the end of a full load that the unit after it may be cut off.
    if (!reader.eof && (p == reader.data_end || p > reader.refill_mark)) {
      if (!Refill(reader, file)) return Fail(reader);
      continue;
    }
    if (reader.nal_start >= reader.data_end) {
      reader.nal_start = reader.nal_end = reader.data_end;
      return NalKind::End;
    }
    if (p == reader.nal_start || (p == reader.nal_start + 1 && window[reader.nal_start] == 0x00)) {
      // A start code, of three bytes or of four with its leading zero, begins
      // at the scan position: the next unit begins after its 01.
      reader.nal_start = p + 3;
    } else {
      // The current unit ends at the start code, less the one zero byte that
      // may belong to a four-byte start code. Other trailing zeros stay.
      reader.nal_end = window[p - 1] == 0x00 ? p - 1 : p;
      // A unit may end in the load that followed the last check in Refill.
      if (reader.nal_end - reader.nal_start > reader.max_unit_bytes) {
        reader.failure = ReadFailure::UnitTooLarge;
        return Fail(reader);
      }
    }
    if (reader.nal_end > reader.nal_start) return ClassifyNal(CurrentNal(reader));
  }
}

}  // namespace tandrel
