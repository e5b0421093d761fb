// The entry point of a run: command line, files, overwrite question.
#pragma once

#include <span>

#include "app/console.h"

namespace tandrel {

// Exit statuses.
inline constexpr int kExitCompleted = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

// Runs the tool on an argument vector (the program name first) and returns
// the process exit status.
int RunTandrel(std::span<const char* const> args, const Console& console);

}  // namespace tandrel
