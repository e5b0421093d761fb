// Runs the tool in this process with its console on temporary files.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "app/start_up.h"
#include "support/file_bytes.h"

namespace tandrel::test {

struct RunResult {
  int status = -1;
  std::string out;
  std::string err;
};

// `args` without the program name; `input` is what standard input holds.
inline RunResult RunInProcess(const std::vector<std::string>& args, const std::string& input = "") {
  std::vector<const char*> argv = {"tandrel"};
  for (const std::string& arg : args) argv.push_back(arg.c_str());
  Console console{std::tmpfile(), std::tmpfile(), std::tmpfile()};
  std::fwrite(input.data(), 1, input.size(), console.in);
  std::rewind(console.in);
  RunResult result;
  result.status = RunTandrel(argv, console);
  result.out = ReadStreamText(console.out);
  result.err = ReadStreamText(console.err);
  std::fclose(console.in);
  std::fclose(console.out);
  std::fclose(console.err);
  return result;
}

}  // namespace tandrel::test
