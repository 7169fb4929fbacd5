// The codec service: G.711 against the recommendation's values, IMA and
// Microsoft ADPCM against sox's decoding of the same files, the PCM stages,
// and the audio file source decoding through it.
#include "MMACMCvt.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "../wavefile/ChainHelpers.h"
#include "TMMAudioFile.h"
#include "TMMWave.h"
#include "RunProcess.h"
#include "TMMCodecConversionProvider.h"
#include "TestFiles.h"

namespace tv {
namespace {

using test::Bytes;
using test::TempDir;

Bytes Fmt(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits, uint16_t align,
          const Bytes& extra = {}) {
  Bytes b;
  test::Put16(b, tag);
  test::Put16(b, channels);
  test::Put32(b, rate);
  test::Put32(b, rate * align);
  test::Put16(b, align);
  test::Put16(b, bits);
  test::Put16(b, static_cast<uint16_t>(extra.size()));
  b.insert(b.end(), extra.begin(), extra.end());
  return b;
}

Bytes WaveFile(const Bytes& fmt, const Bytes& data) {
  return test::RiffBuilder().Chunk("fmt ", fmt).Chunk("data", data).Build();
}

WaveFormatPtr FormatOf(const Bytes& fmt) {
  WaveFormatPtr f = AllocWaveFormat(std::max<size_t>(fmt.size(), 18));
  std::memcpy(f.get(), fmt.data(), fmt.size());
  return f;
}

std::vector<int16_t> Samples(const Bytes& b) {
  std::vector<int16_t> s(b.size() / 2);
  for (size_t i = 0; i < s.size(); ++i) s[i] = static_cast<int16_t>(test::Get16(b, 2 * i));
  return s;
}

// Everything the audio file source delivers for a file.
Bytes ReadThroughAudioFile(const std::string& name, WaveFormatPtr* format = nullptr) {
  TMMAudioFile audio;
  test::TestDriver driver;
  driver.SetInput(&audio);
  driver.SetBufferSize(4096);
  audio.SetFileName(name);
  if (format != nullptr) *format = CopyWaveFormat(audio.PWaveFormat());
  driver.Open();
  driver.Start();
  Bytes all;
  test::Buffer b(8192);
  for (int guard = 0; guard < 100000; ++guard) {
    const bool more = driver.Pull(b);
    const Bytes got = b.Data();
    all.insert(all.end(), got.begin(), got.end());
    if (!more) break;
  }
  driver.Close();
  return all;
}

Bytes WaveData(const std::string& name) {
  TMMWave w;
  w.SetTimeFormat(tfByte);
  w.SetFileName(name);
  w.OpenFile();
  Bytes data(static_cast<size_t>(w.DataSize()));
  const int32_t n = w.ReadData(data.data(), static_cast<int32_t>(data.size()));
  data.resize(static_cast<size_t>(std::max(n, 0)));
  return data;
}

void Sox(const std::vector<std::string>& args) {
  const test::ProcessResult r = test::RunProcess("/usr/bin/sox", args);
  ASSERT_EQ(r.exitCode, 0) << r.err;
}

// A test signal with fast and slow movement, so that the adaptive step of
// the ADPCM coders runs through its range.
std::vector<int16_t> Signal(int frames, int channels) {
  std::mt19937 rng(7);
  std::normal_distribution<double> noise(0, 900);
  std::vector<int16_t> s;
  for (int i = 0; i < frames; ++i) {
    const double t = i / 8000.0;
    const double env = 0.5 + 0.5 * std::sin(2 * M_PI * 1.3 * t);
    for (int c = 0; c < channels; ++c) {
      const double v = env * 20000 * std::sin(2 * M_PI * (300 + 900 * c + 2000 * t) * t) + noise(rng);
      s.push_back(static_cast<int16_t>(std::clamp(v, -32768.0, 32767.0)));
    }
  }
  return s;
}

TEST(G711, ExpansionMatchesTheRecommendationsValues) {
  // Known points of the expansion tables, 16-bit linear.
  const std::vector<std::pair<uint8_t, int16_t>> mu = {
      {0x00, -32124}, {0x80, 32124}, {0x7F, 0}, {0xFF, 0}, {0x7E, -8}, {0xFE, 8}, {0x70, -120}, {0xEF, 132}};
  const std::vector<std::pair<uint8_t, int16_t>> a = {
      {0xD5, 8}, {0x55, -8}, {0xAA, 32256}, {0x2A, -32256}, {0xD4, 24}, {0xC5, 264}};
  for (auto [tag, table] : {std::pair{WAVE_FORMAT_MULAW, mu}, std::pair{WAVE_FORMAT_ALAW, a}}) {
    Bytes codes;
    for (auto [code, value] : table) codes.push_back(code);
    auto src = FormatOf(Fmt(tag, 1, 8000, 8, 1));
    auto conv = OpenConversion(src.get(), SuggestPcm(src.get()).get(), 256);
    std::vector<uint8_t> out;
    conv->Convert(codes, out);
    const std::vector<int16_t> s = Samples(out);
    ASSERT_EQ(s.size(), table.size());
    for (size_t i = 0; i < table.size(); ++i) {
      EXPECT_EQ(s[i], table[i].second) << "tag " << tag << " code " << int{table[i].first};
    }
  }
}

TEST(G711, AllCodesDecodeAsSoxDecodesThemThroughTheAudioFileSource) {
  TempDir dir;
  Bytes codes;
  for (int i = 0; i < 512; ++i) codes.push_back(static_cast<uint8_t>(i));
  for (auto [tag, name] : {std::pair<uint16_t, const char*>{WAVE_FORMAT_MULAW, "u.wav"},
                           std::pair<uint16_t, const char*>{WAVE_FORMAT_ALAW, "a.wav"}}) {
    test::WriteAll(dir.File(name), WaveFile(Fmt(tag, 1, 8000, 8, 1), codes));
    Sox({dir.File(name), "-e", "signed-integer", "-b", "16", dir.File(std::string("sox_") + name)});
    WaveFormatPtr f;
    const Bytes ours = ReadThroughAudioFile(dir.File(name), &f);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->wFormatTag, WAVE_FORMAT_PCM);
    EXPECT_EQ(f->wBitsPerSample, 16);
    EXPECT_EQ(f->nSamplesPerSec, 8000u);
    EXPECT_EQ(ours, WaveData(dir.File(std::string("sox_") + name))) << name;
  }
}

class AdpcmAgainstSox : public ::testing::TestWithParam<std::tuple<const char*, int>> {};

TEST_P(AdpcmAgainstSox, DecodesBitExactly) {
  const auto [encoding, channels] = GetParam();
  TempDir dir;
  const std::vector<int16_t> signal = Signal(20011, channels);
  test::WriteAll(dir.File("pcm.wav"), test::PcmWave(16, static_cast<uint16_t>(channels), 8000, test::Le16(signal)));
  Sox({dir.File("pcm.wav"), "-e", encoding, dir.File("adpcm.wav")});
  Sox({dir.File("adpcm.wav"), "-e", "signed-integer", "-b", "16", dir.File("sox.wav")});
  WaveFormatPtr f;
  const Bytes ours = ReadThroughAudioFile(dir.File("adpcm.wav"), &f);
  const Bytes theirs = WaveData(dir.File("sox.wav"));
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->nChannels, channels);
  // sox ends at the true sample count; the last block may carry padding.
  ASSERT_GE(ours.size(), theirs.size());
  EXPECT_LT(ours.size() - theirs.size(), 2048u * static_cast<size_t>(channels));
  EXPECT_TRUE(std::equal(theirs.begin(), theirs.end(), ours.begin()));
  // And it is audio, not noise: close to what was encoded.
  const std::vector<int16_t> s = Samples(ours);
  double err = 0, power = 0;
  for (size_t i = 0; i < signal.size(); ++i) {
    err += std::pow(s[i] - signal[i], 2);
    power += std::pow(signal[i], 2);
  }
  EXPECT_GT(10 * std::log10(power / err), 15.0);
}

