#include "h264/sps_parser.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "bit_writer.h"

namespace tandrel {
namespace {

using test::BitWriter;

struct HrdSyntax {
  uint32_t cpb_cnt_minus1 = 0;
  // Rate sets actually written; by default cpb_cnt_minus1 + 1.
  std::optional<uint32_t> rate_sets_written;
  uint32_t initial_cpb_removal_delay_length_minus1 = 23;
  uint32_t cpb_removal_delay_length_minus1 = 23;
  uint32_t dpb_output_delay_length_minus1 = 23;
  uint32_t time_offset_length = 24;
};

struct VuiSyntax {
  std::optional<uint32_t> aspect_ratio_idc;
  bool overscan_info_present = false;
  bool video_signal_type_present = false;
  std::optional<std::array<uint32_t, 2>> chroma_sample_loc_types;
  std::optional<std::array<uint32_t, 2>> timing = std::array<uint32_t, 2>{1001, 48000};
  std::optional<HrdSyntax> nal_hrd;
  std::optional<HrdSyntax> vcl_hrd;
  bool pic_struct_present = true;
  // max_bytes_per_pic_denom .. max_dec_frame_buffering, when present.
  std::optional<std::array<uint32_t, 6>> bitstream_restriction;
};

// The syntax of a sequence parameter set; defaults give 1920x1080 High profile 4:2:0.
struct SpsSyntax {
  uint8_t header = 0x67;
  uint32_t profile_idc = 100;
  uint32_t level_idc = 40;
  uint32_t chroma_format_idc = 1;  // written only for profiles with the chroma syntax
  bool separate_colour_plane = false;
  std::optional<std::vector<bool>> seq_scaling_list_present_flags;  // matrix present when set
  uint32_t pic_order_cnt_type = 0;
  std::vector<int64_t> offset_for_ref_frame;  // pic_order_cnt_type 1
  // num_ref_frames_in_pic_order_cnt_cycle; by default the number of offsets written.
  std::optional<uint32_t> cycle_length;
  uint32_t pic_width_in_mbs_minus1 = 119;
  uint32_t pic_height_in_map_units_minus1 = 67;
  bool frame_mbs_only = true;
  std::optional<std::array<uint32_t, 4>> crop = std::array<uint32_t, 4>{0, 0, 0, 4};
  std::optional<VuiSyntax> vui = VuiSyntax{};
};

bool HasChromaSyntax(uint32_t profile_idc) {
  const uint32_t high_profiles[] = {44, 83, 86, 100, 110, 118, 122, 128, 134, 135, 138, 139, 244};
  return std::find(std::begin(high_profiles), std::end(high_profiles), profile_idc) !=
         std::end(high_profiles);
}

void WriteHrd(BitWriter& w, const HrdSyntax& hrd) {
  w.Ue(hrd.cpb_cnt_minus1).U(4, 4).U(5, 4);  // bit_rate_scale, cpb_size_scale
  const uint64_t sets = hrd.rate_sets_written.value_or(hrd.cpb_cnt_minus1 + 1);
  for (uint64_t i = 0; i < sets; ++i) w.Ue(2000 + i).Ue(3000 + i).Flag(i % 2 == 1);
  w.U(hrd.initial_cpb_removal_delay_length_minus1, 5)
      .U(hrd.cpb_removal_delay_length_minus1, 5)
      .U(hrd.dpb_output_delay_length_minus1, 5)
      .U(hrd.time_offset_length, 5);
}

void WriteVui(BitWriter& w, const VuiSyntax& vui) {
  w.Flag(vui.aspect_ratio_idc.has_value());
  if (vui.aspect_ratio_idc) {
    w.U(*vui.aspect_ratio_idc, 8);
    if (*vui.aspect_ratio_idc == 255) w.U(4, 16).U(3, 16);  // sar_width, sar_height
  }
  w.Flag(vui.overscan_info_present);
  if (vui.overscan_info_present) w.Flag(true);
  w.Flag(vui.video_signal_type_present);
  if (vui.video_signal_type_present) w.U(5, 3).Flag(false).Flag(true).U(1, 8).U(1, 8).U(1, 8);
  w.Flag(vui.chroma_sample_loc_types.has_value());
  if (vui.chroma_sample_loc_types) {
    w.Ue((*vui.chroma_sample_loc_types)[0]).Ue((*vui.chroma_sample_loc_types)[1]);
  }
  w.Flag(vui.timing.has_value());
  if (vui.timing) w.U((*vui.timing)[0], 32).U((*vui.timing)[1], 32).Flag(true);
  w.Flag(vui.nal_hrd.has_value());
  if (vui.nal_hrd) WriteHrd(w, *vui.nal_hrd);
  w.Flag(vui.vcl_hrd.has_value());
  if (vui.vcl_hrd) WriteHrd(w, *vui.vcl_hrd);
  if (vui.nal_hrd || vui.vcl_hrd) w.Flag(false);  // low_delay_hrd_flag
  w.Flag(vui.pic_struct_present);
  w.Flag(vui.bitstream_restriction.has_value());
  if (vui.bitstream_restriction) {
    w.Flag(true);
    for (const uint32_t value : *vui.bitstream_restriction) w.Ue(value);
  }
}

// The SPS syntax up to the end of the VUI, without rbsp_trailing_bits.
BitWriter WriteSps(const SpsSyntax& s) {
  BitWriter w;
  w.U(s.header, 8).U(s.profile_idc, 8).U(0, 8).U(s.level_idc, 8).Ue(0);
  if (HasChromaSyntax(s.profile_idc)) {
    w.Ue(s.chroma_format_idc);
    if (s.chroma_format_idc == 3) w.Flag(s.separate_colour_plane);
    w.Ue(0).Ue(0).Flag(false);  // bit depths 8, qpprime_y_zero_transform_bypass_flag
    w.Flag(s.seq_scaling_list_present_flags.has_value());
    if (s.seq_scaling_list_present_flags) {
      for (const bool present : *s.seq_scaling_list_present_flags) w.Flag(present);
    }
  }
  w.Ue(4);  // log2_max_frame_num_minus4
  w.Ue(s.pic_order_cnt_type);
  if (s.pic_order_cnt_type == 0) w.Ue(2);
  if (s.pic_order_cnt_type == 1) {
    w.Flag(false).Se(-3).Se(5);
    w.Ue(s.cycle_length.value_or(static_cast<uint32_t>(s.offset_for_ref_frame.size())));
    for (const int64_t offset : s.offset_for_ref_frame) w.Se(offset);
  }
  w.Ue(4).Flag(false);  // max_num_ref_frames, gaps_in_frame_num_value_allowed_flag
  w.Ue(s.pic_width_in_mbs_minus1).Ue(s.pic_height_in_map_units_minus1);
  w.Flag(s.frame_mbs_only);
  if (!s.frame_mbs_only) w.Flag(true);  // mb_adaptive_frame_field_flag
  w.Flag(true);                         // direct_8x8_inference_flag
  w.Flag(s.crop.has_value());
  if (s.crop) {
    for (const uint32_t offset : *s.crop) w.Ue(offset);
  }
  w.Flag(s.vui.has_value());
  if (s.vui) WriteVui(w, *s.vui);
  return w;
}

std::vector<uint8_t> SpsUnit(const SpsSyntax& s) { return WriteSps(s).TrailingBits().Unit(); }

// Every field set to a value no parse in these tests writes, so that fields a
// walk does not reach are seen to keep their earlier values.
SpsInfo Sentinel() {
  SpsInfo sps;
  sps.nal_ref_idc = sps.nal_unit_type = sps.profile_idc = sps.level_idc = 9999;
  sps.chroma_format_idc = sps.separate_colour_plane_flag = sps.pic_order_cnt_type = 9999;
  sps.num_ref_frames_in_pic_order_cnt_cycle = sps.pic_width_in_mbs_minus1 = 9999;
  sps.pic_height_in_map_units_minus1 = sps.frame_mbs_only_flag = sps.frame_cropping_flag = 9999;
  sps.frame_crop_left_offset = sps.frame_crop_right_offset = 9999;
  sps.frame_crop_top_offset = sps.frame_crop_bottom_offset = 9999;
  sps.vui_parameters_present_flag = sps.aspect_ratio_idc = sps.timing_info_present_flag = 9999;
  sps.num_units_in_tick = sps.time_scale = sps.fixed_frame_rate_flag = 9999;
  sps.nal_hrd_parameters_present_flag = sps.cpb_cnt_minus1 = 9999;
  sps.initial_cpb_removal_delay_length_minus1 = sps.cpb_removal_delay_length_minus1 = 9999;
  sps.dpb_output_delay_length_minus1 = sps.time_offset_length = 9999;
  sps.vcl_hrd_parameters_present_flag = sps.pic_struct_present_flag = 9999;
  return sps;
}

SpsParseResult Parse(const std::vector<uint8_t>& unit, SpsInfo& sps) { return ParseSps(unit, sps); }

TEST(SpsParserTest, HighProfileWithVuiTiming) {
  SpsInfo sps = Sentinel();
  ASSERT_EQ(Parse(SpsUnit(SpsSyntax{}), sps), SpsParseResult::Ok);
  EXPECT_EQ(sps.nal_ref_idc, 3u);
  EXPECT_EQ(sps.nal_unit_type, 7u);
  EXPECT_EQ(sps.profile_idc, 100u);
  EXPECT_EQ(sps.level_idc, 40u);
  EXPECT_EQ(sps.chroma_format_idc, 1u);
  EXPECT_EQ(sps.separate_colour_plane_flag, 9999u);  // only 4:4:4 carries it
  EXPECT_EQ(sps.pic_order_cnt_type, 0u);
  EXPECT_EQ(sps.pic_width_in_mbs_minus1, 119u);
  EXPECT_EQ(sps.pic_height_in_map_units_minus1, 67u);
  EXPECT_EQ(sps.frame_mbs_only_flag, 1u);
  EXPECT_EQ(sps.frame_cropping_flag, 1u);
  EXPECT_EQ(sps.frame_crop_left_offset, 0u);
  EXPECT_EQ(sps.frame_crop_right_offset, 0u);
  EXPECT_EQ(sps.frame_crop_top_offset, 0u);
  EXPECT_EQ(sps.frame_crop_bottom_offset, 4u);
  EXPECT_EQ(sps.vui_parameters_present_flag, 1u);
  EXPECT_EQ(sps.aspect_ratio_idc, 9999u);  // aspect ratio info absent
  EXPECT_EQ(sps.timing_info_present_flag, 1u);
  EXPECT_EQ(sps.num_units_in_tick, 1001u);
  EXPECT_EQ(sps.time_scale, 48000u);
  EXPECT_EQ(sps.fixed_frame_rate_flag, 1u);
  EXPECT_EQ(sps.nal_hrd_parameters_present_flag, 0u);
  EXPECT_EQ(sps.vcl_hrd_parameters_present_flag, 0u);
  EXPECT_EQ(sps.cpb_removal_delay_length_minus1, 9999u);  // no HRD structure read
  EXPECT_EQ(sps.pic_struct_present_flag, 1u);
}

TEST(SpsParserTest, ChromaSyntaxOnlyForHighProfiles) {
  const uint32_t profiles[] = {66,  77,  88,  44,  83,  86,  100, 110,
                               118, 122, 128, 134, 135, 138, 139, 244};
  for (const uint32_t profile : profiles) {
    SCOPED_TRACE(profile);
    SpsSyntax syntax;
    syntax.profile_idc = profile;
    syntax.chroma_format_idc = 2;
    SpsInfo sps = Sentinel();
    ASSERT_EQ(Parse(SpsUnit(syntax), sps), SpsParseResult::Ok);
    EXPECT_EQ(sps.profile_idc, profile);
    EXPECT_EQ(sps.chroma_format_idc, HasChromaSyntax(profile) ? 2u : 9999u);
    // The fields after the branch only come out right if it was taken correctly.
    EXPECT_EQ(sps.pic_width_in_mbs_minus1, 119u);
    EXPECT_EQ(sps.time_scale, 48000u);
  }
}

TEST(SpsParserTest, ScalingMatrixFlags) {
  struct Case {
    std::string name;
    uint32_t chroma_format_idc;
    bool separate_colour_plane;
    std::vector<bool> flags;
    SpsParseResult result;
  };
  const std::vector<bool> eight_clear(8, false);
  const std::vector<bool> twelve_clear(12, false);
  std::vector<bool> third_set = eight_clear;
  third_set[2] = true;
  std::vector<bool> twelfth_set = twelve_clear;
  twelfth_set[11] = true;
  const Case cases[] = {
      {"4:2:0, eight clear flags", 1, false, eight_clear, SpsParseResult::Ok},
      {"4:4:4, twelve clear flags", 3, false, twelve_clear, SpsParseResult::Ok},
      {"4:4:4 separate planes, twelve clear flags", 3, true, twelve_clear, SpsParseResult::Ok},
      {"4:2:0, third flag set", 1, false, third_set, SpsParseResult::ScalingList},
      {"4:4:4, twelfth flag set", 3, false, twelfth_set, SpsParseResult::ScalingList},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SpsSyntax syntax;
    syntax.level_idc = 51;
    syntax.chroma_format_idc = c.chroma_format_idc;
    syntax.separate_colour_plane = c.separate_colour_plane;
    syntax.seq_scaling_list_present_flags = c.flags;
    SpsInfo sps = Sentinel();
    ASSERT_EQ(Parse(SpsUnit(syntax), sps), c.result);
    EXPECT_EQ(sps.profile_idc, 100u);
    EXPECT_EQ(sps.level_idc, 51u);
    EXPECT_EQ(sps.chroma_format_idc, c.chroma_format_idc);
    EXPECT_EQ(sps.separate_colour_plane_flag,
              c.chroma_format_idc == 3 ? uint32_t{c.separate_colour_plane} : 9999u);
    const bool walk_finished = c.result == SpsParseResult::Ok;
    EXPECT_EQ(sps.pic_order_cnt_type, walk_finished ? 0u : 9999u);
    EXPECT_EQ(sps.pic_width_in_mbs_minus1, walk_finished ? 119u : 9999u);
    EXPECT_EQ(sps.time_scale, walk_finished ? 48000u : 9999u);
  }
}

TEST(SpsParserTest, PicOrderCountTypes) {
  struct Case {
    uint32_t pic_order_cnt_type;
    std::vector<int64_t> offsets;
    uint32_t stored_cycle;
  };
  std::vector<int64_t> long_cycle;
  for (int64_t i = 0; i < 200; ++i) long_cycle.push_back((i % 2 == 0 ? 1 : -1) * i * 1000);
  const Case cases[] = {
      {0, {}, 9999}, {1, {}, 0}, {1, {7, -2, 300}, 3}, {1, long_cycle, 200}, {2, {}, 9999},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << "type " << c.pic_order_cnt_type << ", cycle " << c.offsets.size());
    SpsSyntax syntax;
    syntax.pic_order_cnt_type = c.pic_order_cnt_type;
    syntax.offset_for_ref_frame = c.offsets;
    const std::vector<uint8_t> unit = SpsUnit(syntax);
    if (c.offsets.size() == 200) {
      ASSERT_GT(unit.size(), 512u);  // far beyond 128 bytes
    }

    SpsInfo sps = Sentinel();
    ASSERT_EQ(Parse(unit, sps), SpsParseResult::Ok);
    EXPECT_EQ(sps.pic_order_cnt_type, c.pic_order_cnt_type);
    EXPECT_EQ(sps.num_ref_frames_in_pic_order_cnt_cycle, c.stored_cycle);
    EXPECT_EQ(sps.pic_height_in_map_units_minus1, 67u);
    EXPECT_EQ(sps.frame_crop_bottom_offset, 4u);
    EXPECT_EQ(sps.pic_struct_present_flag, 1u);
  }
}

TEST(SpsParserTest, PictureSizeAndCropping) {
  SpsSyntax interlaced;
  interlaced.pic_width_in_mbs_minus1 = 44;
  interlaced.pic_height_in_map_units_minus1 = 17;
  interlaced.frame_mbs_only = false;
  interlaced.crop = std::array<uint32_t, 4>{1, 2, 3, 5};
  SpsInfo sps = Sentinel();
  ASSERT_EQ(Parse(SpsUnit(interlaced), sps), SpsParseResult::Ok);
  EXPECT_EQ(sps.pic_width_in_mbs_minus1, 44u);
  EXPECT_EQ(sps.pic_height_in_map_units_minus1, 17u);
  EXPECT_EQ(sps.frame_mbs_only_flag, 0u);
  EXPECT_EQ(sps.frame_cropping_flag, 1u);
  EXPECT_EQ(sps.frame_crop_left_offset, 1u);
  EXPECT_EQ(sps.frame_crop_right_offset, 2u);
  EXPECT_EQ(sps.frame_crop_top_offset, 3u);
  EXPECT_EQ(sps.frame_crop_bottom_offset, 5u);
  EXPECT_EQ(sps.time_scale, 48000u);

  // Without cropping the offsets are inferred as 0, not kept from before.
  SpsSyntax uncropped;
  uncropped.crop.reset();
  ASSERT_EQ(Parse(SpsUnit(uncropped), sps), SpsParseResult::Ok);
  EXPECT_EQ(sps.frame_mbs_only_flag, 1u);
  EXPECT_EQ(sps.frame_cropping_flag, 0u);
  EXPECT_EQ(sps.frame_crop_left_offset, 0u);
  EXPECT_EQ(sps.frame_crop_right_offset, 0u);
  EXPECT_EQ(sps.frame_crop_top_offset, 0u);
  EXPECT_EQ(sps.frame_crop_bottom_offset, 0u);
}

TEST(SpsParserTest, VuiElementsSteppedOver) {
  SpsSyntax syntax;
  syntax.vui->aspect_ratio_idc = 255;
  syntax.vui->overscan_info_present = true;
  syntax.vui->video_signal_type_present = true;
  syntax.vui->chroma_sample_loc_types = std::array<uint32_t, 2>{1, 5};
  syntax.vui->timing = std::array<uint32_t, 2>{0xFFFFFFFF, 0x80000001};
  syntax.vui->bitstream_restriction = std::array<uint32_t, 6>{2, 1, 16, 15, 2, 4};
  SpsInfo sps = Sentinel();
  ASSERT_EQ(Parse(SpsUnit(syntax), sps), SpsParseResult::Ok);
  EXPECT_EQ(sps.aspect_ratio_idc, 255u);
  EXPECT_EQ(sps.num_units_in_tick, 0xFFFFFFFFu);
  EXPECT_EQ(sps.time_scale, 0x80000001u);
  EXPECT_EQ(sps.pic_struct_present_flag, 1u);

  syntax.vui->aspect_ratio_idc = 1;
  syntax.vui->pic_struct_present = false;
  ASSERT_EQ(Parse(SpsUnit(syntax), sps), SpsParseResult::Ok);
  EXPECT_EQ(sps.aspect_ratio_idc, 1u);
  EXPECT_EQ(sps.pic_struct_present_flag, 0u);
}

TEST(SpsParserTest, HrdStructures) {
  HrdSyntax nal;
  nal.cpb_cnt_minus1 = 1;
  nal.initial_cpb_removal_delay_length_minus1 = 20;
  nal.cpb_removal_delay_length_minus1 = 23;
  nal.dpb_output_delay_length_minus1 = 22;
  nal.time_offset_length = 24;
  HrdSyntax vcl;
  vcl.cpb_cnt_minus1 = 2;
  vcl.initial_cpb_removal_delay_length_minus1 = 10;
  vcl.cpb_removal_delay_length_minus1 = 11;
  vcl.dpb_output_delay_length_minus1 = 12;
  vcl.time_offset_length = 13;

  struct Case {
    std::string name;
    std::optional<HrdSyntax> nal;
    std::optional<HrdSyntax> vcl;
    const HrdSyntax& kept;
  };
  const Case cases[] = {
      {"NAL only", nal, std::nullopt, nal},
      {"VCL only", std::nullopt, vcl, vcl},
      {"VCL replaces NAL", nal, vcl, vcl},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SpsSyntax syntax;
    syntax.vui->nal_hrd = c.nal;
    syntax.vui->vcl_hrd = c.vcl;
    SpsInfo sps = Sentinel();
    ASSERT_EQ(Parse(SpsUnit(syntax), sps), SpsParseResult::Ok);
    EXPECT_EQ(sps.nal_hrd_parameters_present_flag, uint32_t{c.nal.has_value()});
    EXPECT_EQ(sps.vcl_hrd_parameters_present_flag, uint32_t{c.vcl.has_value()});
    EXPECT_EQ(sps.cpb_cnt_minus1, c.kept.cpb_cnt_minus1);
    EXPECT_EQ(sps.initial_cpb_removal_delay_length_minus1,
              c.kept.initial_cpb_removal_delay_length_minus1);
    EXPECT_EQ(sps.cpb_removal_delay_length_minus1, c.kept.cpb_removal_delay_length_minus1);
    EXPECT_EQ(sps.dpb_output_delay_length_minus1, c.kept.dpb_output_delay_length_minus1);
    EXPECT_EQ(sps.time_offset_length, c.kept.time_offset_length);
    EXPECT_EQ(sps.pic_struct_present_flag, 1u);
  }
}

TEST(SpsParserTest, SpsWithoutVuiKeepsEarlierVuiFields) {
  SpsSyntax with_vui;
  with_vui.vui->nal_hrd = HrdSyntax{};
  SpsInfo sps;
  ASSERT_EQ(Parse(SpsUnit(with_vui), sps), SpsParseResult::Ok);

  SpsSyntax without_vui;
  without_vui.profile_idc = 77;
  without_vui.pic_width_in_mbs_minus1 = 79;
  without_vui.pic_height_in_map_units_minus1 = 44;
  without_vui.vui.reset();
  ASSERT_EQ(Parse(SpsUnit(without_vui), sps), SpsParseResult::Ok);
  EXPECT_EQ(sps.profile_idc, 77u);
  EXPECT_EQ(sps.chroma_format_idc, 1u);  // not read for Main profile
  EXPECT_EQ(sps.pic_width_in_mbs_minus1, 79u);
  EXPECT_EQ(sps.vui_parameters_present_flag, 0u);
  EXPECT_EQ(sps.timing_info_present_flag, 1u);
  EXPECT_EQ(sps.num_units_in_tick, 1001u);
  EXPECT_EQ(sps.time_scale, 48000u);
  EXPECT_EQ(sps.nal_hrd_parameters_present_flag, 1u);
  EXPECT_EQ(sps.cpb_removal_delay_length_minus1, 23u);
  EXPECT_EQ(sps.time_offset_length, 24u);
  EXPECT_EQ(sps.pic_struct_present_flag, 1u);
}

TEST(SpsParserTest, HeaderByteChecks) {
  struct Case {
    std::string name;
    std::vector<uint8_t> unit;
    SpsParseResult result;
    uint32_t nal_ref_idc;
    uint32_t nal_unit_type;
  };
  std::vector<uint8_t> pps = SpsUnit(SpsSyntax{});
  pps[0] = 0x68;
  std::vector<uint8_t> forbidden = SpsUnit(SpsSyntax{});
  forbidden[0] = 0xE7;
  const Case cases[] = {
      {"PPS header", pps, SpsParseResult::NotSps, 3, 8},
      {"forbidden bit", forbidden, SpsParseResult::ForbiddenBit, 9999, 9999},
      {"empty unit", {}, SpsParseResult::NotSps, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SpsInfo sps = Sentinel();
    EXPECT_EQ(Parse(c.unit, sps), c.result);
    EXPECT_EQ(sps.nal_ref_idc, c.nal_ref_idc);
    EXPECT_EQ(sps.nal_unit_type, c.nal_unit_type);
    EXPECT_EQ(sps.profile_idc, 9999u);
  }
}

std::vector<uint8_t> Prefix(const std::vector<uint8_t>& bytes, size_t length) {
  return {bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(length)};
}

TEST(SpsParserTest, EveryCutInsideTheSyntaxIsReadOver) {
  SpsSyntax syntax;
  syntax.vui->aspect_ratio_idc = 255;
  syntax.vui->nal_hrd = HrdSyntax{};
  syntax.vui->bitstream_restriction = std::array<uint32_t, 6>{0, 0, 16, 16, 2, 4};
  const BitWriter walk = WriteSps(syntax);
  const std::vector<uint8_t> rbsp = BitWriter(walk).TrailingBits().Rbsp();
  const size_t bytes_with_syntax = (walk.BitCount() + 7) / 8;
  for (size_t length = 1; length < bytes_with_syntax; ++length) {
    SCOPED_TRACE(length);
    SpsInfo sps;
    EXPECT_EQ(Parse(test::AddEmulationPrevention(Prefix(rbsp, length)), sps),
              SpsParseResult::ReadOver);
  }
  SpsInfo sps;
  EXPECT_EQ(Parse(test::AddEmulationPrevention(Prefix(rbsp, bytes_with_syntax)), sps),
            SpsParseResult::Ok);
}

TEST(SpsParserTest, WalkEndingOnTheLastBitPasses) {
  // Pad the syntax to a byte boundary with VUI elements the walk steps over
  // (1 more bit for overscan, 2, 4 or 6 for chroma locations), so that its
  // last element ends on the last bit of the unit.
  using ChromaLoc = std::optional<std::array<uint32_t, 2>>;
  const ChromaLoc chroma_locs[] = {std::nullopt, ChromaLoc{{0, 0}}, ChromaLoc{{1, 0}},
                                   ChromaLoc{{1, 1}}};
  std::optional<BitWriter> aligned;
  for (const ChromaLoc& chroma_loc : chroma_locs) {
    for (const bool overscan : {false, true}) {
      SpsSyntax syntax;
      syntax.vui->overscan_info_present = overscan;
      syntax.vui->chroma_sample_loc_types = chroma_loc;
      const BitWriter walk = WriteSps(syntax);
      if (walk.BitCount() % 8 == 0) aligned = walk;
    }
  }
  ASSERT_TRUE(aligned.has_value());
  std::vector<uint8_t> rbsp = aligned->Rbsp();
  SpsInfo sps;
  EXPECT_EQ(Parse(test::AddEmulationPrevention(rbsp), sps), SpsParseResult::Ok);
  rbsp.pop_back();
  EXPECT_EQ(Parse(test::AddEmulationPrevention(rbsp), sps), SpsParseResult::ReadOver);
}

TEST(SpsParserTest, HugeCountsEndInReadOver) {
  // Counts no unit could hold, followed by a few of their elements and the end of the unit.
  SpsSyntax huge_cycle;
  huge_cycle.pic_order_cnt_type = 1;
  huge_cycle.cycle_length = 4294967295u;
  huge_cycle.offset_for_ref_frame = {1, 2, 3};
  SpsInfo sps;
  EXPECT_EQ(Parse(SpsUnit(huge_cycle), sps), SpsParseResult::ReadOver);
  EXPECT_EQ(sps.num_ref_frames_in_pic_order_cnt_cycle, 4294967295u);

  SpsSyntax huge_cpb_count;
  HrdSyntax hrd;
  hrd.cpb_cnt_minus1 = 4294967294u;
  hrd.rate_sets_written = 3;
  huge_cpb_count.vui->nal_hrd = hrd;
  EXPECT_EQ(Parse(SpsUnit(huge_cpb_count), sps), SpsParseResult::ReadOver);
  EXPECT_EQ(sps.cpb_cnt_minus1, 4294967294u);
}

TEST(SpsParserTest, Messages) {
  EXPECT_STREQ(SpsParseMessage(SpsParseResult::Ok), "");
  EXPECT_STREQ(SpsParseMessage(SpsParseResult::ForbiddenBit), "forbidden bit in SPS-NAL.");
  EXPECT_STREQ(SpsParseMessage(SpsParseResult::NotSps), "this is not a SPS-NAL.");
  EXPECT_STREQ(SpsParseMessage(SpsParseResult::ScalingList),
               "unexpected \"seq_scaling_list_present_flag[j]\" found !");
  EXPECT_STREQ(SpsParseMessage(SpsParseResult::ReadOver), "read over SPS-NAL size !");
}

TEST(CroppedPictureSizeTest, SizesFromSps) {
  struct Case {
    std::string name;
    uint32_t profile_idc;
    uint32_t chroma_format_idc;
    uint32_t separate_colour_plane_flag;
    uint32_t width_mbs_minus1;
    uint32_t height_map_units_minus1;
    uint32_t frame_mbs_only_flag;
    std::array<uint32_t, 4> crop;  // left, right, top, bottom
    std::optional<PictureSize> size;
  };
  const uint32_t max = 4294967295u;
  const Case cases[] = {
      {"1080p 4:2:0", 100, 1, 0, 119, 67, 1, {0, 0, 0, 4}, PictureSize{1920, 1080}},
      {"720p uncropped", 100, 1, 0, 79, 44, 1, {0, 0, 0, 0}, PictureSize{1280, 720}},
      {"1080i 4:2:0", 100, 1, 0, 119, 33, 0, {0, 0, 0, 2}, PictureSize{1920, 1080}},
      {"left, right and top crop", 100, 1, 0, 39, 29, 1, {1, 2, 3, 0}, PictureSize{634, 474}},
      {"Main profile ignores chroma_format_idc",
       77,
       3,
       1,
       39,
       22,
       1,
       {0, 0, 0, 4},
       PictureSize{640, 360}},
      {"4:2:2", 122, 2, 0, 119, 67, 1, {0, 4, 0, 8}, PictureSize{1912, 1080}},
      {"4:2:2 interlaced", 122, 2, 0, 119, 33, 0, {0, 0, 0, 4}, PictureSize{1920, 1080}},
      {"4:4:4", 244, 3, 0, 119, 67, 1, {0, 3, 0, 8}, PictureSize{1917, 1080}},
      {"4:4:4 separate planes", 244, 3, 1, 119, 33, 0, {0, 3, 0, 4}, PictureSize{1917, 1080}},
      {"monochrome interlaced", 100, 0, 0, 119, 33, 0, {1, 0, 0, 4}, PictureSize{1919, 1080}},
      {"flag of an earlier 4:4:4 SPS ignored",
       100,
       1,
       1,
       119,
       67,
       1,
       {0, 0, 0, 4},
       PictureSize{1920, 1080}},
      {"smallest", 244, 3, 0, 0, 0, 1, {15, 0, 0, 15}, PictureSize{1, 1}},
      {"largest", 244, 3, 0, 4095, 4095, 1, {1, 0, 0, 1}, PictureSize{65535, 65535}},
      {"width 65536", 100, 1, 0, 4095, 67, 1, {0, 0, 0, 4}, std::nullopt},
      {"height 0", 100, 1, 0, 119, 0, 1, {0, 0, 4, 4}, std::nullopt},
      {"crop larger than picture", 100, 1, 0, 0, 0, 1, {max, max, 0, 0}, std::nullopt},
      {"largest ue values", 100, 1, 0, max, max, 0, {0, 0, 0, 0}, std::nullopt},
      {"undefined chroma_format_idc", 100, 4, 0, 119, 67, 1, {0, 0, 0, 4}, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SpsInfo sps;
    sps.profile_idc = c.profile_idc;
    sps.chroma_format_idc = c.chroma_format_idc;
    sps.separate_colour_plane_flag = c.separate_colour_plane_flag;
    sps.pic_width_in_mbs_minus1 = c.width_mbs_minus1;
    sps.pic_height_in_map_units_minus1 = c.height_map_units_minus1;
    sps.frame_mbs_only_flag = c.frame_mbs_only_flag;
    sps.frame_cropping_flag = c.crop != std::array<uint32_t, 4>{} ? 1 : 0;
    sps.frame_crop_left_offset = c.crop[0];
    sps.frame_crop_right_offset = c.crop[1];
    sps.frame_crop_top_offset = c.crop[2];
    sps.frame_crop_bottom_offset = c.crop[3];
    const std::optional<PictureSize> size = CroppedPictureSize(sps);
    ASSERT_EQ(size.has_value(), c.size.has_value());
    if (size) {
      EXPECT_EQ(size->width, c.size->width);
      EXPECT_EQ(size->height, c.size->height);
    }
  }
}

std::vector<uint8_t> ReadSample(const std::string& name) {
#ifdef TANDREL_TEST_DATA
  const std::filesystem::path folder = TANDREL_TEST_DATA;
#else
  const std::filesystem::path folder =
      std::filesystem::path(__FILE__).parent_path() / ".." / "data";
#endif
  std::ifstream file(folder / name, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

bool StartCodeAt(const std::vector<uint8_t>& data, size_t i) {
  return i + 2 < data.size() && data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1;
}

// The first SPS unit of an Annex B sample: from the byte after its 00 00 01 up
// to the next start code, less the leading zero of a four-byte one.
std::vector<uint8_t> FirstSps(const std::string& name) {
  const std::vector<uint8_t> data = ReadSample(name);
  for (size_t i = 0; i + 3 < data.size(); ++i) {
    if (!StartCodeAt(data, i) || (data[i + 3] & 0x1F) != 7) continue;
    const size_t begin = i + 3;
    size_t end = begin + 1;
    while (end < data.size() && !StartCodeAt(data, end)) ++end;
    if (end < data.size() && data[end - 1] == 0) --end;
    return {data.begin() + static_cast<std::ptrdiff_t>(begin),
            data.begin() + static_cast<std::ptrdiff_t>(end)};
  }
  return {};
}

TEST(SpsParserTest, X264Sample) {
  // Values confirmed with ffprobe (640x360 High@3.0, 24000/1001 fps) and by
  // decoding the unit's bits by hand.
  const std::vector<uint8_t> unit = FirstSps("x264_360p.264");
  ASSERT_FALSE(unit.empty()) << "x264_360p.264 not found or without SPS";
  SpsInfo sps;
  ASSERT_EQ(ParseSps(unit, sps), SpsParseResult::Ok);
  EXPECT_EQ(sps.profile_idc, 100u);
  EXPECT_EQ(sps.level_idc, 30u);
  EXPECT_EQ(sps.chroma_format_idc, 1u);
  EXPECT_EQ(sps.pic_order_cnt_type, 0u);
  EXPECT_EQ(sps.pic_width_in_mbs_minus1, 39u);
  EXPECT_EQ(sps.pic_height_in_map_units_minus1, 22u);
  EXPECT_EQ(sps.frame_mbs_only_flag, 1u);
  EXPECT_EQ(sps.frame_crop_bottom_offset, 4u);
  EXPECT_EQ(sps.aspect_ratio_idc, 1u);
  EXPECT_EQ(sps.timing_info_present_flag, 1u);
  EXPECT_EQ(sps.num_units_in_tick, 1001u);
  EXPECT_EQ(sps.time_scale, 48000u);
  EXPECT_EQ(sps.nal_hrd_parameters_present_flag, 1u);
  EXPECT_EQ(sps.vcl_hrd_parameters_present_flag, 0u);
  EXPECT_EQ(sps.cpb_cnt_minus1, 0u);
  EXPECT_EQ(sps.initial_cpb_removal_delay_length_minus1, 18u);
  EXPECT_EQ(sps.cpb_removal_delay_length_minus1, 9u);
  EXPECT_EQ(sps.dpb_output_delay_length_minus1, 6u);
  EXPECT_EQ(sps.time_offset_length, 0u);
  EXPECT_EQ(sps.pic_struct_present_flag, 1u);
  const std::optional<PictureSize> size = CroppedPictureSize(sps);
  ASSERT_TRUE(size.has_value());
  EXPECT_EQ(size->width, 640u);
  EXPECT_EQ(size->height, 360u);
}

TEST(SpsParserTest, JmSample) {
  const std::vector<uint8_t> unit = FirstSps("jm_320x240_sei.264");
  ASSERT_FALSE(unit.empty()) << "jm_320x240_sei.264 not found or without SPS";
  SpsInfo sps;
  ASSERT_EQ(ParseSps(unit, sps), SpsParseResult::Ok);
  EXPECT_EQ(sps.profile_idc, 100u);
  EXPECT_EQ(sps.level_idc, 41u);
  EXPECT_EQ(sps.frame_cropping_flag, 0u);
  EXPECT_EQ(sps.num_units_in_tick, 1001u);
  EXPECT_EQ(sps.time_scale, 48000u);
  EXPECT_EQ(sps.nal_hrd_parameters_present_flag, 0u);
  EXPECT_EQ(sps.vcl_hrd_parameters_present_flag, 0u);
  EXPECT_EQ(sps.pic_struct_present_flag, 1u);
  const std::optional<PictureSize> size = CroppedPictureSize(sps);
  ASSERT_TRUE(size.has_value());
  EXPECT_EQ(size->width, 320u);
  EXPECT_EQ(size->height, 240u);
}

}  // namespace
}  // namespace tandrel
