// Reads the identifiers that tie H.264 parameter sets together.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace tandrel::test {

// seq_parameter_set_id of an SPS (type 7) or subset SPS (type 15) unit, header byte
// included; empty when the unit is of another type or too short.
std::optional<std::uint32_t> SpsId(const std::vector<std::uint8_t>& unit);

// seq_parameter_set_id that a PPS unit (type 8) refers to; empty likewise.
std::optional<std::uint32_t> PpsReferencedSpsId(const std::vector<std::uint8_t>& unit);

}  // namespace tandrel::test
