#include "MMPCMSup.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstring>
#include <vector>

namespace tv {
namespace {

WAVEFORMATEX Pcm(int bits, int channels, int rate) {
  WAVEFORMATEX f{};
  return MakePcmFormat(f, bits, channels, rate);
}

std::vector<uint8_t> Samples16(const std::vector<int16_t>& v) {
  std::vector<uint8_t> out(v.size() * 2);
  std::memcpy(out.data(), v.data(), out.size());
  return out;
}

TEST(WaveFormat, MakePcmFormatFillsDerivedFields) {
  const WAVEFORMATEX f = Pcm(16, 2, 44100);
  EXPECT_EQ(f.wFormatTag, 1);
  EXPECT_EQ(f.nBlockAlign, 4);
  EXPECT_EQ(f.nAvgBytesPerSec, 176400u);
  EXPECT_EQ(f.cbSize, 0);
  const WAVEFORMATEX g = Pcm(8, 1, 8000);
  EXPECT_EQ(g.nBlockAlign, 1);
  EXPECT_EQ(g.nAvgBytesPerSec, 8000u);
}

TEST(WaveFormat, SizeAndCopyFollowTheTag) {
  EXPECT_EQ(WaveFormatSize(nullptr), 0u);
  EXPECT_EQ(CopyWaveFormat(nullptr), nullptr);

  WAVEFORMATEX pcm = Pcm(16, 1, 8000);
  pcm.cbSize = 22;
  EXPECT_EQ(WaveFormatSize(&pcm), 18u);
  WaveFormatPtr copy = CopyWaveFormat(&pcm);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->cbSize, 0);
  EXPECT_EQ(copy->nSamplesPerSec, 8000u);

