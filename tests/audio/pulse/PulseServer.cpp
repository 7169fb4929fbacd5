#include "PulseServer.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string_view>
#include <thread>
#include <vector>

#include "RunProcess.h"

namespace tv::test {

namespace {

using namespace std::chrono_literals;

std::string FindProgram(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::stringstream dirs(path != nullptr ? path : "/usr/bin:/bin");
  std::string dir;
  while (std::getline(dirs, dir, ':')) {
    const std::filesystem::path candidate = std::filesystem::path(dir) / name;
    if (access(candidate.c_str(), X_OK) == 0) return candidate.string();
  }
  return {};
}

std::string Tail(const std::filesystem::path& file) {
  std::ifstream in(file);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  std::string text;
  for (size_t i = lines.size() > 8 ? lines.size() - 8 : 0; i < lines.size(); ++i) {
    text += lines[i] + "\n";
  }
  return text;
}

}  // namespace

PulseServer& PulseServer::Instance() {
  // gtest owns its environments; this one is created on first use and
  // registered before the tests run (see the end of this file).
  static PulseServer* const server =
      static_cast<PulseServer*>(::testing::AddGlobalTestEnvironment(new PulseServer));
  return *server;
}

std::string PulseServer::Address() const { return "unix:" + (dir_ / "pulse" / "native").string(); }

std::string PulseServer::DeadAddress() const {
  return "unix:" + (dir_ / "nobody-here" / "native").string();
}

void PulseServer::SetUp() {
  if (!EnsureRunning()) {
    // Loudly: the device tests need the server.
    ADD_FAILURE() << "the PulseAudio server for the device tests did not start: " << error_;
  }
}

void PulseServer::TearDown() {
  Kill();
  std::error_code ec;
  if (!dir_.empty()) std::filesystem::remove_all(dir_, ec);
}

bool PulseServer::Pactl(const std::vector<std::string>& args) {
  const std::string pactl = FindProgram("pactl");
  if (pactl.empty()) {
    error_ = "pactl is not installed (package pulseaudio-utils)";
    return false;
  }
  const ProcessResult r = RunProcess(pactl, args);
  if (r.exitCode != 0) error_ = "pactl " + args[0] + ": " + r.err;
  return r.exitCode == 0;
}

bool PulseServer::EnsureRunning() {
  if (pid_ > 0) {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == 0) return true;
    pid_ = -1;
  }
  return Start();
}

bool PulseServer::Start() {
  if (dir_.empty()) {
    char pattern[] = "/tmp/tonvista-pulse-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
      error_ = "cannot create a folder for the server";
      return false;
    }
    dir_ = pattern;
    std::ofstream(dir_ / "client.conf") << "autospawn = no\n";
    // The clients of this process (PortAudio through ALSA's pulse plugin,
    // pactl, tonvista-devices) find this server and never start another.
    setenv("PULSE_SERVER", Address().c_str(), 1);
    setenv("PULSE_CLIENTCONFIG", (dir_ / "client.conf").c_str(), 1);
  }
  const std::string program = FindProgram("pulseaudio");
  if (program.empty()) {
    error_ = "pulseaudio is not installed";
    return false;
  }
  const std::string log = (dir_ / "server.log").string();
  // Everything the child needs is made here: after fork, in a process with
  // threads, the child may only make async-signal-safe calls.
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string_view v(*e);
    if (v.starts_with("XDG_RUNTIME_DIR=") || v.starts_with("HOME=") ||
        v.starts_with("PULSE_SERVER=") || v.starts_with("PULSE_CLIENTCONFIG=")) {
      continue;
    }
    env.emplace_back(v);
  }
  env.push_back("XDG_RUNTIME_DIR=" + dir_.string());
  env.push_back("HOME=" + dir_.string());
  std::vector<char*> envp;
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::vector<std::string> args = {"pulseaudio", "--daemonize=no", "--exit-idle-time=-1", "-n",
                                   "--load=module-null-sink sink_name=null rate=44100",
                                   "--load=module-native-protocol-unix"};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  const pid_t pid = fork();
  if (pid < 0) {
    if (fd >= 0) close(fd);
    error_ = "fork failed";
    return false;
  }
  if (pid == 0) {
    if (fd >= 0) {
      dup2(fd, 1);
      dup2(fd, 2);
    }
    execve(program.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  if (fd >= 0) close(fd);
  pid_ = pid;
  const auto deadline = std::chrono::steady_clock::now() + 15s;
  while (!Pactl({"info"})) {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      error_ = "pulseaudio ended at start:\n" + Tail(log);
      return false;
    }
    if (std::chrono::steady_clock::now() > deadline) {
      Kill();
      error_ = "pulseaudio did not answer within 15 s:\n" + Tail(log);
      return false;
    }
    std::this_thread::sleep_for(50ms);
  }
  if (!Pactl({"set-default-sink", "null"}) || !Pactl({"set-default-source", "null.monitor"})) {
    Kill();
    return false;
  }
  error_.clear();
  return true;
}

void PulseServer::Kill() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  int status = 0;
  while (waitpid(pid_, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
      break;
    }
    std::this_thread::sleep_for(10ms);
  }
  pid_ = -1;
}

namespace {
// Registers the server before main runs the tests.
[[maybe_unused]] const bool kRegistered = (PulseServer::Instance(), true);
}  // namespace

}  // namespace tv::test
