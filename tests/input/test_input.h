// An in-memory input file for reader tests.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

namespace tandrel::test {

// A temporary file holding `bytes`, positioned at its start.
inline std::FILE* FileWith(const std::vector<uint8_t>& bytes) {
  std::FILE* file = std::tmpfile();
  if (file == nullptr) return nullptr;
  if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::rewind(file);
  return file;
}

}  // namespace tandrel::test
