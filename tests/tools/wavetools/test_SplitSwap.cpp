// Split and swap: every sample lands in the right file, unsuitable sources
// and cancelled runs leave nothing behind, names follow the extension rule.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "TMMWave.h"
#include "TestFiles.h"
#include "WaveSplitter.h"
#include "WaveSwapper.h"

namespace tv {
namespace {

using test::Bytes;
using test::TempDir;

std::vector<int16_t> Frames(int frames) {
  std::vector<int16_t> s;
  for (int i = 0; i < frames; ++i) {
    s.push_back(static_cast<int16_t>(i * 7 - 30000));          // left: a ramp
    s.push_back(static_cast<int16_t>(-(i * 13 % 60000) + 29999));  // right: another
  }
  return s;
}

Bytes Data(const std::string& name, WaveFormatPtr* format = nullptr) {
  TMMWave w;
  w.SetTimeFormat(tfByte);
  w.SetFileName(name);
  if (format != nullptr) *format = CopyWaveFormat(w.PWaveFormat());
  w.OpenFile();
  Bytes d(static_cast<size_t>(w.DataSize()));
  d.resize(static_cast<size_t>(std::max(w.ReadData(d.data(), static_cast<int32_t>(d.size())), 0)));
  return d;
}

size_t FilesIn(const TempDir& dir) {
  return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(dir.Path()),
                                           std::filesystem::directory_iterator()));
}

TEST(Split, EachChannelGoesExactlyToItsMonoFile) {
  TempDir dir;
  const std::vector<int16_t> s = Frames(10000);
  test::WriteAll(dir.File("talk.wav"), test::PcmWave(16, 2, 44100, test::Le16(s)));
  // An older result is replaced.
  test::WriteAll(dir.File("talk_L.wav"), Bytes(10, 1));
  WaveSplitter split;
  std::vector<int> progress;
  split.OnProgress = [&](int p, bool&) { progress.push_back(p); };
  const SplitOutcome o = split.Split(dir.File("talk.wav"));
  ASSERT_TRUE(o.valid);
  EXPECT_EQ(o.left, dir.File("talk_L.wav"));
  EXPECT_EQ(o.right, dir.File("talk_R.wav"));
  EXPECT_EQ(o.leftBytes, 20000);
  EXPECT_EQ(o.rightBytes, 20000);
  ASSERT_FALSE(progress.empty());
  EXPECT_EQ(progress.back(), 100);
  std::vector<int16_t> left, right;
  for (size_t i = 0; i < s.size(); i += 2) {
    left.push_back(s[i]);
    right.push_back(s[i + 1]);
  }
  WaveFormatPtr f;
  EXPECT_EQ(Data(o.left, &f), test::Le16(left));
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->nChannels, 1);
  EXPECT_EQ(f->wBitsPerSample, 16);
  EXPECT_EQ(f->nSamplesPerSec, 44100u);
  EXPECT_EQ(f->nAvgBytesPerSec, 88200u);  // half the source's
  EXPECT_EQ(Data(o.right), test::Le16(right));
  EXPECT_EQ(FilesIn(dir), 3u);  // no work files left
}

TEST(Split, OnlySixteenBitStereoPcmIsSplit) {
  TempDir dir;
  test::WriteAll(dir.File("a.wav"), test::PcmWave(8, 2, 8000, Bytes(400, 128)));
  test::WriteAll(dir.File("b.wav"), test::PcmWave(16, 1, 8000, Bytes(400, 0)));
  test::WriteAll(dir.File("c.wav"), test::RiffBuilder()
                                        .Chunk("fmt ", test::FmtBody(7, 2, 8000, 8))
                                        .Chunk("data", Bytes(400, 0xFF))
                                        .Build());
  WaveSplitter split;
  WaveSwapper swap;
  for (const char* name : {"a.wav", "b.wav", "c.wav"}) {
    EXPECT_FALSE(split.Split(dir.File(name)).valid) << name;
    EXPECT_FALSE(swap.Swap(dir.File(name)).valid) << name;
  }
  EXPECT_EQ(FilesIn(dir), 3u);
  EXPECT_THROW(split.Split(dir.File("missing.wav")), EMMWaveError);
}

TEST(Split, CancellingKeepsOlderResultsAndWritesNothing) {
  TempDir dir;
  test::WriteAll(dir.File("x.wav"), test::PcmWave(16, 2, 8000, test::Le16(Frames(30000))));
  test::WriteAll(dir.File("x_R.wav"), Bytes(10, 7));
  WaveSplitter split;
  split.OnProgress = [](int, bool& cancel) { cancel = true; };
  const SplitOutcome o = split.Split(dir.File("x.wav"));
  EXPECT_TRUE(o.cancelled);
  EXPECT_EQ(o.left, "");
  EXPECT_FALSE(std::filesystem::exists(dir.File("x_L.wav")));
  EXPECT_EQ(test::ReadAll(dir.File("x_R.wav")), Bytes(10, 7));
  EXPECT_EQ(FilesIn(dir), 2u);

  WaveSwapper swap;
  swap.OnProgress = [](int, bool& cancel) { cancel = true; };
  EXPECT_TRUE(swap.Swap(dir.File("x.wav")).cancelled);
  EXPECT_EQ(FilesIn(dir), 2u);
}

TEST(Swap, ExchangesTheChannelsAndTwiceGivesTheOriginalBack) {
  TempDir dir;
  const std::vector<int16_t> s = Frames(9001);
  test::WriteAll(dir.File("rec.wav"), test::PcmWave(16, 2, 22050, test::Le16(s)));
  WaveSwapper swap;
  const SwapOutcome once = swap.Swap(dir.File("rec.wav"));
  ASSERT_TRUE(once.valid);
  EXPECT_EQ(once.destination, dir.File("rec_Swap.wav"));
  EXPECT_EQ(once.bytes, 9001 * 4);
  std::vector<int16_t> swapped = s;
  for (size_t i = 0; i < swapped.size(); i += 2) std::swap(swapped[i], swapped[i + 1]);
  EXPECT_EQ(Data(once.destination), test::Le16(swapped));
  const SwapOutcome twice = swap.Swap(once.destination);
  EXPECT_EQ(twice.destination, dir.File("rec_Swap_Swap.wav"));
  EXPECT_EQ(test::ReadAll(twice.destination), test::ReadAll(dir.File("rec.wav")));
}

TEST(SplitSwapNames, OnlyTheExtensionAtTheEndIsReplaced) {
  EXPECT_EQ(WaveSplitter::LeftName("/d/data.wav.old/talk.wav"), "/d/data.wav.old/talk_L.wav");
  EXPECT_EQ(WaveSplitter::RightName("/d/data.wav.old/talk.wav"), "/d/data.wav.old/talk_R.wav");
  EXPECT_EQ(WaveSwapper::SwapName("/d/t.WAV"), "/d/t_Swap.WAV");
}

}  // namespace
}  // namespace tv
