// The wave input and output on a real sound server: a private PulseAudio
// with a null sink, reached through PortAudio and ALSA's pulse plugin, as
// on a user's desktop.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <thread>

#include "../devices/DeviceTestParts.h"
#include "PulseServer.h"
#include "RunProcess.h"
#include "SoundLibraries.h"
#include "TestFiles.h"
#include "TMMWaveIn.h"
#include "TMMWaveOut.h"

namespace tv {
namespace {

using namespace test;

class PulseTest : public ::testing::Test {
 public:
  void RunFor(std::chrono::milliseconds time) {
    loop.RunUntil([] { return false; }, time);
  }

 protected:
  void SetUp() override {
    ASSERT_TRUE(PulseServer::Instance().EnsureRunning()) << PulseServer::Instance().Error();
    SetMainDispatcher(&loop);
  }
  void TearDown() override {
    loop.ProcessPending();
    SetMainDispatcher(nullptr);
  }
  bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = 15s) {
    return loop.RunUntil(done, timeout);
  }

  LoopDispatcher loop;
  ApplicationErrors appErrors;
};

void Stereo16(TMMWaveIn& in, int rate = 44100) {
  in.SetMode(mStereo);
  in.SetBitLength(b16Bit);
  in.SetSampleRate(rate);
}

TEST_F(PulseTest, TheServersDevicesAreListedWithTheDefaultFirst) {
  ASSERT_GE(TMMWaveIn::DeviceCount(), 1);
  ASSERT_GE(TMMWaveOut::DeviceCount(), 1);
  EXPECT_EQ(TMMWaveIn::DeviceName(-1).rfind("Default device (", 0), 0u);
  EXPECT_EQ(TMMWaveOut::DeviceName(-1).rfind("Default device (", 0), 0u);
  EXPECT_FALSE(TMMWaveIn::DeviceName(0).empty());
  EXPECT_EQ(TMMWaveIn::DeviceName(TMMWaveIn::DeviceCount()), "");
  EXPECT_EQ(TMMWaveIn::DeviceName(-2), "");
  TMMWaveIn in;
  in.SetDeviceID(MapperId);
  EXPECT_EQ(in.ProductName(), TMMWaveIn::DeviceName(-1));
}

TEST_F(PulseTest, EveryListedDeviceOpensAtTheCommonRates) {
  for (const int rate : {8000, 44100, 48000}) {
    for (TMMDeviceId id = -1; id < TMMWaveIn::DeviceCount(); ++id) {
      TMMWaveIn in;
      Stereo16(in, rate);
      in.SetDeviceID(id);
      EXPECT_NO_THROW(in.Open()) << "input " << id << " at " << rate;
      EXPECT_TRUE(in.IsOpen());
      in.Close();
      EXPECT_EQ(in.State(), wsClosed);
    }
    FrameSource source(UINT64_MAX, rate);
    for (TMMDeviceId id = -1; id < TMMWaveOut::DeviceCount(); ++id) {
      TMMWaveOut out;
      out.SetInput(&source);
      out.SetDeviceID(id);
      EXPECT_NO_THROW(out.Open()) << "output " << id << " at " << rate;
      EXPECT_TRUE(out.IsOpen());
      out.Close();
      EXPECT_EQ(out.State(), wsClosed);
    }
  }
}

TEST_F(PulseTest, WhatIsPlayedComesBackFromTheMonitorBitForBit) {
  FrameSource source;
  TMMWaveOut out("MMWaveOut1");
  TMMWaveIn in("MMWaveIn1");
  Collector sink;
  // As the main window sets them up.
  out.SetBufferSize(6144);
  out.SetDeviceID(MapperId);
  out.SetCallBackMode(cmThread);
  out.SetInput(&source);
  in.SetBufferSize(8192);
  in.SetCallBackMode(cmThread);
  in.SetDeviceID(MapperId);
  Stereo16(in);
  in.SetOutput(&sink);
  out.Start();
  in.Start();
  // Two seconds of numbered frames after the first one that arrives.
  const auto firstSignal = [&] {
    const std::vector<uint32_t> frames = sink.Frames();
    return static_cast<size_t>(
        std::find_if(frames.begin(), frames.end(), [](uint32_t v) { return v != 0; }) -
        frames.begin());
  };
  ASSERT_TRUE(RunUntil([&] { return sink.ByteCount() / 4 > firstSignal() + 88200; }, 20s));
  const TMMDeviceStatistics inStats = in.DeviceStatistics();
  const TMMDeviceStatistics outStats = out.DeviceStatistics();
  in.Close();
  out.Close();
  const std::vector<uint32_t> frames = sink.Frames();
  const std::vector<uint32_t> played(frames.begin() + static_cast<long>(firstSignal()), frames.end());
  EXPECT_EQ(ContinuousUpTo(played), played.size());
  EXPECT_EQ(inStats.Overruns, 0u);
  EXPECT_EQ(outStats.Underruns, 0u);
}

TEST_F(PulseTest, StoppingTheServerDuringCaptureClosesTheInputWithOnError) {
  TMMWaveIn in;
  Collector sink;
  EventLog log;
  Stereo16(in);
  in.SetCallBackMode(cmThread);
  in.SetOutput(&sink);
  in.OnError = log.Recorder("error");
  in.OnClose = log.Recorder("close");
  FrameSource source;
  TMMWaveOut out;
  out.SetInput(&source);
  out.Start();
  in.Start();
  ASSERT_TRUE(RunUntil([&] { return sink.Count() >= 2; }, 20s));
  PulseServer::Instance().Kill();
  ASSERT_TRUE(RunUntil([&] { return !in.IsOpen() && !out.IsOpen(); }));
  EXPECT_EQ(log.Count("error"), 1);
  EXPECT_EQ(log.Count("close"), 1);
  EXPECT_EQ(in.State(), wsClosed);
  const std::vector<std::string> messages = appErrors.Messages();
  EXPECT_EQ(std::count_if(messages.begin(), messages.end(),
                          [](const std::string& m) { return m.rfind("WaveIn:", 0) == 0; }),
            1);
  // Commands on the closed components do nothing and return.
  in.Stop();
  in.Close();
  out.Close();
}

TEST_F(PulseTest, StoppingTheServerDuringPlaybackClosesTheOutputWithOnError) {
  FrameSource source;
  TMMWaveOut out;
  Collector sink;
  EventLog log;
  out.SetCallBackMode(cmThread);
  out.SetInput(&source);
  out.SetOutput(&sink);
  out.OnError = log.Recorder("error");
  out.OnClose = log.Recorder("close");
  out.Start();
  ASSERT_TRUE(RunUntil([&] { return sink.Count() >= 2; }, 20s));
  PulseServer::Instance().Kill();
  ASSERT_TRUE(RunUntil([&] { return !out.IsOpen(); }));
  EXPECT_EQ(log.Count("error"), 1);
  EXPECT_EQ(log.Count("close"), 1);
  out.Close();
}

TEST_F(PulseTest, RandomCommandsOnBothDirections) {
  std::mt19937 random(99);
  FrameSource source;
  TMMWaveOut out;
  TMMWaveIn in;
  Stereo16(in);
  Collector inSink, outSink;
  out.SetInput(&source);
  out.SetOutput(&outSink);
  in.SetOutput(&inSink);
  EventLog log;
  in.OnError = log.Recorder("error");
  out.OnError = log.Recorder("error");
  for (int i = 0; i < 150; ++i) {
    TMMCustomSoundComponent& c = random() % 2 ? static_cast<TMMCustomSoundComponent&>(in)
                                              : static_cast<TMMCustomSoundComponent&>(out);
    switch (random() % 6) {
      case 0: c.Open(); break;
      case 1: c.Start(); break;
      case 2: c.Pause(); break;
      case 3: c.Restart(); break;
      case 4: c.Stop(); break;
      case 5: c.Close(); break;
    }
    if (random() % 3 == 0) RunFor(std::chrono::milliseconds(random() % 30));
  }
  in.Close();
  out.Close();
  EXPECT_EQ(in.State(), wsClosed);
  EXPECT_EQ(out.State(), wsClosed);
  EXPECT_EQ(log.Count("error"), 0);
}

// tonvista-devices as a user runs it.
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

TEST_F(PulseTest, DeviceCheckPassesOnTheNullSink) {
  const ProcessResult r = RunTool({"--check", "3"});
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("Buffers lost or repeated: 0 "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Bit-exact: yes"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Round-trip latency: "), std::string::npos) << r.out;
}

