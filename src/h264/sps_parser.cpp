#include "h264/sps_parser.h"

#include <algorithm>
#include <array>

#include "h264/rbsp_bits.h"

namespace tandrel {
namespace {

constexpr uint32_t kSpsNalUnitType = 7;
constexpr uint32_t kExtendedSar = 255;  // aspect_ratio_idc followed by sar_width, sar_height
constexpr uint32_t kChroma420 = 1;
constexpr uint32_t kChroma444 = 3;

// Profiles whose SPS carries chroma_format_idc, the bit depths and the
// scaling matrix syntax (High and the profiles built on it, SVC, MVC).
constexpr std::array<uint32_t, 13> kProfilesWithChromaSyntax = {44,  83,  86,  100, 110, 118, 122,
                                                                128, 134, 135, 138, 139, 244};

bool CarriesChromaFormat(uint32_t profile_idc) {
  return std::ranges::find(kProfilesWithChromaSyntax, profile_idc) !=
         kProfilesWithChromaSyntax.end();
}

// chroma_format_idc .. seq_scaling_matrix_present_flag and its list flags.
// Returns false when a scaling list is present: its syntax is not read, so
// nothing after it could be found.
bool ReadChromaFormat(RbspBits& bits, SpsInfo& sps) {
  sps.chroma_format_idc = ReadUe(bits);
  if (sps.chroma_format_idc == kChroma444) sps.separate_colour_plane_flag = ReadBits(bits, 1);
  SkipExpGolomb(bits);  // bit_depth_luma_minus8
  SkipExpGolomb(bits);  // bit_depth_chroma_minus8
  SkipBits(bits, 1);    // qpprime_y_zero_transform_bypass_flag
  const bool seq_scaling_matrix_present = ReadBits(bits, 1) == 1;
  if (!seq_scaling_matrix_present) return true;
  const int list_count = sps.chroma_format_idc == kChroma444 ? 12 : 8;
  for (int j = 0; j < list_count; ++j) {
    if (ReadBits(bits, 1) == 1) return false;  // seq_scaling_list_present_flag[j]
  }
  return true;
}

void ReadPicOrderCnt(RbspBits& bits, SpsInfo& sps) {
  sps.pic_order_cnt_type = ReadUe(bits);
  if (sps.pic_order_cnt_type == 0) {
    SkipExpGolomb(bits);  // log2_max_pic_order_cnt_lsb_minus4
  } else if (sps.pic_order_cnt_type == 1) {
    SkipBits(bits, 1);    // delta_pic_order_always_zero_flag
    SkipExpGolomb(bits);  // offset_for_non_ref_pic
    SkipExpGolomb(bits);  // offset_for_top_to_bottom_field
    sps.num_ref_frames_in_pic_order_cnt_cycle = ReadUe(bits);
    // The count comes from the stream: stop once the unit is used up, since
    // every further code would only lie past its end.
    for (uint32_t i = 0; i < sps.num_ref_frames_in_pic_order_cnt_cycle && !Overrun(bits); ++i) {
      SkipExpGolomb(bits);  // offset_for_ref_frame[i]
    }
  }
}

void ReadFrameCropping(RbspBits& bits, SpsInfo& sps) {
  sps.frame_cropping_flag = ReadBits(bits, 1);
  if (sps.frame_cropping_flag == 1) {
    sps.frame_crop_left_offset = ReadUe(bits);
    sps.frame_crop_right_offset = ReadUe(bits);
    sps.frame_crop_top_offset = ReadUe(bits);
    sps.frame_crop_bottom_offset = ReadUe(bits);
  } else {
    // Absent offsets are inferred as 0.
    sps.frame_crop_left_offset = 0;
    sps.frame_crop_right_offset = 0;
    sps.frame_crop_top_offset = 0;
    sps.frame_crop_bottom_offset = 0;
  }
}

// hrd_parameters(). Called for the NAL and then the VCL structure; the
// second one overwrites the first.
void ReadHrdParameters(RbspBits& bits, SpsInfo& sps) {
  sps.cpb_cnt_minus1 = ReadUe(bits);
  SkipBits(bits, 8);  // bit_rate_scale, cpb_size_scale
  // 64-bit count: cpb_cnt_minus1 + 1 may not fit 32 bits. Stop once the unit is used up.
  for (uint64_t i = 0; i <= sps.cpb_cnt_minus1 && !Overrun(bits); ++i) {
    SkipExpGolomb(bits);  // bit_rate_value_minus1[i]
    SkipExpGolomb(bits);  // cpb_size_value_minus1[i]
    SkipBits(bits, 1);    // cbr_flag[i]
  }
  sps.initial_cpb_removal_delay_length_minus1 = ReadBits(bits, 5);
  sps.cpb_removal_delay_length_minus1 = ReadBits(bits, 5);
  sps.dpb_output_delay_length_minus1 = ReadBits(bits, 5);
  sps.time_offset_length = ReadBits(bits, 5);
}

void ReadVuiParameters(RbspBits& bits, SpsInfo& sps) {
  const bool aspect_ratio_info_present = ReadBits(bits, 1) == 1;
  if (aspect_ratio_info_present) {
    sps.aspect_ratio_idc = ReadBits(bits, 8);
    if (sps.aspect_ratio_idc == kExtendedSar) SkipBits(bits, 32);  // sar_width, sar_height
  }
  const bool overscan_info_present = ReadBits(bits, 1) == 1;
  if (overscan_info_present) SkipBits(bits, 1);  // overscan_appropriate_flag
  const bool video_signal_type_present = ReadBits(bits, 1) == 1;
  if (video_signal_type_present) {
    SkipBits(bits, 4);  // video_format, video_full_range_flag
    const bool colour_description_present = ReadBits(bits, 1) == 1;
    // colour_primaries, transfer_characteristics, matrix_coefficients
    if (colour_description_present) SkipBits(bits, 24);
  }
  const bool chroma_loc_info_present = ReadBits(bits, 1) == 1;
  if (chroma_loc_info_present) {
    SkipExpGolomb(bits);  // chroma_sample_loc_type_top_field
    SkipExpGolomb(bits);  // chroma_sample_loc_type_bottom_field
  }
  sps.timing_info_present_flag = ReadBits(bits, 1);
  if (sps.timing_info_present_flag == 1) {
    sps.num_units_in_tick = ReadBits(bits, 32);
    sps.time_scale = ReadBits(bits, 32);
    sps.fixed_frame_rate_flag = ReadBits(bits, 1);
  }
  sps.nal_hrd_parameters_present_flag = ReadBits(bits, 1);
  if (sps.nal_hrd_parameters_present_flag == 1) ReadHrdParameters(bits, sps);
  sps.vcl_hrd_parameters_present_flag = ReadBits(bits, 1);
  if (sps.vcl_hrd_parameters_present_flag == 1) ReadHrdParameters(bits, sps);
  if (sps.nal_hrd_parameters_present_flag == 1 || sps.vcl_hrd_parameters_present_flag == 1) {
    SkipBits(bits, 1);  // low_delay_hrd_flag
  }
  sps.pic_struct_present_flag = ReadBits(bits, 1);
  const bool bitstream_restriction = ReadBits(bits, 1) == 1;
  if (bitstream_restriction) {
    SkipBits(bits, 1);  // motion_vectors_over_pic_boundaries_flag
    // max_bytes_per_pic_denom, max_bits_per_mb_denom, log2_max_mv_length_horizontal,
    // log2_max_mv_length_vertical, max_num_reorder_frames, max_dec_frame_buffering
    for (int i = 0; i < 6; ++i) SkipExpGolomb(bits);
  }
}

}  // namespace

SpsParseResult ParseSps(std::span<const uint8_t> unit, SpsInfo& sps) {
  RbspBits bits = ExpandRbsp(unit);
  if (ReadBits(bits, 1) != 0) return SpsParseResult::ForbiddenBit;  // forbidden_zero_bit
  sps.nal_ref_idc = ReadBits(bits, 2);
  sps.nal_unit_type = ReadBits(bits, 5);
  if (sps.nal_unit_type != kSpsNalUnitType) return SpsParseResult::NotSps;

  sps.profile_idc = ReadBits(bits, 8);
  SkipBits(bits, 8);  // constraint_set0_flag .. constraint_set5_flag, reserved_zero_2bits
  sps.level_idc = ReadBits(bits, 8);
  SkipExpGolomb(bits);  // seq_parameter_set_id
  if (CarriesChromaFormat(sps.profile_idc) && !ReadChromaFormat(bits, sps)) {
    return SpsParseResult::ScalingList;
  }
  SkipExpGolomb(bits);  // log2_max_frame_num_minus4
  ReadPicOrderCnt(bits, sps);
  SkipExpGolomb(bits);  // max_num_ref_frames
  SkipBits(bits, 1);    // gaps_in_frame_num_value_allowed_flag
  sps.pic_width_in_mbs_minus1 = ReadUe(bits);
  sps.pic_height_in_map_units_minus1 = ReadUe(bits);
  sps.frame_mbs_only_flag = ReadBits(bits, 1);
  if (sps.frame_mbs_only_flag == 0) SkipBits(bits, 1);  // mb_adaptive_frame_field_flag
  SkipBits(bits, 1);                                    // direct_8x8_inference_flag
  ReadFrameCropping(bits, sps);
  sps.vui_parameters_present_flag = ReadBits(bits, 1);
  if (sps.vui_parameters_present_flag == 1) ReadVuiParameters(bits, sps);

  // rbsp_trailing_bits are not read: a walk that ends on the unit's last bit is whole.
  return Overrun(bits) ? SpsParseResult::ReadOver : SpsParseResult::Ok;
}

const char* SpsParseMessage(SpsParseResult result) {
  switch (result) {
    case SpsParseResult::Ok:
      return "";
    case SpsParseResult::ForbiddenBit:
      return "forbidden bit in SPS-NAL.";
    case SpsParseResult::NotSps:
      return "this is not a SPS-NAL.";
    case SpsParseResult::ScalingList:
      return "unexpected \"seq_scaling_list_present_flag[j]\" found !";
    case SpsParseResult::ReadOver:
      return "read over SPS-NAL size !";
  }
  return "";
}

std::optional<PictureSize> CroppedPictureSize(const SpsInfo& sps) {
  // Profiles without the chroma syntax are 4:2:0 with no separate colour planes.
  uint32_t chroma_format_idc = kChroma420;
  bool separate_colour_planes = false;
  if (CarriesChromaFormat(sps.profile_idc)) {
    chroma_format_idc = sps.chroma_format_idc;
    // The flag exists only in 4:4:4 streams; for others the record may hold a
    // value left by an earlier SPS, and H.264 infers 0.
    separate_colour_planes = chroma_format_idc == kChroma444 && sps.separate_colour_plane_flag != 0;
  }
  if (chroma_format_idc > kChroma444) return std::nullopt;

  // 2 - frame_mbs_only_flag: a map unit is a macroblock pair when fields may be coded.
  const int64_t field_factor = sps.frame_mbs_only_flag != 0 ? 1 : 2;
  // ChromaArrayType 0 (monochrome, or 4:4:4 coded as separate planes) crops in
  // luma samples; otherwise in chroma samples (SubWidthC x SubHeightC).
  int64_t crop_unit_x = 1;
  int64_t crop_unit_y = field_factor;
  if (chroma_format_idc != 0 && !separate_colour_planes) {
    const int64_t sub_width_c = chroma_format_idc == kChroma444 ? 1 : 2;
    const int64_t sub_height_c = chroma_format_idc == kChroma420 ? 2 : 1;
    crop_unit_x = sub_width_c;
    crop_unit_y = sub_height_c * field_factor;
  }

  // 64-bit: every ue(v) term may be as large as 2^32 - 1.
  const int64_t width =
      (int64_t{sps.pic_width_in_mbs_minus1} + 1) * 16 -
      crop_unit_x * (int64_t{sps.frame_crop_left_offset} + sps.frame_crop_right_offset);
  const int64_t height =
      field_factor * (int64_t{sps.pic_height_in_map_units_minus1} + 1) * 16 -
      crop_unit_y * (int64_t{sps.frame_crop_top_offset} + sps.frame_crop_bottom_offset);
  const auto in_range = [](int64_t size) { return size >= 1 && size <= 65535; };
  if (!in_range(width) || !in_range(height)) return std::nullopt;
  return PictureSize{static_cast<uint32_t>(width), static_cast<uint32_t>(height)};
}

}  // namespace tandrel
