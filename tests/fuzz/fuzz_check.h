// The one way a fuzz target reports a broken invariant: what broke goes to
// standard error, then the process aborts, which libFuzzer records as a crash
// and keeps the input of.
#pragma once

#include <cstdio>
#include <cstdlib>

// FUZZ_CHECK(condition, printf-style message...): aborts when `condition` is
// false. The message arguments are evaluated only then.
#define FUZZ_CHECK(condition, ...)                                                         \
  do {                                                                                     \
    if (!(condition)) {                                                                    \
      std::fprintf(stderr, "%s:%d: check failed: %s\n  ", __FILE__, __LINE__, #condition); \
      std::fprintf(stderr, __VA_ARGS__);                                                   \
      std::fputc('\n', stderr);                                                            \
      std::abort();                                                                        \
    }                                                                                      \
  } while (false)
