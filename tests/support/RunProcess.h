// Runs a program as a real child process and collects what it printed.
#pragma once

#include <string>
#include <vector>

namespace tv::test {

struct ProcessResult {
  int exitCode = -1;  // the exit status, or 128 + signal
  std::string out;
  std::string err;
};

ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                         const std::string& workingDir = {});

}  // namespace tv::test
