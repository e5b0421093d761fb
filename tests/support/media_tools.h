// Reads video files through ffprobe and ffmpeg for end-to-end checks. Each function
// runs the tool (which must be on PATH) and returns its raw result with the parsed
// values, so a test can report the tool's own complaint.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "support/command_runner.h"

namespace tandrel::test {

struct PictureSize {
  std::uint64_t width = 0;
  std::uint64_t height = 0;
  friend bool operator==(const PictureSize&, const PictureSize&) = default;
};

// The coded-and-cropped size of the first video stream, as ffprobe reports it.
std::optional<PictureSize> ProbePictureSize(const std::filesystem::path& video);

struct DecodedFrames {
  CommandResult run;
  std::vector<std::string> md5;  // one per decoded frame, in output order
};

// Decodes the first video stream with ffmpeg and hashes every frame.
DecodedFrames DecodeFrameHashes(const std::filesystem::path& video);

struct FrameTimes {
  CommandResult run;
  // Per decoded frame in output order: best_effort_timestamp and pts in
  // milliseconds; empty when ffprobe printed N/A.
  std::vector<std::optional<std::int64_t>> best_effort_ms;
  std::vector<std::optional<std::int64_t>> pts_ms;
};

FrameTimes ProbeFrameTimes(const std::filesystem::path& video);

}  // namespace tandrel::test
