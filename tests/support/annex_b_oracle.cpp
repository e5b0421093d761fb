#include "support/annex_b_oracle.h"

#include <cstddef>

namespace tandrel::test {
namespace {

// SEI payloadType values (H.264 Annex D and H.8) that a stereo block carries.
constexpr std::uint8_t kSeiBufferingPeriod = 0;
constexpr std::uint8_t kSeiPicTiming = 1;
constexpr std::uint8_t kSeiRecoveryPoint = 6;
constexpr std::uint8_t kSeiMvcScalableNesting = 37;

constexpr std::uint8_t kInterDelimiterPayload = 0x30;  // primary_pic_type 1: I and P

bool IsStartCodeAt(std::span<const std::uint8_t> stream, std::size_t pos) {
  return pos + 3 <= stream.size() && stream[pos] == 0x00 && stream[pos + 1] == 0x00 &&
         stream[pos + 2] == 0x01;
}

void AddUnit(std::span<const std::uint8_t> stream, std::size_t begin, std::size_t end,
             std::vector<Bytes>& units) {
  if (end > begin && stream[end - 1] == 0x00) {
    --end;
  }
  if (end > begin) {
    units.emplace_back(stream.begin() + static_cast<std::ptrdiff_t>(begin),
                       stream.begin() + static_cast<std::ptrdiff_t>(end));
  }
}

// The first payloadType byte of an SEI unit, read as a plain byte: a payload type
// written with 0xFF extension bytes is not one of the kinds kept.
std::optional<std::uint8_t> FirstSeiPayloadType(const Bytes& unit) {
  if (NalUnitType(unit) != kNalSei || unit.size() < 2) {
    return std::nullopt;
  }
  return unit[1];
}

void AppendLengthPrefixed(const Bytes& unit, Bytes& payload) {
  const auto length = static_cast<std::uint32_t>(unit.size());
  for (int shift = 24; shift >= 0; shift -= 8) {
    payload.push_back(static_cast<std::uint8_t>(length >> shift));
  }
  payload.insert(payload.end(), unit.begin(), unit.end());
}

}  // namespace

std::uint8_t NalUnitType(const Bytes& unit) {
  return unit.empty() ? std::uint8_t{0} : static_cast<std::uint8_t>(unit[0] & 0x1F);
}

std::vector<Bytes> SplitNalUnits(std::span<const std::uint8_t> stream) {
  std::vector<Bytes> units;
  std::size_t unit_begin = 0;
  std::size_t pos = 0;
  while (pos < stream.size()) {
    if (IsStartCodeAt(stream, pos)) {
      AddUnit(stream, unit_begin, pos, units);
      pos += 3;
      unit_begin = pos;
    } else {
      ++pos;
    }
  }
  AddUnit(stream, unit_begin, stream.size(), units);
  return units;
}

std::vector<AccessUnit> GroupAccessUnits(const std::vector<Bytes>& units,
                                         std::uint8_t delimiter_type) {
  std::vector<AccessUnit> access_units;
  std::vector<Bytes> leading_units;
  for (const Bytes& unit : units) {
    if (NalUnitType(unit) == delimiter_type) {
      AccessUnit& opened = access_units.emplace_back();
      if (unit.size() >= 2) {
        opened.delimiter_payload = unit[1];
      }
    } else if (access_units.empty()) {
      leading_units.push_back(unit);
    } else {
      access_units.back().units.push_back(unit);
    }
  }
  if (access_units.empty() && !leading_units.empty()) {
    access_units.emplace_back();
  }
  if (!leading_units.empty()) {
    std::vector<Bytes>& first = access_units.front().units;
    first.insert(first.begin(), leading_units.begin(), leading_units.end());
  }
  return access_units;
}

bool IsKeptInBaseView(const Bytes& unit) {
  switch (NalUnitType(unit)) {
    case kNalSlice:
    case kNalIdrSlice:
    case kNalSps:
    case kNalPps:
      return true;
    case kNalSei: {
      const auto payload_type = FirstSeiPayloadType(unit);
      return payload_type == kSeiBufferingPeriod || payload_type == kSeiPicTiming ||
             payload_type == kSeiRecoveryPoint;
    }
    default:
      return false;
  }
}

bool IsKeptInDependentView(const Bytes& unit) {
  switch (NalUnitType(unit)) {
    case kNalSliceExtension:
    case kNalSubsetSps:
    case kNalPps:
      return true;
    case kNalSei:
      return FirstSeiPayloadType(unit) == kSeiMvcScalableNesting;
    default:
      return false;
  }
}

std::uint8_t ExpectedBlockFlags(std::optional<std::uint8_t> delimiter_payload,
                                bool holds_reference_picture) {
  if (!delimiter_payload || *delimiter_payload == kIntraDelimiterPayload) {
    return 0x80;
  }
  if (*delimiter_payload == kInterDelimiterPayload || holds_reference_picture) {
    return 0x00;
  }
  return 0x01;
}

namespace {

// A slice of either view whose nal_ref_idc is not 0.
bool IsReferenceSlice(const Bytes& unit) {
  const std::uint8_t type = NalUnitType(unit);
  const bool slice = type == kNalSlice || type == kNalIdrSlice || type == kNalSliceExtension;
  return slice && (unit[0] & 0x60) != 0;
}

}  // namespace

std::vector<ExpectedBlock> ExpectStereoBlocks(std::span<const std::uint8_t> base_stream,
                                              std::span<const std::uint8_t> dependent_stream) {
  const std::vector<AccessUnit> base =
      GroupAccessUnits(SplitNalUnits(base_stream), kNalAccessUnitDelimiter);
  const std::vector<AccessUnit> dependent =
      GroupAccessUnits(SplitNalUnits(dependent_stream), kNalDependentDelimiter);

  std::vector<ExpectedBlock> blocks;
  for (std::size_t index = 0; index < base.size(); ++index) {
    ExpectedBlock& block = blocks.emplace_back();
    block.base_delimiter_payload = base[index].delimiter_payload;
    block.opens_cluster = index == 0 || block.base_delimiter_payload == kIntraDelimiterPayload;
    bool holds_reference_picture = false;
    for (const Bytes& unit : base[index].units) {
      if (IsKeptInBaseView(unit)) {
        AppendLengthPrefixed(unit, block.payload);
        holds_reference_picture |= IsReferenceSlice(unit);
      }
    }
    if (index < dependent.size()) {
      for (const Bytes& unit : dependent[index].units) {
        if (IsKeptInDependentView(unit)) {
          AppendLengthPrefixed(unit, block.payload);
          holds_reference_picture |= IsReferenceSlice(unit);
        }
      }
    }
    block.flags = ExpectedBlockFlags(block.base_delimiter_payload, holds_reference_picture);
  }
  return blocks;
}

std::optional<Bytes> FirstUnitOfType(const std::vector<Bytes>& units, std::uint8_t nal_type) {
  for (const Bytes& unit : units) {
    if (NalUnitType(unit) == nal_type) {
      return unit;
    }
  }
  return std::nullopt;
}

}  // namespace tandrel::test
