#include "input/progress_line.h"

#include <gtest/gtest.h>

#include <string>

namespace tandrel {
namespace {

TEST(ProgressLine, FigureCountsBaseViewLoadsOf4MiB) {
  const float ten_mib = ProgressDivisor(10485760);
  EXPECT_FLOAT_EQ(ten_mib, 0.025f);
  EXPECT_FLOAT_EQ(ProgressFigure(1, ten_mib), 40.0f);
  EXPECT_FLOAT_EQ(ProgressFigure(2, ten_mib), 80.0f);
  EXPECT_FLOAT_EQ(ProgressFigure(3, ten_mib), 100.0f);  // 120, capped
  EXPECT_FLOAT_EQ(ProgressFigure(1, ProgressDivisor(0)), 100.0f);
}

TEST(ProgressLine, OverwritesItselfInAThreeCharacterField) {
  std::FILE* out = std::tmpfile();
  int32_t loads = 1;
  ProgressLine line{out, ProgressDivisor(10485760), &loads};
  PrintProgress(line);
  loads = 3;
  PrintProgress(line);
  line.progress_divisor = ProgressDivisor(uint64_t{100} << 22);  // 100 loads
  loads = 7;
  PrintProgress(line);
  std::rewind(out);
  char text[128] = {};
  const size_t n = std::fread(text, 1, sizeof text - 1, out);
  EXPECT_EQ(std::string(text, n), "\rdone:  40 %\rdone: 100 %\rdone:   7 %");
  std::fclose(out);
}

}  // namespace
}  // namespace tandrel
