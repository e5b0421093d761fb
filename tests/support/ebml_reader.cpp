#include "support/ebml_reader.h"

#include <bit>
#include <cstdio>
#include <cstring>

namespace tandrel::test {
namespace {

// Matroska nests masters only a few levels deep; the cap keeps hostile input from
// exhausting the stack.
constexpr int kMaxDepth = 16;
constexpr std::size_t kMaxIdWidth = 4;

std::string FormatOffset(std::size_t offset) {
  char text[32];
  std::snprintf(text, sizeof text, "%zu (0x%zX)", offset, offset);
  return text;
}

// The number of bytes of a vint, from the position of the first set bit of its
// first byte; 0 when the byte is zero (no marker within 8 bytes).
std::size_t VintWidth(std::uint8_t first_byte) {
  return first_byte == 0 ? 0 : static_cast<std::size_t>(std::countl_zero(first_byte)) + 1;
}

struct ElementId {
  std::uint32_t id = 0;
  std::size_t width = 0;
};

ElementId ReadId(std::span<const std::uint8_t> bytes, std::size_t pos) {
  if (pos >= bytes.size()) {
    throw EbmlFormatError("element ID at offset " + FormatOffset(pos) + " lies past the end");
  }
  const std::size_t width = VintWidth(bytes[pos]);
  if (width == 0 || width > kMaxIdWidth) {
    throw EbmlFormatError("invalid element ID at offset " + FormatOffset(pos));
  }
  if (pos + width > bytes.size()) {
    throw EbmlFormatError("element ID at offset " + FormatOffset(pos) + " is cut off");
  }
  std::uint32_t id = 0;
  for (std::size_t i = 0; i < width; ++i) {
    id = id << 8 | bytes[pos + i];
  }
  return {id, width};
}

std::vector<EbmlElement> ParseChildren(std::span<const std::uint8_t> bytes, std::size_t begin,
                                       std::size_t end, int depth);

EbmlElement ParseElement(std::span<const std::uint8_t> bytes, std::size_t pos,
                         std::size_t parent_end, int depth) {
  const auto within_parent = bytes.first(parent_end);
  EbmlElement element;
  element.offset = pos;
  const ElementId id = ReadId(within_parent, pos);
  element.id = id.id;
  const std::size_t size_pos = pos + id.width;
  if (size_pos >= parent_end) {
    throw EbmlFormatError("element " + FormatId(element.id) + " at offset " + FormatOffset(pos) +
                          " has no size before its parent ends");
  }
  const Vint size = ReadVint(within_parent, size_pos);
  if (size.value == (std::uint64_t{1} << (7 * size.width)) - 1) {
    throw EbmlFormatError("element " + FormatId(element.id) + " at offset " + FormatOffset(pos) +
                          " has an unknown (all ones) size");
  }
  element.size_width = size.width;
  element.data_offset = size_pos + size.width;
  if (size.value > parent_end - element.data_offset) {
    throw EbmlFormatError("element " + FormatId(element.id) + " at offset " + FormatOffset(pos) +
                          " with size " + std::to_string(size.value) +
                          " runs past its parent's end at " + FormatOffset(parent_end));
  }
  element.data_size = static_cast<std::size_t>(size.value);
  if (IsMasterElement(element.id)) {
    if (depth >= kMaxDepth) {
      throw EbmlFormatError("elements nested too deeply at offset " + FormatOffset(pos));
    }
    element.children = ParseChildren(bytes, element.data_offset, element.end(), depth + 1);
  }
  return element;
}

std::vector<EbmlElement> ParseChildren(std::span<const std::uint8_t> bytes, std::size_t begin,
                                       std::size_t end, int depth) {
  std::vector<EbmlElement> children;
  std::size_t pos = begin;
  while (pos < end) {
    children.push_back(ParseElement(bytes, pos, end, depth));
    pos = children.back().end();
  }
  return children;
}

// The element's data bytes; the element must come from parsing these very bytes.
std::span<const std::uint8_t> ElementData(std::span<const std::uint8_t> bytes,
                                          const EbmlElement& element) {
  if (element.data_offset > bytes.size() ||
      element.data_size > bytes.size() - element.data_offset) {
    throw EbmlFormatError("element " + FormatId(element.id) + " at offset " +
                          FormatOffset(element.offset) + " lies outside the bytes given");
  }
  return bytes.subspan(element.data_offset, element.data_size);
}

void RequireDataSize(const EbmlElement& element, bool acceptable, const char* what) {
  if (!acceptable) {
    throw EbmlFormatError("element " + FormatId(element.id) + " at offset " +
                          FormatOffset(element.offset) + " has " +
                          std::to_string(element.data_size) + " bytes, not a valid " + what);
  }
}

}  // namespace

Vint ReadVint(std::span<const std::uint8_t> bytes, std::size_t pos) {
  if (pos >= bytes.size()) {
    throw EbmlFormatError("variable-length integer at offset " + FormatOffset(pos) +
                          " lies past the end");
  }
  const std::size_t width = VintWidth(bytes[pos]);
  if (width == 0) {
    throw EbmlFormatError("variable-length integer at offset " + FormatOffset(pos) +
                          " has no length marker");
  }
  if (pos + width > bytes.size()) {
    throw EbmlFormatError("variable-length integer at offset " + FormatOffset(pos) + " is cut off");
  }
  const auto marker = static_cast<unsigned>(0x80U >> (width - 1));
  std::uint64_t value = bytes[pos] & (marker - 1);
  for (std::size_t i = 1; i < width; ++i) {
    value = value << 8 | bytes[pos + i];
  }
  return {value, width};
}

bool IsMasterElement(std::uint32_t id) {
  switch (id) {
    case 0x1A45DFA3:  // EBML
    case 0x18538067:  // Segment
    case 0x114D9B74:  // SeekHead
    case 0x4DBB:      // Seek
    case 0x1549A966:  // Info
    case 0x1654AE6B:  // Tracks
    case 0xAE:        // TrackEntry
    case 0xE0:        // Video
    case 0x41E4:      // BlockAdditionMapping
    case 0x1F43B675:  // Cluster
    case 0xA0:        // BlockGroup
    case 0x1C53BB6B:  // Cues
    case 0xBB:        // CuePoint
    case 0xB7:        // CueTrackPositions
    case 0x1254C367:  // Tags
      return true;
    default:
      return false;
  }
}

std::vector<EbmlElement> ParseEbmlElements(std::span<const std::uint8_t> bytes) {
  return ParseChildren(bytes, 0, bytes.size(), 0);
}

std::uint64_t ReadUnsigned(std::span<const std::uint8_t> bytes, const EbmlElement& element) {
  RequireDataSize(element, element.data_size <= 8, "unsigned integer");
  std::uint64_t value = 0;
  for (const std::uint8_t byte : ElementData(bytes, element)) {
    value = value << 8 | byte;
  }
  return value;
}

double ReadFloat(std::span<const std::uint8_t> bytes, const EbmlElement& element) {
  const std::size_t size = element.data_size;
  RequireDataSize(element, size == 0 || size == 4 || size == 8, "float");
  std::uint64_t raw = 0;
  for (const std::uint8_t byte : ElementData(bytes, element)) {
    raw = raw << 8 | byte;
  }
  if (size == 4) {
    return static_cast<double>(std::bit_cast<float>(static_cast<std::uint32_t>(raw)));
  }
  return size == 8 ? std::bit_cast<double>(raw) : 0.0;
}

std::string ReadString(std::span<const std::uint8_t> bytes, const EbmlElement& element) {
  const auto data = ElementData(bytes, element);
  std::string text(data.begin(), data.end());
  // EBML strings may be padded with zero bytes.
  text.resize(std::strlen(text.c_str()));
  return text;
}

std::vector<std::uint8_t> ReadBinary(std::span<const std::uint8_t> bytes,
                                     const EbmlElement& element) {
  const auto data = ElementData(bytes, element);
  return {data.begin(), data.end()};
}

std::string FormatId(std::uint32_t id) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", id);
  return text;
}

}  // namespace tandrel::test
