// The wave input on the virtual devices: property rules, the capture limit,
// the stop handshake, and the device's failures.
#include "TMMWaveIn.h"

#include <gtest/gtest.h>

#include "DeviceTestParts.h"
#include "MMNotice.h"
#include "TMMWaveOut.h"

namespace tv {
namespace {

using namespace test;

std::string Prefixed(const char* prefix, int id) {
  return std::string(prefix) + kLFCR + LoadResString(id);
}

// Captures 16-bit stereo at 44100 Hz from the virtual devices.
void Stereo16(TMMWaveIn& in) {
  in.SetMode(mStereo);
  in.SetBitLength(b16Bit);
  in.SetSampleRate(44100);
}

class WaveInTest : public DeviceTest {};

TEST_F(WaveInTest, PropertyRangesAndTheFormatTheyBuild) {
  TMMWaveIn in("In", devices);
  EXPECT_EQ(in.NumBuffers(), 10);
  EXPECT_EQ(in.BufferSize(), 2048);
  EXPECT_EQ(in.SampleRate(), 11025);
  EXPECT_EQ(in.Channels(), 1);
  EXPECT_EQ(in.BitLength(), b8Bit);
  EXPECT_EQ(in.CallBackMode(), cmWindow);
  EXPECT_EQ(in.MaxRecordTime(), -1);

  in.SetSampleRate(4000);
  EXPECT_EQ(in.SampleRate(), 8000);
  in.SetSampleRate(200000);
  EXPECT_EQ(in.SampleRate(), 100000);
  in.SetNumBuffers(1);
  EXPECT_EQ(in.NumBuffers(), 10);
  in.SetNumBuffers(10000);
  EXPECT_EQ(in.NumBuffers(), 4096);
  in.SetBufferSize(10);
  EXPECT_EQ(in.BufferSize(), 32);
  in.SetChannels(0);
  EXPECT_EQ(in.Channels(), 1);
  in.SetChannels(9);
  EXPECT_EQ(in.Channels(), 8);
  EXPECT_EQ(in.Mode(), mMultiChannel);
  in.SetMode(mMultiChannel);
  EXPECT_EQ(in.Channels(), 8);
  in.SetMode(mStereo);
  EXPECT_EQ(in.Channels(), 2);
  EXPECT_EQ(in.Mode(), mStereo);
  in.SetMode(mMono);
  EXPECT_EQ(in.Mode(), mMono);

  // Block align = channels x bits / 8; bytes per second = block align x rate.
  in.SetChannels(2);
  in.SetBitLength(b16Bit);
  in.SetSampleRate(22050);
  const WAVEFORMATEX* f = in.PWaveFormat();
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->wFormatTag, WAVE_FORMAT_PCM);
  EXPECT_EQ(f->nChannels, 2);
  EXPECT_EQ(f->wBitsPerSample, 16);
  EXPECT_EQ(f->nBlockAlign, 4);
  EXPECT_EQ(f->nAvgBytesPerSec, 88200u);
  EXPECT_EQ(f->cbSize, 0);

