#include "app/console.h"

namespace tandrel {

void PrintOut(const Console& console, std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), console.out);
}

void PrintErrorLine(const Console& console, std::string_view text) {
  std::fflush(console.out);
  std::fwrite(text.data(), 1, text.size(), console.err);
  std::fputc('\n', console.err);
  std::fflush(console.err);
}

}  // namespace tandrel
