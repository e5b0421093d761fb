#include "support/scratch_directory.h"

#include <stdlib.h>

#include <string>
#include <system_error>

namespace tandrel::test {

ScratchDirectory::ScratchDirectory() {
  std::string pattern = (std::filesystem::temp_directory_path() / "tandrel-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    throw std::filesystem::filesystem_error("cannot create a scratch directory", pattern,
                                            std::error_code(errno, std::generic_category()));
  }
  path_ = pattern;
}

ScratchDirectory::~ScratchDirectory() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

}  // namespace tandrel::test
