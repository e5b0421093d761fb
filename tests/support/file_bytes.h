#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace tandrel::test {

// The whole content of a file; throws std::runtime_error when it cannot be read.
std::vector<std::uint8_t> ReadFileBytes(const std::filesystem::path& path);

// Everything written to `file` so far, read from its start (for console
// streams redirected to temporary files).
std::string ReadStreamText(std::FILE* file);

}  // namespace tandrel::test
