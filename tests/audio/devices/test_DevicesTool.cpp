// tonvista-devices on the virtual devices: the listing, the round-trip
// check, a wave file as line-in, and the answers to bad input.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>

#include "../pulse/SoundLibraries.h"
#include "RunProcess.h"
#include "TestFiles.h"

namespace tv {
namespace {

using namespace test;

const std::string kTool = std::string(TONVISTA_BINARY_DIR) + "/bin/tonvista-devices";

// Runs the tool with the sanitizer options that the sound libraries need.
ProcessResult RunTool(const std::vector<std::string>& args) {
  TempDir folder;
  const ChildSanitizerOptions options = SanitizerOptionsForChild(folder.Path().string());
  const char* oldAsan = std::getenv("ASAN_OPTIONS");
  const char* oldTsan = std::getenv("TSAN_OPTIONS");
  const std::string savedAsan = oldAsan != nullptr ? oldAsan : "";
  const std::string savedTsan = oldTsan != nullptr ? oldTsan : "";
  setenv("ASAN_OPTIONS", options.asan.c_str(), 1);
  setenv("TSAN_OPTIONS", options.tsan.c_str(), 1);
  ProcessResult r = RunProcess(kTool, args);
  const auto restore = [](const char* name, const char* old, const std::string& saved) {
    if (old != nullptr) {
      setenv(name, saved.c_str(), 1);
    } else {
      unsetenv(name);
    }
  };
  restore("ASAN_OPTIONS", oldAsan, savedAsan);
  restore("TSAN_OPTIONS", oldTsan, savedTsan);
  return r;
}

// Sets environment variables for the tool and restores them afterwards.
class ScopedEnv {
 public:
  void Set(const std::string& name, const std::string& value) {
    const char* old = std::getenv(name.c_str());
    saved_.push_back({name, old ? std::optional<std::string>(old) : std::nullopt});
    setenv(name.c_str(), value.c_str(), 1);
  }
  ~ScopedEnv() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
      if (it->second) {
        setenv(it->first.c_str(), it->second->c_str(), 1);
      } else {
        unsetenv(it->first.c_str());
      }
    }
  }

 private:
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

class DevicesToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Virtual devices only: no sound server is looked for, or started.
    WriteAll(dir.File("client.conf"), Bytes{'a', 'u', 't', 'o', 's', 'p', 'a', 'w', 'n', '=',
                                            'n', 'o', '\n'});
    env.Set("PULSE_CLIENTCONFIG", dir.File("client.conf"));
    env.Set("PULSE_SERVER", "unix:" + dir.File("none"));
    env.Set("TONVISTA_AUDIO", "virtual");
  }
  TempDir dir;
  ScopedEnv env;
};

TEST_F(DevicesToolTest, ListsTheVirtualDevicesWithTheDefaultsFirst) {
  const ProcessResult r = RunTool({});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("Input devices:"), std::string::npos);
  EXPECT_NE(r.out.find(" -1  Default device (Virtual loopback)"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Virtual silence"), std::string::npos);
  EXPECT_NE(r.out.find("Virtual null output"), std::string::npos);
  EXPECT_NE(r.out.find("2 ch,  44100 Hz"), std::string::npos);
}

TEST_F(DevicesToolTest, CheckOnTheLoopbackIsBitExactWithNothingLost) {
  const ProcessResult r = RunTool({"--check", "2"});
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("Buffers lost or repeated: 0 "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Bit-exact: yes ("), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Round-trip latency: "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("CPU of the device threads: "), std::string::npos) << r.out;
}

TEST_F(DevicesToolTest, AWaveFileBecomesTheDefaultInput) {
  WriteAll(dir.File("call.wav"), PcmWave(16, 1, 8000, Bytes(16000, 0x11)));
  const ProcessResult r = RunTool({"--input-file", dir.File("call.wav")});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find(" -1  Default device (Wave file as line-in: call.wav)"), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("1 ch,   8000 Hz"), std::string::npos) << r.out;
  // The recording is the file, not the signal: nothing to match, nothing lost.
  const ProcessResult c = RunTool({"--input-file", dir.File("call.wav"), "--check", "1"});
  EXPECT_EQ(c.exitCode, 0) << c.out << c.err;
  EXPECT_NE(c.out.find("Bit-exact: no"), std::string::npos) << c.out;
}

TEST_F(DevicesToolTest, BadInputGetsAClearAnswer) {
  WriteAll(dir.File("junk.wav"), Bytes(64, 3));
  const ProcessResult junk = RunTool({"--input-file", dir.File("junk.wav")});
  EXPECT_EQ(junk.exitCode, 1);
  EXPECT_NE(junk.err.find("junk.wav"), std::string::npos) << junk.err;
  const ProcessResult missing = RunTool({"--input-file", dir.File("absent.wav")});
  EXPECT_EQ(missing.exitCode, 1);
  const ProcessResult rate = RunTool({"--check", "--rate", "fast"});
  EXPECT_EQ(rate.exitCode, 2);
  EXPECT_NE(rate.err.find("--rate wants a number from 8000 to 100000"), std::string::npos)
      << rate.err;
  const ProcessResult unknown = RunTool({"--loud"});
  EXPECT_EQ(unknown.exitCode, 2);
  EXPECT_NE(unknown.err.find("unknown option --loud"), std::string::npos);
  const ProcessResult help = RunTool({"--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.out.find("--check [SECONDS]"), std::string::npos);
}

}  // namespace
}  // namespace tv