  WaveFormatPtr adpcm = AllocWaveFormat(20);
  adpcm->wFormatTag = 2;
  adpcm->cbSize = 2;
  WaveFormatExtra(adpcm.get())[0] = 0xAB;
  WaveFormatExtra(adpcm.get())[1] = 0xCD;
  EXPECT_EQ(WaveFormatSize(adpcm.get()), 20u);
  WaveFormatPtr adpcmCopy = CopyWaveFormat(adpcm.get());
  EXPECT_EQ(adpcmCopy->cbSize, 2);
  EXPECT_EQ(WaveFormatExtra(adpcmCopy.get())[0], 0xAB);
  EXPECT_EQ(WaveFormatExtra(adpcmCopy.get())[1], 0xCD);
  EXPECT_NE(adpcmCopy.get(), adpcm.get());
}

TEST(WaveFormat, PcmFormatSupportedBounds) {
  EXPECT_FALSE(PcmFormatSupported(nullptr));
  WAVEFORMATEX f = Pcm(16, 2, 4000);
  EXPECT_TRUE(PcmFormatSupported(&f));
  f = Pcm(8, 4, 100000);
  EXPECT_TRUE(PcmFormatSupported(&f));
  f = Pcm(16, 1, 3999);
  EXPECT_FALSE(PcmFormatSupported(&f));
  f = Pcm(16, 1, 100001);
  EXPECT_FALSE(PcmFormatSupported(&f));
  f = Pcm(16, 3, 8000);
  EXPECT_FALSE(PcmFormatSupported(&f));
  f = Pcm(24, 2, 8000);
  EXPECT_FALSE(PcmFormatSupported(&f));
  f = Pcm(16, 2, 8000);
  f.wFormatTag = 2;
  EXPECT_FALSE(PcmFormatSupported(&f));
}

TEST(WaveFormat, TagNamesSearchFromTheTop) {
  EXPECT_EQ(FormatTagName(nullptr), "Unknown");
  WAVEFORMATEX f{};
  f.wFormatTag = 0x0011;
  EXPECT_EQ(FormatTagName(&f), "IMA ADPCM");
  f.wFormatTag = 0x0099;
  EXPECT_EQ(FormatTagName(&f), "Unknown");
  f.wFormatTag = 0x0055;
  EXPECT_EQ(FormatTagName(&f), "MPEG Layer-3");
  f.wFormatTag = 0x0209;
  EXPECT_EQ(FormatTagName(&f), "Dolby AC2");
  f.wFormatTag = 0xFFFF;
  EXPECT_EQ(FormatTagName(&f), "*DEVELOPMENT ONLY TAG*");
}

class FormatTextTest : public ::testing::Test {
 protected:
  void TearDown() override {
    SetSeparatorSource([](char& d, char& l) {
      d = '.';
      l = ',';
    });
    WaveFormatText(nullptr);
    SetSeparatorSource(nullptr);
  }
};

TEST_F(FormatTextTest, DefaultSeparators) {
  std::setlocale(LC_NUMERIC, "C");
  EXPECT_EQ(WaveFormatText(nullptr), "Unknown");
  WAVEFORMATEX f = Pcm(16, 2, 44100);
  EXPECT_EQ(WaveFormatText(&f), "44.100 kHz, 16 Bit, Stereo");
  f = Pcm(8, 1, 8000);
  EXPECT_EQ(WaveFormatText(&f), "8.000 kHz, 8 Bit, Mono");
  f = Pcm(8, 4, 22050);
  EXPECT_EQ(WaveFormatText(&f), "22.050 kHz, 8 Bit, 4 Channels");
  f = Pcm(16, 1, 11025);
  EXPECT_EQ(WaveFormatText(&f), "11.025 kHz, 16 Bit, Mono");
  EXPECT_EQ(DecimalSeparator(), '.');
  EXPECT_EQ(ListSeparator(), ',');
}

TEST_F(FormatTextTest, BitsComeFromTheByteRateNotTheTag) {
  WAVEFORMATEX f = Pcm(16, 1, 8000);
  f.wFormatTag = 0x0007;
  f.nAvgBytesPerSec = 8000;  // mu-law: 8 bits per sample on the wire
  f.wBitsPerSample = 8;
  EXPECT_EQ(WaveFormatText(&f), "8.000 kHz, 8 Bit, Mono");
}

TEST_F(FormatTextTest, RegionalSeparatorsAreReadOnEveryCallAndKept) {
  WAVEFORMATEX f = Pcm(16, 2, 48000);
  SetSeparatorSource([](char& d, char& l) {
    d = ',';
    l = ';';
  });
  EXPECT_EQ(WaveFormatText(&f), "48,000 kHz; 16 Bit; Stereo");
  // A source with nothing to say leaves the last values in force.
  SetSeparatorSource([](char&, char&) {});
  EXPECT_EQ(WaveFormatText(&f), "48,000 kHz; 16 Bit; Stereo");
}

TEST_F(FormatTextTest, CorruptRecordDoesNotDivideByZero) {
  WAVEFORMATEX f{};
  f.wFormatTag = 1;
  EXPECT_EQ(WaveFormatText(&f), "0.000 kHz, 0 Bit, 0 Channels");
}

TEST(Conversions, SixteenBitStereoAt44100) {
  const WAVEFORMATEX f = Pcm(16, 2, 44100);
  EXPECT_EQ(SamplesToBytes(&f, 1), 4);
  EXPECT_EQ(MillisecondsToBytes(&f, 1), 176);
  EXPECT_EQ(BytesToMilliseconds(&f, 88200), 500);
  EXPECT_EQ(BytesToSamples(&f, 176400), 44100);
  EXPECT_EQ(SamplesToMilliseconds(&f, 44100), 1000);
  EXPECT_EQ(MillisecondsToSamples(&f, 1000), 44100);
  EXPECT_EQ(SamplesToBytes64(&f, int64_t{44100} * 3600 * 10), int64_t{176400} * 3600 * 10);
  EXPECT_EQ(SamplesToMilliseconds64(&f, int64_t{44100} * 100000), 100000000);
}

TEST(Conversions, ByteCountsRoundUpToWholeFrames) {
  const WAVEFORMATEX f = Pcm(16, 2, 11025);  // 44100 bytes per second
  // 3 ms = 132.3 bytes, rounded to 132, already a whole frame.
  EXPECT_EQ(MillisecondsToBytes(&f, 3), 132);
  // 1 ms = 44.1 bytes -> 44; 7 ms = 308.7 -> 309 -> 312.
  EXPECT_EQ(MillisecondsToBytes(&f, 7), 312);
  const WAVEFORMATEX m = Pcm(8, 1, 8000);
  EXPECT_EQ(BytesToMilliseconds(&m, 4), 1);  // 0.5 ms rounds away from zero
  EXPECT_EQ(BytesToMilliseconds(&m, 3), 0);
}

TEST(Conversions, MissingFormatAnswersZero) {
  EXPECT_EQ(BytesToSamples(nullptr, 100), 0);
  EXPECT_EQ(SamplesToBytes(nullptr, 100), 0);
  EXPECT_EQ(MillisecondsToBytes(nullptr, 100), 0);
  EXPECT_EQ(SamplesToBytes64(nullptr, 100), 0);
}

TEST(SampleWidth, SixteenToEightRoundsTowardZero) {
  const auto in = Samples16({-1, -256, 32767, -32768, 0, 255, 256, -255, -257});
  uint8_t out[9] = {};
  EXPECT_EQ(ConvertSampleWidth(8, out, 16, static_cast<int32_t>(in.size()), in.data()), 9);
  EXPECT_EQ(out[0], 128);
  EXPECT_EQ(out[1], 127);
  EXPECT_EQ(out[2], 255);
  EXPECT_EQ(out[3], 0);
  EXPECT_EQ(out[4], 128);
  EXPECT_EQ(out[5], 128);
  EXPECT_EQ(out[6], 129);
  EXPECT_EQ(out[7], 128);
  EXPECT_EQ(out[8], 127);
}

TEST(SampleWidth, EightToSixteenAndSameWidth) {
  const uint8_t in[3] = {0, 128, 255};
  int16_t out[3] = {};
  EXPECT_EQ(ConvertSampleWidth(16, out, 8, 3, in), 6);
  EXPECT_EQ(out[0], -32768);
  EXPECT_EQ(out[1], 0);
  EXPECT_EQ(out[2], 32512);
  uint8_t copy[3] = {};
  EXPECT_EQ(ConvertSampleWidth(8, copy, 8, 3, in), 3);
  EXPECT_EQ(std::memcmp(copy, in, 3), 0);
}

TEST(SampleWidth, EightToSixteenInPlace) {
  uint8_t block[8] = {0, 128, 255, 64};
  EXPECT_EQ(ConvertSampleWidth(16, block, 8, 4, block), 8);
  int16_t v[4];
  std::memcpy(v, block, 8);
  EXPECT_EQ(v[0], -32768);
  EXPECT_EQ(v[1], 0);
  EXPECT_EQ(v[2], 32512);
  EXPECT_EQ(v[3], -16384);
}

TEST(Clipping, LimitsAndSetsIndicator) {
  SetClipIndicator(false);
  EXPECT_EQ(ClipTo16(1000), 1000);
  EXPECT_EQ(ClipTo8(-128), -128);
  EXPECT_FALSE(ClipIndicator());
  EXPECT_EQ(ClipTo16(40000), 32767);
  EXPECT_TRUE(ClipIndicator());
  SetClipIndicator(false);
  EXPECT_EQ(ClipTo16(-40000), -32768);
  EXPECT_TRUE(ClipIndicator());
  SetClipIndicator(false);
  EXPECT_EQ(ClipTo8(200), 127);
  EXPECT_TRUE(ClipIndicator());
  SetClipIndicator(false);
  EXPECT_EQ(ClipTo8(-129), -128);
  EXPECT_TRUE(ClipIndicator());
  // Nothing clears it but the caller.
  EXPECT_EQ(ClipTo8(0), 0);
  EXPECT_TRUE(ClipIndicator());
  SetClipIndicator(false);
}

TEST(PeakSamples, KeepsRawValueOfFirstLargestMagnitude) {
  const WAVEFORMATEX stereo = Pcm(16, 2, 8000);
  const auto data = Samples16({100, -5, -300, 7, 300, -9, 50, 9});
  int32_t first = 1, second = 1;
  FindPeakSamples(data.data(), static_cast<int32_t>(data.size()), &stereo, first, second);
  EXPECT_EQ(first, -300);  // the first of two equal magnitudes wins
  EXPECT_EQ(second, -9);

  const WAVEFORMATEX mono = Pcm(16, 1, 8000);
  FindPeakSamples(data.data(), static_cast<int32_t>(data.size()), &mono, first, second);
  EXPECT_EQ(first, -300);
  EXPECT_EQ(second, -300);
}

TEST(PeakSamples, EightBitMagnitudeAroundCentreAndSilence) {
  const WAVEFORMATEX mono = Pcm(8, 1, 8000);
  const uint8_t data[] = {128, 140, 100, 128};
  int32_t first = 0, second = 0;
  FindPeakSamples(data, 4, &mono, first, second);
  EXPECT_EQ(first, 100);  // |100-128| = 28 beats |140-128| = 12
  const uint8_t silence[] = {128, 128, 128};
  FindPeakSamples(silence, 3, &mono, first, second);
  EXPECT_EQ(first, 0);  // an all-centre block reports 0, not 128
  EXPECT_EQ(second, 0);
}

TEST(PeakSamples, ScansWholeFramesOnly) {
  const WAVEFORMATEX stereo = Pcm(16, 2, 8000);
  const auto data = Samples16({1, 2, 30000, 4});
  int32_t first = 0, second = 0;
  // Six bytes: the second frame is incomplete and ignored.
  FindPeakSamples(data.data(), 6, &stereo, first, second);
  EXPECT_EQ(first, 1);
  EXPECT_EQ(second, 2);
}

TEST(TriggerPoint, NoModeOrEmptyBlock) {
  const WAVEFORMATEX mono = Pcm(16, 1, 8000);
  const auto data = Samples16({-1000, 1000, 1000, 1000});
  EXPECT_EQ(FindTriggerPoint(&mono, data.data(), 8, 1, 0, 0), -1);
  EXPECT_EQ(FindTriggerPoint(&mono, data.data(), 0, 1, 1, 0), -1);
}

TEST(TriggerPoint, RisingAndFallingSixteenBitMono) {
  const WAVEFORMATEX mono = Pcm(16, 1, 8000);
  const auto silence = Samples16(std::vector<int16_t>(64, 0));
  EXPECT_EQ(FindTriggerPoint(&mono, silence.data(), 128, 1, 1, 0), -1);

  const auto step = Samples16({-1000, -1000, -1000, 1000, 1000, 1000});
  EXPECT_EQ(FindTriggerPoint(&mono, step.data(), 12, 1, 1, 0), 6);
  // Falling with level 1 % looks for a crossing of -327: none here.
  EXPECT_EQ(FindTriggerPoint(&mono, step.data(), 12, 1, 2, 0), -1);
  const auto down = Samples16({1000, 1000, -1000, -1000, -1000});
  EXPECT_EQ(FindTriggerPoint(&mono, down.data(), 10, 1, 2, 0), 4);
}

TEST(TriggerPoint, TheFinalPairIsNotTested) {
  const WAVEFORMATEX mono = Pcm(16, 1, 8000);
  const auto late = Samples16({-1000, -1000, -1000, 1000});
  EXPECT_EQ(FindTriggerPoint(&mono, late.data(), 8, 1, 1, 0), -1);
  const auto earlier = Samples16({-1000, -1000, 1000, 1000});
  EXPECT_EQ(FindTriggerPoint(&mono, earlier.data(), 8, 1, 1, 0), 4);
}

TEST(TriggerPoint, EightBitThresholdAroundCentre) {
  const WAVEFORMATEX mono = Pcm(8, 1, 8000);
  // Level 50 %: 50 * 127 / 100 = 63 -> threshold 191.
  const uint8_t data[] = {128, 190, 191, 200, 200};
  EXPECT_EQ(FindTriggerPoint(&mono, data, 5, 50, 1, 0), 2);
  // Falling at 50 %: level -50 -> -63 + 128 = 65.
  const uint8_t fall[] = {128, 66, 65, 60, 60};
  EXPECT_EQ(FindTriggerPoint(&mono, fall, 5, 50, 2, 0), 2);
}

TEST(TriggerPoint, StereoChannelSelection) {
  const WAVEFORMATEX stereo = Pcm(16, 2, 8000);
  // Frames: (L, R). The right channel crosses between frames 0 and 1, the
  // left one between frames 1 and 2.
  const auto data = Samples16({-1000, -1000, -1000, 1000, 1000, 1000, 1000, 1000, 0, 0});
  const int32_t bytes = static_cast<int32_t>(data.size());
  EXPECT_EQ(FindTriggerPoint(&stereo, data.data(), bytes, 1, 1, 0), 6);  // frame 1, right
  EXPECT_EQ(FindTriggerPoint(&stereo, data.data(), bytes, 1, 1, 2), 6);
  EXPECT_EQ(FindTriggerPoint(&stereo, data.data(), bytes, 1, 1, 1), 8);  // frame 2, left
  // Mono data ignores the channel selection.
  const WAVEFORMATEX mono = Pcm(16, 1, 8000);
  const auto m = Samples16({-1000, 1000, 1000});
  EXPECT_EQ(FindTriggerPoint(&mono, m.data(), 6, 1, 1, 2), 2);
}

TEST(TriggerPoint, LevelIsClampedToPercentRange) {
  const WAVEFORMATEX mono = Pcm(16, 1, 8000);
  // 250 % would put the threshold out of reach; it is taken as 100 % = 32700.
  const auto data = Samples16({0, 32767, 32767});
  EXPECT_EQ(FindTriggerPoint(&mono, data.data(), 6, 250, 1, 0), 2);
}

TEST(Silence, FillByte) {
  WAVEFORMATEX f = Pcm(8, 1, 8000);
  EXPECT_EQ(SilenceByte(&f), 128);
  f = Pcm(16, 1, 8000);
  EXPECT_EQ(SilenceByte(&f), 0);
  EXPECT_EQ(SilenceByte(nullptr), 0);
}

}  // namespace
}  // namespace tv