  // A format handed in directly sets the properties when it is valid PCM...
  WaveFormatPtr mono8 = MakePcmFormat(8, 1, 8000);
  in.SetPWaveFormat(mono8.get());
  EXPECT_EQ(in.SampleRate(), 8000);
  EXPECT_EQ(in.BitLength(), b8Bit);
  EXPECT_EQ(in.Channels(), 1);
  // ...and leaves them alone otherwise.
  WaveFormatPtr three = MakePcmFormat(16, 3, 44100);
  in.SetPWaveFormat(three.get());
  EXPECT_EQ(in.Channels(), 1);
  EXPECT_EQ(in.SampleRate(), 8000);
}

TEST_F(WaveInTest, DeviceIdsBeyondTheListAreInvalidAndOpenSaysSo) {
  TMMWaveIn in("In", devices);
  EventLog log;
  in.OnError = log.Recorder("error");
  // Two inputs (loopback and silence) without a line-in file.
  in.SetDeviceID(1);
  EXPECT_EQ(in.DeviceID(), 1);
  EXPECT_EQ(in.ProductName(), "Virtual silence");
  in.SetDeviceID(MapperId);
  EXPECT_EQ(in.ProductName(), "Default device (Virtual loopback)");
  in.SetDeviceID(5);
  EXPECT_EQ(in.DeviceID(), InvalidId);
  EXPECT_EQ(in.ProductName(), "No wave audio recording device found");
  in.SetDeviceID(-7);
  EXPECT_EQ(in.DeviceID(), InvalidId);
  try {
    in.Open();
    FAIL() << "Open succeeded on an invalid device";
  } catch (const EMMWaveInError& e) {
    EXPECT_EQ(std::string(e.what()), "Invalid DeviceID");
  }
  EXPECT_EQ(log.Count("error"), 1);
  EXPECT_FALSE(in.IsOpen());
}

TEST_F(WaveInTest, WithoutAnyDeviceOpenFailsWithNoRecordingDevice) {
  TMMWaveDeviceSet none;
  TMMWaveIn in("In", none);
  EXPECT_EQ(in.ProductName(), "No wave audio recording device found");
  EXPECT_THROW(
      {
        try {
          in.Start();
        } catch (const EMMWaveInError& e) {
          EXPECT_EQ(std::string(e.what()), "No wave audio recording device found");
          throw;
        }
      },
      EMMWaveInError);
  EXPECT_FALSE(in.IsOpen());
}

TEST_F(WaveInTest, PropertiesRefuseChangesWhileOpenExceptTheFreeOnes) {
  TMMWaveIn in("In", devices);
  EventLog log;
  in.OnError = log.Recorder("error");
  Stereo16(in);
  in.Open();
  ASSERT_TRUE(in.IsOpen());
  for (const auto& change : std::vector<std::function<void()>>{
           [&] { in.SetChannels(1); }, [&] { in.SetSampleRate(8000); },
           [&] { in.SetBitLength(b8Bit); }, [&] { in.SetDeviceID(1); },
           [&] { in.SetNumBuffers(4); }, [&] { in.SetBufferSize(4096); },
           [&] { in.SetCallBackMode(cmThread); }}) {
    try {
      change();
      ADD_FAILURE() << "a change while open was accepted";
    } catch (const EMMWaveInError& e) {
      EXPECT_EQ(std::string(e.what()), "Change to property while device was open");
    }
  }
  EXPECT_EQ(log.Count("error"), 7);
  EXPECT_EQ(in.Channels(), 2);
  // These may change at any time.
  in.SetPriority(tpNormal);
  in.SetTimeFormat(tfMillisecond);
  in.SetMaxRecordTime(500);
  EXPECT_EQ(in.MaxRecordTime(), 500);
  EXPECT_TRUE(in.IsOpen());
  in.Close();
  EXPECT_FALSE(in.IsOpen());
}

TEST_F(WaveInTest, TimeFormatReexpressesTheRecordLimit) {
  TMMWaveIn in("In", devices);
  Stereo16(in);
  in.SetTimeFormat(tfMillisecond);
  in.SetMaxRecordTime(1000);
  // 1000 ms of 44100 Hz 16-bit stereo: 176400 bytes, 44100 samples.
  in.SetTimeFormat(tfByte);
  EXPECT_EQ(in.MaxRecordTime(), 176400);
  in.SetTimeFormat(tfSample);
  EXPECT_EQ(in.MaxRecordTime(), 44100);
  in.SetTimeFormat(tfMillisecond);
  EXPECT_EQ(in.MaxRecordTime(), 1000);
  // Without a limit there is nothing to re-express.
  in.SetMaxRecordTime(-1);
  in.SetTimeFormat(tfByte);
  EXPECT_EQ(in.MaxRecordTime(), -1);
}

TEST_F(WaveInTest, InterruptCallbacksAreRefusedWithAMessage) {
  std::vector<std::string> boxes;
  SetInformationHandler([&](const std::string& title, const std::string& text) {
    boxes.push_back(title + "|" + text);
  });
  TMMWaveIn in("In", devices);
  in.SetCallBackMode(cmThread);
  in.SetCallBackMode(cmCallback);
  SetInformationHandler(nullptr);
  EXPECT_EQ(in.CallBackMode(), cmThread);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0],
            "TMMWaveIn|\"CallBacks\" are called at interrupt time !\n\rThis is currently only "
            "supported under Windows 95");
}

class WaveInModeTest : public DeviceTest, public ::testing::WithParamInterface<TMMCBMode> {};

