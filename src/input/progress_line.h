// The progress line: how much of the base-view file has been read, as a
// percentage, rewritten in place after every window load of either reader.
#pragma once

#include <cstdint>
#include <cstdio>

namespace tandrel {

struct ProgressLine {
  std::FILE* out = nullptr;  // no line is written while null
  // Size of the base-view file in bytes x 2^-22 / 100: window loads of the
  // base-view reader divided by it give the percentage read.
  float progress_divisor = 0.0f;
  const int32_t* base_refill_count = nullptr;
};

float ProgressDivisor(uint64_t base_file_bytes);
// The figure shown: base-view window loads / divisor, capped at 100.
float ProgressFigure(int32_t base_refill_count, float progress_divisor);
void PrintProgress(const ProgressLine& line);

}  // namespace tandrel