INSTANTIATE_TEST_SUITE_P(Codecs, AdpcmAgainstSox,
                         ::testing::Values(std::tuple{"ima-adpcm", 1}, std::tuple{"ima-adpcm", 2},
                                           std::tuple{"ms-adpcm", 1}, std::tuple{"ms-adpcm", 2}));

TEST(Conversion, DataSplitAnywhereGivesTheSameResult) {
  TempDir dir;
  test::WriteAll(dir.File("pcm.wav"), test::PcmWave(16, 2, 8000, test::Le16(Signal(4000, 2))));
  Sox({dir.File("pcm.wav"), "-e", "ms-adpcm", dir.File("ms.wav")});
  TMMWave w;
  w.SetFileName(dir.File("ms.wav"));
  const Bytes data = WaveData(dir.File("ms.wav"));
  auto target = MakePcmFormat(16, 1, 11025);
  auto whole = OpenConversion(w.PWaveFormat(), target.get(), 0);
  auto pieces = OpenConversion(w.PWaveFormat(), target.get(), 0);
  std::vector<uint8_t> a, b;
  whole->Convert(data, a);
  for (size_t at = 0; at < data.size(); at += 7) {
    pieces->Convert(std::span<const uint8_t>(data).subspan(at, std::min<size_t>(7, data.size() - at)), b);
  }
  EXPECT_EQ(a, b);
  // 4000 frames at 8000 Hz (plus block padding) become about 5512 at 11025 Hz.
  EXPECT_NEAR(static_cast<double>(a.size()) / 2, 4000.0 * 11025 / 8000, 2048 * 11025.0 / 8000);
}

