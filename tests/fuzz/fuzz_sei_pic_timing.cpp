// Fuzz target: ParseSeiPicTiming over arbitrary units with an arbitrary
// SpsInfo, out-of-range values included (a record need not come from
// ParseSps).
//
// Input: one byte per SpsInfo field, in declaration order (see FieldValue),
// then the unit.
//
// Checked beyond running clean under the sanitizers:
// - every stored field fits the bits it was read from, the delays and
//   time_offset included, whose widths come from the record;
// - NumClockTS is 0 (no pic_struct), 1..3, or a reserved value 9..15, and the
//   clock timestamp entries it does not announce stay 0;
// - the header byte alone decides ForbiddenBit and NotSei, and the delays are
//   read exactly when the record has an HRD structure;
// - the record is reset first: the result does not depend on what it held;
// - bits past the end of the unit read as 0: appending zero bytes changes
//   nothing;
// - CroppedPictureSize of the arbitrary record stays within 1..65535.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <span>
#include <vector>

#include "fuzz_check.h"
#include "h264/sei_pic_timing.h"
#include "sps_fields.h"

namespace {

using tandrel::PicTimingInfo;
using tandrel::SeiParseResult;
using tandrel::SpsInfo;

constexpr size_t kSpsBytes = std::size(tandrel::fuzz::kSpsFields);
constexpr size_t kClockTimestamps = 3;
// More than the message can read past the unit's end: the delays (2 x 32
// bits), pic_struct and three whole clock timestamps.
constexpr size_t kZeroPadding = 48;

// Small values as they are; the top eight byte values stand for values no
// SPS can hold, to reach the parser's width caps.
uint32_t FieldValue(uint8_t byte) {
  constexpr uint32_t kOutOfRange[] = {32,         33,         63,         64,
                                      0x7FFFFFFF, 0x80000000, 0xFFFFFFFE, 0xFFFFFFFF};
  constexpr uint8_t kFirstOutOfRange = 0xF8;
  return byte < kFirstOutOfRange ? byte : kOutOfRange[byte - kFirstOutOfRange];
}

SpsInfo SpsFromBytes(std::span<const uint8_t> bytes) {
  SpsInfo sps;
  for (size_t i = 0; i < kSpsBytes; ++i) {
    sps.*tandrel::fuzz::kSpsFields[i].member = FieldValue(bytes[i]);
  }
  return sps;
}

// The largest value `length` bits hold, with the parser's cap at 32 bits.
uint64_t MaxForLength(uint64_t length) {
  return length >= 32 ? UINT32_MAX : (uint64_t{1} << length) - 1;
}

bool Same(const PicTimingInfo& a, const PicTimingInfo& b) {
  return std::memcmp(&a, &b, sizeof(PicTimingInfo)) == 0;
}

bool IsZero(const PicTimingInfo& timing) { return Same(timing, PicTimingInfo{}); }

void CheckEntry(const PicTimingInfo& t, size_t i, const SpsInfo& sps) {
  if (t.clock_timestamp_flag[i] == 0) {
    FUZZ_CHECK(t.ct_type[i] == 0 && t.nuit_field_based_flag[i] == 0 && t.counting_type[i] == 0 &&
                   t.full_timestamp_flag[i] == 0 && t.discontinuity_flag[i] == 0 &&
                   t.cnt_dropped_flag[i] == 0 && t.n_frames[i] == 0 && t.seconds_value[i] == 0 &&
                   t.minutes_value[i] == 0 && t.hours_value[i] == 0 && t.time_offset[i] == 0,
               "clock timestamp %zu is absent but has values", i);
    return;
  }
  FUZZ_CHECK(t.clock_timestamp_flag[i] == 1 && t.ct_type[i] <= 3 &&
                 t.nuit_field_based_flag[i] <= 1 && t.counting_type[i] <= 31 &&
                 t.full_timestamp_flag[i] <= 1 && t.discontinuity_flag[i] <= 1 &&
                 t.cnt_dropped_flag[i] <= 1 && t.n_frames[i] <= 255 && t.seconds_value[i] <= 63 &&
                 t.minutes_value[i] <= 63 && t.hours_value[i] <= 31,
             "clock timestamp %zu has a value wider than its field", i);
  FUZZ_CHECK(t.time_offset[i] <= MaxForLength(sps.time_offset_length),
             "time_offset[%zu] = %u with time_offset_length %u", i, t.time_offset[i],
             sps.time_offset_length);
}

void CheckFields(std::span<const uint8_t> unit, const SpsInfo& sps, SeiParseResult result,
                 const PicTimingInfo& t) {
  if (result == SeiParseResult::ForbiddenBit) {
    FUZZ_CHECK(!unit.empty() && (unit[0] & 0x80) != 0, "ForbiddenBit without the bit");
    FUZZ_CHECK(IsZero(t), "ForbiddenBit, yet fields were set");
    return;
  }
  const uint8_t header = unit.empty() ? 0 : unit[0];
  FUZZ_CHECK((header & 0x80) == 0, "forbidden bit set, result %d", static_cast<int>(result));
  FUZZ_CHECK(t.nal_ref_idc == (header >> 5 & 3u) && t.nal_unit_type == (header & 0x1Fu),
             "header 0x%02X read as nal_ref_idc %u, nal_unit_type %u", header, t.nal_ref_idc,
             t.nal_unit_type);
  FUZZ_CHECK((result == SeiParseResult::NotSei) == (t.nal_unit_type != 6),
             "nal_unit_type %u gave result %d", t.nal_unit_type, static_cast<int>(result));
  if (result != SeiParseResult::Ok) {
    PicTimingInfo header_only{};
    header_only.nal_ref_idc = t.nal_ref_idc;
    header_only.nal_unit_type = t.nal_unit_type;
    FUZZ_CHECK(Same(t, header_only), "result %d, yet message fields were set",
               static_cast<int>(result));
    return;
  }

  const bool hrd =
      sps.nal_hrd_parameters_present_flag != 0 || sps.vcl_hrd_parameters_present_flag != 0;
  FUZZ_CHECK(t.cpb_dpb_delays_present_flag == (hrd ? 1u : 0u), "delays flag %u with HRD %d",
             t.cpb_dpb_delays_present_flag, hrd);
  FUZZ_CHECK(t.cpb_removal_delay <= MaxForLength(uint64_t{sps.cpb_removal_delay_length_minus1} + 1),
             "cpb_removal_delay %u for length_minus1 %u", t.cpb_removal_delay,
             sps.cpb_removal_delay_length_minus1);
  FUZZ_CHECK(t.dpb_output_delay <= MaxForLength(uint64_t{sps.dpb_output_delay_length_minus1} + 1),
             "dpb_output_delay %u for length_minus1 %u", t.dpb_output_delay,
             sps.dpb_output_delay_length_minus1);
  if (!hrd) FUZZ_CHECK(t.cpb_removal_delay == 0 && t.dpb_output_delay == 0, "delays without HRD");

  const uint32_t n = t.NumClockTS;
  FUZZ_CHECK(sps.pic_struct_present_flag != 0 ? (n >= 1 && n <= 3) || (n >= 9 && n <= 15) : n == 0,
             "NumClockTS %u with pic_struct_present_flag %u", n, sps.pic_struct_present_flag);
  const size_t announced = n <= kClockTimestamps ? n : 0;
  for (size_t i = 0; i < kClockTimestamps; ++i) {
    if (i >= announced) {
      FUZZ_CHECK(t.clock_timestamp_flag[i] == 0, "clock timestamp %zu of %u is set", i, n);
    }
    CheckEntry(t, i, sps);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < kSpsBytes) return 0;
  const SpsInfo sps = SpsFromBytes({data, kSpsBytes});
  const std::span<const uint8_t> unit(data + kSpsBytes, size - kSpsBytes);

  PicTimingInfo timing;
  const SeiParseResult result = tandrel::ParseSeiPicTiming(unit, sps, timing);
  CheckFields(unit, sps, result, timing);

  // The record is reset first, whatever it held.
  PicTimingInfo stale;
  std::memset(&stale, 0xA5, sizeof stale);
  FUZZ_CHECK(tandrel::ParseSeiPicTiming(unit, sps, stale) == result && Same(stale, timing),
             "the result depends on the record's earlier content");

  std::vector<uint8_t> padded(unit.begin(), unit.end());
  padded.resize(unit.size() + kZeroPadding, 0);
  PicTimingInfo from_padded;
  FUZZ_CHECK(
      tandrel::ParseSeiPicTiming(padded, sps, from_padded) == result && Same(from_padded, timing),
      "zero bytes after the unit changed what was read");

  tandrel::fuzz::CheckCroppedPictureSize(sps);
  return 0;
}
