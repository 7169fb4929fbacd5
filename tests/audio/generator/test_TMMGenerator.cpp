#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <thread>
#include <vector>

#include "Measure.h"
#include "TMMGenerator.h"

namespace tv {
namespace {

using test::MeasureTone;

// One buffer block with its header, pulled from or pushed through a component.
struct Block {
  explicit Block(uint32_t bytes, uint8_t fill = 0) : data(kBufferHeaderSize + bytes, fill) {
    InitBufferHeader(Header(), bytes);
  }
  TMMBufferHeader* Header() { return reinterpret_cast<TMMBufferHeader*>(data.data()); }
  uint8_t* Bytes() { return reinterpret_cast<uint8_t*>(Header()->lpData); }
  int16_t Word(size_t i) {
    int16_t v;
    std::memcpy(&v, Bytes() + 2 * i, 2);
    return v;
  }
  std::vector<uint8_t> data;
};

// 16-bit samples of `seconds` of output, pulled buffer by buffer.
std::vector<double> Pull16(TMMGenerator& gen, double seconds, bool* more = nullptr) {
  const auto total = static_cast<size_t>(seconds * gen.SampleRate()) * (gen.Mode() + 1);
  std::vector<double> out;
  while (out.size() < total) {
    Block b(4096);
    bool m = false;
    gen.BufferLoad(b.Header(), m);
    if (more != nullptr) *more = m;
    for (size_t i = 0; i < b.Header()->dwBytesRecorded / 2 && out.size() < total; ++i) {
      out.push_back(b.Word(i));
    }
  }
  return out;
}

void Prepare(TMMGenerator& gen, TMMWaveForm form, int32_t amplitude, double frequency) {
  gen.SetSampleRate(44100);
  gen.SetBitLength(b16Bit);
  gen.SetWaveForm(form);
  gen.SetAmplitude(amplitude);
  gen.SetFrequency(frequency);
  gen.Open();
  gen.Start();
}

double Db(double ratio) { return 20.0 * std::log10(ratio); }

// A source that answers every pull with one constant 16-bit value.
class ConstantSource : public TMMDSPComponent {
 public:
  explicit ConstantSource(int16_t value) : TMMDSPComponent("Constant"), value_(value) {
    const WaveFormatPtr f = MakePcmFormat(16, 1, 44100);
    SetPWaveFormat(f.get());
  }
  ~ConstantSource() override { Unlink(); }
  std::span<const LinkProperty> LinkProperties() const override { return kPublishOutput; }
  void BufferLoad(PWaveHdr h, bool& more) override {
    for (uint32_t i = 0; i + 2 <= h->dwBufferLength; i += 2) std::memcpy(h->lpData + i, &value_, 2);
    h->dwBytesRecorded = h->dwBufferLength;
    more = false;  // it ends; the generator must not
  }

