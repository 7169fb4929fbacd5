// The MPEG reader on the decoder library: MP3s made at test time with lame
// decode to the source's length and shape, hostile files are refused or
// read without harm, and the program copes without the library.
#include "MMMPEG.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "../wavefile/ChainHelpers.h"
#include "TMMAudioFile.h"
#include "TMMWave.h"
#include "RunProcess.h"
#include "TestFiles.h"

namespace tv {
namespace {

using test::Bytes;
using test::TempDir;

std::vector<int16_t> Tones(int rate, int channels, double seconds) {
  std::vector<int16_t> s;
  const int frames = static_cast<int>(rate * seconds);
  for (int i = 0; i < frames; ++i) {
    const double t = static_cast<double>(i) / rate;
    for (int c = 0; c < channels; ++c) {
      const double v = 9000 * std::sin(2 * M_PI * (330 + 110 * c) * t) + 6000 * std::sin(2 * M_PI * 710 * t + c);
      s.push_back(static_cast<int16_t>(v));
    }
  }
  return s;
}

void Lame(const std::vector<std::string>& args) {
  std::vector<std::string> all = {"--quiet"};
  all.insert(all.end(), args.begin(), args.end());
  const test::ProcessResult r = test::RunProcess("/usr/bin/lame", all);
  ASSERT_EQ(r.exitCode, 0) << r.err;
}

struct Decoded {
  WaveFormatPtr format;
  std::vector<int16_t> samples;
  int64_t lengthMs = 0;
};

Decoded Decode(const std::string& name) {
  Decoded d;
  TMMAudioFile audio;
  test::TestDriver driver;
  driver.SetInput(&audio);
  driver.SetBufferSize(8192);
  audio.SetFileName(name);
  d.format = CopyWaveFormat(audio.PWaveFormat());
  d.lengthMs = audio.FileLength();
  driver.Open();
  driver.Start();
  test::Buffer b(8192);
  for (int guard = 0; guard < 200000; ++guard) {
    const bool more = driver.Pull(b);
    const Bytes got = b.Data();
    for (size_t i = 0; i + 1 < got.size(); i += 2) d.samples.push_back(static_cast<int16_t>(test::Get16(got, i)));
    if (!more) break;
  }
  driver.Close();
  return d;
}

// Best normalised correlation of b against a over small lags.
double Correlation(const std::vector<int16_t>& a, const std::vector<int16_t>& b, int channels, int maxLag) {
  double best = -1;
  const size_t fa = a.size() / static_cast<size_t>(channels), fb = b.size() / static_cast<size_t>(channels);
  for (int lag = -maxLag; lag <= maxLag; ++lag) {
    double ab = 0, aa = 0, bb = 0;
    for (size_t i = 0; i < fa; ++i) {
      const int64_t j = static_cast<int64_t>(i) + lag;
      if (j < 0 || static_cast<size_t>(j) >= fb) continue;
      for (int c = 0; c < channels; ++c) {
        const double x = a[i * static_cast<size_t>(channels) + static_cast<size_t>(c)];
        const double y = b[static_cast<size_t>(j) * static_cast<size_t>(channels) + static_cast<size_t>(c)];
        ab += x * y;
        aa += x * x;
        bb += y * y;
      }
    }
    if (aa > 0 && bb > 0) best = std::max(best, ab / std::sqrt(aa * bb));
  }
  return best;
}

struct Case {
  int rate;
  int channels;
  std::vector<std::string> mode;  // lame's rate control
  bool tagged;
};

class LameFiles : public ::testing::TestWithParam<Case> {};

TEST_P(LameFiles, DecodeToTheSourcesLengthAndShape) {
  const Case& c = GetParam();
  TempDir dir;
  const std::vector<int16_t> src = Tones(c.rate, c.channels, 1.5);
  test::WriteAll(dir.File("in.wav"), test::PcmWave(16, static_cast<uint16_t>(c.channels), static_cast<uint32_t>(c.rate),
                                                   test::Le16(src)));
  std::vector<std::string> args = c.mode;
  args.insert(args.end(), {"-m", c.channels == 1 ? "m" : "j", "--resample",
                           std::to_string(c.rate / 1000.0).substr(0, 6)});
  if (c.tagged) args.insert(args.end(), {"--tt", "Title", "--ta", "Artist", "--tg", "Speech"});
  args.insert(args.end(), {dir.File("in.wav"), dir.File("out.mp3")});
  Lame(args);

  const Decoded d = Decode(dir.File("out.mp3"));
  ASSERT_NE(d.format, nullptr);
  EXPECT_EQ(d.format->wFormatTag, WAVE_FORMAT_PCM);
  EXPECT_EQ(d.format->wBitsPerSample, 16);
  EXPECT_EQ(d.format->nChannels, c.channels);
  EXPECT_EQ(d.format->nSamplesPerSec, static_cast<uint32_t>(c.rate));
  const int frameSamples = c.rate >= 32000 ? 1152 : 576;
  const auto srcFrames = static_cast<int64_t>(src.size()) / c.channels;
  const auto outFrames = static_cast<int64_t>(d.samples.size()) / c.channels;
  EXPECT_LE(std::llabs(outFrames - srcFrames), frameSamples) << outFrames << " vs " << srcFrames;
  EXPECT_NEAR(static_cast<double>(d.lengthMs), 1500.0, 1000.0 * frameSamples / c.rate);
  EXPECT_GT(Correlation(src, d.samples, c.channels, 4), 0.99);

  TMMFileInfo info;
  ASSERT_TRUE(TMMMPEGFile::GetMpegFileInfo(dir.File("out.mp3"), true, info));
  EXPECT_EQ(info.FileType, ftMpeg);
  EXPECT_EQ(info.SampleRate, c.rate);
  EXPECT_EQ(info.FileName, "out.mp3");
  if (c.tagged) {
    EXPECT_EQ(info.Title, "Title");
    EXPECT_EQ(info.Artist, "Artist");
    EXPECT_EQ(info.Genre, "Speech");
  } else {
    EXPECT_EQ(info.Title, "");
  }
}

INSTANTIATE_TEST_SUITE_P(
    RatesModes, LameFiles,
    ::testing::Values(Case{8000, 1, {"-b", "24"}, true}, Case{16000, 1, {"-V", "5"}, false},
                      Case{22050, 2, {"-b", "64"}, false}, Case{44100, 2, {"-V", "2"}, true},
                      Case{48000, 2, {"-b", "128"}, false}));

struct Mp3Fixture : ::testing::Test {
  TempDir dir;
  std::string mp3;
  void SetUp() override {
    test::WriteAll(dir.File("in.wav"), test::PcmWave(16, 1, 22050, test::Le16(Tones(22050, 1, 1.0))));
    mp3 = dir.File("a.mp3");
    Lame({"-b", "64", dir.File("in.wav"), mp3});
  }
};

TEST_F(Mp3Fixture, HostileFilesAreRefusedOrReadWithoutHarm) {
  const Bytes good = test::ReadAll(mp3);
  // Not MPEG at all, empty, and text: refused with the source's message.
  test::WriteAll(dir.File("empty.mp3"), Bytes{});
  test::WriteAll(dir.File("text.mp3"), Bytes(5000, 'x'));
  std::mt19937 rng(11);
  Bytes noise(3000);
  for (auto& b : noise) b = static_cast<uint8_t>(rng() & 0x7F);  // no frame sync in 7-bit bytes
  test::WriteAll(dir.File("noise.mp3"), noise);
  for (const char* name : {"empty.mp3", "text.mp3", "noise.mp3"}) {
    EXPECT_FALSE(TMMMPEGFile::CanOpenMpegFile(dir.File(name))) << name;
    TMMAudioFile audio;
    try {
      audio.SetFileName(dir.File(name));
      ADD_FAILURE() << name;
    } catch (const EMMAudioFileError& e) {
      EXPECT_EQ(std::string(e.what()), "This is not a valid Audiofile");
    }
  }
  // Junk before the first frame is skipped.
  Bytes junk = noise;
  junk.insert(junk.end(), good.begin(), good.end());
  test::WriteAll(dir.File("junk.mp3"), junk);
  EXPECT_NEAR(static_cast<double>(Decode(dir.File("junk.mp3")).samples.size()), 22050.0, 1152.0);
  // An ID3 tag that claims far more than the file holds.
  Bytes id3 = {'I', 'D', '3', 3, 0, 0, 0x7F, 0x7F, 0x7F, 0x7F};
  id3.insert(id3.end(), good.begin(), good.end());
  test::WriteAll(dir.File("id3.mp3"), id3);
  if (TMMMPEGFile::CanOpenMpegFile(dir.File("id3.mp3"))) (void)Decode(dir.File("id3.mp3"));
  // A file cut in the middle decodes what is there.
  test::WriteAll(dir.File("cut.mp3"), Bytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(good.size() / 2)));
  const size_t cut = Decode(dir.File("cut.mp3")).samples.size();
  EXPECT_GT(cut, 22050u / 3);
  EXPECT_LT(cut, 22050u * 2 / 3);
  // Random damage inside the stream.
  Bytes damaged = good;
  for (size_t i = 400; i < damaged.size(); i += 97) damaged[i] = static_cast<uint8_t>(rng());
  test::WriteAll(dir.File("damaged.mp3"), damaged);
  (void)Decode(dir.File("damaged.mp3"));
}

TEST_F(Mp3Fixture, AWaveFileHoldingMpegLayerThreeIsAccepted) {
  const Bytes good = test::ReadAll(mp3);
  Bytes fmt = test::FmtBody(85, 1, 22050, 0, 8000, 1);
  const Bytes riff = test::RiffBuilder().Chunk("fmt ", fmt).Chunk("data", good).Build();
  test::WriteAll(dir.File("riff.mp3"), riff);
  EXPECT_TRUE(TMMMPEGFile::CanOpenMpegFile(dir.File("riff.mp3")));
  const Decoded d = Decode(dir.File("riff.mp3"));
  ASSERT_NE(d.format, nullptr);
  EXPECT_EQ(d.format->wFormatTag, WAVE_FORMAT_PCM);
  EXPECT_NEAR(static_cast<double>(d.samples.size()), 22050.0, 1152.0);
  // Plain PCM waves stay with the wave reader, and the reader keeps to its
  // extensions.
  EXPECT_FALSE(TMMMPEGFile::CanOpenMpegFile(dir.File("in.wav")));
  test::WriteAll(dir.File("riff.wav"), riff);
  EXPECT_FALSE(TMMMPEGFile::CanOpenMpegFile(dir.File("riff.wav")));
  test::WriteAll(dir.File("pcm.mp3"), test::ReadAll(dir.File("in.wav")));
  EXPECT_FALSE(TMMMPEGFile::CanOpenMpegFile(dir.File("pcm.mp3")));
}

TEST_F(Mp3Fixture, PositionsAndChannelModes) {
  TMMMPEGFile file;
  file.SetFileName(mp3);
  EXPECT_EQ(file.Layer(), 3);
  EXPECT_EQ(file.Version(), v2LSF);  // 22050 Hz is MPEG-2
  EXPECT_EQ(file.Mode(), smSingleChannel);
  EXPECT_NEAR(static_cast<double>(file.Time()), 1000.0, 60.0);
  test::TestDriver driver;
  driver.SetInput(&file);
  driver.SetBufferSize(4096);
  driver.Open();
  driver.Start();
  // 576 samples at 22050 Hz: about 26.1 ms a frame.
  file.SetPositionMs(522);
  EXPECT_EQ(file.Position(), 20);
  EXPECT_NEAR(static_cast<double>(file.PositionMs()), 522.0, 14.0);
  file.SetPosition(100000);  // past the end: clamped
  EXPECT_LE(file.Position(), file.Frames());
  EXPECT_THROW(file.SetChannelMode(cmLeft), EMMMpegError);
  driver.Close();
  file.SetChannelMode(cmDownMix);
  ASSERT_NE(file.PWaveFormat(), nullptr);
  EXPECT_EQ(file.PWaveFormat()->nChannels, 1);
}

TEST_F(Mp3Fixture, WithoutTheDecoderLibraryMp3sAreRefusedWithItsName) {
  const std::string real = MpegLibraryName();
  EXPECT_EQ(real, "libmpg123.so.0");
  SetMpegLibraryName("libtonvista-missing.so.0");
  EXPECT_FALSE(MpegDecoderAvailable());
  EXPECT_EQ(MpegLoadError(), "Unable to load libtonvista-missing.so.0");
  EXPECT_FALSE(TMMMPEGFile::CanOpenMpegFile(mp3));
  try {
    TMMMpeg decoder;
    ADD_FAILURE();
  } catch (const EMMMpegError& e) {
    EXPECT_EQ(std::string(e.what()), "Unable to load libtonvista-missing.so.0");
  }
  TMMAudioFile audio;
  EXPECT_THROW(audio.SetFileName(mp3), EMMAudioFileError);
  // Wave files are still read.
  audio.SetFileName(dir.File("in.wav"));
  EXPECT_NE(audio.Reader(), nullptr);
  SetMpegLibraryName(real);
  EXPECT_TRUE(MpegDecoderAvailable());
  EXPECT_EQ(MpegLoadError(), "");
}

}  // namespace
}  // namespace tv
