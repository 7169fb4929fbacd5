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

// `environment` holds "NAME=value" entries added to (or replacing those of)
// the test's own environment.
ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                         const std::string& workingDir = {},
                         const std::vector<std::string>& environment = {});

}  // namespace tv::test
