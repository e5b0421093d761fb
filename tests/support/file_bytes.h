#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

namespace tandrel::test {

// The whole content of a file; throws std::runtime_error when it cannot be read.
std::vector<std::uint8_t> ReadFileBytes(const std::filesystem::path& path);

}  // namespace tandrel::test
