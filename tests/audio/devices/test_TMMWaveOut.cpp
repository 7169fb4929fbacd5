// The wave output on the virtual devices: filling and refilling the ring,
// the end of the source, looping, rewinding, and the device's failures.
#include "TMMWaveOut.h"

#include <gtest/gtest.h>

#include "DeviceTestParts.h"
#include "TMMWaveFile.h"
#include "TestFiles.h"

namespace tv {
namespace {

using namespace test;

class WaveOutTest : public DeviceTest {};

TEST_F(WaveOutTest, PropertyRanges) {
  TMMWaveOut out("Out", devices);
  EXPECT_EQ(out.NumBuffers(), 10);
  EXPECT_EQ(out.BufferSize(), 2048);
  EXPECT_EQ(out.CallBackMode(), cmWindow);
  EXPECT_EQ(out.TimeFormat(), tfByte);
  EXPECT_FALSE(out.Looping());
  EXPECT_EQ(out.LoopCount(), 0);
  EXPECT_TRUE(out.ShowHourGlass());
  EXPECT_FALSE(out.Mapped());
  out.SetNumBuffers(1000);
  EXPECT_EQ(out.NumBuffers(), 500);
  out.SetNumBuffers(1);
  EXPECT_EQ(out.NumBuffers(), 500);
  out.SetBufferSize(10);
  EXPECT_EQ(out.BufferSize(), 32);
  // The player sets 0 before its real size.
  out.SetBufferSize(0);
  EXPECT_EQ(out.BufferSize(), 32);
  out.SetDeviceID(TMMVirtualDevices::kNullOut);
  EXPECT_EQ(out.ProductName(), "Virtual null output");
  out.SetDeviceID(2);
  EXPECT_EQ(out.DeviceID(), InvalidId);
  EXPECT_EQ(out.ProductName(), "No wave audio playing device found");
}

TEST_F(WaveOutTest, OpenChecksDeviceAndFormatFirst) {
  TMMWaveDeviceSet none;
  TMMWaveOut nothing("Out", none);
  FrameSource source(100);
  nothing.SetInput(&source);
  EXPECT_EQ(nothing.ProductName(), "No wave audio playing device found");
  try {
    nothing.Open();
    ADD_FAILURE() << "opened without a device";
  } catch (const EMMWaveOutError& e) {
    EXPECT_EQ(std::string(e.what()), "No wave audio playing device found");
  }

  TMMWaveOut out("Out", devices);
  EventLog log;
  out.OnError = log.Recorder("error");
  try {
    out.Open();
    ADD_FAILURE() << "opened without a format";
  } catch (const EMMWaveOutError& e) {
    EXPECT_EQ(std::string(e.what()), std::string("WaveOutOpen:") + kLFCR + "Invalid wave format");
  }
  TMMVirtualFaults refuse;
  refuse.RefuseFormats = true;
  devices.SetOutputFaults(refuse);
  out.SetInput(&source);
  try {
    out.Open();
    ADD_FAILURE() << "opened with a refused format";
  } catch (const EMMWaveOutError& e) {
    EXPECT_EQ(std::string(e.what()),
              std::string("WaveOutOpen:") + kLFCR + "The actual device can't play this format");
  }
  EXPECT_EQ(log.Count("error"), 2);
  EXPECT_EQ(out.State(), wsClosed);
}

TEST_F(WaveOutTest, PropertiesRefuseChangesWhileOpen) {
  FrameSource source;
  TMMWaveOut out("Out", devices);
  out.SetInput(&source);
  out.Open();
  for (const auto& change : std::vector<std::function<void()>>{
           [&] { out.SetNumBuffers(4); }, [&] { out.SetBufferSize(4096); },
           [&] { out.SetDeviceID(1); }, [&] { out.SetCallBackMode(cmThread); }}) {
    try {
      change();
      ADD_FAILURE() << "a change while open was accepted";
    } catch (const EMMWaveOutError& e) {
      EXPECT_EQ(std::string(e.what()), "Change to property while device was open");
    }
  }
  out.SetTimeFormat(tfMillisecond);
  out.SetLooping(true);
  EXPECT_TRUE(out.IsOpen());
  out.Close();
}

TEST_F(WaveOutTest, SourceWithoutDataCannotStartAndTheChainEndsStoppedAndClosed) {
  FrameSource source(0);
  TMMWaveOut out("Out", devices);
  EventLog log;
  out.OnError = log.Recorder("error");
  out.SetInput(&source);
  try {
    out.Start();
    ADD_FAILURE() << "started without data";
  } catch (const EMMWaveOutError& e) {
    EXPECT_EQ(std::string(e.what()), std::string("WaveOutStart:") + kLFCR + "Unable to start device");
  }
  EXPECT_EQ(log.Count("error"), 1);
  EXPECT_EQ(out.State(), wsClosed);
  EXPECT_EQ(source.Calls(), (std::vector<std::string>{"open", "start", "stop", "close"}));
}

class WaveOutModeTest : public DeviceTest, public ::testing::WithParamInterface<TMMCBMode> {};

TEST_P(WaveOutModeTest, ThreeBufferRingWithTwoAndAHalfBuffersOfSource) {
  FrameSource source(2560);  // 10240 bytes: 2.5 buffers of 4096
  TMMWaveOut out("Out", devices);
  Collector sink;
  EventLog log;
  out.SetCallBackMode(GetParam());
  out.SetNumBuffers(3);
  out.SetBufferSize(4096);
  out.SetInput(&source);
  out.SetOutput(&sink);
  std::vector<uint32_t> filled;
  std::mutex filledLock;
  out.OnBufferFilled = [&](TMMDSPComponent*, PWaveHdr h) {
    std::lock_guard lock(filledLock);
    filled.push_back(h->dwBytesRecorded);
  };
  out.OnStop = log.Recorder("stop");
  out.Start();
  ASSERT_TRUE(RunUntil([&] { return log.Count("stop") > 0; }));
  RunFor(50ms);
  EXPECT_EQ(log.Count("stop"), 1);
  {
    std::lock_guard lock(filledLock);
    EXPECT_EQ(filled, (std::vector<uint32_t>{4096, 4096, 2048}));
  }
  EXPECT_EQ(sink.Sizes(), (std::vector<uint32_t>{4096, 4096, 2048}));
  const std::vector<uint32_t> frames = sink.Frames();
  ASSERT_EQ(frames.size(), 2560u);
  EXPECT_EQ(frames[0], 0u);
  EXPECT_EQ(ContinuousUpTo(frames), frames.size());
  EXPECT_TRUE(out.IsOpen());
  EXPECT_FALSE(out.IsStarted());
  out.Close();
  EXPECT_EQ(out.State(), wsClosed);
}

TEST_P(WaveOutModeTest, PlayedBuffersRunOnTheModesThreadAndPointAtTheOnePlaying) {
  FrameSource source(4096 * 6);
  TMMWaveOut out("Out", devices);
  Collector sink;
  EventLog log;
  out.SetCallBackMode(GetParam());
  out.SetNumBuffers(4);
  out.SetBufferSize(4096);
  out.SetInput(&source);
  out.SetOutput(&sink);
  out.OnStop = log.Recorder("stop");
  out.Start();
  ASSERT_TRUE(RunUntil([&] { return log.Count("stop") > 0; }));
  const std::vector<bool> onMain = sink.OnMain();
  ASSERT_EQ(onMain.size(), 24u);
  for (bool b : onMain) EXPECT_EQ(b, GetParam() == cmWindow);
  // Each played buffer names the next of the ring, which the device plays now.
  const std::vector<PWaveHdr> next = sink.NextInRing();
  for (size_t i = 0; i + 4 < next.size(); ++i) EXPECT_EQ(next[i], next[i + 4]) << i;
  for (size_t i = 0; i + 1 < 4; ++i) EXPECT_NE(next[i], next[i + 1]);
  const std::vector<uint32_t> frames = sink.Frames();
  EXPECT_EQ(ContinuousUpTo(frames), frames.size());
  out.Close();
}

TEST_P(WaveOutModeTest, PauseFreezesThePositionAndRestartGoesOn) {
  devices.SetSpeed(5);
  FrameSource source;
  TMMWaveOut out("Out", devices);
  EventLog log;
  out.SetCallBackMode(GetParam());
  out.SetDeviceID(TMMVirtualDevices::kNullOut);
  out.SetTimeFormat(tfMillisecond);
  out.SetInput(&source);
  out.OnPause = log.Recorder("pause");
  out.OnRestart = log.Recorder("restart");
  out.Start();
  ASSERT_TRUE(RunUntil([&] { return out.Position() > 200; }));
  out.Pause();
  const int64_t paused = out.Position();
  RunFor(100ms);
  EXPECT_EQ(out.Position(), paused);
  out.Restart();
  ASSERT_TRUE(RunUntil([&] { return out.Position() > paused + 200; }));
  EXPECT_EQ(log.All(), (std::vector<std::string>{"pause", "restart"}));
  out.Close();
  EXPECT_EQ(out.Position(), 0);
}

TEST_P(WaveOutModeTest, RewindWhilePausedStaysPausedWithARefilledRing) {
  FrameSource source;
  TMMWaveOut out("Out", devices);
  Collector sink;
  out.SetCallBackMode(GetParam());
  out.SetNumBuffers(4);
  out.SetBufferSize(4096);
  out.SetInput(&source);
  out.SetOutput(&sink);
  // Buffers filled by the rewind itself, on the main thread.
  std::atomic<bool> rewinding{false};
  std::atomic<int> refilled{0};
  out.OnBufferFilled = [&](TMMDSPComponent*, PWaveHdr) {
    if (rewinding.load() && MainDispatcher().IsMainThread()) refilled.fetch_add(1);
  };
  out.Start();
  ASSERT_TRUE(RunUntil([&] { return sink.Count() >= 6; }));
  out.Pause();
  rewinding.store(true);
  out.Rewind();
  rewinding.store(false);
  EXPECT_TRUE(out.IsStarted());
  EXPECT_TRUE(out.IsPaused());
  EXPECT_EQ(refilled.load(), 4);
  const std::vector<std::string> calls = source.Calls();
  EXPECT_NE(std::find(calls.begin(), calls.end(), "rewind"), calls.end());
  sink.Clear();
  RunFor(100ms);
  EXPECT_EQ(sink.Count(), 0u);
  out.Restart();
  ASSERT_TRUE(RunUntil([&] { return sink.Count() >= 8; }));
  const std::vector<uint32_t> frames = sink.Frames();
  // Playback begins again at the source's start, without a stale buffer.
  EXPECT_EQ(frames[0], 0u);
  EXPECT_EQ(ContinuousUpTo(frames), frames.size());
  out.Close();
}

TEST_P(WaveOutModeTest, DeviceThatVanishesGivesOnErrorAndAClosedDevice) {
  TMMVirtualFaults faults;
  faults.VanishAfterMs = 150;
  devices.SetOutputFaults(faults);
  FrameSource source;
  TMMWaveOut out("Out", devices);
  EventLog log;
  out.SetCallBackMode(GetParam());
  out.SetInput(&source);
  out.OnError = log.Recorder("error");
  out.OnClose = log.Recorder("close");
  out.Start();
  ASSERT_TRUE(RunUntil([&] { return !out.IsOpen() && log.Count("close") > 0; }));
  EXPECT_EQ(log.Count("error"), 1);
  ASSERT_EQ(appErrors.Messages().size(), 1u);
  EXPECT_EQ(appErrors.Messages()[0].rfind("WaveOut:", 0), 0u);
}

INSTANTIATE_TEST_SUITE_P(Modes, WaveOutModeTest, ::testing::Values(cmWindow, cmThread), ModeName);

// Close while the playback thread is handing a buffer down the chain: Close
// returns only once that handler has left, so the caller may then relink or
// destroy what follows the output.
TEST_F(WaveOutTest, CloseWaitsForTheHandlerOnThePlaybackThread) {
  FrameSource source;
  SlowSink sink;
  TMMWaveOut out("Out", devices);
  out.SetCallBackMode(cmThread);
  out.SetNumBuffers(4);
  out.SetBufferSize(4096);
  out.SetInput(&source);
  out.SetOutput(&sink);
  ExpectCloseWaitsForTheHandler(out, sink);
}

TEST_F(WaveOutTest, LoopingRestartsTheFileAndThePosition) {
  devices.SetSpeed(5);
  TempDir dir;
  // Half a second of numbered 16-bit stereo frames.
  const uint32_t length = 22050;
  Bytes data(length * 4);
  for (uint32_t k = 0; k < length; ++k) std::memcpy(&data[k * 4], &k, 4);
  WriteAll(dir.File("loop.wav"), PcmWave(16, 2, 44100, data));
  TMMWaveFile file("WavePlayer");
  file.SetFileName(dir.File("loop.wav"));
  TMMWaveOut out("Out", devices);
  Collector sink;
  EventLog log;
  out.SetCallBackMode(cmThread);
  out.SetTimeFormat(tfSample);
  out.SetBufferSize(4096);
  out.SetInput(&file);
  out.SetOutput(&sink);
  out.SetLooping(true);
  out.SetLoopCount(2);
  std::atomic<int> wraps{0};
  file.OnLooping = [&](TMMDSPComponent*) { wraps.fetch_add(1); };
  std::vector<int64_t> positionAtLoop;
  out.OnLooping = [&](TMMDSPComponent*) {
    log.Add("looping");
    positionAtLoop.push_back(out.Position());
  };
  out.OnStop = log.Recorder("stop");
  out.Start();
  ASSERT_TRUE(RunUntil([&] { return log.Count("stop") > 0; }, 20s));
  EXPECT_GE(wraps.load(), 1);
  EXPECT_EQ(log.Count("looping"), wraps.load());
  // Every pass plays the whole file, the numbers starting again.
  const std::vector<uint32_t> frames = sink.Frames();
  ASSERT_EQ(frames.size(), static_cast<size_t>(length) * static_cast<size_t>(wraps.load() + 1));
  for (size_t i = 0; i < frames.size(); ++i) {
    ASSERT_EQ(frames[i], i % length) << i;
  }
  // The position starts from 0 again at each loop.
  for (int64_t p : positionAtLoop) EXPECT_LT(p, length / 2);
}

TEST_F(WaveOutTest, NullOutputConsumesInRealTime) {
  devices.SetSpeed(1);
  FrameSource source(44100 / 2);
  TMMWaveOut out("Out", devices);
  EventLog log;
  out.SetDeviceID(TMMVirtualDevices::kNullOut);
  out.SetCallBackMode(cmThread);
  out.SetTimeFormat(tfMillisecond);
  out.SetInput(&source);
  out.OnStop = log.Recorder("stop");
  const auto t0 = std::chrono::steady_clock::now();
  out.Start();
  ASSERT_TRUE(RunUntil([&] { return log.Count("stop") > 0; }));
  const auto took = std::chrono::steady_clock::now() - t0;
  // Half a second of audio takes half a second to play, give or take the
  // devices' 5 ms ticks and the handshake.
  EXPECT_GE(took, 450ms);
  EXPECT_LE(took, 2000ms);
  out.Close();
}

TEST_F(WaveOutTest, FailedThreadClosesTheDeviceOnTheMainThread) {
  // A source that fails on a later load: the playback thread ends, the
  // device closes through the main thread and the error is reported.
  class FailingSource : public FrameSource {
   public:
    using FrameSource::FrameSource;
    void BufferLoad(PWaveHdr buffer, bool& moreBuffers) override {
      if (++loads_ > 12) throw EMMError("source broke");
      FrameSource::BufferLoad(buffer, moreBuffers);
    }

   private:
    std::atomic<int> loads_{0};
  };
  FailingSource source;
  TMMWaveOut out("Out", devices);
  EventLog log;
  out.SetCallBackMode(cmThread);
  out.SetInput(&source);
  out.OnError = log.Recorder("error");
  out.OnClose = log.Recorder("close");
  out.Start();
  ASSERT_TRUE(RunUntil([&] { return log.Count("close") > 0; }));
  EXPECT_FALSE(out.IsOpen());
  EXPECT_EQ(log.Count("error"), 1);
  ASSERT_FALSE(appErrors.Messages().empty());
  EXPECT_EQ(appErrors.Messages().back(), "source broke");
}

}  // namespace
}  // namespace tv
