// A MuxState whose output and console go to files that tests read back.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/mux_state.h"
#include "support/file_bytes.h"
#include "support/scratch_directory.h"

namespace tandrel::test {

class MuxFixture {
 public:
  MuxFixture() {
    state_->mkv_name = (scratch_.path() / "out.mkv").string();
    state_->mkv_file = std::fopen(state_->mkv_name.c_str(), "w+b");
    state_->console.out = console_out_;
    state_->console.err = console_err_;
  }
  ~MuxFixture() {
    if (state_->mkv_file != nullptr) std::fclose(state_->mkv_file);
    std::fclose(console_out_);
    std::fclose(console_err_);
  }
  MuxFixture(const MuxFixture&) = delete;
  MuxFixture& operator=(const MuxFixture&) = delete;

  MuxState& state() { return *state_; }

  // What has reached the output file so far.
  std::vector<uint8_t> Output() {
    if (state_->mkv_file != nullptr) std::fflush(state_->mkv_file);
    return ReadFileBytes(state_->mkv_name);
  }
  std::string Out() { return ReadStreamText(console_out_); }
  std::string Err() { return ReadStreamText(console_err_); }

 private:
  ScratchDirectory scratch_;
  std::unique_ptr<MuxState> state_ = std::make_unique<MuxState>();
  std::FILE* console_out_ = std::tmpfile();
  std::FILE* console_err_ = std::tmpfile();
};

inline std::vector<uint8_t> Slice(const std::vector<uint8_t>& bytes, size_t offset, size_t n) {
  return {bytes.begin() + static_cast<long>(offset), bytes.begin() + static_cast<long>(offset + n)};
}

}  // namespace tandrel::test