TEST_P(WaveInModeTest, RecordLimitShortensTheCrossingBufferAndStops) {
  TMMWaveIn in("In", devices);
  Collector sink;
  EventLog log;
  in.SetCallBackMode(GetParam());
  Stereo16(in);
  in.SetBufferSize(8192);
  in.SetDeviceID(TMMVirtualDevices::kSilenceIn);
  in.SetTimeFormat(tfMillisecond);
  in.SetMaxRecordTime(1000);
  in.SetOutput(&sink);
  in.OnStop = log.Recorder("stop");
  in.Start();
  ASSERT_TRUE(RunUntil([&] { return log.Count("stop") > 0; }));
  RunFor(100ms);
  // 176400 bytes: 21 whole buffers of 8192, then 176400 - 21 x 8192 = 4368.
  const std::vector<uint32_t> sizes = sink.Sizes();
  ASSERT_EQ(sizes.size(), 22u);
  for (size_t i = 0; i < 21; ++i) EXPECT_EQ(sizes[i], 8192u) << i;
  EXPECT_EQ(sizes[21], 4368u);
  EXPECT_EQ(sink.ByteCount(), 176400u);
  EXPECT_EQ(log.Count("stop"), 1);
  EXPECT_FALSE(in.IsStarted());
  EXPECT_TRUE(in.IsOpen());
  in.Close();
}

TEST_P(WaveInModeTest, StopFromOnBufferReadyReturnsAtOnceAndOnStopFollows) {
  TMMWaveIn in("In", devices);
  EventLog log;
  in.SetCallBackMode(GetParam());
  Stereo16(in);
  in.SetDeviceID(TMMVirtualDevices::kSilenceIn);
  in.OnStop = log.Recorder("stop");
  std::atomic<bool> stillStarted{false};
  std::atomic<int> handled{0};
  in.OnBufferReady = [&](TMMDSPComponent*, PWaveHdr) {
    if (handled.fetch_add(1) == 2) {
      in.Stop();
      stillStarted.store(in.IsStarted());
      log.Add("handler done");
    }
  };
  in.Start();
  ASSERT_TRUE(RunUntil([&] { return log.Count("stop") > 0; }));
  EXPECT_TRUE(stillStarted.load());
  const std::vector<std::string> events = log.All();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0], "handler done");
  EXPECT_EQ(events[1], "stop");
  EXPECT_FALSE(in.IsStarted());
  // Nothing is delivered after the stop.
  const int atStop = handled.load();
  RunFor(100ms);
  EXPECT_EQ(handled.load(), atStop);
  in.Close();
  EXPECT_FALSE(in.IsOpen());
}

TEST_P(WaveInModeTest, CloseRequestedInsideADeliveryWaitsForIt) {
  TMMWaveIn in("In", devices);
  EventLog log;
  in.SetCallBackMode(GetParam());
  Stereo16(in);
  in.SetDeviceID(TMMVirtualDevices::kSilenceIn);
  in.OnStop = log.Recorder("stop");
  in.OnClose = log.Recorder("close");
  std::atomic<bool> once{false};
  in.OnBufferReady = [&](TMMDSPComponent*, PWaveHdr) {
    if (!once.exchange(true)) {
      in.Stop();
      if (GetParam() == cmWindow) in.Close();
    }
  };
  in.Start();
  ASSERT_TRUE(RunUntil([&] { return log.Count("stop") > 0; }));
  if (GetParam() == cmThread) in.Close();
  ASSERT_TRUE(RunUntil([&] { return log.Count("close") > 0; }));
  EXPECT_EQ(log.All(), (std::vector<std::string>{"stop", "close"}));
  EXPECT_FALSE(in.IsOpen());
}

TEST_P(WaveInModeTest, PauseHoldsTheDataAndRestartGoesOn) {
  TMMWaveIn in("In", devices);
  Collector sink;
  in.SetCallBackMode(GetParam());
  Stereo16(in);
  in.SetDeviceID(TMMVirtualDevices::kSilenceIn);
  in.SetOutput(&sink);
  EventLog log;
  in.OnPause = log.Recorder("pause");
  in.OnRestart = log.Recorder("restart");
  in.Start();
  ASSERT_TRUE(RunUntil([&] { return sink.Count() >= 3; }));
  in.Pause();
  EXPECT_TRUE(in.IsPaused());
  in.SetTimeFormat(tfByte);
  const int64_t position = in.Position();
  // The buffer the pause handed back arrives; then everything counted is in.
  ASSERT_TRUE(RunUntil([&] {
    return static_cast<int64_t>(sink.ByteCount() + in.DeviceStatistics().OverrunBytes) == position;
  }));
  const size_t paused = sink.Count();
  RunFor(150ms);
  EXPECT_EQ(sink.Count(), paused);
  EXPECT_EQ(in.Position(), position);
  in.Restart();
  EXPECT_FALSE(in.IsPaused());
  ASSERT_TRUE(RunUntil([&] { return sink.Count() >= paused + 3; }));
  EXPECT_GT(in.Position(), position);
  EXPECT_EQ(log.All(), (std::vector<std::string>{"pause", "restart"}));
  in.Close();
}

