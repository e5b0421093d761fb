#include "h264/sei_pic_timing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "bit_writer.h"

namespace tandrel {
namespace {

using test::BitWriter;

// Every field in declaration order, so that whole records can be compared.
std::vector<uint32_t> Fields(const PicTimingInfo& t) {
  std::vector<uint32_t> fields = {
      t.nal_ref_idc,       t.nal_unit_type,    t.cpb_dpb_delays_present_flag,
      t.cpb_removal_delay, t.dpb_output_delay, t.NumClockTS};
  for (const auto* array :
       {t.clock_timestamp_flag, t.ct_type, t.nuit_field_based_flag, t.counting_type,
        t.full_timestamp_flag, t.discontinuity_flag, t.cnt_dropped_flag, t.n_frames,
        t.seconds_value, t.minutes_value, t.hours_value, t.time_offset}) {
    fields.insert(fields.end(), array, array + 3);
  }
  return fields;
}

PicTimingInfo SeiHeaderOnly() {
  PicTimingInfo t;
  t.nal_unit_type = 6;
  return t;
}

SpsInfo TimingSps(uint32_t hrd_present, uint32_t delay_length_minus1, uint32_t pic_struct_present,
                  uint32_t time_offset_length) {
  SpsInfo sps;
  sps.nal_hrd_parameters_present_flag = hrd_present;
  sps.cpb_removal_delay_length_minus1 = delay_length_minus1;
  sps.dpb_output_delay_length_minus1 = delay_length_minus1;
  sps.pic_struct_present_flag = pic_struct_present;
  sps.time_offset_length = time_offset_length;
  return sps;
}

// An SEI unit whose first message is a picture timing message with `payload`.
std::vector<uint8_t> PicTimingUnit(const BitWriter& payload) {
  BitWriter w;
  w.U(0x06, 8).U(1, 8).U((payload.BitCount() + 7) / 8, 8).Append(payload);
  return w.TrailingBits().Unit();
}

struct ClockTimestamp {
  uint32_t ct_type = 0;
  uint32_t nuit_field_based_flag = 0;
  uint32_t counting_type = 0;
  uint32_t full_timestamp_flag = 0;
  uint32_t discontinuity_flag = 0;
  uint32_t cnt_dropped_flag = 0;
  uint32_t n_frames = 0;
  // With full_timestamp_flag all three are written; otherwise as far as they go.
  std::optional<uint32_t> seconds_value, minutes_value, hours_value;
  uint32_t time_offset = 0;
};

void WriteClockTimestamp(BitWriter& w, const std::optional<ClockTimestamp>& ts,
                         int time_offset_length) {
  w.Flag(ts.has_value());
  if (!ts) return;
  w.U(ts->ct_type, 2)
      .U(ts->nuit_field_based_flag, 1)
      .U(ts->counting_type, 5)
      .U(ts->full_timestamp_flag, 1);
  w.U(ts->discontinuity_flag, 1).U(ts->cnt_dropped_flag, 1).U(ts->n_frames, 8);
  if (ts->full_timestamp_flag == 1) {
    w.U(ts->seconds_value.value_or(0), 6)
        .U(ts->minutes_value.value_or(0), 6)
        .U(ts->hours_value.value_or(0), 5);
  } else {
    w.Flag(ts->seconds_value.has_value());
    if (ts->seconds_value) {
      w.U(*ts->seconds_value, 6).Flag(ts->minutes_value.has_value());
      if (ts->minutes_value) {
        w.U(*ts->minutes_value, 6).Flag(ts->hours_value.has_value());
        if (ts->hours_value) w.U(*ts->hours_value, 5);
      }
    }
  }
  w.U(ts->time_offset, time_offset_length);
}

void SetExpected(PicTimingInfo& t, size_t i, const std::optional<ClockTimestamp>& ts) {
  t.clock_timestamp_flag[i] = ts.has_value();
  if (!ts) return;
  t.ct_type[i] = ts->ct_type;
  t.nuit_field_based_flag[i] = ts->nuit_field_based_flag;
  t.counting_type[i] = ts->counting_type;
  t.full_timestamp_flag[i] = ts->full_timestamp_flag;
  t.discontinuity_flag[i] = ts->discontinuity_flag;
  t.cnt_dropped_flag[i] = ts->cnt_dropped_flag;
  t.n_frames[i] = ts->n_frames;
  t.seconds_value[i] = ts->seconds_value.value_or(0);
  t.minutes_value[i] = ts->minutes_value.value_or(0);
  t.hours_value[i] = ts->hours_value.value_or(0);
  t.time_offset[i] = ts->time_offset;
}

TEST(SeiPicTimingTest, DelaysFollowTheHrdFlags) {
  // cpb_removal_delay 2 and dpb_output_delay 4 in 24 bits each, then pic_struct 0
  // and one clock timestamp flag of 0; the 03 is an emulation-prevention byte.
  const std::vector<uint8_t> unit = {0x06, 0x01, 0x07, 0x00, 0x00, 0x03,
                                     0x02, 0x00, 0x00, 0x04, 0x04, 0x80};
  PicTimingInfo with_delays = SeiHeaderOnly();
  with_delays.cpb_dpb_delays_present_flag = 1;
  with_delays.cpb_removal_delay = 2;
  with_delays.dpb_output_delay = 4;
  with_delays.NumClockTS = 1;
  SpsInfo vcl_only = TimingSps(0, 23, 1, 0);
  vcl_only.vcl_hrd_parameters_present_flag = 1;

  struct Case {
    std::string name;
    SpsInfo sps;
    PicTimingInfo expected;
  };
  const Case cases[] = {
      {"NAL HRD", TimingSps(1, 23, 1, 0), with_delays},
      {"VCL HRD", vcl_only, with_delays},
      {"no SPS parsed yet", SpsInfo{}, SeiHeaderOnly()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    PicTimingInfo timing;
    ASSERT_EQ(ParseSeiPicTiming(unit, c.sps, timing), SeiParseResult::Ok);
    EXPECT_EQ(Fields(timing), Fields(c.expected));
  }
}

TEST(SeiPicTimingTest, PicStructDecidesClockTimestampCount) {
  const uint32_t num_clock_ts[] = {1, 1, 1, 2, 2, 3, 3, 2, 3, 9, 10, 11, 12, 13, 14, 15};
  const SpsInfo sps = TimingSps(0, 0, 1, 0);
  for (uint32_t pic_struct = 0; pic_struct < 16; ++pic_struct) {
    SCOPED_TRACE(pic_struct);
    const uint32_t count = num_clock_ts[pic_struct];
    const bool reserved = pic_struct >= 9;
    BitWriter payload;
    payload.U(pic_struct, 4);
    PicTimingInfo expected = SeiHeaderOnly();
    expected.NumClockTS = count;
    for (uint32_t i = 0; i < (reserved ? 0 : count); ++i) {
      ClockTimestamp ts;
      ts.n_frames = 10 + i;
      WriteClockTimestamp(payload, ts, 0);
      SetExpected(expected, i, ts);
    }
    // Ones after the announced timestamps: reading one more would show.
    payload.U(0xFFFFFFFFFFFFFFFF, 64);
    PicTimingInfo timing;
    ASSERT_EQ(ParseSeiPicTiming(PicTimingUnit(payload), sps, timing), SeiParseResult::Ok);
    EXPECT_EQ(Fields(timing), Fields(expected));
  }
}

TEST(SeiPicTimingTest, ClockTimestampLayouts) {
  ClockTimestamp full;
  full.ct_type = 2;
  full.nuit_field_based_flag = 1;
  full.counting_type = 31;
  full.full_timestamp_flag = 1;
  full.discontinuity_flag = 1;
  full.cnt_dropped_flag = 1;
  full.n_frames = 255;
  full.seconds_value = 59;
  full.minutes_value = 58;
  full.hours_value = 23;
  ClockTimestamp seconds_only;
  seconds_only.counting_type = 4;
  seconds_only.n_frames = 3;
  seconds_only.seconds_value = 63;
  ClockTimestamp up_to_minutes = seconds_only;
  up_to_minutes.minutes_value = 63;
  ClockTimestamp up_to_hours = up_to_minutes;
  up_to_hours.hours_value = 31;
  ClockTimestamp frames_only;
  frames_only.ct_type = 1;
  frames_only.n_frames = 200;

  struct Case {
    std::string name;
    std::optional<ClockTimestamp> first;
    int time_offset_length;
    uint32_t time_offset;
  };
  const Case cases[] = {
      {"flag clear", std::nullopt, 0, 0},
      {"full timestamp", full, 0, 0},
      {"no seconds", frames_only, 0, 0},
      {"seconds", seconds_only, 0, 0},
      {"seconds and minutes", up_to_minutes, 0, 0},
      {"seconds, minutes and hours", up_to_hours, 0, 0},
      {"full timestamp with time offset", full, 5, 17},
      {"seconds with time offset", seconds_only, 7, 100},
      {"24-bit time offset stays unsigned", frames_only, 24, 0xFFFFFF},
      {"31-bit time offset", full, 31, 0x7FFFFFFF},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const SpsInfo sps = TimingSps(0, 0, 1, static_cast<uint32_t>(c.time_offset_length));
    std::optional<ClockTimestamp> first = c.first;
    if (first) first->time_offset = c.time_offset;
    // pic_struct 3 (top, bottom) has two timestamps: the second one is read
    // right only if the first took exactly its own bits.
    ClockTimestamp second = full;
    second.n_frames = 77;
    second.time_offset = c.time_offset_length > 0 ? 1 : 0;
    BitWriter payload;
    payload.U(3, 4);
    WriteClockTimestamp(payload, first, c.time_offset_length);
    WriteClockTimestamp(payload, second, c.time_offset_length);

    PicTimingInfo expected = SeiHeaderOnly();
    expected.NumClockTS = 2;
    SetExpected(expected, 0, first);
    SetExpected(expected, 1, second);
    PicTimingInfo timing;
    ASSERT_EQ(ParseSeiPicTiming(PicTimingUnit(payload), sps, timing), SeiParseResult::Ok);
    EXPECT_EQ(Fields(timing), Fields(expected));
  }
}

TEST(SeiPicTimingTest, EveryParseStartsFromZero) {
  const SpsInfo sps = TimingSps(1, 7, 1, 8);
  ClockTimestamp ts;
  ts.n_frames = 9;
  ts.seconds_value = 1;
  ts.time_offset = 200;
  BitWriter three;
  three.U(0xAB, 8).U(0xCD, 8).U(5, 4);
  for (int i = 0; i < 3; ++i) WriteClockTimestamp(three, ts, 8);
  PicTimingInfo timing;
  ASSERT_EQ(ParseSeiPicTiming(PicTimingUnit(three), sps, timing), SeiParseResult::Ok);
  ASSERT_EQ(timing.n_frames[2], 9u);

  BitWriter one;
  one.U(0x01, 8).U(0x02, 8).U(0, 4);
  WriteClockTimestamp(one, std::nullopt, 8);
  PicTimingInfo expected = SeiHeaderOnly();
  expected.cpb_dpb_delays_present_flag = 1;
  expected.cpb_removal_delay = 1;
  expected.dpb_output_delay = 2;
  expected.NumClockTS = 1;
  ASSERT_EQ(ParseSeiPicTiming(PicTimingUnit(one), sps, timing), SeiParseResult::Ok);
  EXPECT_EQ(Fields(timing), Fields(expected));

  // A forbidden bit leaves the record all zeros as well.
  std::vector<uint8_t> forbidden = PicTimingUnit(three);
  forbidden[0] = 0x86;
  EXPECT_EQ(ParseSeiPicTiming(forbidden, sps, timing), SeiParseResult::ForbiddenBit);
  EXPECT_EQ(Fields(timing), Fields(PicTimingInfo{}));
}

TEST(SeiPicTimingTest, HeaderAndPayloadTypeChecks) {
  struct Case {
    std::string name;
    std::vector<uint8_t> unit;
    SeiParseResult result;
    uint32_t nal_ref_idc;
    uint32_t nal_unit_type;
  };
  const Case cases[] = {
      {"forbidden bit", {0x86, 0x01, 0x01, 0x04, 0x80}, SeiParseResult::ForbiddenBit, 0, 0},
      {"IDR slice header", {0x05, 0x01, 0x01, 0x04, 0x80}, SeiParseResult::NotSei, 0, 5},
      {"PPS header", {0x68, 0x01, 0x01, 0x04, 0x80}, SeiParseResult::NotSei, 3, 8},
      {"empty unit", {}, SeiParseResult::NotSei, 0, 0},
      {"buffering period first",
       {0x06, 0x00, 0x01, 0x04, 0x80},
       SeiParseResult::NotPicTiming,
       0,
       6},
      {"payload type 256 (FF 01)",
       {0x06, 0xFF, 0x01, 0x01, 0x04, 0x80},
       SeiParseResult::NotPicTiming,
       0,
       6},
      {"header byte only", {0x06}, SeiParseResult::NotPicTiming, 0, 6},
      {"picture timing", {0x06, 0x01, 0x01, 0x04, 0x80}, SeiParseResult::Ok, 0, 6},
      {"nal_ref_idc not checked", {0x66, 0x01, 0x01, 0x04, 0x80}, SeiParseResult::Ok, 3, 6},
  };
  const SpsInfo sps = TimingSps(0, 0, 1, 0);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    PicTimingInfo timing;
    EXPECT_EQ(ParseSeiPicTiming(c.unit, sps, timing), c.result);
    EXPECT_EQ(timing.nal_ref_idc, c.nal_ref_idc);
    EXPECT_EQ(timing.nal_unit_type, c.nal_unit_type);
    EXPECT_EQ(timing.NumClockTS, c.result == SeiParseResult::Ok ? 1u : 0u);
  }
}

TEST(SeiPicTimingTest, PayloadSizeExtensionBytesAreStepped) {
  // payloadSize 255 + 255 + 16, written as FF FF 10, before the payload.
  const std::vector<uint8_t> unit = {0x06, 0x01, 0xFF, 0xFF, 0x10, 0x12, 0x34, 0x5F, 0xFF, 0x80};
  PicTimingInfo timing;
  ASSERT_EQ(ParseSeiPicTiming(unit, TimingSps(1, 7, 0, 0), timing), SeiParseResult::Ok);
  EXPECT_EQ(timing.cpb_removal_delay, 0x12u);
  EXPECT_EQ(timing.dpb_output_delay, 0x34u);
}

TEST(SeiPicTimingTest, MessageCutShortReadsZeros) {
  // 32-bit delays of all ones, then pic_struct 5 with three full timestamps.
  BitWriter payload;
  payload.U(0xFFFFFFFF, 32).U(0xFFFFFFFF, 32).U(5, 4);
  // No long zero runs, so that no emulation-prevention byte is needed.
  ClockTimestamp ts;
  ts.ct_type = 1;
  ts.counting_type = 1;
  ts.full_timestamp_flag = 1;
  ts.n_frames = 255;
  ts.seconds_value = 59;
  ts.minutes_value = 59;
  ts.hours_value = 23;
  ts.time_offset = 0x7FFFFFFF;
  for (int i = 0; i < 3; ++i) WriteClockTimestamp(payload, ts, 31);
  const std::vector<uint8_t> unit = PicTimingUnit(payload);
  const SpsInfo sps = TimingSps(1, 31, 1, 31);

  PicTimingInfo whole;
  ASSERT_EQ(ParseSeiPicTiming(unit, sps, whole), SeiParseResult::Ok);
  EXPECT_EQ(whole.cpb_removal_delay, 4294967295u);
  EXPECT_EQ(whole.dpb_output_delay, 4294967295u);
  EXPECT_EQ(whole.NumClockTS, 3u);
  EXPECT_EQ(whole.n_frames[2], 255u);

  // The unit has no emulation-prevention bytes, so byte k holds bits 8k..8k+7.
  ASSERT_EQ(unit.size(), (24 + payload.BitCount() + 1 + 7) / 8);
  for (size_t length = 2; length < unit.size(); ++length) {
    SCOPED_TRACE(length);
    const std::vector<uint8_t> cut(unit.begin(),
                                   unit.begin() + static_cast<std::ptrdiff_t>(length));
    PicTimingInfo timing;
    ASSERT_EQ(ParseSeiPicTiming(cut, sps, timing), SeiParseResult::Ok);
    // cpb_removal_delay occupies bits 24..55: the bits still there, then zeros.
    const uint64_t kept_bits = std::min<uint64_t>(8 * length > 24 ? 8 * length - 24 : 0, 32);
    const uint32_t expected =
        kept_bits == 0 ? 0 : static_cast<uint32_t>(0xFFFFFFFFull << (32 - kept_bits));
    EXPECT_EQ(timing.cpb_removal_delay, expected);
    EXPECT_EQ(timing.cpb_dpb_delays_present_flag, 1u);
  }
}

TEST(SeiPicTimingTest, SampleStreamMessages) {
  // First picture timing SEI units of the x264 and JM sample base views.
  struct Case {
    std::string name;
    std::vector<uint8_t> unit;
    SpsInfo sps;
    uint32_t cpb_removal_delay;
    uint32_t dpb_output_delay;
  };
  // x264: NAL HRD with cpb_removal_delay_length_minus1 9 and
  // dpb_output_delay_length_minus1 6; JM: no HRD. Both have pic_struct.
  SpsInfo x264 = TimingSps(1, 9, 1, 0);
  x264.dpb_output_delay_length_minus1 = 6;
  const Case cases[] = {
      {"x264 first", {0x06, 0x01, 0x03, 0x00, 0x02, 0x02, 0x80}, x264, 0, 4},
      {"x264 second", {0x06, 0x01, 0x03, 0x00, 0x83, 0x02, 0x80}, x264, 2, 6},
      {"JM first", {0x06, 0x01, 0x01, 0x04, 0x80}, TimingSps(0, 0, 1, 0), 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    PicTimingInfo timing;
    ASSERT_EQ(ParseSeiPicTiming(c.unit, c.sps, timing), SeiParseResult::Ok);
    EXPECT_EQ(timing.cpb_dpb_delays_present_flag, c.sps.nal_hrd_parameters_present_flag);
    EXPECT_EQ(timing.cpb_removal_delay, c.cpb_removal_delay);
    EXPECT_EQ(timing.dpb_output_delay, c.dpb_output_delay);
    EXPECT_EQ(timing.NumClockTS, 1u);  // pic_struct 0: a progressive frame
    EXPECT_EQ(timing.clock_timestamp_flag[0], 0u);
  }
}

TEST(SeiPicTimingTest, Messages) {
  EXPECT_STREQ(SeiParseMessage(SeiParseResult::Ok), "");
  EXPECT_STREQ(SeiParseMessage(SeiParseResult::ForbiddenBit), "forbidden bit in SEI-NAL.");
  EXPECT_STREQ(SeiParseMessage(SeiParseResult::NotSei), "this is not a SEI-NAL.");
  EXPECT_STREQ(SeiParseMessage(SeiParseResult::NotPicTiming), "this is not a SEI-timing.");
}

}  // namespace
}  // namespace tandrel