TEST(Conversion, WidePcmAndFloatBecomeSixteenBitsRoundedAndLimited) {
  Bytes s24 = {0x80, 0x34, 0x12, 0x7F, 0x34, 0x12, 0xFF, 0xFF, 0x7F, 0x00, 0x00, 0x80};
  auto f24 = FormatOf(Fmt(WAVE_FORMAT_PCM, 1, 48000, 24, 3));
  std::vector<uint8_t> out;
  OpenConversion(f24.get(), SuggestPcm(f24.get()).get(), 0)->Convert(s24, out);
  EXPECT_EQ(Samples(out), (std::vector<int16_t>{0x1235, 0x1234, 32767, -32768}));

  Bytes fl;
  for (float v : {0.5f, -0.25f, 1.5f, -2.0f, std::nanf("")}) {
    uint8_t raw[4];
    std::memcpy(raw, &v, 4);
    fl.insert(fl.end(), raw, raw + 4);
  }
  auto ff = FormatOf(Fmt(WAVE_FORMAT_IEEE_FLOAT, 1, 44100, 32, 4));
  out.clear();
  OpenConversion(ff.get(), SuggestPcm(ff.get()).get(), 0)->Convert(fl, out);
  EXPECT_EQ(Samples(out), (std::vector<int16_t>{16384, -8192, 32767, -32768, 0}));
}

TEST(Conversion, ChannelsAndRateAndWidthStages) {
  // Stereo 8 kHz to mono 16 kHz 8-bit: the mean of the channels, held level.
  auto src = MakePcmFormat(16, 2, 8000);
  auto dst = MakePcmFormat(8, 1, 16000);
  ASSERT_TRUE(CanConvert(src.get(), dst.get()));
  auto conv = OpenConversion(src.get(), dst.get(), 400);
  EXPECT_EQ(conv->SourceSize(), 400);
  std::vector<int16_t> frames;
  for (int i = 0; i < 100; ++i) {
    frames.push_back(12800);
    frames.push_back(-12800 + 2 * 6400);  // mean 6400
  }
  const Bytes in = test::Le16(frames);
  std::memcpy(conv->SourceBuffer(), in.data(), in.size());
  const int32_t n = conv->Convert(static_cast<int32_t>(in.size()));
  ASSERT_GT(n, 0);
  EXPECT_LE(n, conv->OutputSize());
  EXPECT_NEAR(n, 200, 2);
  for (int32_t i = 0; i < n; ++i) EXPECT_EQ(conv->OutputBuffer()[i], 6400 / 256 + 128) << i;
  EXPECT_EQ(conv->Convert(conv->SourceSize() + 1), -1);
}

