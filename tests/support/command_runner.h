// Runs an external program for tests and collects what it printed.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tandrel::test {

struct CommandResult {
  bool exited = false;  // false when the program could not be started or was killed
  int exit_status = -1;
  std::string standard_output;
  std::string standard_error;
};

// Runs `arguments[0]`, looked up on PATH when it has no slash, with the remaining
// arguments and standard input read from /dev/null, and waits for it to end.
CommandResult RunCommand(const std::vector<std::string>& arguments);

// True when `program` names an executable file in one of the PATH directories.
bool IsOnPath(std::string_view program);

}  // namespace tandrel::test