TEST_F(PulseTest, WithoutAReachableServerThereIsNoDeviceAndTheToolSaysSo) {
  const std::string saved = std::getenv("PULSE_SERVER");
  setenv("PULSE_SERVER", PulseServer::Instance().DeadAddress().c_str(), 1);
  const ProcessResult list = RunTool({});
  const ProcessResult check = RunTool({"--check", "1"});
  setenv("PULSE_SERVER", saved.c_str(), 1);
  EXPECT_EQ(list.exitCode, 0) << list.err;
  EXPECT_NE(list.out.find("No wave audio recording device found"), std::string::npos) << list.out;
  EXPECT_NE(list.out.find("No wave audio playing device found"), std::string::npos) << list.out;
  EXPECT_EQ(check.exitCode, 1);
  EXPECT_NE(check.err.find("No wave audio recording device found"), std::string::npos) << check.err;
}

// The desktop program as a user starts it, in the Generator mode, with the
// sound server as its output: its 1000 Hz tone at -6 dB comes back from the
// null sink's monitor.
TEST_F(PulseTest, TheDesktopProgramsGeneratorIsHeardOnTheServer) {
#ifndef TONVISTA_DESKTOP_PROGRAM
  GTEST_SKIP() << "the desktop program is tested on the sound server in plain builds only";
#else
  TMMWaveIn in("monitor");
  Collector sink;
  in.SetBufferSize(8192);
  in.SetCallBackMode(cmThread);
  in.SetDeviceID(MapperId);
  Stereo16(in);
  in.SetOutput(&sink);
  in.Start();
  TempDir home;
  const std::vector<std::string> environment = {
      "TONVISTA_CONFIG_DIR=" + home.File("config"), "TONVISTA_DATA_DIR=" + home.File("data"),
      "QT_QPA_PLATFORM=offscreen", "XDG_RUNTIME_DIR=" + home.Path().string()};
  ProcessResult program;
  std::atomic<bool> ended{false};
  std::thread run([&] {
    program = RunProcess(TONVISTA_DESKTOP_PROGRAM, {"--mode", "generator", "--quit-after", "3000"},
                         home.Path().string(), environment);
    ended.store(true);
  });
  const bool quit = RunUntil([&] { return ended.load(); }, 60s);
  run.join();
  in.Close();
  ASSERT_TRUE(quit);
  EXPECT_EQ(program.exitCode, 0) << program.err;

  // Left channel of what the monitor heard, from the first sound on.
  const std::vector<uint8_t> bytes = sink.Bytes();
  std::vector<int> left;
  for (size_t i = 0; i + 3 < bytes.size(); i += 4) {
    left.push_back(static_cast<int16_t>(bytes[i] | bytes[i + 1] << 8));
  }
  const auto first =
      std::find_if(left.begin(), left.end(), [](int v) { return std::abs(v) > 100; });
  ASSERT_GT(std::distance(first, left.end()), 44100) << "less than a second of the tone";
  // Full scale times Amplitude 8212 / 16384, within the table's step.
  const int crest = 32767 * 8212 / 16384;
  int peak = 0;
  size_t periods = 0;
  size_t periodFrames = 0;
  size_t lastRise = 0;
  for (auto it = first; it + 1 != left.end(); ++it) {
    peak = std::max(peak, std::abs(*it));
    if (*it < 0 && *(it + 1) >= 0) {
      const auto at = static_cast<size_t>(it - left.begin());
      if (lastRise > 0 && at - lastRise >= 40 && at - lastRise <= 48) {
        periodFrames += at - lastRise;
        ++periods;
      }
      lastRise = at;
    }
  }
  EXPECT_LE(peak, crest);
  EXPECT_GE(peak, crest * 9975 / 10000);
  ASSERT_GT(periods, 500u);
  EXPECT_NEAR(44100.0 * static_cast<double>(periods) / static_cast<double>(periodFrames), 1000.0,
              0.5);
#endif
}

}  // namespace
}  // namespace tv