TEST(Converter, DecodesItsInputAcrossPullsAndPausesInTheChain) {
  // IMA blocks fed by a source, decoded by the converter stage, pulled in
  // buffers that do not match the blocks, with a pause in the middle.
  test::FrameSource source;
  Bytes codes;
  for (int i = 0; i < 256 * 20; ++i) codes.push_back(static_cast<uint8_t>(i * 37 + i / 7));
  source.Bytes = codes;
  source.SetPWaveFormat(FormatOf(Fmt(WAVE_FORMAT_IMA_ADPCM, 1, 8000, 4, 256, {0xF9, 0x01})).get());
  TMMACMConverter converter;
  test::TestDriver driver;
  converter.SetInput(&source);
  driver.SetInput(&converter);
  ASSERT_NE(converter.PWaveFormat(), nullptr);
  EXPECT_EQ(converter.PWaveFormat()->wBitsPerSample, 16);
  EXPECT_EQ(converter.SourceFormat()->wFormatTag, WAVE_FORMAT_IMA_ADPCM);
  driver.SetBufferSize(1000);
  driver.Open();
  driver.Start();
  Bytes all;
  test::Buffer b(1000);
  for (int i = 0; i < 100; ++i) {
    const bool more = driver.Pull(b);
    const Bytes got = b.Data();
    all.insert(all.end(), got.begin(), got.end());
    if (i == 3) {
      driver.Pause();
      driver.Restart();
    }
    if (!more) break;
  }
  driver.Close();
  std::vector<uint8_t> expected;
  OpenConversion(source.PWaveFormat(), converter.PWaveFormat(), 0)->Convert(codes, expected);
  EXPECT_EQ(expected.size(), 20u * 505 * 2);
  EXPECT_EQ(all, expected);
}

TEST(Service, SuggestsPcmAndNamesWhatItCannotDecode) {
  auto pcm = MakePcmFormat(16, 2, 44100);
  EXPECT_TRUE(SameWaveFormat(SuggestPcm(pcm.get()).get(), pcm.get()));
  auto ima = FormatOf(Fmt(WAVE_FORMAT_IMA_ADPCM, 2, 8000, 4, 512, {0xF9, 0x01}));
  auto suggested = SuggestPcm(ima.get());
  ASSERT_NE(suggested, nullptr);
  EXPECT_EQ(suggested->wBitsPerSample, 16);
  EXPECT_EQ(suggested->nChannels, 2);
  EXPECT_EQ(suggested->nSamplesPerSec, 8000u);
  EXPECT_EQ(ConversionProblem(ima.get()), "");
  // 506 samples would not fit a 512-byte stereo block.
  auto badIma = FormatOf(Fmt(WAVE_FORMAT_IMA_ADPCM, 2, 8000, 4, 512, {0xFA, 0x01}));
  EXPECT_EQ(SuggestPcm(badIma.get()), nullptr);
  EXPECT_NE(ConversionProblem(badIma.get()).find("IMA ADPCM"), std::string::npos);
  auto gsm = FormatOf(Fmt(0x31, 1, 8000, 0, 65));
  EXPECT_EQ(SuggestPcm(gsm.get()), nullptr);
  EXPECT_FALSE(CanConvert(gsm.get(), pcm.get()));
  EXPECT_EQ(ConversionProblem(gsm.get()), "GSM 6.10");
  EXPECT_THROW(OpenConversion(gsm.get(), pcm.get(), 1024), EMMACMError);
  auto six = MakePcmFormat(16, 6, 48000);
  EXPECT_EQ(SuggestPcm(six.get())->nChannels, 6);  // plain PCM is left as it is
  auto f32six = FormatOf(Fmt(WAVE_FORMAT_IEEE_FLOAT, 6, 48000, 32, 24));
  EXPECT_EQ(SuggestPcm(f32six.get())->nChannels, 2);
}

