#include "TMMPeakDetect.h"

#include "AllocationCounter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>
#include <thread>
#include <vector>

namespace tv {
namespace {

constexpr double kPi = 3.14159265358979323846;

// A buffer as a driver hands it over.
struct Buffer {
  explicit Buffer(std::vector<uint8_t> bytes) : data(std::move(bytes)) {
    std::memset(&header, 0, sizeof header);
    header.lpData = reinterpret_cast<char*>(data.data());
    header.dwBufferLength = static_cast<uint32_t>(data.size());
    header.dwBytesRecorded = static_cast<uint32_t>(data.size());
  }
  std::vector<uint8_t> data;
  TMMBufferHeader header;
};

std::vector<uint8_t> Pcm16(const std::vector<int32_t>& samples) {
  std::vector<uint8_t> out(samples.size() * 2);
  for (size_t i = 0; i < samples.size(); ++i) {
    const auto v = static_cast<int16_t>(samples[i]);
    std::memcpy(&out[2 * i], &v, 2);
  }
  return out;
}

std::vector<uint8_t> Pcm8(const std::vector<int32_t>& samples) {
  std::vector<uint8_t> out(samples.size());
  for (size_t i = 0; i < samples.size(); ++i) out[i] = static_cast<uint8_t>(samples[i] + 128);
  return out;
}

// `count` samples of a tone of `cycles` periods per `period` samples.
std::vector<int32_t> Tone(double amplitude, double cycles, int32_t period, int32_t count,
                          bool sine = false) {
  std::vector<int32_t> s(static_cast<size_t>(count));
  for (int32_t m = 0; m < count; ++m) {
    const double ph = 2.0 * kPi * cycles * m / period;
    s[m] = static_cast<int32_t>(std::lround(amplitude * (sine ? std::sin(ph) : std::cos(ph))));
  }
  return s;
}

// Interleaves channel sample lists into frames.
std::vector<int32_t> Interleave(const std::vector<std::vector<int32_t>>& channels) {
  std::vector<int32_t> out;
  for (size_t i = 0; i < channels[0].size(); ++i) {
    for (const auto& c : channels) out.push_back(c[i]);
  }
  return out;
}

class Detector : public ::testing::Test {
 protected:
  // A detector that is open and started on the given format.
  void Ready(int bits, int channels, int rate, int32_t length,
             TMMFFTWindow window = fwRectangular) {
    auto f = MakePcmFormat(bits, channels, rate);
    pd.SetPWaveFormat(f.get());
    pd.SetFFTLength(length);
    pd.SetWindow(window);
    pd.Open();
    pd.Start();
  }
  void Feed(const std::vector<uint8_t>& bytes) {
    Buffer b(bytes);
    pd.BufferReady(&b.header);
  }
  int32_t Strongest() const {
    int32_t best = 0;
    for (int32_t i = 1; i < pd.FFTLength() / 2; ++i) {
      if (pd.BinValue(i) > pd.BinValue(best)) best = i;
    }
    return best;
  }

