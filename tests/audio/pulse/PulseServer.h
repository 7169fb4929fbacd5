// A private PulseAudio server for the device tests: a null sink at
// 44100 Hz whose monitor is the default source, so that what is played
// comes back bit for bit. It runs in a folder of its own (runtime folder,
// home, client configuration without autospawn), so that several test
// runs can overlap and nothing of the user's session is touched.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

namespace tv::test {

class PulseServer : public ::testing::Environment {
 public:
  static PulseServer& Instance();

  void SetUp() override;
  void TearDown() override;

  // Starts the server unless it runs; false (with Error) when it cannot.
  bool EnsureRunning();
  // Stops the server as a crash or a user would: the clients lose it.
  void Kill();
  bool Running() const { return pid_ > 0; }
  const std::string& Error() const { return error_; }
  // PULSE_SERVER of this server, and of one that does not exist.
  std::string Address() const;
  std::string DeadAddress() const;

 private:
  PulseServer() = default;
  bool Start();
  bool Pactl(const std::vector<std::string>& args);

  pid_t pid_ = -1;
  std::filesystem::path dir_;
  std::string error_;
};

}  // namespace tv::test
