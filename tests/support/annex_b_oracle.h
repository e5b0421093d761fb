// A deliberately plain reference model of what a stereo muxer must put into its
// Matroska blocks, computed straight from the two Annex B input streams. It shares
// no code with the muxer: tests compare the muxer's output against it.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace tandrel::test {

using Bytes = std::vector<std::uint8_t>;

// nal_unit_type values (H.264 Table 7-1) that decide what a stereo block holds.
inline constexpr std::uint8_t kNalSlice = 1;
inline constexpr std::uint8_t kNalIdrSlice = 5;
inline constexpr std::uint8_t kNalSei = 6;
inline constexpr std::uint8_t kNalSps = 7;
inline constexpr std::uint8_t kNalPps = 8;
inline constexpr std::uint8_t kNalAccessUnitDelimiter = 9;
inline constexpr std::uint8_t kNalSubsetSps = 15;
inline constexpr std::uint8_t kNalSliceExtension = 20;
inline constexpr std::uint8_t kNalDependentDelimiter = 24;

// The delimiter payload byte of an access unit made of I slices only:
// primary_pic_type 0 followed by the rbsp stop bit.
inline constexpr std::uint8_t kIntraDelimiterPayload = 0x10;

// nal_unit_type from the low five bits of the header byte; 0 for an empty unit.
std::uint8_t NalUnitType(const Bytes& unit);

// Splits an Annex B byte stream into NAL units. Units are separated by the start
// code 00 00 01. A unit ends at the next start code less the one zero byte directly
// before it, if there is one (the leading zero of a four-byte start code, or a
// trailing zero); further zero bytes stay with the unit. At the end of the stream the
// last unit likewise loses one trailing zero byte. Bytes before the first start code
// form a unit of their own. Empty units are skipped.
std::vector<Bytes> SplitNalUnits(std::span<const std::uint8_t> stream);

struct AccessUnit {
  // The byte after the delimiter's header byte (primary_pic_type << 5 | 0x10);
  // empty when the delimiter has no such byte or the stream has no delimiter.
  std::optional<std::uint8_t> delimiter_payload;
  // Every unit of the access unit except its delimiter, in stream order.
  std::vector<Bytes> units;
};

// Groups units into access units, each opened by a delimiter of `delimiter_type`
// (9 in a base view, 24 in a dependent view). Units before the first delimiter are
// counted with the first access unit, as a muxer has no earlier frame to put them in.
std::vector<AccessUnit> GroupAccessUnits(const std::vector<Bytes>& units,
                                         std::uint8_t delimiter_type);

// Base view: slices, SPS, PPS, and SEI units whose first payload type is buffering
// period (0), picture timing (1) or recovery point (6).
bool IsKeptInBaseView(const Bytes& unit);

// Dependent view: slice extensions, subset SPS, PPS, and SEI units whose first
// payload type is MVC scalable nesting (37).
bool IsKeptInDependentView(const Bytes& unit);

// Block flags that the base view's delimiter calls for: keyframe (0x80) for an I
// access unit or one without a delimiter payload, 0x00 for primary_pic_type 1
// (I and P slices), discardable (0x01) for every other type unless
// `holds_reference_picture` (a reference picture is never discardable).
std::uint8_t ExpectedBlockFlags(std::optional<std::uint8_t> delimiter_payload,
                                bool holds_reference_picture);

struct ExpectedBlock {
  // The kept units of the base access unit, then those of the dependent access unit
  // with the same index, each prefixed by its length as 4 bytes big-endian.
  Bytes payload;
  std::optional<std::uint8_t> base_delimiter_payload;
  // The run's first block, and every block of an I access unit, starts a cluster.
  bool opens_cluster = false;
  std::uint8_t flags = 0;
};

// One block per base-view access unit. Dependent access units beyond the base
// view's count have no block to go into and are not represented.
std::vector<ExpectedBlock> ExpectStereoBlocks(std::span<const std::uint8_t> base_stream,
                                              std::span<const std::uint8_t> dependent_stream);

// The first unit of `nal_type` among `units`, if any.
std::optional<Bytes> FirstUnitOfType(const std::vector<Bytes>& units, std::uint8_t nal_type);

}  // namespace tandrel::test
