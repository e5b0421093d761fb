// The state of one run, passed explicitly to every operation.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "app/console.h"
#include "h264/sei_pic_timing.h"
#include "h264/sps_parser.h"
#include "input/nal_reader.h"
#include "input/progress_line.h"
#include "mkv/cluster.h"
#include "mkv/seek_index.h"
#include "mkv/timestamps.h"
#include "mkv/track_header.h"

namespace tandrel {

struct MuxState {
  MuxState();
  MuxState(const MuxState&) = delete;  // the progress line points into it
  MuxState& operator=(const MuxState&) = delete;

  Console console;

  std::FILE* h264_file = nullptr;
  std::FILE* mvc_file = nullptr;
  std::FILE* mkv_file = nullptr;
  std::string h264_name;
  std::string mvc_name;
  std::string mkv_name;
  bool mkv_failed = false;  // a write failure has been reported

  ProgressLine progress;
  NalReader h264_reader;
  NalReader mvc_reader;

  SpsInfo sps_info;
  PicTimingInfo pic_timing;
  float frame_factor = kDefaultFrameFactor;  // seconds per clock tick

  ClusterBuffer cluster;
  TrackHeaderState track;
  SeekIndex seek_index;

  uint32_t total_frames = 0;   // stereo frames completed
  uint64_t segment_bytes = 0;  // bytes written after the Segment header
};

// Closes whichever of the two inputs are open.
void CloseInputs(MuxState& state);

// Closes whichever of the three files are open; false when closing the
// output failed (reported).
[[nodiscard]] bool CloseFiles(MuxState& state);

}  // namespace tandrel
