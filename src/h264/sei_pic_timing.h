// Picture timing SEI (payloadType 1) parser.
//
// Checks that a base-view SEI unit opens with a picture timing message and
// reads that message. Its layout depends on the sequence parameter set: the
// CPB/DPB delays are present when an HRD structure is, with the lengths the
// HRD gives, and the clock timestamps only when pic_struct_present_flag is set.
#pragma once

#include <cstdint>
#include <span>

#include "h264/sps_parser.h"

namespace tandrel {

// Field names follow the H.264 syntax. Arrays hold one entry per clock
// timestamp; entries the message does not carry stay 0.
struct PicTimingInfo {
  uint32_t nal_ref_idc = 0;
  uint32_t nal_unit_type = 0;
  uint32_t cpb_dpb_delays_present_flag = 0;  // 1 when the two delays were read
  uint32_t cpb_removal_delay = 0;
  uint32_t dpb_output_delay = 0;
  // Clock timestamps announced by pic_struct (1..3); for the reserved pic_struct
  // values 9..15 the value itself, and no clock timestamp is read.
  uint32_t NumClockTS = 0;
  uint32_t clock_timestamp_flag[3] = {};
  uint32_t ct_type[3] = {};
  uint32_t nuit_field_based_flag[3] = {};
  uint32_t counting_type[3] = {};
  uint32_t full_timestamp_flag[3] = {};
  uint32_t discontinuity_flag[3] = {};
  uint32_t cnt_dropped_flag[3] = {};
  uint32_t n_frames[3] = {};
  uint32_t seconds_value[3] = {};
  uint32_t minutes_value[3] = {};
  uint32_t hours_value[3] = {};
  uint32_t time_offset[3] = {};  // unsigned, not sign-extended
};

enum class SeiParseResult { Ok, ForbiddenBit, NotSei, NotPicTiming };

// Reads the first SEI message of `unit` (NAL header byte .. last byte) with
// the HRD and pic_struct settings of `sps`. `timing` is reset first. Only the
// first message is read, and its payloadSize is not checked. Bits beyond the
// end of the unit read as 0. Prints nothing.
SeiParseResult ParseSeiPicTiming(std::span<const uint8_t> unit, const SpsInfo& sps,
                                 PicTimingInfo& timing);

// Console text for a result, without line feed; "" for Ok.
const char* SeiParseMessage(SeiParseResult result);

}  // namespace tandrel
