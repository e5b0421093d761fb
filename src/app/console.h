// The three console streams and the two ways the tool writes to them.
#pragma once

#include <cstdio>
#include <string_view>

namespace tandrel {

struct Console {
  std::FILE* in = stdin;
  std::FILE* out = stdout;
  std::FILE* err = stderr;
};

// Standard output: usage, file errors, the question, progress, stream-structure
// errors. Not flushed here.
void PrintOut(const Console& console, std::string_view text);

// Standard error: one message line. Pending standard output is flushed first
// so that both streams keep their order on a shared terminal, and the line is
// flushed at once.
void PrintErrorLine(const Console& console, std::string_view text);

}  // namespace tandrel
