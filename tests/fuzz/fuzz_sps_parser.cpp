// Fuzz target: ParseSps over arbitrary units.
//
// Input: byte 0 is a cut point (0..255); the remaining bytes are the unit.
//
// Checked beyond running clean under the sanitizers:
// - every stored field fits the syntax element it was read from;
// - the result does not depend on what the record held before: a walk writes
//   the same fields with the same values over a record of zeros and over one
//   of marker values, and leaves every other field as it was;
// - the header byte alone decides ForbiddenBit and NotSps;
// - a unit cut short at the cut point parses consistently with the whole unit:
//   a cut unit that parses Ok read nothing past its end, so the whole unit
//   parses Ok to the same fields; a whole unit that runs out of bits
//   (ReadOver) does so when cut too;
// - CroppedPictureSize stays within 1..65535 whatever the record holds.
#include <cstddef>
#include <cstdint>
#include <span>

#include "fuzz_check.h"
#include "h264/sps_parser.h"
#include "sps_fields.h"

namespace {

using tandrel::SpsInfo;
using tandrel::SpsParseResult;
using tandrel::fuzz::kSpsFields;

constexpr uint32_t kMarker = 0xA5C3E187;

SpsInfo Filled(uint32_t value) {
  SpsInfo sps;
  for (const auto& field : kSpsFields) sps.*field.member = value;
  return sps;
}

bool SameFields(const SpsInfo& a, const SpsInfo& b) {
  for (const auto& field : kSpsFields) {
    if (a.*field.member != b.*field.member) return false;
  }
  return true;
}

void CheckBounds(const SpsInfo& sps) {
  for (const auto& field : kSpsFields) {
    FUZZ_CHECK(sps.*field.member <= field.max, "%s = %u, above %u", field.name, sps.*field.member,
               field.max);
  }
}

// A field the walk reached holds the same value in both records; one it did
// not reach still holds what each record started with.
void CheckIndependentOfStart(const SpsInfo& from_zeros, const SpsInfo& from_markers) {
  for (const auto& field : kSpsFields) {
    const uint32_t zero_start = from_zeros.*field.member;
    const uint32_t marker_start = from_markers.*field.member;
    FUZZ_CHECK(zero_start == marker_start || (zero_start == 0 && marker_start == kMarker),
               "%s: %u over zeros, %u over markers", field.name, zero_start, marker_start);
  }
}

void CheckHeaderResults(std::span<const uint8_t> unit, SpsParseResult result) {
  if (unit.empty()) {
    // No header byte: it reads as 0, nal_unit_type 0.
    FUZZ_CHECK(result == SpsParseResult::NotSps, "empty unit gave %d", static_cast<int>(result));
    return;
  }
  const bool forbidden = (unit[0] & 0x80) != 0;
  const bool not_sps = !forbidden && (unit[0] & 0x1F) != 7;
  FUZZ_CHECK(forbidden == (result == SpsParseResult::ForbiddenBit), "header 0x%02X gave result %d",
             unit[0], static_cast<int>(result));
  FUZZ_CHECK(not_sps == (result == SpsParseResult::NotSps), "header 0x%02X gave result %d", unit[0],
             static_cast<int>(result));
}

void CheckCut(std::span<const uint8_t> unit, size_t cut, SpsParseResult whole_result,
              const SpsInfo& whole) {
  if (cut == 0 || cut >= unit.size()) return;
  SpsInfo part;
  const SpsParseResult part_result = tandrel::ParseSps(unit.first(cut), part);
  if (part_result == SpsParseResult::Ok) {
    FUZZ_CHECK(whole_result == SpsParseResult::Ok && SameFields(part, whole),
               "the first %zu bytes parse Ok, the whole %zu-byte unit gives %d", cut, unit.size(),
               static_cast<int>(whole_result));
  }
  if (part_result == SpsParseResult::ScalingList) {
    FUZZ_CHECK(whole_result == SpsParseResult::ScalingList,
               "the first %zu bytes meet a scaling list, the whole unit gives %d", cut,
               static_cast<int>(whole_result));
  }
  if (whole_result == SpsParseResult::ReadOver) {
    FUZZ_CHECK(part_result == SpsParseResult::ReadOver,
               "the whole unit runs out of bits, its first %zu bytes give %d", cut,
               static_cast<int>(part_result));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const size_t cut = data[0];
  const std::span<const uint8_t> unit(data + 1, size - 1);

  SpsInfo from_zeros = Filled(0);
  const SpsParseResult result = tandrel::ParseSps(unit, from_zeros);
  SpsInfo from_markers = Filled(kMarker);
  const SpsParseResult marker_result = tandrel::ParseSps(unit, from_markers);

  FUZZ_CHECK(result == marker_result, "result %d over zeros, %d over markers",
             static_cast<int>(result), static_cast<int>(marker_result));
  CheckBounds(from_zeros);
  CheckIndependentOfStart(from_zeros, from_markers);
  CheckHeaderResults(unit, result);
  CheckCut(unit, cut, result, from_zeros);
  tandrel::fuzz::CheckCroppedPictureSize(from_zeros);
  tandrel::fuzz::CheckCroppedPictureSize(from_markers);  // stale values, as left by an earlier SPS
  return 0;
}
