// Appending EBML pieces to a byte vector, for the elements that are built
// once per run (the track header); the per-block path writes in place.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace tandrel {

using Bytes = std::vector<uint8_t>;

void PutBytes(Bytes& out, std::span<const uint8_t> bytes);
// `value` as a `width`-byte big-endian integer.
void PutUint(Bytes& out, uint64_t value, int width);
// An element: its ID bytes, `body.size()` as an EBML size of `size_width`
// bytes, then the body. False when the size does not fit that width.
[[nodiscard]] bool PutElement(Bytes& out, std::span<const uint8_t> id, int size_width,
                              std::span<const uint8_t> body);

}  // namespace tandrel
