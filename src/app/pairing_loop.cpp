#include "app/pairing_loop.h"

#include <optional>
#include <string>

#include "app/messages.h"
#include "app/mux_state.h"
#include "mkv/cluster.h"
#include "mkv/file_layout.h"
#include "mkv/track_header.h"

namespace tandrel {
namespace {

// How a pass ended.
enum class PassEnd {
  Done,        // the pass is complete; the run goes on
  Failed,      // an error was reported; the run stops
  SurplusMvc,  // the dependent view has access units the base view lacks
};

// One pairing cycle. `awaiting_slice` is set at its start, cleared by every
// base-view slice appended (so the next delimiter ends the base pass) and set
// again by every dependent-view slice extension appended (so the next
// dependent delimiter ends the dependent pass).
struct Cycle {
  bool awaiting_slice = true;
  bool frame_begun = false;       // BeginFrame has run in this cycle
  bool base_contributed = false;  // the base pass began a frame or appended a unit
};

void ReportReadFailure(MuxState& state, const NalReader& reader, bool base_view) {
  const std::string& name = base_view ? state.h264_name : state.mvc_name;
  const char* text = nullptr;
  if (reader.failure == ReadFailure::ReadError) {
    text = base_view ? messages::kCannotReadH264 : messages::kCannotReadMvc;
  } else {
    text = base_view ? messages::kUnitTooLargeH264 : messages::kUnitTooLargeMvc;
  }
  PrintErrorLine(state.console, text + name);
}

void ReportUnknownNal(MuxState& state, const char* text, std::span<const uint8_t> unit) {
  PrintErrorLine(state.console, text + std::to_string(unit.empty() ? 0 : unit[0]));
}

// An End from the reader: a read failure stops the run; otherwise the unit
// is consumed, and it ends the pass once the reader holds its last window
// (the end of the data, or an end-of-sequence unit inside the last window).
// Without a value the pass goes on.
std::optional<PassEnd> EndUnit(MuxState& state, NalReader& reader, bool base_view) {
  if (reader.failure != ReadFailure::None) {
    ReportReadFailure(state, reader, base_view);
    return PassEnd::Failed;
  }
  SkipNal(reader);
  if (reader.eof) return PassEnd::Done;
  return std::nullopt;
}

// nal_ref_idc, bits 6 and 5 of the header byte, is not 0.
bool IsReferenceUnit(std::span<const uint8_t> unit) { return (unit[0] & 0x60) != 0; }

PassEnd BasePass(MuxState& state, Cycle& cycle) {
  NalReader& reader = state.h264_reader;
  for (;;) {
    const NalKind kind = NextNal(reader, state.h264_file);
    const std::span<const uint8_t> unit = CurrentNal(reader);
    bool ok = true;
    switch (kind) {
      case NalKind::End:
        if (const auto end = EndUnit(state, reader, true)) return *end;
        continue;
      case NalKind::AccessUnitDelimiter:
        if (!cycle.awaiting_slice) return PassEnd::Done;  // opens the next cycle
        // A second delimiter before any slice (an access unit without
        // slices) stays in the frame already begun.
        if (!cycle.frame_begun) {
          // The delimiter's payload byte: primary_pic_type, then the stop bit.
          ok = BeginFrame(state, unit.size() >= 2 ? unit[1] : 0x00);
          cycle.frame_begun = true;
          cycle.base_contributed = true;
        }
        break;
      case NalKind::DependentDelimiter:
        PrintOut(state.console, messages::kNotH264);
        return PassEnd::Failed;
      case NalKind::RefSlice:
      case NalKind::IdrSlice:
        MarkReferencePicture(state);
        [[fallthrough]];
      case NalKind::NonRefSlice:
        ok = AppendNal(state, unit);
        cycle.awaiting_slice = false;
        cycle.base_contributed = true;
        break;
      case NalKind::SeiBufferingPeriod:
      case NalKind::SeiRecoveryPoint:
        ok = AppendNal(state, unit);
        cycle.base_contributed = true;
        break;
      case NalKind::SeiPicTiming: {
        ok = AppendNal(state, unit);
        cycle.base_contributed = true;
        const SeiParseResult parsed = ParseSeiPicTiming(unit, state.sps_info, state.pic_timing);
        if (parsed != SeiParseResult::Ok) {
          PrintErrorLine(state.console, SeiParseMessage(parsed));
          if (parsed != SeiParseResult::ForbiddenBit) return PassEnd::Failed;
        }
        StampFrame(state);
        break;
      }
      case NalKind::Sps:
        ok =
            AppendNal(state, unit) && (state.track.track_header_written || CaptureSps(state, unit));
        cycle.base_contributed = true;
        break;
      case NalKind::Pps:
        ok =
            AppendNal(state, unit) && (state.track.track_header_written || CapturePps(state, unit));
        cycle.base_contributed = true;
        break;
      case NalKind::Filler:
      case NalKind::SliceExtension:
      case NalKind::SliceExtensionRef3:
      case NalKind::SeiMvcNesting:
      case NalKind::SubsetSps:
        break;  // not part of the base view
      case NalKind::Unknown:
        ReportUnknownNal(state, messages::kUnknownNalH264, unit);
        return PassEnd::Failed;
    }
    if (!ok) return PassEnd::Failed;
    SkipNal(reader);
  }
}

PassEnd DependentPass(MuxState& state, Cycle& cycle) {
  NalReader& reader = state.mvc_reader;
  bool first_unit = true;
  for (;;) {
    const NalKind kind = NextNal(reader, state.mvc_file);
    const std::span<const uint8_t> unit = CurrentNal(reader);
    bool ok = true;
    switch (kind) {
      case NalKind::End:
        if (const auto end = EndUnit(state, reader, false)) return *end;
        continue;
      case NalKind::AccessUnitDelimiter:
        PrintOut(state.console, messages::kNotMvc);
        return PassEnd::Failed;
      case NalKind::DependentDelimiter:
        if (cycle.awaiting_slice) {
          // With the base view exhausted and nothing from it in this cycle,
          // this delimiter would end every further pass unconsumed.
          if (first_unit && !cycle.base_contributed && IsExhausted(state.h264_reader)) {
            return PassEnd::SurplusMvc;
          }
          return PassEnd::Done;  // opens the next dependent pass
        }
        break;  // the delimiter that opens this frame's dependent view
      case NalKind::SliceExtension:
      case NalKind::SliceExtensionRef3:
        if (IsReferenceUnit(unit)) MarkReferencePicture(state);
        ok = AppendNal(state, unit);
        cycle.awaiting_slice = true;
        break;
      case NalKind::SeiMvcNesting:
        ok = AppendNal(state, unit);
        break;
      case NalKind::SubsetSps:
        ok = AppendNal(state, unit) &&
             (state.track.track_header_written || CaptureSubsetSps(state, unit));
        break;
      case NalKind::Pps:
        ok = AppendNal(state, unit) &&
             (state.track.track_header_written || CaptureDependentPps(state, unit));
        break;
      case NalKind::Filler:
      case NalKind::RefSlice:
      case NalKind::NonRefSlice:
      case NalKind::IdrSlice:
      case NalKind::SeiBufferingPeriod:
      case NalKind::SeiPicTiming:
      case NalKind::SeiRecoveryPoint:
      case NalKind::Sps:
        break;  // not part of the dependent view
      case NalKind::Unknown:
        ReportUnknownNal(state, messages::kUnknownNalMvc, unit);
        return PassEnd::Failed;
    }
    if (!ok) return PassEnd::Failed;
    SkipNal(reader);
    first_unit = false;
  }
}

bool Stop(MuxState& state) {
  (void)CloseFiles(state);
  return false;
}

}  // namespace

bool RunPairingLoop(MuxState& state) {
  for (;;) {
    if (IsExhausted(state.h264_reader) && IsExhausted(state.mvc_reader)) break;
    Cycle cycle;
    if (BasePass(state, cycle) == PassEnd::Failed) return Stop(state);
    const PassEnd dependent = DependentPass(state, cycle);
    if (dependent == PassEnd::Failed) return Stop(state);
    if (dependent == PassEnd::SurplusMvc) {
      PrintErrorLine(state.console, messages::kMoreDependentUnits);
      break;
    }
    if (!EndFrame(state)) return Stop(state);
  }
  if (!FinishFile(state)) return Stop(state);
  return true;
}

}  // namespace tandrel
