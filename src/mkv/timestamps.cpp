#include "mkv/timestamps.h"

#include <cmath>

namespace tandrel {
namespace {

// floor(x + 0.5) as a signed 64-bit integer; a value outside that range
// (only reachable with absurd SPS timing) saturates instead of being undefined.
int64_t RoundHalfUp(double x) {
  const double rounded = std::floor(x + 0.5);
  if (std::isnan(rounded)) return 0;
  if (rounded >= 0x1p63) return INT64_MAX;
  if (rounded < -0x1p63) return INT64_MIN;
  return static_cast<int64_t>(rounded);
}

}  // namespace

uint32_t FramesToMs(float frame_factor, uint64_t frames) {
  const double ms = static_cast<double>(frame_factor) * static_cast<double>(frames) * 2000.0;
  return static_cast<uint32_t>(RoundHalfUp(ms));
}

int64_t TicksToMs(float frame_factor, int64_t ticks) {
  return RoundHalfUp(static_cast<double>(frame_factor) * static_cast<double>(ticks) * 1000.0);
}

}  // namespace tandrel
