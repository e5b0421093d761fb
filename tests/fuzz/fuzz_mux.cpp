// Fuzz target: a whole mux of two arbitrary inputs, run in-process the way
// RunTandrel sets it up, with small reader loads and the output in an
// anonymous memory file.
//
// Input: byte 0 and byte 1 pick the load sizes of the base-view and the
// dependent-view reader (16..271 bytes); bit 0 of byte 2 sets --cues, bit 1
// sets -r. Then come the base view, the separator 00 00 02 'm' 'v' 'c', and
// the dependent view. 00 00 02 occurs in no Annex B stream (emulation
// prevention rules it out inside units), so the sample streams split
// cleanly; without a separator the dependent view is empty.
//
// Checked beyond running clean under the sanitizers: every input the muxer
// must accept completes; a completed run leaves a whole Matroska file whose
// blocks hold what mux_checks.h describes; the three files are closed either
// way. A second run with --cues the other way round, and with whole-view
// loads unless the inputs hold an end-of-sequence unit, must give the same
// file, with or without the index.
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <memory>
#include <span>
#include <vector>

#include "app/mux_state.h"
#include "app/start_up.h"
#include "fuzz_check.h"
#include "input/nal_reader.h"
#include "mux_checks.h"

namespace {

constexpr uint8_t kSeparator[] = {0x00, 0x00, 0x02, 'm', 'v', 'c'};
constexpr size_t kHeaderBytes = 3;
constexpr uint8_t kCuesBit = 0x01;
constexpr uint8_t kRightEyeFirstBit = 0x02;
constexpr size_t kMinReadSize = 16;
// Larger than any input libFuzzer is given here: the limit is never reached.
constexpr size_t kMaxUnitBytes = size_t{1} << 20;

struct MuxInput {
  size_t base_read_size = 0;
  size_t dependent_read_size = 0;
  tandrel::fuzz::MuxOptions options;
  std::span<const uint8_t> base;
  std::span<const uint8_t> dependent;
};

MuxInput SplitInput(std::span<const uint8_t> data) {
  MuxInput input;
  input.base_read_size = kMinReadSize + data[0];
  input.dependent_read_size = kMinReadSize + data[1];
  input.options.cues = (data[2] & kCuesBit) != 0;
  input.options.right_eye_first = (data[2] & kRightEyeFirstBit) != 0;
  const std::span<const uint8_t> streams = data.subspan(kHeaderBytes);
  const auto separator =
      std::search(streams.begin(), streams.end(), std::begin(kSeparator), std::end(kSeparator));
  const auto base_bytes = static_cast<size_t>(separator - streams.begin());
  input.base = streams.first(base_bytes);
  input.dependent = streams.subspan(std::min(streams.size(), base_bytes + sizeof kSeparator));
  return input;
}

std::FILE* OpenInput(std::span<const uint8_t> bytes) {
  // Read-only: fmemopen never writes to the buffer in mode "rb".
  std::FILE* file = fmemopen(const_cast<uint8_t*>(bytes.data()), bytes.size(), "rb");
  FUZZ_CHECK(file != nullptr, "fmemopen failed");
  return file;
}

// Console text is written to a memory buffer and thrown away: the progress
// line is flushed after every load, which on a real file would be a system
// call per load.
std::FILE* QuietConsole() {
  static char buffer[1 << 16];
  static std::FILE* const console = fmemopen(buffer, sizeof buffer, "w");
  FUZZ_CHECK(console != nullptr, "fmemopen failed");
  std::rewind(console);
  return console;
}

// The output: an anonymous memory file of this process, so that parallel
// fuzzing jobs never share a path. The muxer closes its FILE*, which owns a
// duplicate of the descriptor kept here.
class ScratchOutput {
 public:
  ScratchOutput() {
    FUZZ_CHECK(fd_ >= 0, "memfd_create failed");
    FUZZ_CHECK(ftruncate(fd_, 0) == 0 && lseek(fd_, 0, SEEK_SET) == 0, "cannot empty the output");
  }
  std::FILE* Open() {
    std::FILE* file = fdopen(dup(fd_), "w+b");
    FUZZ_CHECK(file != nullptr, "cannot open the output");
    return file;
  }
  std::vector<uint8_t> Bytes() const {
    struct stat info {};
    FUZZ_CHECK(fstat(fd_, &info) == 0, "fstat failed");
    std::vector<uint8_t> bytes(static_cast<size_t>(info.st_size));
    FUZZ_CHECK(pread(fd_, bytes.data(), bytes.size(), 0) == static_cast<ssize_t>(bytes.size()),
               "cannot read the output back");
    return bytes;
  }

 private:
  static inline const int fd_ = memfd_create("fuzz_mux_output", MFD_CLOEXEC);
};

struct MuxRun {
  bool completed = false;
  std::vector<uint8_t> output;
};

MuxRun Mux(const MuxInput& input, const tandrel::fuzz::MuxOptions& options, size_t base_read_size,
           size_t dependent_read_size) {
  auto owned_state = std::make_unique<tandrel::MuxState>();
  tandrel::MuxState& state = *owned_state;
  std::FILE* console = QuietConsole();
  state.console = {nullptr, console, console};
  state.h264_name = "base.264";
  state.mvc_name = "dependent.mvc";
  state.mkv_name = "out.mkv";
  state.track.settings.right_eye_first = options.right_eye_first;
  state.seek_index.enabled = options.cues;
  state.h264_file = OpenInput(input.base);
  state.mvc_file = OpenInput(input.dependent);
  ScratchOutput output;
  state.mkv_file = output.Open();

  tandrel::InitNalReader(state.h264_reader, base_read_size, kMaxUnitBytes);
  tandrel::InitNalReader(state.mvc_reader, dependent_read_size, kMaxUnitBytes);

  MuxRun run;
  run.completed = tandrel::MuxFiles(state, input.base.size());
  FUZZ_CHECK(state.h264_file == nullptr && state.mvc_file == nullptr && state.mkv_file == nullptr,
             "a run that %s left a file open", run.completed ? "completed" : "failed");
  run.output = output.Bytes();
  return run;
}

// A load size that takes each view in one read.
size_t WholeViewReadSize(std::span<const uint8_t> view) { return view.size() + kMinReadSize; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < kHeaderBytes) return 0;
  const MuxInput input = SplitInput({data, size});

  const MuxRun run = Mux(input, input.options, input.base_read_size, input.dependent_read_size);
  FUZZ_CHECK(run.completed || !tandrel::fuzz::MustComplete(input.base, input.dependent),
             "a run over units the muxer accepts failed");
  if (run.completed) {
    tandrel::fuzz::CheckMuxOutput(input.base, input.dependent, input.options, run.output);
  }

  tandrel::fuzz::MuxOptions flipped = input.options;
  flipped.cues = !input.options.cues;
  const bool whole_loads = tandrel::fuzz::IsIndependentOfLoadSize(input.base, input.dependent);
  const MuxRun other =
      Mux(input, flipped, whole_loads ? WholeViewReadSize(input.base) : input.base_read_size,
          whole_loads ? WholeViewReadSize(input.dependent) : input.dependent_read_size);
  FUZZ_CHECK(other.completed == run.completed, "with --cues %s and %s loads, the run %s",
             flipped.cues ? "on" : "off", whole_loads ? "whole-view" : "the same",
             other.completed ? "completed" : "failed");
  const MuxRun& plain = input.options.cues ? other : run;
  const MuxRun& indexed = input.options.cues ? run : other;
  tandrel::fuzz::CheckIndexOnlyAdds(plain.output, indexed.output, run.completed);
  return 0;
}
