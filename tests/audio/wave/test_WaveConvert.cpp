// Converting a wave file to another PCM format: the frame table, the rate
// change by holding and dropping frames, and the failures that must leave
// the disk as it was.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TMMWave.h"
#include "TestFiles.h"

namespace tv {
namespace {

using test::Bytes;
using test::TempDir;

// Writes a file with the given frames and converts it; answers the data of
// the converted file.
Bytes Convert(const TempDir& dir, int bits, int channels, int rate, const Bytes& data, int toBits,
              int toChannels, int toRate) {
  const std::string src = dir.File("src.wav");
  const std::string dst = dir.File("dst.wav");
  test::WriteAll(src, test::PcmWave(static_cast<uint16_t>(bits), static_cast<uint16_t>(channels),
                                    static_cast<uint32_t>(rate), data));
  TMMWave wave;
  wave.SetFileName(src);
  auto target = MakePcmFormat(toBits, toChannels, toRate);
  wave.ConvertFile(dst, target.get());
  TMMWave out;
  out.SetFileName(dst);
  EXPECT_TRUE(SameWaveFormat(out.PWaveFormat(), target.get()));
  out.OpenFile();
  out.SetTimeFormat(tfByte);
  Bytes got(static_cast<size_t>(out.DataSize()));
  if (!got.empty()) out.ReadData(got.data(), static_cast<int32_t>(got.size()));
  return got;
}

Bytes Int16s(std::initializer_list<int> v) {
  std::vector<int16_t> s;
  for (int x : v) s.push_back(static_cast<int16_t>(x));
  return test::Le16(s);
}

TEST(WaveConvertFrames, EightBitSources) {
  TempDir dir;
  EXPECT_EQ(Convert(dir, 8, 1, 8000, {200, 0}, 8, 2, 8000), (Bytes{200, 200, 0, 0}));
  EXPECT_EQ(Convert(dir, 8, 1, 8000, {200, 0}, 16, 1, 8000), Int16s({18432, -32768}));
  EXPECT_EQ(Convert(dir, 8, 1, 8000, {255, 0}, 16, 2, 8000), Int16s({32512, 32512, -32768, -32768}));
  EXPECT_EQ(Convert(dir, 8, 2, 8000, {10, 251, 255, 254}, 8, 1, 8000), (Bytes{130, 254}));
  EXPECT_EQ(Convert(dir, 8, 2, 8000, {10, 251, 0, 0}, 16, 1, 8000), Int16s({512, -32768}));
  EXPECT_EQ(Convert(dir, 8, 2, 8000, {10, 251, 0, 0}, 16, 2, 8000),
            Int16s({-30208, 31488, -32768, -32768}));
}

TEST(WaveConvertFrames, SixteenBitSourcesTakeTheHighByteRoundingDown) {
  TempDir dir;
  // -1 gives 127 here, where the sample-width routine rounds it to 128.
  EXPECT_EQ(Convert(dir, 16, 1, 8000, Int16s({-1, -32768, 32767, 256}), 8, 1, 8000),
            (Bytes{127, 0, 255, 129}));
  EXPECT_EQ(Convert(dir, 16, 1, 8000, Int16s({-1, 300}), 8, 2, 8000), (Bytes{127, 127, 129, 129}));
  EXPECT_EQ(Convert(dir, 16, 1, 8000, Int16s({-5, 7}), 16, 2, 8000), Int16s({-5, -5, 7, 7}));
  EXPECT_EQ(Convert(dir, 16, 2, 8000, Int16s({-32768, 32767, 32767, 32767}), 8, 1, 8000),
            (Bytes{127, 255}));
  EXPECT_EQ(Convert(dir, 16, 2, 8000, Int16s({-32768, 32767}), 8, 2, 8000), (Bytes{0, 255}));
  // The mean without overflow, rounded down: (-1 + -2) / 2 is -2.
  EXPECT_EQ(Convert(dir, 16, 2, 8000, Int16s({-1, -2, 32767, 32767, -32768, -32768}), 16, 1, 8000),
            Int16s({-2, 32767, -32768}));
}

TEST(WaveConvertFrames, FourChannelsUseTheFirstPairAndRepeatItOnTheWayOut) {
  TempDir dir;
  EXPECT_EQ(Convert(dir, 16, 4, 8000, Int16s({1, 2, 3, 4, 5, 6, 7, 8}), 16, 2, 8000),
            Int16s({1, 2, 5, 6}));
  EXPECT_EQ(Convert(dir, 8, 2, 8000, {1, 2}, 8, 4, 8000), (Bytes{1, 2, 1, 2}));
  EXPECT_EQ(Convert(dir, 8, 1, 8000, {140}, 16, 4, 8000), Int16s({3072, 3072, 3072, 3072}));
}

TEST(WaveConvertRate, HalvingKeepsEverySecondFrameAndDoublingRepeatsEach) {
  TempDir dir;
  Bytes ten;
  for (uint8_t i = 0; i < 10; ++i) ten.push_back(static_cast<uint8_t>(100 + i));
  EXPECT_EQ(Convert(dir, 8, 1, 44100, ten, 8, 1, 22050), (Bytes{101, 103, 105, 107, 109}));
  const Bytes doubled = Convert(dir, 8, 1, 22050, ten, 8, 1, 44100);
  ASSERT_EQ(doubled.size(), 20u);
  for (size_t i = 0; i < 20; ++i) EXPECT_EQ(doubled[i], 100 + i / 2);
}

TEST(WaveConvertRate, FrameCountsPerSecond) {
  TempDir dir;
  // One second of 44.1 kHz 16-bit stereo keeps 8000 frames at 8 kHz 8-bit mono.
  EXPECT_EQ(Convert(dir, 16, 2, 44100, Bytes(44100 * 4, 0), 8, 1, 8000).size(), 8000u);
  // 8 kHz to 44.1 kHz repeats each frame 5 or 6 times; the accumulator that
  // starts half way leaves two frames of the last second unwritten.
  const Bytes up = Convert(dir, 16, 1, 8000, Bytes(8000 * 2 * 3, 1), 16, 2, 44100);
  EXPECT_EQ(up.size(), (3 * 44100 - 2) * 4u);
}

TEST(WaveConvert, SameFormatCopiesTheDataExactlyAndTheTags) {
  TempDir dir;
  const std::string src = dir.File("s.wav");
  auto f = MakePcmFormat(16, 2, 44100);
  Bytes data(44100 * 4 * 2 + 400);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7 + (i >> 9));
  {
    TMMWave w;
    w.CreateFile(src, f.get());
    w.SetInfo(FourCC("INAM"), "call");
    w.SetDispEntries({{1, {'h', 'i'}}});
    w.WriteData(data.data(), static_cast<int32_t>(data.size()));
    EXPECT_TRUE(w.CloseFile());
  }
  TMMWave wave;
  wave.SetFileName(src);
  std::vector<std::pair<int64_t, int64_t>> progress;
  wave.OnProgress = [&](TMMWave* sender, int64_t cur, int64_t total, bool&) {
    EXPECT_EQ(sender, &wave);
    progress.emplace_back(cur, total);
  };
  wave.ConvertFile(dir.File("d.wav"), f.get());
  ASSERT_EQ(progress.size(), 3u);  // one-second blocks
  EXPECT_EQ(progress[0].first, 176400);
  EXPECT_EQ(progress.back().first, static_cast<int64_t>(data.size()));
  EXPECT_EQ(progress.back().second, static_cast<int64_t>(data.size()));
  EXPECT_FALSE(wave.IsOpen());
  TMMWave out;
  out.SetFileName(dir.File("d.wav"));
  EXPECT_EQ(out.Info(FourCC("INAM")), "call");
  ASSERT_EQ(out.DispEntries().size(), 1u);
  const Bytes file = test::ReadAll(dir.File("d.wav"));
  EXPECT_TRUE(std::equal(data.begin(), data.end(), file.begin() + 44));
  EXPECT_EQ(test::Get32(file, 40), data.size());
}

TEST(WaveConvert, BadParametersAndFormatsAreRefused) {
  TempDir dir;
  auto target = MakePcmFormat(16, 2, 44100);
  TMMWave wave;
  auto message = [&](const std::string& name, const WAVEFORMATEX* f) {
    try {
      wave.ConvertFile(name, f);
    } catch (const EMMWaveError& e) {
      return std::string(e.what());
    }
    return std::string("no error");
  };
  EXPECT_EQ(message(dir.File("o.wav"), target.get()), "Invalid param passed!");
  test::WriteAll(dir.File("a.wav"), test::PcmWave(16, 1, 8000, Bytes(100, 0)));
  wave.SetFileName(dir.File("a.wav"));
  EXPECT_EQ(message("", target.get()), "Invalid param passed!");
  EXPECT_EQ(message(dir.File("o.wav"), nullptr), "Invalid param passed!");
  auto odd = MakePcmFormat(16, 3, 44100);
  EXPECT_EQ(message(dir.File("o.wav"), odd.get()), "This wave file is not valid for conversion");
  auto slow = MakePcmFormat(16, 2, 3000);
  EXPECT_EQ(message(dir.File("o.wav"), slow.get()), "This wave file is not valid for conversion");
  test::WriteAll(dir.File("law.wav"),
                 test::RiffBuilder().Chunk("fmt ", test::FmtBody(7, 1, 8000, 8)).Chunk("data", Bytes(10, 0)).Build());
  wave.SetFileName(dir.File("law.wav"));
  EXPECT_EQ(message(dir.File("o.wav"), target.get()), "This wave file is not valid for conversion");
  EXPECT_FALSE(std::filesystem::exists(dir.File("o.wav")));
}

// Files in a folder apart from the ones a test put there.
std::vector<std::string> Listing(const TempDir& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir.Path())) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(WaveConvert, CancelOrAFullDiskDeletesTheTemporaryFileAndKeepsTheTarget) {
  TempDir dir;
  test::WriteAll(dir.File("src.wav"), test::PcmWave(16, 1, 8000, Bytes(8000 * 2 * 4, 3)));
  const Bytes old = test::PcmWave(8, 1, 8000, Bytes(50, 0x80));
  test::WriteAll(dir.File("out.wav"), old);
  auto target = MakePcmFormat(16, 2, 44100);
  TMMWave wave;
  wave.SetFileName(dir.File("src.wav"));
  int calls = 0;
  wave.OnProgress = [&](TMMWave*, int64_t, int64_t, bool& cancel) { cancel = ++calls == 2; };
  try {
    wave.ConvertFile(dir.File("out.wav"), target.get());
    FAIL();
  } catch (const EMMWaveError& e) {
    EXPECT_EQ(std::string(e.what()), "Conversion aborted");
  }
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(Listing(dir), (std::vector<std::string>{"out.wav", "src.wav"}));
  EXPECT_EQ(test::ReadAll(dir.File("out.wav")), old);

  wave.OnProgress = nullptr;
  int asked = 0;
  SetDiskFreeFunction([&](const std::filesystem::path& p) -> int64_t {
    EXPECT_EQ(p, dir.Path());
    return ++asked < 3 ? int64_t{1} << 40 : 1000;
  });
  try {
    wave.ConvertFile(dir.File("out.wav"), target.get());
    FAIL();
  } catch (const EMMWaveError& e) {
    EXPECT_EQ(std::string(e.what()), "Unable to convert wave file");
  }
  SetDiskFreeFunction(nullptr);
  EXPECT_EQ(asked, 3);
  EXPECT_EQ(Listing(dir), (std::vector<std::string>{"out.wav", "src.wav"}));
  EXPECT_EQ(test::ReadAll(dir.File("out.wav")), old);
  // The source is closed and still usable.
  EXPECT_FALSE(wave.IsOpen());
  wave.ConvertFile(dir.File("out.wav"), target.get());
  TMMWave out;
  out.SetFileName(dir.File("out.wav"));
  EXPECT_EQ(out.TotalSamples(), 4 * 44100 - 2);
}

TEST(WaveConvert, ASourceCutShortEndsTheConversionWithoutPadding) {
  TempDir dir;
  const std::string src = dir.File("src.wav");
  Bytes data(8000 * 2);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i);
  test::WriteAll(src, test::PcmWave(16, 1, 8000, data));
  TMMWave wave;
  wave.SetFileName(src);
  std::filesystem::resize_file(src, 44 + 1000);
  auto same = MakePcmFormat(16, 1, 8000);
  wave.ConvertFile(dir.File("d.wav"), same.get());
  const Bytes file = test::ReadAll(dir.File("d.wav"));
  EXPECT_EQ(test::Get32(file, 40), 1000u);
  EXPECT_TRUE(std::equal(data.begin(), data.begin() + 1000, file.begin() + 44));
}

}  // namespace
}  // namespace tv
