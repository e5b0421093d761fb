// Every field of SpsInfo with its name and the largest value ParseSps can
// store in it (the width of the syntax element it reads), so that fuzz targets
// can walk, compare, bound and fill the record field by field; and the check
// of the picture size derived from a record.
#pragma once

#include <cstdint>
#include <iterator>
#include <optional>

#include "fuzz_check.h"
#include "h264/sps_parser.h"

namespace tandrel::fuzz {

struct SpsField {
  uint32_t SpsInfo::*member;
  const char* name;
  uint32_t max;  // UINT32_MAX for ue(v) elements and 32-bit numbers
};

inline constexpr uint32_t kAny = UINT32_MAX;

inline constexpr SpsField kSpsFields[] = {
    {&SpsInfo::nal_ref_idc, "nal_ref_idc", 3},
    {&SpsInfo::nal_unit_type, "nal_unit_type", 31},
    {&SpsInfo::profile_idc, "profile_idc", 255},
    {&SpsInfo::level_idc, "level_idc", 255},
    {&SpsInfo::chroma_format_idc, "chroma_format_idc", kAny},
    {&SpsInfo::separate_colour_plane_flag, "separate_colour_plane_flag", 1},
    {&SpsInfo::pic_order_cnt_type, "pic_order_cnt_type", kAny},
    {&SpsInfo::num_ref_frames_in_pic_order_cnt_cycle, "num_ref_frames_in_pic_order_cnt_cycle",
     kAny},
    {&SpsInfo::pic_width_in_mbs_minus1, "pic_width_in_mbs_minus1", kAny},
    {&SpsInfo::pic_height_in_map_units_minus1, "pic_height_in_map_units_minus1", kAny},
    {&SpsInfo::frame_mbs_only_flag, "frame_mbs_only_flag", 1},
    {&SpsInfo::frame_cropping_flag, "frame_cropping_flag", 1},
    {&SpsInfo::frame_crop_left_offset, "frame_crop_left_offset", kAny},
    {&SpsInfo::frame_crop_right_offset, "frame_crop_right_offset", kAny},
    {&SpsInfo::frame_crop_top_offset, "frame_crop_top_offset", kAny},
    {&SpsInfo::frame_crop_bottom_offset, "frame_crop_bottom_offset", kAny},
    {&SpsInfo::vui_parameters_present_flag, "vui_parameters_present_flag", 1},
    {&SpsInfo::aspect_ratio_idc, "aspect_ratio_idc", 255},
    {&SpsInfo::timing_info_present_flag, "timing_info_present_flag", 1},
    {&SpsInfo::num_units_in_tick, "num_units_in_tick", kAny},
    {&SpsInfo::time_scale, "time_scale", kAny},
    {&SpsInfo::fixed_frame_rate_flag, "fixed_frame_rate_flag", 1},
    {&SpsInfo::nal_hrd_parameters_present_flag, "nal_hrd_parameters_present_flag", 1},
    {&SpsInfo::cpb_cnt_minus1, "cpb_cnt_minus1", kAny},
    {&SpsInfo::initial_cpb_removal_delay_length_minus1, "initial_cpb_removal_delay_length_minus1",
     31},
    {&SpsInfo::cpb_removal_delay_length_minus1, "cpb_removal_delay_length_minus1", 31},
    {&SpsInfo::dpb_output_delay_length_minus1, "dpb_output_delay_length_minus1", 31},
    {&SpsInfo::time_offset_length, "time_offset_length", 31},
    {&SpsInfo::vcl_hrd_parameters_present_flag, "vcl_hrd_parameters_present_flag", 1},
    {&SpsInfo::pic_struct_present_flag, "pic_struct_present_flag", 1},
};

// A field added to SpsInfo must be added here too.
static_assert(std::size(kSpsFields) * sizeof(uint32_t) == sizeof(SpsInfo));

// CroppedPictureSize promises a size within 1..65535 or none, for any record.
inline void CheckCroppedPictureSize(const SpsInfo& sps) {
  const std::optional<PictureSize> size = CroppedPictureSize(sps);
  if (!size) return;
  FUZZ_CHECK(size->width >= 1 && size->width <= 65535 && size->height >= 1 && size->height <= 65535,
             "picture size %ux%u", size->width, size->height);
}

}  // namespace tandrel::fuzz