TEST(Service, CorruptAdpcmBlocksDecodeToTheirLengthWithoutHarm) {
  std::mt19937 rng(3);
  Bytes junk(256 * 40);
  for (auto& b : junk) b = static_cast<uint8_t>(rng());
  auto ima = FormatOf(Fmt(WAVE_FORMAT_IMA_ADPCM, 1, 8000, 4, 256, {0xF9, 0x01}));
  auto ms = FormatOf(Fmt(WAVE_FORMAT_ADPCM, 1, 8000, 4, 256, {0xF4, 0x01, 0x07, 0x00, 0x00, 0x01, 0x00, 0x00,
                                                              0x00, 0x02, 0x00, 0xFF, 0x00, 0x00, 0x00, 0x00,
                                                              0xC0, 0x00, 0x40, 0x00, 0xF0, 0x00, 0x00, 0x00,
                                                              0xCC, 0x01, 0x30, 0xFF, 0x88, 0x01, 0x18, 0xFF}));
  // Blocks whose step only grows: a large starting step and codes of -8.
  for (size_t b = 0; b < 40; b += 3) {
    uint8_t* block = junk.data() + 256 * b;
    block[0] = 1;
    block[1] = 0xFF;
    block[2] = 0x7F;
    std::fill(block + 7, block + 256, uint8_t{0x88});
  }
  for (const WAVEFORMATEX* f : {ima.get(), ms.get()}) {
    std::vector<uint8_t> out;
    OpenConversion(f, SuggestPcm(f).get(), 0)->Convert(junk, out);
    const size_t spb = f->wFormatTag == WAVE_FORMAT_IMA_ADPCM ? 505 : 500;
    EXPECT_EQ(out.size(), 40 * spb * 2) << f->wFormatTag;
  }
}

TEST(Service, ExtensibleHeadersNameTheirSubFormat) {
  TempDir dir;
  Bytes extra;
  test::Put16(extra, 24);          // valid bits
  test::Put32(extra, 0x3);         // front left and right
  test::Put16(extra, WAVE_FORMAT_PCM);
  const uint8_t tail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
  extra.insert(extra.end(), tail, tail + 14);
  Bytes data;
  for (int i = 0; i < 100; ++i) {
    for (int32_t v : {0x100000, -0x100000}) {  // 4096 and -4096 in 16 bits
      data.push_back(static_cast<uint8_t>(v));
      data.push_back(static_cast<uint8_t>(v >> 8));
      data.push_back(static_cast<uint8_t>(v >> 16));
    }
  }
  test::WriteAll(dir.File("x.wav"), WaveFile(Fmt(WAVE_FORMAT_EXTENSIBLE, 2, 48000, 24, 6, extra), data));
  WaveFormatPtr f;
  const std::vector<int16_t> s = Samples(ReadThroughAudioFile(dir.File("x.wav"), &f));
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->wBitsPerSample, 16);
  ASSERT_EQ(s.size(), 200u);
  EXPECT_EQ(s[0], 4096);
  EXPECT_EQ(s[1], -4096);
}


// The connector hands whole buffers to the provider, larger than the
// codec's own source buffer: every byte must still come out, in order.
TEST(Service, TheConnectorsProviderConvertsBuffersLargerThanTheCodecsBlock) {
  auto src = FormatOf(Fmt(WAVE_FORMAT_MULAW, 1, 8000, 8, 1));
  TMMPcmConversionProvider& codec = CodecConversionProvider();
  WaveFormatPtr pcm = codec.SuggestPcm(src.get());
  ASSERT_TRUE(pcm);
  ASSERT_TRUE(codec.CanConvert(src.get(), pcm.get()));
  int32_t outputBytes = 0;
  auto conversion = codec.Open(src.get(), pcm.get(), 1000, outputBytes);
  ASSERT_TRUE(conversion);
  ASSERT_GE(outputBytes, 2000);

  // 0xFF and 0x7F are the two zeros; 0x80 and 0x00 full scale, each sign.
  Bytes codes;
  for (int i = 0; i < 1000; ++i) codes.push_back(i % 2 == 0 ? 0x80 : 0x00);
  std::vector<uint8_t> out(static_cast<size_t>(outputBytes));
  const int32_t n = conversion->Convert(codes.data(), 1000, out.data(), outputBytes);
  ASSERT_EQ(n, 2000);
  const std::vector<int16_t> s = Samples(Bytes(out.begin(), out.begin() + n));
  for (size_t i = 0; i < s.size(); ++i) ASSERT_EQ(s[i], i % 2 == 0 ? 32124 : -32124) << i;

  // A destination too small takes what fits and no more.
  std::vector<uint8_t> small(100, 0xEE);
  EXPECT_EQ(conversion->Convert(codes.data(), 1000, small.data(), 64), 64);
  EXPECT_EQ(small[64], 0xEE);

  WAVEFORMATEX unknown{};
  MakePcmFormat(unknown, 8, 1, 8000);
  unknown.wFormatTag = 0x31;  // GSM 6.10: not decoded here
  EXPECT_FALSE(codec.SuggestPcm(&unknown));
}

}  // namespace
}  // namespace tv