TEST_P(WaveInModeTest, DeviceThatVanishesGivesOnErrorAndAClosedDevice) {
  TMMVirtualFaults faults;
  faults.VanishAfterMs = 150;
  devices.SetInputFaults(faults);
  TMMWaveIn in("In", devices);
  EventLog log;
  in.SetCallBackMode(GetParam());
  Stereo16(in);
  in.SetDeviceID(TMMVirtualDevices::kSilenceIn);
  in.OnError = log.Recorder("error");
  in.OnClose = log.Recorder("close");
  in.Start();
  ASSERT_TRUE(RunUntil([&] { return !in.IsOpen() && log.Count("close") > 0; }));
  EXPECT_EQ(log.Count("error"), 1);
  const std::vector<std::string> messages = appErrors.Messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0], std::string("WaveIn:") + kLFCR +
                            "The device stopped working: it was unplugged or its sound server "
                            "stopped.");
  // The component is usable again once the device is back.
  devices.SetInputFaults({});
  in.Start();
  EXPECT_TRUE(in.IsStarted());
  in.Close();
}

INSTANTIATE_TEST_SUITE_P(Modes, WaveInModeTest, ::testing::Values(cmWindow, cmThread), ModeName);

// Close while the capture thread is handing a buffer down the chain: Close
// returns only once that handler has left, so that the caller (the main
// window switching chains or going away) may relink or destroy what follows.
TEST_F(WaveInTest, CloseWaitsForTheHandlerOnTheCaptureThread) {
  SlowSink sink;
  TMMWaveIn in("In", devices);
  in.SetCallBackMode(cmThread);
  Stereo16(in);
  in.SetDeviceID(TMMVirtualDevices::kSilenceIn);
  in.SetOutput(&sink);
  ExpectCloseWaitsForTheHandler(in, sink);
}

TEST_F(WaveInTest, DeviceFailuresAtOpenLeaveItClosedWithOneOnError) {
  struct Case {
    TMMVirtualFaults faults;
    std::string message;
  };
  TMMVirtualFaults failOpen;
  failOpen.FailOpen = true;
  TMMVirtualFaults refuse;
  refuse.RefuseFormats = true;
  TMMVirtualFaults neverOpens;
  neverOpens.OpenNotifyDelayMs = -1;
  std::string inUse;
  StandardErrorText(MMSYSERR_ALLOCATED, inUse);
  const std::vector<Case> cases = {
      {failOpen, std::string("WaveInOpen:") + kLFCR + inUse},
      {refuse, Prefixed("WaveInOpen:", SCantRecordFormat)},
      {neverOpens, Prefixed("WaveInOpen:", SUnableToOpenDevice)},
  };
  for (const Case& c : cases) {
    devices.SetInputFaults(c.faults);
    TMMWaveIn in("In", devices);
    in.SetCallBackMode(cmThread);
    EventLog log;
    in.OnError = log.Recorder("error");
    try {
      in.Start();
      ADD_FAILURE() << "Start succeeded; expected " << c.message;
    } catch (const EMMWaveInError& e) {
      EXPECT_EQ(std::string(e.what()), c.message);
    }
    EXPECT_EQ(log.Count("error"), 1) << c.message;
    EXPECT_EQ(in.State(), wsClosed);
  }
}

TEST_F(WaveInTest, LateOpenNotificationIsWaitedFor) {
  TMMVirtualFaults late;
  late.OpenNotifyDelayMs = 300;
  devices.SetInputFaults(late);
  TMMWaveIn in("In", devices);
  in.Open();
  EXPECT_TRUE(in.IsOpen());
  in.Close();
}

