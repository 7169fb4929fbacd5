// tonvista-decode started as a child that runs while a test watches its
// files and signals it; its output goes to /dev/null.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace tv::test {

inline const std::string kDecoder = std::string(TONVISTA_BINARY_DIR) + "/bin/tonvista-decode";

// `environment` entries ("NAME=value") come before the test's own, so they
// win over a variable of the same name.
inline pid_t SpawnDecoder(const std::vector<std::string>& args,
                          const std::vector<std::string>& environment) {
  std::vector<std::string> env = environment;
  for (char** e = environ; *e != nullptr; ++e) env.emplace_back(*e);
  std::vector<char*> envp, argv;
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  argv.push_back(const_cast<char*>(kDecoder.c_str()));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(null, 2);
    execve(kDecoder.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  return pid;
}

}  // namespace tv::test
