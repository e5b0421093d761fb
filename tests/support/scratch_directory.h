// A fresh, private directory under the system's temporary directory that is removed
// with everything in it when the object goes away.
#pragma once

#include <filesystem>

namespace tandrel::test {

class ScratchDirectory {
 public:
  ScratchDirectory();
  ~ScratchDirectory();
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;

  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace tandrel::test
