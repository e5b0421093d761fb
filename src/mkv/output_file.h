// Writes to the output file. Every write, seek, flush and close is checked;
// the first failure is reported once, by name, and ends the run.
#pragma once

#include <cstdint>
#include <span>

namespace tandrel {

struct MuxState;

[[nodiscard]] bool WriteOutput(MuxState& state, std::span<const uint8_t> bytes);
// Overwrites bytes already written, at an absolute file offset; writing then
// goes on at the end of the file.
[[nodiscard]] bool PatchOutput(MuxState& state, uint64_t offset, std::span<const uint8_t> bytes);
// Flushes and closes the output.
[[nodiscard]] bool CloseOutput(MuxState& state);
// Writes the size-overflow message; for the callers of EncodeVint.
void ReportSizeTooLarge(MuxState& state);

}  // namespace tandrel
