#include "app/mux_state.h"

#include "mkv/output_file.h"

namespace tandrel {

MuxState::MuxState() {
  InitClusterBuffer(cluster);
  InitNalReader(h264_reader);
  InitNalReader(mvc_reader);
  progress.base_refill_count = &h264_reader.refill_count;
}

void CloseInputs(MuxState& state) {
  if (state.h264_file != nullptr) std::fclose(state.h264_file);
  if (state.mvc_file != nullptr) std::fclose(state.mvc_file);
  state.h264_file = nullptr;
  state.mvc_file = nullptr;
}

bool CloseFiles(MuxState& state) {
  CloseInputs(state);
  return CloseOutput(state);
}

}  // namespace tandrel
