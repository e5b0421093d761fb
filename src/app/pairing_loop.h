// Pairs base-view and dependent-view access units into stereo frames.
#pragma once

namespace tandrel {

struct MuxState;

// Runs the pairing cycles until both inputs are exhausted and finishes the
// file. Returns true for a completed run; false when the run ended on an
// error, whose message has been written. The files are closed either way.
[[nodiscard]] bool RunPairingLoop(MuxState& state);

}  // namespace tandrel
