#include "input/progress_line.h"

#include <algorithm>

namespace tandrel {

float ProgressDivisor(uint64_t base_file_bytes) {
  // Single precision throughout, as the figure has always been computed.
  const float bytes = static_cast<float>(static_cast<double>(base_file_bytes));
  return bytes * 0x1p-22f / 100.0f;
}

float ProgressFigure(int32_t base_refill_count, float progress_divisor) {
  // An empty (or unsized, such as a pipe) base-view file gives a divisor of 0.
  if (progress_divisor <= 0.0f) return 100.0f;
  return std::min(100.0f, static_cast<float>(base_refill_count) / progress_divisor);
}

void PrintProgress(const ProgressLine& line) {
  if (line.out == nullptr || line.base_refill_count == nullptr) return;
  const float figure = ProgressFigure(*line.base_refill_count, line.progress_divisor);
  std::fprintf(line.out, "\rdone: %3.0f %%", static_cast<double>(figure));
  std::fflush(line.out);
}

}  // namespace tandrel