 private:
  int16_t value_;
};

TEST(GeneratorTest, PropertiesAndFormats) {
  TMMGenerator gen;
  gen.SetFrequency(0);
  EXPECT_DOUBLE_EQ(gen.Frequency(), 0.01);
  gen.SetFrequency(200000);
  EXPECT_DOUBLE_EQ(gen.Frequency(), 100000);
  gen.SetSampleRate(96000);
  EXPECT_EQ(gen.SampleRate(), 88200);
  gen.SetAmplitude(20000);
  EXPECT_EQ(gen.Amplitude(), 16384);
  gen.SetMode(mStereo);
  gen.SetMode(mMultiChannel);
  EXPECT_EQ(gen.Mode(), mStereo);
  EXPECT_EQ(gen.PWaveFormat()->nChannels, 2);
  EXPECT_EQ(gen.PWaveFormat()->nSamplesPerSec, 88200u);

  const WaveFormatPtr wide = MakePcmFormat(16, 1, 48000);
  gen.SetPWaveFormat(wide.get());
  EXPECT_EQ(gen.SampleRate(), 48000);
  EXPECT_EQ(gen.BitLength(), b16Bit);
  EXPECT_EQ(gen.Mode(), mMono);
  for (const WaveFormatPtr& bad : {MakePcmFormat(24, 1, 44100), MakePcmFormat(16, 4, 44100)}) {
    try {
      gen.SetPWaveFormat(bad.get());
      FAIL() << "accepted " << WaveFormatText(bad.get());
    } catch (const EMMGeneratorError& e) {
      EXPECT_STREQ(e.what(), "Invalid WaveFormat");
    }
  }
  EXPECT_EQ(gen.PWaveFormat()->nSamplesPerSec, 48000u);
}

TEST(GeneratorTest, FirstSamplesSilenceAndChannels) {
  TMMGenerator gen;
  Prepare(gen, wfSquare, 8212, 1000);
  Block b(64);
  bool more = false;
  gen.BufferLoad(b.Header(), more);
  EXPECT_EQ(b.Word(0), -32767 * 8212 / 16384);
  EXPECT_TRUE(more);

  gen.SetWaveForm(wfSine);
  gen.Start();
  gen.BufferLoad(b.Header(), more);
  EXPECT_EQ(b.Word(0), 0);
  EXPECT_NE(b.Word(1), 0);
  // Every run starts at the same place.
  gen.Start();
  const std::vector<double> first = Pull16(gen, 0.01);
  gen.Start();
  EXPECT_EQ(Pull16(gen, 0.01), first);

  gen.SetAmplitude(0);
  gen.BufferLoad(b.Header(), more);
  for (size_t i = 0; i < 32; ++i) ASSERT_EQ(b.Word(i), 0);
  gen.SetBitLength(b8Bit);
  gen.SetAmplitude(16384);
  gen.SetWaveForm(wfSquare);
  gen.Start();
  gen.BufferLoad(b.Header(), more);
  EXPECT_EQ(b.Bytes()[0], 1);  // -127 + 128
  gen.SetEnabled(false);
  Block quiet(100, 7);
  gen.BufferLoad(quiet.Header(), more);
  EXPECT_TRUE(more);
  EXPECT_EQ(quiet.Header()->dwBytesRecorded, 100u);
  for (int i = 0; i < 100; ++i) ASSERT_EQ(quiet.Bytes()[i], 128);

  gen.SetEnabled(true);
  gen.SetBitLength(b16Bit);
  gen.SetMode(mStereo);
  gen.SetChannel(chLeft);
  gen.SetWaveForm(wfSine);
  Block stereo(4096, 0x5A);
  gen.BufferLoad(stereo.Header(), more);
  bool leftMoves = false;
  for (size_t frame = 0; frame < 1024; ++frame) {
    ASSERT_EQ(stereo.Word(2 * frame + 1), 0x5A5A) << "right channel touched";
    leftMoves |= stereo.Word(2 * frame) != stereo.Word(0);
  }
  EXPECT_TRUE(leftMoves);
}

TEST(GeneratorTest, SineFrequencyAndLevelAsMeasured) {
  struct Case {
    double frequency;
    int32_t amplitude;
  };
  for (const Case c : {Case{1000.0, 8212}, Case{3150.5, 16384}, Case{440.0, 1000}}) {
    TMMGenerator gen;
    Prepare(gen, wfSine, c.amplitude, c.frequency);
    const test::Tone tone = MeasureTone(Pull16(gen, 10.0), 44100);
    EXPECT_NEAR(tone.frequency, c.frequency, 0.01) << c.frequency;
    EXPECT_NEAR(Db(tone.amplitude / 32767), Db(c.amplitude / 16384.0), 0.05) << c.amplitude;
  }
}

TEST(GeneratorTest, WhiteNoiseHasZeroMeanAndAFlatSpectrum) {
  for (const uint32_t seed : {1u, 20240601u, 0xDEADBEEFu}) {
    TMMGenerator gen;
    gen.SetRandomSeed(seed);
    Prepare(gen, wfNoise, 16384, 1000);
    const std::vector<double> x = Pull16(gen, 10.0);
    double mean = 0, square = 0;
    for (double v : x) {
      mean += v;
      square += v * v;
    }
    mean /= static_cast<double>(x.size());
    const double rms = std::sqrt(square / static_cast<double>(x.size()));
    const double uniform = 32767 / std::sqrt(3.0);  // rms of uniform -P..P
    EXPECT_NEAR(rms, uniform, 0.03 * uniform);
    EXPECT_LT(std::abs(mean), 4 * uniform / std::sqrt(static_cast<double>(x.size()))) << seed;

    size_t size = 0;
    const std::vector<double> p = test::PowerSpectrum(x, size);
    const double bin = 44100.0 / static_cast<double>(size);
    std::vector<double> density;
    for (double fc :
         {1000, 1250, 1600, 2000, 2500, 3150, 4000, 5000, 6300, 8000, 10000, 12500, 16000}) {
      const auto lo = static_cast<size_t>(fc * std::pow(2.0, -1.0 / 6) / bin);
      const auto hi = static_cast<size_t>(fc * std::pow(2.0, 1.0 / 6) / bin);
      double sum = 0;
      for (size_t k = lo; k < hi; ++k) sum += p[k];
      density.push_back(10 * std::log10(sum / static_cast<double>(hi - lo)));
    }
    double average = 0;
    for (double d : density) average += d / static_cast<double>(density.size());
    for (size_t i = 0; i < density.size(); ++i) {
      EXPECT_NEAR(density[i], average, 1.0) << "band " << i << " seed " << seed;
    }
  }
}

TEST(GeneratorTest, ModulatingAPassingSignal) {
  ConstantSource source(16000);
  TMMGenerator gen;
  gen.SetInput(&source);
  EXPECT_EQ(gen.SampleRate(), 44100);  // taken from the stream
  gen.SetDryAmplitude(8192);
  gen.SetAmplitude(16384);
  gen.SetFrequency(1000);
  gen.Open();
  gen.Start();
  bool more = false;
  // AM: half the dry signal plus the signal times the tone.
  std::vector<double> am = Pull16(gen, 1.0, &more);
  EXPECT_TRUE(more);
  double mean = 0;
  for (double v : am) mean += v / static_cast<double>(am.size());
  EXPECT_NEAR(mean, 8000, 1.0);
  for (double& v : am) v -= mean;
  const test::Tone am1 = MeasureTone(am, 44100);
  EXPECT_NEAR(am1.frequency, 1000, 0.01);
  EXPECT_NEAR(Db(am1.amplitude / (16000 * 32767.0 / 32768)), 0, 0.05);

  // FM: a steady input x moves the tone by the factor 1 + x / 32768.
  gen.SetModulation(moFM);
  gen.Start();
  const test::Tone fm = MeasureTone(Pull16(gen, 2.0), 44100);
  EXPECT_NEAR(fm.frequency, 1000 * (1 + 16000 / 32768.0), 0.01);

  // PM leaves the data alone; pushed buffers are modulated the same way.
  gen.SetModulation(moPM);
  Block pushed(64);
  for (size_t i = 0; i < 32; ++i) std::memcpy(pushed.Bytes() + 2 * i, "\x10\x20", 2);
  pushed.Header()->dwBytesRecorded = 64;
  gen.BufferReady(pushed.Header());
  for (size_t i = 0; i < 32; ++i) ASSERT_EQ(pushed.Word(i), 0x2010);
  gen.SetInput(nullptr);
}

// The main window switches between sine and noise while the output pulls.
TEST(GeneratorTest, WaveFormChangesWhileAnotherThreadReads) {
  TMMGenerator gen;
  Prepare(gen, wfSine, 8212, 1000);
  std::atomic<bool> stop{false};
  std::atomic<int> outOfRange{0};
  std::thread player([&] {
    while (!stop.load()) {
      Block b(4096);
      bool more = false;
      gen.BufferLoad(b.Header(), more);
      for (size_t i = 0; i < 2048; ++i) {
        if (std::abs(b.Word(i)) > 32767 * 8212 / 16384) outOfRange.fetch_add(1);
      }
    }
  });
  for (int i = 0; i < 100; ++i) gen.SetWaveForm(i % 2 == 0 ? wfNoise : wfSine);
  stop = true;
  player.join();
  EXPECT_EQ(outOfRange.load(), 0);
}

}  // namespace
}  // namespace tv
