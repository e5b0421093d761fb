#include "support/media_tools.h"

#include <cmath>
#include <sstream>

namespace tandrel::test {
namespace {

std::vector<std::string> SplitFields(const std::string& line, char separator) {
  std::vector<std::string> fields;
  std::istringstream in(line);
  std::string field;
  while (std::getline(in, field, separator)) {
    fields.push_back(field);
  }
  return fields;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty()) {
      lines.push_back(line);
    }
  }
  return lines;
}

std::string Trim(const std::string& text) {
  const auto begin = text.find_first_not_of(" \t\r");
  if (begin == std::string::npos) {
    return {};
  }
  return text.substr(begin, text.find_last_not_of(" \t\r") - begin + 1);
}

// A time in seconds as ffprobe prints it, e.g. "0.042000", in whole milliseconds.
std::optional<std::int64_t> Milliseconds(const std::string& seconds) {
  try {
    std::size_t used = 0;
    const double value = std::stod(seconds, &used);
    if (used != seconds.size()) {
      return std::nullopt;
    }
    return std::llround(value * 1000.0);
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

}  // namespace

std::optional<PictureSize> ProbePictureSize(const std::filesystem::path& video) {
  const CommandResult run =
      RunCommand({"ffprobe", "-v", "error", "-select_streams", "v:0", "-show_entries",
                  "stream=width,height", "-of", "csv=p=0", video.string()});
  const std::vector<std::string> lines = Lines(run.standard_output);
  if (run.exit_status != 0 || lines.empty()) {
    return std::nullopt;
  }
  const std::vector<std::string> fields = SplitFields(Trim(lines.front()), ',');
  if (fields.size() != 2) {
    return std::nullopt;
  }
  try {
    return PictureSize{std::stoull(fields[0]), std::stoull(fields[1])};
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

DecodedFrames DecodeFrameHashes(const std::filesystem::path& video) {
  DecodedFrames frames;
  frames.run = RunCommand(
      {"ffmpeg", "-v", "error", "-i", video.string(), "-map", "0:v", "-f", "framemd5", "-"});
  // framemd5 lines: stream, dts, pts, duration, size, hash; '#' starts a comment.
  for (const std::string& line : Lines(frames.run.standard_output)) {
    if (line.front() != '#') {
      frames.md5.push_back(Trim(SplitFields(line, ',').back()));
    }
  }
  return frames;
}

FrameTimes ProbeFrameTimes(const std::filesystem::path& video) {
  FrameTimes times;
  times.run = RunCommand({"ffprobe", "-v", "error", "-select_streams", "v:0", "-show_frames",
                          "-show_entries", "frame=best_effort_timestamp_time,pts_time", "-of",
                          "csv=p=0:nk=0", video.string()});
  // Each line holds key=value pairs, e.g. "pts_time=0.042000,best_effort_timestamp_time=...".
  for (const std::string& line : Lines(times.run.standard_output)) {
    std::optional<std::int64_t> best_effort;
    std::optional<std::int64_t> pts;
    for (const std::string& field : SplitFields(Trim(line), ',')) {
      const auto equals = field.find('=');
      if (equals == std::string::npos) {
        continue;
      }
      const std::string key = field.substr(0, equals);
      const std::string value = field.substr(equals + 1);
      if (key == "best_effort_timestamp_time") {
        best_effort = Milliseconds(value);
      } else if (key == "pts_time") {
        pts = Milliseconds(value);
      }
    }
    times.best_effort_ms.push_back(best_effort);
    times.pts_ms.push_back(pts);
  }
  return times;
}

}  // namespace tandrel::test