  TMMPeakDetect pd{"MMPeakDetect1"};
};

TEST_F(Detector, DefaultsAndLengthRounding) {
  EXPECT_TRUE(pd.Enabled());
  EXPECT_EQ(pd.FFTLength(), 128);
  EXPECT_EQ(pd.Window(), fwHamming);
  EXPECT_EQ(pd.Channel(), chBoth);
  EXPECT_TRUE(pd.DetectPeaks());
  EXPECT_EQ(pd.SilenceByte(), 0);
  EXPECT_EQ(pd.BinWidth(), 0.0f);
  EXPECT_TRUE(pd.PublishesLink("Input"));
  EXPECT_TRUE(pd.PublishesLink("Output"));

  for (auto [in, out] : {std::pair{5, 8}, {1000, 512}, {100000, 32768}, {0, 8}, {-4, 8},
                         {16384, 16384}, {16383, 8192}}) {
    pd.SetFFTLength(in);
    EXPECT_EQ(pd.FFTLength(), out) << in;
  }
}

TEST_F(Detector, FrequencyToIndexTruncatesAndCaps) {
  auto f = MakePcmFormat(16, 1, 8000);
  pd.SetPWaveFormat(f.get());
  pd.SetFFTLength(512);
  EXPECT_FLOAT_EQ(pd.BinWidth(), 15.625f);
  EXPECT_EQ(pd.FrequencyToIndex(1209.0f), 77);
  EXPECT_EQ(pd.FrequencyToIndex(0.0f), 0);
  EXPECT_EQ(pd.FrequencyToIndex(3999.0f), 255);
  EXPECT_EQ(pd.FrequencyToIndex(4000.0f), 256);
  EXPECT_EQ(pd.FrequencyToIndex(22000.0f), 256);
  EXPECT_EQ(pd.FrequencyToIndex(std::numeric_limits<float>::infinity()), 256);
  EXPECT_EQ(pd.FrequencyToIndex(std::numeric_limits<float>::quiet_NaN()), 256);
  EXPECT_EQ(pd.FrequencyToIndex(-100.0f), 256);
  EXPECT_EQ(pd.BinValue(256), 0);
  EXPECT_EQ(pd.BinValue(-1), 0);
  EXPECT_EQ(pd.BinValue(1 << 20), 0);

  pd.SetPWaveFormat(nullptr);
  EXPECT_EQ(pd.BinWidth(), 0.0f);
  EXPECT_EQ(pd.FrequencyToIndex(1209.0f), 256);  // no format: the empty index
}

TEST_F(Detector, DtmfFrequenciesMapToTheirBins) {
  const float freqs[] = {697, 770, 852, 941, 1209, 1336, 1477, 1633};
  const int32_t at8000[] = {1427, 1576, 1744, 1927, 2476, 2736, 3024, 3344};
  const int32_t at44100[] = {258, 286, 316, 349, 449, 496, 548, 606};
  pd.SetFFTLength(16384);
  auto f8 = MakePcmFormat(16, 2, 8000);
  pd.SetPWaveFormat(f8.get());
  EXPECT_FLOAT_EQ(pd.BinWidth(), 0.48828125f);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(pd.FrequencyToIndex(freqs[i]), at8000[i]) << freqs[i];
  auto f44 = MakePcmFormat(16, 2, 44100);
  pd.SetPWaveFormat(f44.get());
  EXPECT_FLOAT_EQ(pd.BinWidth(), 2.691650390625f);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(pd.FrequencyToIndex(freqs[i]), at44100[i]) << freqs[i];
}

TEST_F(Detector, SilenceReadsZero) {
  Ready(16, 2, 44100, 1024, fwHamming);
  Feed(std::vector<uint8_t>(6144, 0));
  for (int32_t i = 0; i < 512; ++i) ASSERT_EQ(pd.BinValue(i), 0) << i;

  auto f8 = MakePcmFormat(8, 1, 8000);
  pd.SetPWaveFormat(f8.get());
  EXPECT_EQ(pd.SilenceByte(), 128);
  EXPECT_EQ(pd.LeftPeak(), 128);  // the reset fills the peaks with silence
  Feed(std::vector<uint8_t>(3000, 128));  // the last frame is padded with 128 too
  for (int32_t i = 0; i < 512; ++i) ASSERT_EQ(pd.BinValue(i), 0) << i;
}

TEST_F(Detector, ExactReadingOfARectangularCosine) {
  Ready(16, 1, 8000, 256, fwRectangular);
  Feed(Pcm16(Tone(10000, 100, 256, 256)));
  EXPECT_EQ(pd.BinValue(100), 9998);
  EXPECT_EQ(Strongest(), 100);
}

TEST_F(Detector, ZeroPaddedWelchFrame) {
  Ready(16, 1, 44100, 16384, fwWelch);
  Feed(Pcm16(Tone(32767, 1000, 16384, 2048, true)));
  EXPECT_NEAR(pd.BinValue(1000), 938, 1);
  EXPECT_EQ(Strongest(), 1000);
}

TEST_F(Detector, WindowScalesTheReading) {
  // A full-frame tone reads the amplitude times the window's mean.
  Ready(16, 1, 8000, 1024, fwHamming);
  Feed(Pcm16(Tone(20000, 64, 1024, 1024)));
  EXPECT_NEAR(pd.BinValue(64), 0.54 * 20000, 20);
  pd.SetWindow(fwWelch);
  Feed(Pcm16(Tone(20000, 64, 1024, 1024)));
  EXPECT_NEAR(pd.BinValue(64), 2.0 / 3.0 * 20000, 20);
  // Bin 0 reads twice the windowed mean.
  pd.SetWindow(fwRectangular);
  Feed(Pcm16(std::vector<int32_t>(1024, 1000)));
  EXPECT_NEAR(pd.BinValue(0), 2000, 2);
}

TEST_F(Detector, FramesPerBufferAndPadding) {
  Ready(8, 1, 8000, 8, fwRectangular);  // frame F = 8 bytes
  std::vector<int32_t> calls(4, 0);
  std::vector<int32_t> lastValue(4, -1);
  pd.OnPeakReady = [&](TMMDSPComponent* sender, int32_t index, int32_t value) {
    EXPECT_EQ(sender, &pd);
    ASSERT_LT(index, 4);
    ++calls[index];
    lastValue[index] = value;
  };
  Feed(std::vector<uint8_t>(24, 128));
  EXPECT_EQ(calls, (std::vector<int32_t>{3, 3, 3, 3}));

  // F + 1 bytes: two frames, the second holds one byte (+127) then silence.
  std::fill(calls.begin(), calls.end(), 0);
  std::vector<uint8_t> bytes(9, 128);
  bytes[8] = 255;
  Feed(bytes);
  EXPECT_EQ(calls, (std::vector<int32_t>{2, 2, 2, 2}));
  // A lone sample 127 * 32767 / 128 = 32511 spreads evenly: 32511 / 4 per bin.
  EXPECT_EQ(lastValue, (std::vector<int32_t>{8127, 8127, 8127, 8127}));
  EXPECT_EQ(pd.BinValue(2), 8127);
}

TEST_F(Detector, NeverReadsPastTheBuffer) {
  Ready(16, 1, 8000, 256, fwRectangular);  // F = 512 bytes
  int calls = 0;
  pd.OnPeakReady = [&](TMMDSPComponent*, int32_t index, int32_t) { calls += index == 0; };
  Buffer b(Pcm16(Tone(6000, 9, 256, 256)));
  b.header.dwBytesRecorded = 100000;  // a count beyond the buffer's length
  pd.BufferReady(&b.header);
  EXPECT_EQ(calls, 1);
  EXPECT_NEAR(pd.BinValue(9), 6000, 3);
}

TEST_F(Detector, BinsKeepTheMaximumOverTheFramesOfOneBuffer) {
  Ready(16, 1, 8000, 256, fwRectangular);
  for (bool louderFirst : {false, true}) {
    std::vector<int32_t> a = Tone(1000, 10, 256, 256), b = Tone(3000, 10, 256, 256);
    if (louderFirst) std::swap(a, b);
    a.insert(a.end(), b.begin(), b.end());
    Feed(Pcm16(a));
    EXPECT_NEAR(pd.BinValue(10), 3000, 3) << louderFirst;
  }
}

TEST_F(Detector, EachBufferReplacesTheLastOne) {
  Ready(16, 1, 8000, 256, fwRectangular);
  Feed(Pcm16(Tone(8000, 20, 256, 256)));
  EXPECT_NEAR(pd.BinValue(20), 8000, 3);
  Feed(Pcm16(Tone(8000, 40, 256, 256)));
  EXPECT_LE(pd.BinValue(20), 1);
  EXPECT_NEAR(pd.BinValue(40), 8000, 3);
  // An empty buffer leaves nothing behind either.
  Feed({});
  EXPECT_EQ(pd.BinValue(40), 0);
}

TEST_F(Detector, DisabledDetectorPassesBuffersAndKeepsItsBins) {
  TMMPeakDetect next("next");
  int passed = 0;
  next.OnBufferReady = [&](TMMDSPComponent*, PWaveHdr) { ++passed; };
  pd.SetOutput(&next);
  Ready(16, 1, 8000, 256, fwRectangular);
  Feed(Pcm16(Tone(5000, 30, 256, 256)));
  const int32_t before = pd.BinValue(30);
  EXPECT_GT(before, 4990);
  pd.SetEnabled(false);
  Feed(Pcm16(std::vector<int32_t>(256, 0)));
  EXPECT_EQ(pd.BinValue(30), before);
  EXPECT_EQ(passed, 2);
}

TEST_F(Detector, SettingsThatChangeResetTheBins) {
  Ready(16, 1, 8000, 256, fwRectangular);
  auto load = [&] { Feed(Pcm16(Tone(5000, 30, 256, 256))); };
  load();
  pd.SetFFTLength(300);  // still 256: nothing happens
  pd.SetWindow(fwRectangular);
  pd.SetChannel(chBoth);
  EXPECT_GT(pd.BinValue(30), 0);
  pd.SetFFTLength(512);
  EXPECT_EQ(pd.BinValue(30), 0);
  pd.SetFFTLength(256);
  load();
  pd.SetWindow(fwHanning);
  EXPECT_EQ(pd.BinValue(30), 0);
  load();
  pd.SetChannel(chLeft);
  EXPECT_EQ(pd.BinValue(30), 0);
  load();
  pd.SetEnabled(false);
  pd.SetEnabled(true);
  EXPECT_GT(pd.BinValue(30), 0);
  auto f = MakePcmFormat(16, 1, 8000);
  pd.SetPWaveFormat(f.get());  // any format given resets
  EXPECT_EQ(pd.BinValue(30), 0);
}

TEST_F(Detector, ChannelSelection16And8Bit) {
  // Left carries bin 10, right bin 25 (FFTLength 128).
  const auto left = Tone(12000, 10, 128, 128), right = Tone(12000, 25, 128, 128);
  Ready(16, 2, 8000, 128, fwRectangular);
  const auto bytes16 = Pcm16(Interleave({left, right}));
  pd.SetChannel(chLeft);
  Feed(bytes16);
  EXPECT_NEAR(pd.BinValue(10), 12000, 3);
  EXPECT_LE(pd.BinValue(25), 1);
  pd.SetChannel(chRight);
  Feed(bytes16);
  EXPECT_LE(pd.BinValue(10), 1);
  EXPECT_NEAR(pd.BinValue(25), 12000, 3);
  pd.SetChannel(chBoth);  // the mean of both channels
  Feed(bytes16);
  EXPECT_NEAR(pd.BinValue(10), 6000, 3);
  EXPECT_NEAR(pd.BinValue(25), 6000, 3);

  // 8-bit lands on the same 16-bit scale: 100 * 256.
  auto f8 = MakePcmFormat(8, 2, 8000);
  pd.SetPWaveFormat(f8.get());
  const auto bytes8 = Pcm8(Interleave({Tone(100, 10, 128, 128), Tone(100, 25, 128, 128)}));
  pd.SetChannel(chRight);
  Feed(bytes8);
  EXPECT_NEAR(pd.BinValue(25), 25600, 150);
  EXPECT_LE(pd.BinValue(10), 150);
  pd.SetChannel(chBoth);
  Feed(bytes8);
  EXPECT_NEAR(pd.BinValue(10), 12800, 150);
  EXPECT_NEAR(pd.BinValue(25), 12800, 150);

  // Mono ignores the choice.
  auto mono = MakePcmFormat(16, 1, 8000);
  pd.SetPWaveFormat(mono.get());
  pd.SetChannel(chRight);
  Feed(Pcm16(Tone(4000, 7, 128, 128)));
  EXPECT_NEAR(pd.BinValue(7), 4000, 3);
}

TEST_F(Detector, FourChannelStreamsAnalyseTheFirstPair) {
  Ready(16, 4, 8000, 128, fwRectangular);
  const auto quiet = std::vector<int32_t>(128, 0);
  const auto bytes = Pcm16(Interleave(
      {Tone(9000, 5, 128, 128), Tone(9000, 9, 128, 128), Tone(30000, 20, 128, 128), quiet}));
  pd.SetChannel(chLeft);
  Feed(bytes);
  EXPECT_NEAR(pd.BinValue(5), 9000, 3);
  EXPECT_LE(pd.BinValue(20), 1);
  pd.SetChannel(chRight);
  Feed(bytes);
  EXPECT_NEAR(pd.BinValue(9), 9000, 3);
  EXPECT_LE(pd.BinValue(20), 1);

  // The largest frame fits at the longest length.
  pd.SetFFTLength(32768);
  std::vector<uint8_t> longBuffer(32768 * 8 + 8, 0);
  Feed(longBuffer);
  EXPECT_EQ(pd.BinValue(100), 0);
}

TEST_F(Detector, ChannelPeaks) {
  Ready(16, 2, 8000, 128);
  Feed(Pcm16({100, -200, -20000, 300, 5, 15000}));
  EXPECT_EQ(pd.LeftPeak(), 20000);
  EXPECT_EQ(pd.RightPeak(), 15000);
  pd.SetDetectPeaks(false);
  Feed(Pcm16({100, -200}));
  EXPECT_EQ(pd.LeftPeak(), 0);
  EXPECT_EQ(pd.RightPeak(), 0);

  pd.SetDetectPeaks(true);
  auto f8 = MakePcmFormat(8, 1, 8000);
  pd.SetPWaveFormat(f8.get());
  Feed({128, 130, 20, 140});  // 20 is furthest from the centre: the raw byte is kept
  EXPECT_EQ(pd.LeftPeak(), 20);
  EXPECT_EQ(pd.RightPeak(), 20);
}

TEST_F(Detector, UnusableFormatsAreRefused) {
  auto good = MakePcmFormat(16, 2, 44100);
  pd.SetPWaveFormat(good.get());
  auto expectRefused = [&](const WAVEFORMATEX& f) {
    try {
      pd.SetPWaveFormat(&f);
      ADD_FAILURE() << "accepted " << f.nChannels << " ch, " << f.wBitsPerSample << " bit, "
                    << f.nSamplesPerSec << " Hz, align " << f.nBlockAlign;
    } catch (const EMMPeakError& e) {
      EXPECT_STREQ(e.what(), "Invalid WaveFormat");
    }
    ASSERT_NE(pd.PWaveFormat(), nullptr);
    EXPECT_EQ(pd.PWaveFormat()->nSamplesPerSec, 44100u);  // the old format stays
  };
  WAVEFORMATEX f{};
  expectRefused(MakePcmFormat(f, 16, 3, 44100));
  expectRefused(MakePcmFormat(f, 24, 2, 44100));
  expectRefused(MakePcmFormat(f, 16, 2, 3999));
  expectRefused(MakePcmFormat(f, 16, 2, 100001));
  MakePcmFormat(f, 16, 2, 44100);
  f.wFormatTag = 2;
  expectRefused(f);
  MakePcmFormat(f, 16, 2, 44100);
  f.nBlockAlign = 0;  // would make the frame empty
  expectRefused(f);
  f.nBlockAlign = 1000;  // frames larger than the samples they hold
  expectRefused(f);

  pd.SetPWaveFormat(nullptr);  // no format is always accepted
  EXPECT_EQ(pd.PWaveFormat(), nullptr);
}

TEST_F(Detector, AnalysisNeedsOpenAndStartClearsTheBins) {
  auto f = MakePcmFormat(16, 1, 8000);
  pd.SetPWaveFormat(f.get());
  pd.SetFFTLength(256);
  pd.SetWindow(fwRectangular);
  Feed(Pcm16(Tone(5000, 30, 256, 256)));
  EXPECT_EQ(pd.BinValue(30), 0);  // closed: nothing analysed
  pd.Open();
  Feed(Pcm16(Tone(5000, 30, 256, 256)));
  EXPECT_GT(pd.BinValue(30), 4990);  // opened is enough
  pd.Start();
  EXPECT_EQ(pd.BinValue(30), 0);
  Feed(Pcm16(Tone(5000, 30, 256, 256)));
  pd.Stop();
  pd.Close();
  Feed(Pcm16(Tone(5000, 31, 256, 256)));
  EXPECT_GT(pd.BinValue(30), 4990);  // closed again: bins stay
}

// A source that fills every pulled buffer with a tone.
class ToneSource : public TMMDSPComponent {
 public:
  ToneSource() : TMMDSPComponent("source") {}
  ~ToneSource() override { Unlink(); }
  std::span<const LinkProperty> LinkProperties() const override { return kPublishOutput; }
  void BufferLoad(PWaveHdr buffer, bool& moreBuffers) override {
    const auto bytes = Pcm16(Tone(7000, 12, 256, 256));
    std::memcpy(buffer->lpData, bytes.data(), bytes.size());
    buffer->dwBytesRecorded = static_cast<uint32_t>(bytes.size());
    moreBuffers = true;
  }
};

TEST_F(Detector, PulledBuffersAreAnalysedAfterTheyAreFilled) {
  ToneSource source;
  auto f = MakePcmFormat(16, 1, 8000);
  source.SetPWaveFormat(f.get());
  pd.SetInput(&source);
  ASSERT_NE(pd.PWaveFormat(), nullptr);
  pd.SetFFTLength(256);
  pd.SetWindow(fwRectangular);
  pd.Open();
  pd.Start();
  Buffer b(std::vector<uint8_t>(512, 0));
  b.header.dwBytesRecorded = 0;
  bool more = false;
  pd.BufferLoad(&b.header, more);
  EXPECT_TRUE(more);
  EXPECT_NEAR(pd.BinValue(12), 7000, 3);
}

TEST_F(Detector, AnalysisAllocatesNothing) {
  Ready(16, 2, 44100, 16384, fwWelch);
  int events = 0;
  pd.OnPeakReady = [&](TMMDSPComponent*, int32_t, int32_t) { ++events; };
  Buffer b(Pcm16(Interleave({Tone(20000, 300, 16384, 1536), Tone(20000, 500, 16384, 1536)})));
  const long before = test::AllocationCount();
  pd.BufferReady(&b.header);
  pd.BufferReady(&b.header);
  EXPECT_EQ(test::AllocationCount(), before);
  EXPECT_EQ(events, 2 * 8192);
}

TEST_F(Detector, BinsCanBeReadWhileAnotherThreadAnalyses) {
  Ready(16, 2, 44100, 1024, fwWelch);
  const auto bytes = Pcm16(Interleave({Tone(20000, 40, 1024, 1536), Tone(20000, 40, 1024, 1536)}));
  std::atomic<bool> done{false};
  std::thread worker([&] {
    for (int i = 0; i < 50; ++i) Feed(bytes);
    done = true;
  });
  int64_t sum = 0;
  do {
    for (int32_t i = 0; i < 512; ++i) sum += pd.BinValue(i);
    sum += pd.LeftPeak();
  } while (!done);
  worker.join();
  EXPECT_GT(sum, 0);
  EXPECT_EQ(Strongest(), 40);
}

}  // namespace
}  // namespace tv
