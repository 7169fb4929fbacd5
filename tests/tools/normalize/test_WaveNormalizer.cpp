#include "WaveNormalizer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <vector>

#include "MMErrors.h"
#include "TMMWave.h"
#include "TestFiles.h"

namespace tv {
namespace {

using test::Bytes;
using test::Le16;
using test::PcmWave;
using test::TempDir;
using test::WriteAll;

// The sample bytes of a wave file, read through our own reader.
Bytes DataOf(const std::string& file) {
  TMMWave w;
  w.SetTimeFormat(tfByte);
  w.SetFileName(file);
  w.OpenFile();
  Bytes out(static_cast<size_t>(w.DataSize()));
  if (!out.empty()) {
    EXPECT_EQ(w.ReadData(out.data(), static_cast<int32_t>(out.size())), static_cast<int32_t>(out.size()));
  }
  EXPECT_TRUE(w.CloseFile());
  return out;
}

TEST(Normalize, EightBitFileReachesBothEnds) {
  TempDir dir;
  const std::string src = dir.File("eight.wav");
  Bytes data;
  for (int v = 28; v <= 228; ++v) data.push_back(static_cast<uint8_t>(v));
  WriteAll(src, PcmWave(8, 1, 8000, data));
  WaveNormalizer n;
  const std::string dst = dir.File("out.wav");
  const NormalizeOutcome r = n.Normalize(src, [&] { return dst; });
  EXPECT_TRUE(r.pcm);
  EXPECT_EQ(r.peak, 28);  // the first of the two equally loud samples
  EXPECT_EQ(r.magnitude, 100);
  EXPECT_NEAR(static_cast<double>(r.gain), 1.27, 1e-12);
  EXPECT_EQ(r.destination, dst);
  const Bytes out = DataOf(dst);
  ASSERT_EQ(out.size(), data.size());
  EXPECT_EQ(out.front(), 1);   // 28 -> (28 - 128) * 1.27 + 128 = 1
  EXPECT_EQ(out.back(), 255);  // 228 -> 255
  EXPECT_EQ(out[100], 128);    // the centre stays
}

TEST(Normalize, SixteenBitExampleAndGainText) {
  TempDir dir;
  const std::string src = dir.File("half.wav");
  WriteAll(src, PcmWave(16, 1, 8000, Le16({100, -16384, 8000, 16000, 0})));
  WaveNormalizer n;
  NormalizeOutcome seen;
  n.OnPeakFound = [&](const NormalizeOutcome& o) { seen = o; };
  const NormalizeOutcome r = n.Normalize(src, [&] { return dir.File("n.wav"); });
  EXPECT_EQ(r.peak, -16384);
  EXPECT_EQ(seen.peak, -16384);
  EXPECT_EQ(WaveNormalizer::GainText(r.gain), " 1.9999 db");
  EXPECT_EQ(WaveNormalizer::GainText(2.0L), " 2.0000 db");
  const Bytes out = DataOf(dir.File("n.wav"));
  EXPECT_EQ(out, Le16({200, -32767, 16000, 31999, 0}));  // 16000 * 1.99994 = 31999.02
}

TEST(Normalize, StereoUsesOneGainFromTheLouderChannel) {
  TempDir dir;
  const std::string src = dir.File("st.wav");
  WriteAll(src, PcmWave(16, 2, 8000, Le16({1000, -200, -8192, 4000, 2000, 100})));
  WaveNormalizer n;
  const NormalizeOutcome r = n.Normalize(src, [&] { return dir.File("o.wav"); });
  EXPECT_EQ(r.peak, -8192);
  const long double g = 32767.0L / 8192.0L;
  EXPECT_EQ(DataOf(dir.File("o.wav")),
            Le16({static_cast<int16_t>(std::lrint(1000 * g)), static_cast<int16_t>(std::lrint(-200 * g)),
                  -32767, static_cast<int16_t>(std::lrint(4000 * g)),
                  static_cast<int16_t>(std::lrint(2000 * g)), static_cast<int16_t>(std::lrint(100 * g))}));
}

TEST(Normalize, FullScaleAndSilentFilesAreLeftAlone) {
  TempDir dir;
  int asked = 0;
  auto choose = [&] {
    ++asked;
    return dir.File("never.wav");
  };
  for (int16_t loud : {int16_t{32767}, int16_t{-32768}}) {
    WriteAll(dir.File("full.wav"), PcmWave(16, 1, 8000, Le16({0, loud, 5})));
    WaveNormalizer n;
    const NormalizeOutcome r = n.Normalize(dir.File("full.wav"), choose);
    EXPECT_EQ(r.peak, loud);
    EXPECT_FALSE(r.needsGain);
  }
  WriteAll(dir.File("silent.wav"), PcmWave(16, 1, 8000, Le16({0, 0, 0, 0})));
  WaveNormalizer n;
  NormalizeOutcome r = n.Normalize(dir.File("silent.wav"), choose);
  EXPECT_FALSE(r.needsGain);
  EXPECT_EQ(r.magnitude, 0);
  // 8-bit silence sits at the centre and is silent too, not full scale.
  WriteAll(dir.File("silent8.wav"), PcmWave(8, 1, 8000, Bytes(100, 128)));
  r = n.Normalize(dir.File("silent8.wav"), choose);
  EXPECT_FALSE(r.needsGain);
  EXPECT_EQ(r.peak, 128);
  EXPECT_EQ(asked, 0);
  EXPECT_FALSE(std::filesystem::exists(dir.File("never.wav")));
}

TEST(Normalize, EightBitFullNegativeCountsAsFullScale) {
  TempDir dir;
  WriteAll(dir.File("low.wav"), PcmWave(8, 1, 8000, Bytes{128, 0, 140}));
  WaveNormalizer n;
  const NormalizeOutcome r = n.Normalize(dir.File("low.wav"), [] { return std::string(); });
  EXPECT_EQ(r.peak, 0);
  EXPECT_EQ(r.magnitude, 128);
  EXPECT_FALSE(r.needsGain);
}

TEST(Normalize, CancelledDestinationWritesNothingButRunsThePass) {
  TempDir dir;
  Bytes data(3 * 4096 + 10, 0);
  data[7] = 0x40;  // one sample of 0x4000
  WriteAll(dir.File("c.wav"), PcmWave(16, 1, 8000, data));
  WaveNormalizer n;
  std::vector<int> scale;
  n.OnProgress = [&](NormalizePhase p, int percent) {
    if (p == NormalizePhase::Normalizing) scale.push_back(percent);
  };
  const NormalizeOutcome r = n.Normalize(dir.File("c.wav"), [] { return std::string(); });
  EXPECT_TRUE(r.needsGain);
  EXPECT_TRUE(r.destination.empty());
  ASSERT_EQ(scale.size(), 4u);
  EXPECT_EQ(scale.back(), 100);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);
}

TEST(Normalize, NonPcmIsPassedOverSilently) {
  TempDir dir;
  const Bytes mulaw = test::RiffBuilder()
                          .Chunk("fmt ", test::FmtBody(7, 1, 8000, 8))
                          .Chunk("data", Bytes(100, 0x55))
                          .Build();
  WriteAll(dir.File("mu.wav"), mulaw);
  WaveNormalizer n;
  const NormalizeOutcome r = n.Normalize(dir.File("mu.wav"), [&] { return dir.File("x.wav"); });
  EXPECT_FALSE(r.pcm);
  EXPECT_FALSE(std::filesystem::exists(dir.File("x.wav")));
}

TEST(Normalize, UnreadableSourceRaisesTheWaveError) {
  TempDir dir;
  WriteAll(dir.File("junk.wav"), Bytes(64, 'x'));
  WaveNormalizer n;
  EXPECT_THROW(n.Normalize(dir.File("junk.wav"), [] { return std::string(); }), EMMError);
}

}  // namespace
}  // namespace tv
