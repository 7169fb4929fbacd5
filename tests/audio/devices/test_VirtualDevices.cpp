// The virtual device set behind the components: loopback, line-in, format
// conversion, the composed device list, and long random command runs.
#include "TMMVirtualDevices.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>

#include "DeviceTestParts.h"
#include "TMMWaveIn.h"
#include "TMMWaveOut.h"
#include "TestFiles.h"

namespace tv {
namespace {

using namespace test;

class VirtualDevicesTest : public DeviceTest {};

// Zero crossings from below per second of a channel of 16-bit frames.
double RisingCrossingsPerSecond(const std::vector<int16_t>& samples, int channels, int channel,
                                int rate) {
  int crossings = 0;
  for (size_t i = static_cast<size_t>(channels + channel); i < samples.size();
       i += static_cast<size_t>(channels)) {
    if (samples[i - static_cast<size_t>(channels)] < 0 && samples[i] >= 0) ++crossings;
  }
  const double seconds = static_cast<double>(samples.size() / static_cast<size_t>(channels)) / rate;
  return crossings / seconds;
}

std::vector<int16_t> AsSamples(const std::vector<uint8_t>& bytes) {
  std::vector<int16_t> s(bytes.size() / 2);
  if (!s.empty()) std::memcpy(s.data(), bytes.data(), s.size() * 2);
  return s;
}

TEST_F(VirtualDevicesTest, LoopbackReturnsWhatWasPlayedBitForBit) {
  // Slow enough that a busy machine keeps the ring full: the property under
  // test is the path, not the scheduler.
  devices.SetSpeed(2);
  FrameSource source;
  TMMWaveOut out("Out", devices);
  TMMWaveIn in("In", devices);
  Collector sink;
  out.SetInput(&source);
  out.SetCallBackMode(cmThread);
  out.SetBufferSize(6144);
  in.SetMode(mStereo);
  in.SetBitLength(b16Bit);
  in.SetSampleRate(44100);
  in.SetBufferSize(8192);
  in.SetCallBackMode(cmThread);
  in.SetOutput(&sink);
  in.Start();
  out.Start();
  ASSERT_TRUE(RunUntil([&] { return sink.ByteCount() >= 44100 * 4; }));
  in.Stop();
  EXPECT_EQ(out.DeviceStatistics().Underruns, 0u);
  out.Close();
  const std::vector<uint32_t> frames = sink.Frames();
  const size_t start = FindFrame(frames, 1);
  ASSERT_LT(start, frames.size());
  const std::vector<uint32_t> played(frames.begin() + static_cast<long>(start), frames.end());
  EXPECT_EQ(ContinuousUpTo(played), played.size());
  EXPECT_GT(played.size(), 30000u);
  EXPECT_EQ(in.DeviceStatistics().Overruns, 0u);
  in.Close();
}

TEST_F(VirtualDevicesTest, LoopbackConvertsBetweenDifferentFormats) {
  // A 1000 Hz tone, 16-bit stereo at 44100 Hz, recorded as 16-bit mono at
  // 22050 Hz: half the frames per second, the tone still at 1000 Hz.
  class ToneSource : public TMMDSPComponent {
   public:
    ToneSource() : TMMDSPComponent("Tone") {
      WaveFormatPtr f = MakePcmFormat(16, 2, 44100);
      SetPWaveFormat(f.get());
    }
    ~ToneSource() override { Unlink(); }
    std::span<const LinkProperty> LinkProperties() const override { return kPublishOutput; }
    void BufferLoad(PWaveHdr b, bool& more) override {
      const uint32_t n = b->dwBufferLength / 4;
      for (uint32_t i = 0; i < n; ++i, ++k_) {
        const auto v = static_cast<int16_t>(
            std::lround(10000 * std::sin(2 * std::numbers::pi * 1000.0 * static_cast<double>(k_) / 44100)));
        std::memcpy(b->lpData + 4 * i, &v, 2);
        std::memcpy(b->lpData + 4 * i + 2, &v, 2);
      }
      b->dwBytesRecorded = n * 4;
      more = true;
    }

   private:
    uint64_t k_ = 0;
  };
  devices.SetSpeed(2);
  ToneSource tone;
  TMMWaveOut out("Out", devices);
  TMMWaveIn in("In", devices);
  Collector sink;
  out.SetInput(&tone);
  out.SetBufferSize(8192);
  out.SetCallBackMode(cmThread);
  in.SetMode(mMono);
  in.SetBitLength(b16Bit);
  in.SetSampleRate(22050);
  in.SetCallBackMode(cmThread);
  in.SetOutput(&sink);
  out.Start();
  in.Start();
  ASSERT_TRUE(RunUntil([&] { return sink.ByteCount() >= 22050 * 2 * 2; }));
  in.Close();
  // A gap in the playback would show as silence in the recording.
  EXPECT_EQ(out.DeviceStatistics().Underruns, 0u);
  out.Close();
  std::vector<int16_t> samples = AsSamples(sink.Bytes());
  // Skip the silence before the output's data arrived.
  const auto first = std::find_if(samples.begin(), samples.end(), [](int16_t v) { return v != 0; });
  samples.erase(samples.begin(), first);
  ASSERT_GT(samples.size(), 22050u);
  EXPECT_NEAR(RisingCrossingsPerSecond(samples, 1, 0, 22050), 1000.0, 10.0);
  const int16_t peak = *std::max_element(samples.begin(), samples.end());
  EXPECT_NEAR(peak, 10000, 200);
}

TEST_F(VirtualDevicesTest, LineInPlaysTheFileOverAndOver) {
  TempDir dir;
  // 1000 numbered 16-bit mono samples at 8000 Hz.
  std::vector<int16_t> numbers(1000);
  for (int i = 0; i < 1000; ++i) numbers[static_cast<size_t>(i)] = static_cast<int16_t>(i + 1);
  WriteAll(dir.File("line.wav"), PcmWave(16, 1, 8000, Le16(numbers)));
  devices.SetLineInFile(dir.File("line.wav"));
  ASSERT_EQ(devices.waveInGetNumDevs(), 3u);
  TMMWaveIn in("In", devices);
  in.SetDeviceID(MapperId);
  EXPECT_EQ(in.ProductName(), "Default device (Wave file as line-in: line.wav)");
  Collector sink;
  in.SetMode(mMono);
  in.SetBitLength(b16Bit);
  in.SetSampleRate(8000);
  in.SetOutput(&sink);
  in.Start();
  ASSERT_TRUE(RunUntil([&] { return sink.ByteCount() >= 2 * 3500; }));
  in.Close();
  const std::vector<int16_t> got = AsSamples(sink.Bytes());
  ASSERT_GE(got.size(), 3500u);
  for (size_t i = 0; i < got.size(); ++i) ASSERT_EQ(got[i], static_cast<int16_t>(i % 1000 + 1)) << i;
}

TEST_F(VirtualDevicesTest, LineInConvertsToTheRequestedFormat) {
  TempDir dir;
  // One second of a 440 Hz tone, 8-bit mono at 11025 Hz.
  Bytes data(11025);
  for (size_t i = 0; i < data.size(); ++i) {
    data[i] = static_cast<uint8_t>(
        128 + std::lround(100 * std::sin(2 * std::numbers::pi * 440.0 * static_cast<double>(i) / 11025)));
  }
  WriteAll(dir.File("tone.wav"), PcmWave(8, 1, 11025, data));
  devices.SetLineInFile(dir.File("tone.wav"));
  TMMWaveIn in("In", devices);
  Collector sink;
  in.SetDeviceID(TMMVirtualDevices::kLineIn);
  in.SetMode(mStereo);
  in.SetBitLength(b16Bit);
  in.SetSampleRate(44100);
  in.SetOutput(&sink);
  in.Start();
  ASSERT_TRUE(RunUntil([&] { return sink.ByteCount() >= 44100 * 4; }));
  in.Close();
  const std::vector<int16_t> s = AsSamples(sink.Bytes());
  for (size_t i = 0; i + 1 < s.size(); i += 2) ASSERT_EQ(s[i], s[i + 1]) << "channels differ at " << i;
  EXPECT_NEAR(RisingCrossingsPerSecond(s, 2, 0, 44100), 440.0, 5.0);
  // 8-bit amplitude 100 becomes 100 x 256 at 16 bits.
  EXPECT_NEAR(*std::max_element(s.begin(), s.end()), 25600, 600);
}

TEST_F(VirtualDevicesTest, LineInRefusesAFileThatIsNotAudio) {
  TempDir dir;
  WriteAll(dir.File("junk.wav"), Bytes(100, 7));
  EXPECT_THROW(devices.SetLineInFile(dir.File("junk.wav")), EMMError);
  EXPECT_EQ(devices.waveInGetNumDevs(), 2u);
}

TEST_F(VirtualDevicesTest, SilentInputDeliversSilenceOfTheFormat) {
  for (const TMMBits bits : {b8Bit, b16Bit}) {
    TMMWaveIn in("In", devices);
    Collector sink;
    in.SetDeviceID(TMMVirtualDevices::kSilenceIn);
    in.SetBitLength(bits);
    in.SetOutput(&sink);
    in.Start();
    ASSERT_TRUE(RunUntil([&] { return sink.Count() >= 3; }));
    in.Close();
    const uint8_t silence = bits == b8Bit ? 128 : 0;
    for (uint8_t b : sink.Bytes()) ASSERT_EQ(b, silence);
  }
}

TEST_F(VirtualDevicesTest, DeviceSetListsBackendsInTurnAndRoutesTheMapper) {
  TMMVirtualDevices second;
  TMMWaveDeviceSet set;
  set.Add(&devices);
  set.Add(&second);
  set.SetDefaultInput(&second);
  EXPECT_EQ(set.waveInGetNumDevs(), 4u);
  EXPECT_EQ(set.waveOutGetNumDevs(), 4u);
  TMMWaveCaps caps;
  ASSERT_EQ(set.waveInGetDevCapsA(3, caps), MMSYSERR_NOERROR);
  EXPECT_EQ(caps.ProductName, "Virtual silence");
  EXPECT_EQ(set.waveInGetDevCapsA(4, caps), MMSYSERR_BADDEVICEID);

  // The mapper opens the second set's loopback; its id in the set is 2.
  TMMWaveIn in("In", set);
  in.SetDeviceID(MapperId);
  in.Open();
  TMMDeviceId id = InvalidId;
  // Both are open at once: the first backend's loopback stays free.
  HWAVE other = 0;
  WaveFormatPtr f = MakePcmFormat(16, 2, 44100);
  ASSERT_EQ(set.waveInOpen(&other, 0, f.get(), [](HWAVE, uint32_t, void*, PWaveHdr, MMRESULT) {},
                           nullptr, CALLBACK_FUNCTION),
            MMSYSERR_NOERROR);
  ASSERT_EQ(set.waveInGetID(other, id), MMSYSERR_NOERROR);
  EXPECT_EQ(id, 0);
  // A second open of the same loopback input is refused.
  HWAVE third = 0;
  EXPECT_EQ(set.waveInOpen(&third, 2, f.get(), [](HWAVE, uint32_t, void*, PWaveHdr, MMRESULT) {},
                           nullptr, CALLBACK_FUNCTION),
            MMSYSERR_ALLOCATED);
  EXPECT_EQ(set.waveInClose(other), MMSYSERR_NOERROR);
  EXPECT_EQ(set.waveInClose(other), MMSYSERR_INVALHANDLE);
  in.Close();
}

TEST_F(VirtualDevicesTest, StalledDeviceDoesNotHangStopOrClose) {
  TMMVirtualFaults stall;
  stall.StallAfterMs = 100;
  devices.SetInputFaults(stall);
  TMMWaveIn in("In", devices);
  in.SetCallBackMode(cmThread);
  in.SetDeviceID(TMMVirtualDevices::kSilenceIn);
  in.Start();
  RunFor(300ms);
  const auto t0 = std::chrono::steady_clock::now();
  in.Close();
  EXPECT_LT(std::chrono::steady_clock::now() - t0, 3s);
  EXPECT_EQ(in.State(), wsClosed);
}

// Random command runs: whatever the order, the component ends closed, every
// open by a close, every run (started, or paused before a start) ends with
// one stop, and nothing throws on healthy devices.
template <class Component>
void RandomCommands(DeviceTest& test, Component& c, std::mt19937& random, int count,
                    bool output) {
  EventLog log;
  c.OnStart = log.Recorder("start");
  c.OnPause = log.Recorder("pause");
  c.OnStop = log.Recorder("stop");
  c.OnOpen = log.Recorder("open");
  c.OnClose = log.Recorder("close");
  for (int i = 0; i < count; ++i) {
    const int command = static_cast<int>(random() % (output ? 7 : 6));
    if (!c.IsOpen() && random() % 4 == 0) c.SetCallBackMode(random() % 2 ? cmThread : cmWindow);
    switch (command) {
      case 0: c.Open(); break;
      case 1: c.Start(); break;
      case 2: c.Pause(); break;
      case 3: c.Restart(); break;
      case 4: c.Stop(); break;
      case 5: c.Close(); break;
      case 6: c.Rewind(); break;
    }
    // Sometimes let buffers flow and posted work run in between.
    if (random() % 3 == 0) test.RunFor(std::chrono::milliseconds(random() % 4));
    MainDispatcher().ProcessMessages();
  }
  c.Close();
  test.RunFor(20ms);
  EXPECT_EQ(c.State(), wsClosed);
  EXPECT_GE(log.Count("stop"), log.Count("start"));
  EXPECT_LE(log.Count("stop"), log.Count("start") + log.Count("pause"));
  EXPECT_EQ(log.Count("open"), log.Count("close"));
  EXPECT_GT(log.Count("start"), 10);
}

TEST_F(VirtualDevicesTest, ThousandRandomCommandsOnTheInput) {
  devices.SetSpeed(50);
  std::mt19937 random(1234);
  TMMWaveIn in("In", devices);
  Collector sink;
  in.SetBufferSize(1024);
  in.SetNumBuffers(4);
  in.SetOutput(&sink);
  RandomCommands(*this, in, random, 1000, false);
  EXPECT_GT(sink.Count(), 0u);
}

TEST_F(VirtualDevicesTest, ThousandRandomCommandsOnTheOutput) {
  devices.SetSpeed(50);
  std::mt19937 random(4321);
  FrameSource source;
  TMMWaveOut out("Out", devices);
  Collector sink;
  out.SetBufferSize(1024);
  out.SetNumBuffers(4);
  out.SetInput(&source);
  out.SetOutput(&sink);
  RandomCommands(*this, out, random, 1000, true);
  EXPECT_GT(sink.Count(), 0u);
}

}  // namespace
}  // namespace tv
