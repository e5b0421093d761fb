// What a run of the muxer over two arbitrary inputs must give, worked out with
// the reference splitter and Matroska reader of tests/support. Each check
// aborts with a message on a violation.
#pragma once

#include <cstdint>
#include <span>

namespace tandrel::fuzz {

// True when nothing in the inputs can end a run early: every unit is one the
// muxer knows and belongs in the view it is in, and the parameter sets are
// small enough for the track header's size fields.
bool MustComplete(std::span<const uint8_t> base, std::span<const uint8_t> dependent);

// True when the output cannot depend on the readers' load size. An
// end-of-sequence unit ends a pass only when it lies in a reader's last
// window, so inputs holding one are left out.
bool IsIndependentOfLoadSize(std::span<const uint8_t> base, std::span<const uint8_t> dependent);

// The command-line options a run was made with.
struct MuxOptions {
  bool cues = false;             // --cues
  bool right_eye_first = false;  // -r
};

// Checks the output of a completed run: a whole Matroska file whose blocks
// hold, in order, the units each view must contribute; for inputs whose
// access units the muxer delimits as the reference model does, block by
// block with the model's flags and cluster starts, and the track header
// with the first parameter sets. With --cues, the SeekHead names where Info,
// Tracks and Cues lie and the Cues hold one point per cluster.
void CheckMuxOutput(std::span<const uint8_t> base, std::span<const uint8_t> dependent,
                    const MuxOptions& options, std::span<const uint8_t> output);

// Checks that the output made with --cues is the one made without, with the
// SeekHead after the Segment header and, when the run completed, the Cues at
// the end (and so a Segment size that differs).
void CheckIndexOnlyAdds(std::span<const uint8_t> plain, std::span<const uint8_t> indexed,
                        bool completed);

}  // namespace tandrel::fuzz
