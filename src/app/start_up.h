// The entry point of a run: command line, files, overwrite question.
#pragma once

#include <cstdint>
#include <span>

#include "app/console.h"

namespace tandrel {

struct MuxState;

// Exit statuses.
inline constexpr int kExitCompleted = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

// Runs the tool on an argument vector (the program name first) and returns
// the process exit status.
int RunTandrel(std::span<const char* const> args, const Console& console);

// The run once the three files of `state` are open and its readers set up:
// shows progress against a base view of `base_file_bytes`, writes the file
// header and pairs the views. True for a completed run; the files are closed
// either way.
[[nodiscard]] bool MuxFiles(MuxState& state, uint64_t base_file_bytes);

}  // namespace tandrel
