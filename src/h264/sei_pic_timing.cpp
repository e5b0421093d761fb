#include "h264/sei_pic_timing.h"

#include <algorithm>
#include <iterator>
#include <type_traits>

#include "h264/rbsp_bits.h"

namespace tandrel {
namespace {

constexpr uint32_t kSeiNalUnitType = 6;
constexpr uint32_t kPicTimingPayloadType = 1;
constexpr size_t kMaxClockTimestamps = std::extent_v<decltype(PicTimingInfo::clock_timestamp_flag)>;

// payloadType and payloadSize: every 0xFF byte adds 255 and the first byte
// below 0xFF ends the value. Past the end of the unit bytes read as 0, so the
// run always ends.
uint64_t ReadSeiVariableLength(RbspBits& bits) {
  uint64_t value = 0;
  uint32_t byte = 0;
  do {
    byte = ReadBits(bits, 8);
    value += byte;
  } while (byte == 0xFF);
  return value;
}

// NumClockTS by pic_struct (H.264 Table D-1). The reserved values 9..15 have
// no entry and are returned as they are.
uint32_t NumClockTsFor(uint32_t pic_struct) {
  constexpr uint32_t kNumClockTs[] = {1, 1, 1, 2, 2, 3, 3, 2, 3};
  return pic_struct < std::size(kNumClockTs) ? kNumClockTs[pic_struct] : pic_struct;
}

// Read width for a length taken from SpsInfo. ParseSps stores 5-bit lengths,
// so the cap at 32 bits only matters for records built by hand.
int LengthWidth(uint64_t length) { return static_cast<int>(std::min<uint64_t>(length, 32)); }

// clock_timestamp_flag[i] and, when it is set, the timestamp it announces.
void ReadClockTimestamp(RbspBits& bits, uint32_t time_offset_length, PicTimingInfo& timing,
                        size_t i) {
  timing.clock_timestamp_flag[i] = ReadBits(bits, 1);
  if (timing.clock_timestamp_flag[i] == 0) return;
  timing.ct_type[i] = ReadBits(bits, 2);
  timing.nuit_field_based_flag[i] = ReadBits(bits, 1);
  timing.counting_type[i] = ReadBits(bits, 5);
  timing.full_timestamp_flag[i] = ReadBits(bits, 1);
  timing.discontinuity_flag[i] = ReadBits(bits, 1);
  timing.cnt_dropped_flag[i] = ReadBits(bits, 1);
  timing.n_frames[i] = ReadBits(bits, 8);
  if (timing.full_timestamp_flag[i] == 1) {
    timing.seconds_value[i] = ReadBits(bits, 6);
    timing.minutes_value[i] = ReadBits(bits, 6);
    timing.hours_value[i] = ReadBits(bits, 5);
  } else if (ReadBits(bits, 1) == 1) {  // seconds_flag
    timing.seconds_value[i] = ReadBits(bits, 6);
    if (ReadBits(bits, 1) == 1) {  // minutes_flag
      timing.minutes_value[i] = ReadBits(bits, 6);
      if (ReadBits(bits, 1) == 1) timing.hours_value[i] = ReadBits(bits, 5);  // hours_flag
    }
  }
  if (time_offset_length > 0) {
    timing.time_offset[i] = ReadBits(bits, LengthWidth(time_offset_length));
  }
}

}  // namespace

SeiParseResult ParseSeiPicTiming(std::span<const uint8_t> unit, const SpsInfo& sps,
                                 PicTimingInfo& timing) {
  timing = PicTimingInfo{};
  RbspBits bits = ExpandRbsp(unit);
  if (ReadBits(bits, 1) != 0) return SeiParseResult::ForbiddenBit;  // forbidden_zero_bit
  timing.nal_ref_idc = ReadBits(bits, 2);
  timing.nal_unit_type = ReadBits(bits, 5);
  if (timing.nal_unit_type != kSeiNalUnitType) return SeiParseResult::NotSei;

  const uint64_t payload_type = ReadSeiVariableLength(bits);
  ReadSeiVariableLength(bits);  // payloadSize: the message is read by its syntax alone
  if (payload_type != kPicTimingPayloadType) return SeiParseResult::NotPicTiming;

  // CpbDpbDelaysPresentFlag: the delays are there whenever an HRD structure is.
  if (sps.nal_hrd_parameters_present_flag != 0 || sps.vcl_hrd_parameters_present_flag != 0) {
    timing.cpb_dpb_delays_present_flag = 1;
    timing.cpb_removal_delay =
        ReadBits(bits, LengthWidth(uint64_t{sps.cpb_removal_delay_length_minus1} + 1));
    timing.dpb_output_delay =
        ReadBits(bits, LengthWidth(uint64_t{sps.dpb_output_delay_length_minus1} + 1));
  }
  if (sps.pic_struct_present_flag == 0) return SeiParseResult::Ok;

  const uint32_t pic_struct = ReadBits(bits, 4);
  timing.NumClockTS = NumClockTsFor(pic_struct);
  // A reserved pic_struct gives no clock timestamp layout to follow.
  if (timing.NumClockTS > kMaxClockTimestamps) return SeiParseResult::Ok;
  for (size_t i = 0; i < timing.NumClockTS; ++i) {
    ReadClockTimestamp(bits, sps.time_offset_length, timing, i);
  }
  return SeiParseResult::Ok;
}

const char* SeiParseMessage(SeiParseResult result) {
  switch (result) {
    case SeiParseResult::Ok:
      return "";
    case SeiParseResult::ForbiddenBit:
      return "forbidden bit in SEI-NAL.";
    case SeiParseResult::NotSei:
      return "this is not a SEI-NAL.";
    case SeiParseResult::NotPicTiming:
      return "this is not a SEI-timing.";
  }
  return "";
}

}  // namespace tandrel