TEST_F(WaveInTest, CloseWithoutTheDevicesNotificationIsReportedNotRaised) {
  TMMVirtualFaults noClose;
  noClose.NoCloseNotify = true;
  devices.SetInputFaults(noClose);
  TMMWaveIn in("In", devices);
  EventLog log;
  in.OnError = log.Recorder("error");
  in.OnClose = log.Recorder("close");
  in.Start();
  EXPECT_NO_THROW(in.Close());
  EXPECT_EQ(log.Count("error"), 1);
  EXPECT_EQ(log.Count("close"), 1);
  EXPECT_EQ(in.State(), wsClosed);
}

TEST_F(WaveInTest, SlowDeliveryLosesNothingAndStopStillCompletes) {
  TMMVirtualFaults late;
  late.DeliverLateMs = 20;
  devices.SetInputFaults(late);
  devices.SetSpeed(1);
  TMMWaveIn in("In", devices);
  TMMWaveOut out("Out", devices);
  FrameSource source;
  Collector sink;
  Stereo16(in);
  in.SetCallBackMode(cmThread);
  in.SetOutput(&sink);
  out.SetInput(&source);
  out.SetCallBackMode(cmThread);
  out.Start();
  in.Start();
  ASSERT_TRUE(RunUntil([&] { return sink.ByteCount() >= 44100 * 4 / 2; }));
  in.Stop();
  out.Close();
  const std::vector<uint32_t> frames = sink.Frames();
  // Whatever came after the loopback began carrying the numbers is whole.
  const size_t begin = std::find_if(frames.begin(), frames.end(), [](uint32_t v) { return v != 0; }) -
                       frames.begin();
  const std::vector<uint32_t> tail(frames.begin() + static_cast<long>(begin), frames.end());
  EXPECT_EQ(ContinuousUpTo(tail), tail.size());
  EXPECT_GT(tail.size(), 10000u);
  in.Close();
}

TEST_F(WaveInTest, PositionCountsOnAcrossTheDeviceCounterWrap) {
  // A counter that wraps at 2^20 samples, as old drivers' did: the position
  // goes on from the wrap base (last position with its low 20 bits set).
  TMMVirtualFaults wrap;
  wrap.PositionWrap = 1u << 20;
  devices.SetInputFaults(wrap);
  devices.SetSpeed(40);
  TMMWaveIn in("In", devices);
  Collector sink;
  Stereo16(in);
  in.SetBufferSize(16384);
  in.SetCallBackMode(cmThread);
  in.SetDeviceID(TMMVirtualDevices::kSilenceIn);
  in.SetTimeFormat(tfSample);
  in.SetOutput(&sink);
  in.Start();
  const uint64_t beyond = (uint64_t{1} << 20) + 200000;
  ASSERT_TRUE(RunUntil([&] { return sink.ByteCount() / 4 > beyond; }, 30s));
  in.Pause();
  // The device counted what it delivered and what it had to drop for want
  // of a queued buffer. The wrap base is the last position with its low 20
  // bits set, 0xFFFFF, one short of the 2^20 samples the counter ran.
  const auto counted = [&] {
    return static_cast<int64_t>(sink.ByteCount() / 4 + in.DeviceStatistics().OverrunBytes / 4);
  };
  // The buffer the pause returned is still on its way.
  RunUntil([&] { return in.Position() == counted() - 1; }, 3s);
  EXPECT_EQ(in.Position(), counted() - 1);
  in.Close();
}

TEST_F(WaveInTest, PositionFromADeviceThatCountsInBytes) {
  TMMVirtualFaults bytes;
  bytes.PositionInBytes = true;
  devices.SetInputFaults(bytes);
  TMMWaveIn in("In", devices);
  Collector sink;
  Stereo16(in);
  in.SetDeviceID(TMMVirtualDevices::kSilenceIn);
  in.SetTimeFormat(tfSample);
  in.SetOutput(&sink);
  in.Start();
  ASSERT_TRUE(RunUntil([&] { return sink.Count() >= 5; }));
  in.Pause();
  // Answered in bytes, converted to samples: what the device counted.
  const auto counted = [&] {
    return static_cast<int64_t>(sink.ByteCount() / 4 + in.DeviceStatistics().OverrunBytes / 4);
  };
  RunUntil([&] { return in.Position() == counted(); }, 3s);
  EXPECT_EQ(in.Position(), counted());
  in.Close();
}

}  // namespace
}  // namespace tv
