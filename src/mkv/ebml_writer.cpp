#include "mkv/ebml_writer.h"

#include "mkv/ebml_vint.h"

namespace tandrel {

void PutBytes(Bytes& out, std::span<const uint8_t> bytes) {
  out.insert(out.end(), bytes.begin(), bytes.end());
}

void PutUint(Bytes& out, uint64_t value, int width) {
  for (int shift = 8 * (width - 1); shift >= 0; shift -= 8) {
    out.push_back(static_cast<uint8_t>(value >> shift));
  }
}

bool PutElement(Bytes& out, std::span<const uint8_t> id, int size_width,
                std::span<const uint8_t> body) {
  VintBuffer size;
  if (!EncodeVint(body.size(), size_width, size)) return false;
  PutBytes(out, id);
  PutBytes(out, {size.bytes, static_cast<size_t>(size.length)});
  PutBytes(out, body);
  return true;
}

}  // namespace tandrel
