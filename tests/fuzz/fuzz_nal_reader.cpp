// Fuzz target: the Annex B reader over arbitrary bytes, with loads of a few
// bytes and a unit limit of a few hundred, so that window refills, window
// growth and the unit-too-large failure are reached on small inputs.
//
// Input: byte 0 picks the load size (16..256 bytes), byte 1 the unit limit
// (8..1028 bytes); the remaining bytes are the stream, read through a FILE*.
//
// Every delivered unit is checked against the stream itself (its bytes, its
// place, what lies between it and the previous one), and the whole list
// against the plain splitter of tests/support.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <span>
#include <vector>

#include "fuzz_check.h"
#include "input/nal_reader.h"
#include "support/annex_b_oracle.h"

namespace {

using tandrel::NalKind;
using tandrel::NalReader;
using tandrel::ReadFailure;
using tandrel::test::Bytes;

constexpr size_t kStartCodeBytes = 3;

bool IsStartCodeAt(std::span<const uint8_t> bytes, size_t pos) {
  return pos + kStartCodeBytes <= bytes.size() && bytes[pos] == 0 && bytes[pos + 1] == 0 &&
         bytes[pos + 2] == 1;
}

bool HoldsStartCode(std::span<const uint8_t> unit) {
  for (size_t pos = 0; pos < unit.size(); ++pos) {
    if (IsStartCodeAt(unit, pos)) return true;
  }
  return false;
}

// The bytes the reader may leave out between two units (or before the first,
// or after the last): start codes, and in front of each start code and at the
// end of the stream at most one zero byte (the leading zero of a four-byte
// start code, or a unit's last zero). Anything else would be a unit dropped.
// A gap in front of a unit must end in the start code that opens the unit.
bool IsSkippableGap(std::span<const uint8_t> gap, bool opens_a_unit) {
  size_t piece = 0;  // bytes since the last start code
  size_t pos = 0;
  while (pos < gap.size()) {
    if (IsStartCodeAt(gap, pos)) {
      pos += kStartCodeBytes;
      piece = 0;
      continue;
    }
    if (gap[pos] != 0 || ++piece > 1) return false;
    ++pos;
  }
  return !opens_a_unit || piece == 0;
}

std::FILE* OpenStream(std::span<const uint8_t> stream) {
  // Read-only: fmemopen never writes to the buffer in mode "rb".
  return fmemopen(const_cast<uint8_t*>(stream.data()), stream.size(), "rb");
}

void CheckAgainstSplitter(std::span<const uint8_t> stream, const std::vector<Bytes>& delivered,
                          ReadFailure failure, size_t max_unit_bytes) {
  const std::vector<Bytes> expected = tandrel::test::SplitNalUnits(stream);
  FUZZ_CHECK(failure != ReadFailure::ReadError, "a memory stream reported a read error");
  FUZZ_CHECK(delivered.size() <= expected.size(), "%zu units delivered, the splitter finds %zu",
             delivered.size(), expected.size());
  for (size_t i = 0; i < delivered.size(); ++i) {
    FUZZ_CHECK(delivered[i] == expected[i], "unit %zu: %zu bytes delivered, splitter has %zu", i,
               delivered[i].size(), expected[i].size());
  }
  if (failure == ReadFailure::None) {
    FUZZ_CHECK(delivered.size() == expected.size(), "%zu units delivered, the splitter finds %zu",
               delivered.size(), expected.size());
  } else {
    // The unit the reader was on when it gave up is the splitter's next one.
    FUZZ_CHECK(delivered.size() < expected.size(), "unit too large, but every unit was delivered");
    FUZZ_CHECK(expected[delivered.size()].size() > max_unit_bytes,
               "unit too large, but unit %zu has %zu bytes and the limit is %zu", delivered.size(),
               expected[delivered.size()].size(), max_unit_bytes);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const size_t read_size = 16 + data[0] % 241;
  const size_t max_unit_bytes = 8 + 4 * size_t{data[1]};
  const std::span<const uint8_t> stream(data + 2, size - 2);

  std::FILE* file = OpenStream(stream);
  FUZZ_CHECK(file != nullptr, "fmemopen failed");
  NalReader reader;
  tandrel::InitNalReader(reader, read_size, max_unit_bytes);

  std::vector<Bytes> delivered;
  size_t previous_end = 0;  // stream offset one past the previous unit
  for (;;) {
    FUZZ_CHECK(delivered.size() <= stream.size(), "more units than stream bytes");
    const NalKind kind = tandrel::NextNal(reader, file);
    // Memory stays bounded: the window never needs more than the unit limit,
    // the refill margin and one load.
    FUZZ_CHECK(reader.capacity <= max_unit_bytes + tandrel::kRefillMargin + read_size,
               "window of %zu bytes for a limit of %zu and loads of %zu", reader.capacity,
               max_unit_bytes, read_size);
    const std::span<const uint8_t> unit = tandrel::CurrentNal(reader);
    if (unit.empty()) {
      FUZZ_CHECK(kind == NalKind::End, "no current unit, but kind %d", static_cast<int>(kind));
      break;
    }
    FUZZ_CHECK(kind == tandrel::ClassifyNal(unit), "kind %d for header byte %d",
               static_cast<int>(kind), unit[0]);
    FUZZ_CHECK(unit.size() <= max_unit_bytes, "unit of %zu bytes delivered, the limit is %zu",
               unit.size(), max_unit_bytes);
    FUZZ_CHECK(!HoldsStartCode(unit), "unit %zu holds a start code", delivered.size());

    // The window ends with the last byte read from the file so far.
    const long position = std::ftell(file);
    FUZZ_CHECK(position >= 0 && static_cast<size_t>(position) >= reader.data_end,
               "file position %ld, window data %zu", position, reader.data_end);
    const size_t offset = static_cast<size_t>(position) - reader.data_end + reader.nal_start;
    FUZZ_CHECK(offset + unit.size() <= stream.size(), "unit at %zu runs past the stream", offset);
    FUZZ_CHECK(std::memcmp(unit.data(), stream.data() + offset, unit.size()) == 0,
               "unit at %zu differs from the stream bytes there", offset);
    FUZZ_CHECK(offset >= previous_end, "unit at %zu overlaps the previous one ending at %zu",
               offset, previous_end);
    FUZZ_CHECK(IsSkippableGap(stream.subspan(previous_end, offset - previous_end), offset > 0),
               "bytes %zu..%zu before unit %zu were skipped but are not start codes", previous_end,
               offset, delivered.size());

    if (delivered.size() % 2 == 1) {
      // Without SkipNal the reader delivers the same unit again.
      const Bytes before(unit.begin(), unit.end());
      const NalKind again = tandrel::NextNal(reader, file);
      const std::span<const uint8_t> repeated = tandrel::CurrentNal(reader);
      FUZZ_CHECK(again == kind && Bytes(repeated.begin(), repeated.end()) == before,
                 "asking again for unit %zu gave another one", delivered.size());
    }
    previous_end = offset + unit.size();
    delivered.emplace_back(unit.begin(), unit.end());
    tandrel::SkipNal(reader);
  }

  FUZZ_CHECK(tandrel::IsExhausted(reader), "End without an exhausted reader");
  if (reader.failure == ReadFailure::None) {
    FUZZ_CHECK(IsSkippableGap(stream.subspan(previous_end), false),
               "bytes %zu..%zu after the last unit were skipped but are not start codes",
               previous_end, stream.size());
  }
  // An exhausted reader stays so and loads nothing more.
  const int32_t loads = reader.refill_count;
  FUZZ_CHECK(tandrel::NextNal(reader, file) == NalKind::End &&
                 tandrel::CurrentNal(reader).empty() && reader.refill_count == loads,
             "an exhausted reader delivered or loaded again");
  std::fclose(file);

  CheckAgainstSplitter(stream, delivered, reader.failure, max_unit_bytes);
  return 0;
}
