#include "app/start_up.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <memory>
#include <string>
#include <string_view>

#include "app/messages.h"
#include "app/mux_state.h"
#include "app/pairing_loop.h"
#include "input/progress_line.h"
#include "mkv/file_layout.h"

namespace tandrel {
namespace {

// Options are whole arguments, anywhere on the command line, file names
// included: a file named "-r" also sets the option.
bool HasOption(std::span<const char* const> args, std::string_view option) {
  return std::any_of(args.begin() + 1, args.end(), [&](const char* arg) { return option == arg; });
}

// Reads the answer to the overwrite question: the first character that is
// not white space. Only y or Y (so also "yes") agrees; end of input refuses.
bool AnswerIsYes(std::FILE* in) {
  int c = std::fgetc(in);
  while (c != EOF && std::isspace(c)) c = std::fgetc(in);
  return c == 'y' || c == 'Y';
}

uint64_t FileSize(std::FILE* file) {
  struct stat info {};
  if (fstat(fileno(file), &info) != 0 || info.st_size < 0) return 0;
  return static_cast<uint64_t>(info.st_size);
}

// True when `name` is the very file that `file` has open (same device and
// inode, whatever path or link leads to it).
bool IsSameFile(const char* name, std::FILE* file) {
  struct stat named {};
  struct stat opened {};
  return stat(name, &named) == 0 && fstat(fileno(file), &opened) == 0 &&
         named.st_dev == opened.st_dev && named.st_ino == opened.st_ino;
}

// Each input is read once, front to back: the hint doubles the kernel's
// read-ahead, which keeps a slow disk streaming. Pipes refuse it, harmlessly.
void AdviseSequentialRead(std::FILE* file) {
  (void)posix_fadvise(fileno(file), 0, 0, POSIX_FADV_SEQUENTIAL);
}

bool FileExists(const char* name) {
  std::FILE* probe = std::fopen(name, "r");
  if (probe == nullptr) return false;
  std::fclose(probe);
  return true;
}

}  // namespace

int RunTandrel(std::span<const char* const> args, const Console& console) {
  if (args.size() < 4) {
    PrintOut(console, messages::kUsage);
    std::fflush(console.out);
    return kExitUsage;
  }
  auto owned_state = std::make_unique<MuxState>();
  MuxState& state = *owned_state;
  state.console = console;
  state.h264_name = args[1];
  state.mvc_name = args[2];
  state.mkv_name = args[3];

  state.h264_file = std::fopen(args[1], "rb");
  state.mvc_file = std::fopen(args[2], "rb");
  if (state.h264_file == nullptr || state.mvc_file == nullptr) {
    PrintOut(console, state.h264_file == nullptr
                          ? messages::kCannotOpenH264 + state.h264_name + "\n"
                          : messages::kCannotOpenMvc + state.mvc_name + "\n");
    std::fflush(console.out);
    CloseInputs(state);
    return kExitFailed;
  }

  AdviseSequentialRead(state.h264_file);
  AdviseSequentialRead(state.mvc_file);
  state.track.settings.right_eye_first = HasOption(args, "-r");
  state.seek_index.enabled = HasOption(args, "--cues");

  // Opening the output for writing would truncate an input before it is read.
  if (IsSameFile(args[3], state.h264_file) || IsSameFile(args[3], state.mvc_file)) {
    PrintErrorLine(console, messages::kOutputIsAnInput + state.mkv_name);
    CloseInputs(state);
    return kExitFailed;
  }

  if (FileExists(args[3]) && !HasOption(args, "-y")) {
    PrintOut(console, messages::kFileExists + state.mkv_name + messages::kOverwriteQuestion);
    std::fflush(console.out);
    if (!AnswerIsYes(console.in)) {
      CloseInputs(state);
      return kExitFailed;
    }
  }

  state.mkv_file = std::fopen(args[3], "wb");
  if (state.mkv_file == nullptr) {
    PrintOut(console, messages::kCannotCreateMkv + state.mkv_name + "\n");
    std::fflush(console.out);
    CloseInputs(state);
    return kExitFailed;
  }

  const bool completed = MuxFiles(state, FileSize(state.h264_file));
  std::fflush(console.out);
  return completed ? kExitCompleted : kExitFailed;
}

bool MuxFiles(MuxState& state, uint64_t base_file_bytes) {
  state.progress.out = state.console.out;
  state.progress.progress_divisor = ProgressDivisor(base_file_bytes);
  state.h264_reader.progress = &state.progress;
  state.mvc_reader.progress = &state.progress;
  if (!WriteFileHeader(state)) {
    (void)CloseFiles(state);
    return false;
  }
  return RunPairingLoop(state);
}

}  // namespace tandrel
