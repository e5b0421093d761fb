// Sequence parameter set (nal_unit_type 7) parser for the base view.
//
// Keeps the profile and level for the codec configuration record, the VUI
// timing for the frame duration, the HRD and pic_struct settings that shape
// picture timing SEI messages, and the picture size and cropping. Every other
// syntax element up to the end of the VUI is only stepped over.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

namespace tandrel {

// Fields carry the names of their H.264 syntax elements, in syntax order.
// The record is never reset by ParseSps: a call writes exactly the fields it
// reaches, and every other field keeps the value of an earlier call.
struct SpsInfo {
  uint32_t nal_ref_idc = 0;
  uint32_t nal_unit_type = 0;
  uint32_t profile_idc = 0;
  uint32_t level_idc = 0;
  uint32_t chroma_format_idc = 0;
  uint32_t separate_colour_plane_flag = 0;
  uint32_t pic_order_cnt_type = 0;
  uint32_t num_ref_frames_in_pic_order_cnt_cycle = 0;
  uint32_t pic_width_in_mbs_minus1 = 0;
  uint32_t pic_height_in_map_units_minus1 = 0;
  uint32_t frame_mbs_only_flag = 0;
  uint32_t frame_cropping_flag = 0;
  uint32_t frame_crop_left_offset = 0;
  uint32_t frame_crop_right_offset = 0;
  uint32_t frame_crop_top_offset = 0;
  uint32_t frame_crop_bottom_offset = 0;
  uint32_t vui_parameters_present_flag = 0;
  uint32_t aspect_ratio_idc = 0;
  uint32_t timing_info_present_flag = 0;
  uint32_t num_units_in_tick = 0;
  uint32_t time_scale = 0;
  uint32_t fixed_frame_rate_flag = 0;
  uint32_t nal_hrd_parameters_present_flag = 0;
  // The HRD fields exist once: a VCL HRD structure, read after the NAL one,
  // replaces its values.
  uint32_t cpb_cnt_minus1 = 0;
  uint32_t initial_cpb_removal_delay_length_minus1 = 0;
  uint32_t cpb_removal_delay_length_minus1 = 0;
  uint32_t dpb_output_delay_length_minus1 = 0;
  uint32_t time_offset_length = 0;
  uint32_t vcl_hrd_parameters_present_flag = 0;
  uint32_t pic_struct_present_flag = 0;
};

enum class SpsParseResult { Ok, ForbiddenBit, NotSps, ScalingList, ReadOver };

// Parses `unit` (NAL header byte .. last byte) into `sps`. Prints nothing.
// ScalingList: an explicit scaling list is signalled, which is not supported.
// ReadOver: the syntax runs past the end of the unit.
SpsParseResult ParseSps(std::span<const uint8_t> unit, SpsInfo& sps);

// Console text for a result, without line feed; "" for Ok.
const char* SpsParseMessage(SpsParseResult result);

struct PictureSize {
  uint32_t width;
  uint32_t height;
};

// The displayed (cropped) picture size. std::nullopt when either dimension
// falls outside 1..65535, or chroma_format_idc is not a defined format (0..3).
std::optional<PictureSize> CroppedPictureSize(const SpsInfo& sps);

}  // namespace tandrel
