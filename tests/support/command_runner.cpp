#include "support/command_runner.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "support/scratch_directory.h"

extern char** environ;

namespace tandrel::test {
namespace {

std::string ReadText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

CommandResult RunCommand(const std::vector<std::string>& arguments) {
  CommandResult result;
  if (arguments.empty()) {
    return result;
  }
  // The output goes to files rather than pipes, so a program that fills one stream
  // while the other is not read can never block.
  const ScratchDirectory scratch;
  const std::string out_path = (scratch.path() / "stdout").string();
  const std::string err_path = (scratch.path() / "stderr").string();

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out_path.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err_path.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);

  std::vector<char*> argv;
  argv.reserve(arguments.size() + 1);
  for (const std::string& argument : arguments) {
    argv.push_back(const_cast<char*>(argument.c_str()));
  }
  argv.push_back(nullptr);

  pid_t child = 0;
  const int spawn_error = posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawn_error != 0) {
    return result;
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) {
      return result;
    }
  }
  result.exited = WIFEXITED(status);
  result.exit_status = result.exited ? WEXITSTATUS(status) : -1;
  result.standard_output = ReadText(out_path);
  result.standard_error = ReadText(err_path);
  return result;
}

bool IsOnPath(std::string_view program) {
  const char* path = std::getenv("PATH");
  if (path == nullptr) {
    return false;
  }
  std::string_view directories(path);
  while (!directories.empty()) {
    const std::size_t colon = directories.find(':');
    const std::string_view directory = directories.substr(0, colon);
    const std::filesystem::path candidate =
        std::filesystem::path(directory.empty() ? "." : directory) / program;
    if (access(candidate.c_str(), X_OK) == 0 && !std::filesystem::is_directory(candidate)) {
      return true;
    }
    directories =
        colon == std::string_view::npos ? std::string_view{} : directories.substr(colon + 1);
  }
  return false;
}

}  // namespace tandrel::test
