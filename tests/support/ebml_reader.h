// A strict EBML element-tree reader for tests. Every element must lie wholly inside
// its parent, the children of a master element must fill it exactly, and the
// top-level elements must fill the whole input. Anything else is reported with an
// EbmlFormatError that names the offset; no byte outside the input is ever read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace tandrel::test {

class EbmlFormatError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A variable-length integer: the value with its length marker removed, and the
// number of bytes it took.
struct Vint {
  std::uint64_t value = 0;
  std::size_t width = 0;
};

// Decodes the EBML variable-length integer (1 to 8 bytes) that begins at `pos`.
Vint ReadVint(std::span<const std::uint8_t> bytes, std::size_t pos);

struct EbmlElement {
  // The ID as written, length marker included (e.g. 0x1A45DFA3 for EBML).
  std::uint32_t id = 0;
  std::size_t offset = 0;  // of the first ID byte
  std::size_t size_width = 0;
  std::size_t data_offset = 0;
  std::size_t data_size = 0;
  std::vector<EbmlElement> children;  // filled for master elements only

  std::size_t end() const { return data_offset + data_size; }
};

// True for the Matroska master elements this reader descends into.
bool IsMasterElement(std::uint32_t id);

// Parses `bytes` as a sequence of top-level elements that fills it exactly.
std::vector<EbmlElement> ParseEbmlElements(std::span<const std::uint8_t> bytes);

// Value readers; each checks that the element's data size suits its type.
std::uint64_t ReadUnsigned(std::span<const std::uint8_t> bytes, const EbmlElement& element);
double ReadFloat(std::span<const std::uint8_t> bytes, const EbmlElement& element);
std::string ReadString(std::span<const std::uint8_t> bytes, const EbmlElement& element);
std::vector<std::uint8_t> ReadBinary(std::span<const std::uint8_t> bytes,
                                     const EbmlElement& element);

// Hexadecimal rendering of an element ID for messages, e.g. "0x1F43B675".
std::string FormatId(std::uint32_t id);

}  // namespace tandrel::test
