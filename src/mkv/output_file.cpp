#include "mkv/output_file.h"

#include <string>

#include "app/messages.h"
#include "app/mux_state.h"

namespace tandrel {
namespace {

bool Failed(MuxState& state) {
  if (!state.mkv_failed) {
    state.mkv_failed = true;
    PrintErrorLine(state.console, std::string(messages::kCannotWriteMkv) + state.mkv_name);
  }
  return false;
}

}  // namespace

bool WriteOutput(MuxState& state, std::span<const uint8_t> bytes) {
  if (state.mkv_failed || state.mkv_file == nullptr) return false;
  if (std::fwrite(bytes.data(), 1, bytes.size(), state.mkv_file) != bytes.size()) {
    return Failed(state);
  }
  return true;
}

bool PatchOutput(MuxState& state, uint64_t offset, std::span<const uint8_t> bytes) {
  if (state.mkv_failed || state.mkv_file == nullptr) return false;
  if (std::fseek(state.mkv_file, static_cast<long>(offset), SEEK_SET) != 0) return Failed(state);
  if (!WriteOutput(state, bytes)) return false;
  if (std::fseek(state.mkv_file, 0, SEEK_END) != 0) return Failed(state);
  return true;
}

bool CloseOutput(MuxState& state) {
  if (state.mkv_file == nullptr) return !state.mkv_failed;
  const bool flushed = std::fflush(state.mkv_file) == 0;
  const bool closed = std::fclose(state.mkv_file) == 0;
  state.mkv_file = nullptr;
  if (!flushed || !closed) return Failed(state);
  return !state.mkv_failed;
}

void ReportSizeTooLarge(MuxState& state) { PrintErrorLine(state.console, messages::kVintTooBig); }

}  // namespace tandrel
