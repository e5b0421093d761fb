// Timestamps in milliseconds from frame counts and the SPS frame timing.
//
// The frame factor is num_units_in_tick / time_scale as a float: the length
// of one clock tick in seconds. A frame lasts two ticks.
#pragma once

#include <cstdint>

namespace tandrel {

// The frame factor of a stream whose SPS gives no timing: 24000/1001 frames a
// second, the frame rate the track declares by default.
inline constexpr float kDefaultFrameFactor = static_cast<float>(1001.0 / 48000.0);

// Milliseconds of `frames` frames: floor(F * n * 2000 + 0.5), in double
// precision, as an unsigned 32-bit count.
uint32_t FramesToMs(float frame_factor, uint64_t frames);

// Milliseconds of `ticks` clock ticks, rounded half up; may be negative.
// Saturates instead of overflowing for absurd factors.
int64_t TicksToMs(float frame_factor, int64_t ticks);

}  // namespace tandrel
