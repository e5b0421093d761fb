#include "mkv/track_header.h"

#include <cmath>

#include "app/messages.h"
#include "app/mux_state.h"
#include "mkv/ebml_writer.h"
#include "mkv/output_file.h"

namespace tandrel {
namespace {

// Element IDs.
constexpr uint8_t kTracksId[] = {0x16, 0x54, 0xAE, 0x6B};
constexpr uint8_t kTrackEntryId[] = {0xAE};
constexpr uint8_t kCodecPrivateId[] = {0x63, 0xA2};
constexpr uint8_t kBlockAdditionMappingId[] = {0x41, 0xE4};
constexpr uint8_t kBlockAddIdExtraDataId[] = {0x41, 0xED};
constexpr uint8_t kVideoId[] = {0xE0};

// The sizes that depend on the input are written 2 bytes wide.
constexpr int kSizeWidth = 2;

constexpr uint8_t kTrackEntryFixed[] = {
    0xD7, 0x81, 0x01,                                                  // TrackNumber 1
    0x73, 0xC5, 0x88, 0x7E, 0xA4, 0xA9, 0xC9, 0x05, 0x6B, 0x82, 0x6C,  // TrackUID
    0x83, 0x81, 0x01,                                                  // TrackType 1: video
    0x9C, 0x81, 0x00,                                                  // FlagLacing 0
    0x86, 0x8F, 'V',  '_',  'M',  'P',  'E',  'G',  '4',  '/',  'I',  'S',
    'O',  '/',  'A',  'V',  'C',  0x22, 0xB5, 0x9C, 0x83, 'u',  'n',  'd',  // Language
};

// BlockAddIDType: "mvcC" read as a big-endian integer.
constexpr uint8_t kBlockAddIdTypeMvcC[] = {0x41, 0xE7, 0x84, 'm', 'v', 'c', 'C'};

// configurationVersion 1, profile 128 (Stereo High), compatibility 0,
// level 41, and 4-byte NAL lengths (lengthSizeMinusOne 3, reserved bits set).
constexpr uint8_t kMvcRecordHead[] = {0x01, 0x80, 0x00, 0x29, 0xFF};
// avcC tail for profiles that carry it: chroma_format 1 (4:2:0), 8-bit luma
// and chroma, no SPS extensions; each byte with its reserved one bits.
constexpr uint8_t kAvcHighProfileTail[] = {0xFD, 0xF8, 0xF8, 0x00};
constexpr uint8_t kMvcCBoxType[] = {'m', 'v', 'c', 'C'};

constexpr uint8_t kStereoModeLeftFirst = 13;   // both eyes in one block, left first
constexpr uint8_t kStereoModeRightFirst = 14;  // both eyes in one block, right first

// A parameter set inside a record: its length as 16 bits, then its bytes.
void PutParameterSet(Bytes& out, std::span<const uint8_t> unit) {
  PutUint(out, unit.size(), 2);
  PutBytes(out, unit);
}

// MVC decoder configuration record: two SPS (base SPS and subset SPS) and
// two PPS (base and dependent view).
Bytes MvcRecord(const CodecParameterSets& sets) {
  Bytes record;
  PutBytes(record, kMvcRecordHead);
  record.push_back(0x02);
  PutParameterSet(record, sets.saved_sps);
  PutParameterSet(record, sets.saved_subset_sps);
  record.push_back(0x02);
  PutParameterSet(record, sets.saved_pps);
  PutParameterSet(record, sets.saved_dependent_pps);
  return record;
}

// AVC decoder configuration record of the base view with the mvcC box
// appended after it. The box's 4-byte size counts the type code and the
// record, not the size field itself.
Bytes CodecPrivate(const CodecParameterSets& sets, const TrackSettings& settings,
                   const Bytes& mvc_record) {
  Bytes avcc = {0x01, settings.profile_idc, 0x00, settings.level_idc, 0xFF, 0xE1};
  PutParameterSet(avcc, sets.saved_sps);
  avcc.push_back(0x01);
  PutParameterSet(avcc, sets.saved_pps);
  PutBytes(avcc, kAvcHighProfileTail);
  PutUint(avcc, sizeof(kMvcCBoxType) + mvc_record.size(), 4);
  PutBytes(avcc, kMvcCBoxType);
  PutBytes(avcc, mvc_record);
  return avcc;
}

// Video (pixel and display size, stereo mode) and DefaultDuration. The field
// widths are fixed: 2-byte pixel sizes, 4-byte display sizes.
Bytes VideoAndDuration(const TrackSettings& settings) {
  Bytes video;
  const uint32_t width = settings.picture_size.width;
  const uint32_t height = settings.picture_size.height;
  PutBytes(video, std::initializer_list<uint8_t>{0xB0, 0x82});  // PixelWidth
  PutUint(video, width, 2);
  PutBytes(video, std::initializer_list<uint8_t>{0xBA, 0x82});  // PixelHeight
  PutUint(video, height, 2);
  PutBytes(video, std::initializer_list<uint8_t>{0x54, 0xB0, 0x84});  // DisplayWidth
  PutUint(video, width, 4);
  PutBytes(video, std::initializer_list<uint8_t>{0x54, 0xBA, 0x84});  // DisplayHeight
  PutUint(video, height, 4);
  PutBytes(video, std::initializer_list<uint8_t>{0x53, 0xB8, 0x81});  // StereoMode
  video.push_back(settings.right_eye_first ? kStereoModeRightFirst : kStereoModeLeftFirst);

  Bytes out;
  // Video's size (26) always fits one byte; the element is laid out as
  // players have always seen it, with a 1-byte size.
  out.push_back(kVideoId[0]);
  out.push_back(static_cast<uint8_t>(0x80 | video.size()));
  PutBytes(out, video);
  PutBytes(out, std::initializer_list<uint8_t>{0x23, 0xE3, 0x83, 0x84});  // DefaultDuration
  PutUint(out, settings.default_duration_ns, 4);
  return out;
}

bool IsComplete(const CodecParameterSets& sets) {
  return !sets.saved_sps.empty() && !sets.saved_pps.empty() && !sets.saved_subset_sps.empty() &&
         !sets.saved_dependent_pps.empty();
}

// Keeps the first unit of a kind; writes the track header once the fourth
// kind has arrived.
bool Capture(MuxState& state, std::vector<uint8_t>& saved, std::span<const uint8_t> unit) {
  if (!saved.empty()) return true;
  saved.assign(unit.begin(), unit.end());
  if (!IsComplete(state.track.parameter_sets)) return true;
  return WriteTrackHeader(state);
}

}  // namespace

bool BuildTrackHeader(const CodecParameterSets& sets, const TrackSettings& settings, Bytes& out) {
  const Bytes mvc_record = MvcRecord(sets);

  Bytes entry;
  PutBytes(entry, kTrackEntryFixed);
  if (!PutElement(entry, kCodecPrivateId, kSizeWidth, CodecPrivate(sets, settings, mvc_record))) {
    return false;
  }
  Bytes mapping;
  PutBytes(mapping, kBlockAddIdTypeMvcC);
  if (!PutElement(mapping, kBlockAddIdExtraDataId, kSizeWidth, mvc_record)) return false;
  if (!PutElement(entry, kBlockAdditionMappingId, kSizeWidth, mapping)) return false;
  PutBytes(entry, VideoAndDuration(settings));

  Bytes track_entry;
  if (!PutElement(track_entry, kTrackEntryId, kSizeWidth, entry)) return false;
  out.clear();
  return PutElement(out, kTracksId, kSizeWidth, track_entry);
}

uint32_t FrameDurationNs(uint32_t num_units_in_tick, uint32_t time_scale) {
  if (time_scale == 0) return kDefaultFrameDurationNs;
  const double ns = std::floor(2e9 * num_units_in_tick / time_scale + 0.5);
  if (ns < 1.0 || ns > 4294967295.0) return kDefaultFrameDurationNs;
  return static_cast<uint32_t>(ns);
}

bool CaptureSps(MuxState& state, std::span<const uint8_t> unit) {
  if (!state.track.parameter_sets.saved_sps.empty()) return true;
  const SpsParseResult parsed = ParseSps(unit, state.sps_info);
  if (parsed != SpsParseResult::Ok) PrintErrorLine(state.console, SpsParseMessage(parsed));

  const SpsInfo& sps = state.sps_info;
  TrackSettings& settings = state.track.settings;
  settings.profile_idc = static_cast<uint8_t>(sps.profile_idc);
  settings.level_idc = static_cast<uint8_t>(sps.level_idc);
  // A time_scale of 0 is no timing at all: it would make every timestamp
  // infinite.
  if (sps.timing_info_present_flag != 0 && sps.time_scale != 0) {
    state.frame_factor = static_cast<float>(static_cast<double>(sps.num_units_in_tick) /
                                            static_cast<double>(sps.time_scale));
    settings.default_duration_ns = FrameDurationNs(sps.num_units_in_tick, sps.time_scale);
  }
  if (parsed == SpsParseResult::Ok) {
    if (const auto size = CroppedPictureSize(sps)) settings.picture_size = *size;
  }
  return Capture(state, state.track.parameter_sets.saved_sps, unit);
}

bool CapturePps(MuxState& state, std::span<const uint8_t> unit) {
  return Capture(state, state.track.parameter_sets.saved_pps, unit);
}

bool CaptureSubsetSps(MuxState& state, std::span<const uint8_t> unit) {
  return Capture(state, state.track.parameter_sets.saved_subset_sps, unit);
}

bool CaptureDependentPps(MuxState& state, std::span<const uint8_t> unit) {
  return Capture(state, state.track.parameter_sets.saved_dependent_pps, unit);
}

bool WriteTrackHeader(MuxState& state) {
  // Streams that bring their last parameter set after the first frame: the
  // Tracks element follows the cluster being written.
  if (state.cluster.cluster_written > 0) {
    state.track.track_header_pending = true;
    return true;
  }
  state.track.track_header_pending = false;
  Bytes tracks;
  if (!BuildTrackHeader(state.track.parameter_sets, state.track.settings, tracks)) {
    ReportSizeTooLarge(state);
    return false;
  }
  if (!WriteOutput(state, tracks)) return false;
  state.seek_index.tracks_position = state.segment_bytes;
  state.segment_bytes += tracks.size();
  state.track.track_header_written = true;
  return true;
}

bool WritePendingTrackHeader(MuxState& state) {
  return !state.track.track_header_pending || WriteTrackHeader(state);
}

}  // namespace tandrel
