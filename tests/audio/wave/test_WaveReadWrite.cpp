// Reading by position in every time unit, writing new files and closing
// them with their trailing chunks, and appending to existing ones.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <string>
#include <sys/resource.h>

#include "TMMWave.h"
#include "TestFiles.h"

namespace tv {
namespace {

using test::Bytes;
using test::TempDir;

Bytes Pattern(size_t n, uint8_t seed = 1) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(seed + i * 13 + (i >> 8));
  return b;
}

// Offset of a chunk's header in a file, or npos.
size_t FindChunk(const Bytes& file, const char* id) {
  size_t pos = 12;
  while (pos + 8 <= file.size()) {
    if (std::equal(id, id + 4, file.begin() + static_cast<long>(pos))) return pos;
    pos += 8 + test::Get32(file, pos + 4) + (test::Get32(file, pos + 4) & 1);
  }
  return std::string::npos;
}

TEST(WaveRead, DataSizeInTheThreeTimeFormats) {
  TempDir dir;
  test::WriteAll(dir.File("s.wav"), test::PcmWave(16, 2, 44100, Bytes(44100 * 4, 0)));
  TMMWave wave;
  wave.SetFileName(dir.File("s.wav"));
  EXPECT_EQ(wave.TimeFormat(), tfSample);
  EXPECT_EQ(wave.DataSize(), 44100);
  wave.SetTimeFormat(tfByte);
  EXPECT_EQ(wave.DataSize(), 176400);
  wave.SetTimeFormat(tfMillisecond);
  EXPECT_EQ(wave.DataSize(), 1000);
  EXPECT_EQ(wave.Mode(), mStereo);
  EXPECT_EQ(wave.BitLength(), 16);
  EXPECT_EQ(wave.SampleRate(), 44100);
  EXPECT_EQ(wave.FormatString(), "PCM");
}

TEST(WaveRead, PositionsInEveryUnitReadFromTheRightByte) {
  TempDir dir;
  const Bytes data = Pattern(8000 * 2);  // one second of 16-bit mono
  test::WriteAll(dir.File("p.wav"), test::PcmWave(16, 1, 8000, data));
  TMMWave wave;
  wave.SetFileName(dir.File("p.wav"));
  wave.OpenFile();
  uint8_t buf[6];
  struct Case {
    TMMTimeFormats tf;
    int64_t pos;
    size_t byte;
  };
  for (const Case& c : {Case{tfSample, 100, 200}, Case{tfByte, 301, 302}, Case{tfMillisecond, 250, 4000}}) {
    wave.SetTimeFormat(c.tf);
    wave.SetPosition(c.pos);
    ASSERT_EQ(wave.ReadData(buf, 6), 6);
    EXPECT_TRUE(std::equal(buf, buf + 6, data.begin() + static_cast<long>(c.byte))) << c.tf;
    EXPECT_EQ(wave.BytesLeft(), static_cast<int64_t>(data.size() - c.byte - 6));
  }
  wave.SetTimeFormat(tfSample);
  wave.SetPosition(-10);
  EXPECT_EQ(wave.Position(), 0);
  wave.SetPosition(1'000'000);
  EXPECT_EQ(wave.Position(), 8000);
  EXPECT_EQ(wave.ReadData(buf, 6), -1);
}

TEST(WaveRead, ReadsToTheEndThenAnswersMinusOne) {
  TempDir dir;
  const Bytes data = Pattern(1000);
  test::WriteAll(dir.File("r.wav"), test::PcmWave(8, 1, 8000, data));
  TMMWave wave;
  wave.SetFileName(dir.File("r.wav"));
  uint8_t buf[300];
  EXPECT_EQ(wave.ReadData(buf, 300), -1);  // not opened
  wave.OpenFile();
  Bytes got;
  int32_t n;
  while ((n = wave.ReadData(buf, 300)) > 0) got.insert(got.end(), buf, buf + n);
  EXPECT_EQ(got, data);
  EXPECT_EQ(wave.Position(), 1000);
  EXPECT_TRUE(wave.CloseFile());
  EXPECT_EQ(wave.Position(), 0);
  EXPECT_EQ(wave.BytesLeft(), 0);
}

TEST(WaveRead, FileCutAfterLoadingEndsWithOneBlockOfFourZeroBytes) {
  TempDir dir;
  const std::string path = dir.File("c.wav");
  Bytes file = test::PcmWave(16, 1, 8000, Pattern(1000));
  test::WriteAll(path, file);
  TMMWave wave;
  wave.SetFileName(path);
  std::filesystem::resize_file(path, 44 + 400);
  wave.OpenFile();
  uint8_t buf[600];
  std::fill(std::begin(buf), std::end(buf), 0xAA);
  EXPECT_EQ(wave.ReadData(buf, 600), 400);
  std::fill(std::begin(buf), std::end(buf), 0xAA);
  EXPECT_EQ(wave.ReadData(buf, 600), 4);
  EXPECT_EQ(buf[0] | buf[1] | buf[2] | buf[3], 0);
  EXPECT_EQ(buf[4], 0xAA);
  EXPECT_EQ(wave.Position(), 500);
  EXPECT_EQ(wave.ReadData(buf, 600), -1);
  // A caller with room for less than four bytes gets no more than it has.
  wave.SetPosition(200);
  uint8_t two[2] = {0xAA, 0xAA};
  EXPECT_EQ(wave.ReadData(two, 2), 2);
}

class WaveWrite : public ::testing::TestWithParam<std::pair<int, int>> {};

TEST_P(WaveWrite, RoundTripsEveryPcmLayout) {
  const auto [bits, channels] = GetParam();
  TempDir dir;
  const std::string path = dir.File("w.wav");
  auto f = MakePcmFormat(bits, channels, 11025);
  const Bytes data = Pattern(static_cast<size_t>(f->nBlockAlign) * 1234, static_cast<uint8_t>(bits + channels));
  {
    TMMWave wave;
    wave.CreateFile(path, f.get());
    for (size_t at = 0; at < data.size(); at += 777) {
      const int32_t n = static_cast<int32_t>(std::min<size_t>(777, data.size() - at));
      ASSERT_EQ(wave.WriteData(data.data() + at, n), n);
    }
    EXPECT_EQ(wave.TotalSamples(), 1234);
    EXPECT_TRUE(wave.CloseFile());
    EXPECT_EQ(wave.FileSize(), 44 + static_cast<int64_t>(data.size()));
  }
  const Bytes file = test::ReadAll(path);
  EXPECT_EQ(test::Get32(file, 16), 16u);  // PCM "fmt " without cbSize
  EXPECT_EQ(test::Get32(file, 4), file.size() - 8);
  EXPECT_EQ(test::Get32(file, 40), data.size());
  EXPECT_EQ(FindChunk(file, "fact"), std::string::npos);
  TMMWave back;
  back.SetFileName(path);
  EXPECT_TRUE(SameWaveFormat(back.PWaveFormat(), f.get()));
  back.OpenFile();
  Bytes got(data.size() + 10);
  EXPECT_EQ(back.ReadData(got.data(), static_cast<int32_t>(got.size())), static_cast<int32_t>(data.size()));
  got.resize(data.size());
  EXPECT_EQ(got, data);
}

INSTANTIATE_TEST_SUITE_P(Layouts, WaveWrite,
                         ::testing::Values(std::pair{8, 1}, std::pair{8, 2}, std::pair{8, 4},
                                           std::pair{16, 1}, std::pair{16, 2}, std::pair{16, 4}));

TEST(WaveWriteFile, CreateNeedsANameAndAFormatAndReplacesAnExistingFile) {
  TempDir dir;
  const std::string path = dir.File("x.wav");
  auto f = MakePcmFormat(8, 1, 8000);
  TMMWave wave;
  wave.CreateFile("", f.get());
  wave.CreateFile(path, nullptr);
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_EQ(wave.WriteData("ab", 2), -1);
  test::WriteAll(path, Bytes(5000, 1));
  int notified = 0;
  TMMObserver watcher;
  watcher.OnNotify = [&](void*, TMMObservable*, void*) { ++notified; };
  wave.Observable().AddObserver(&watcher);
  wave.CreateFile(path, f.get());
  EXPECT_EQ(notified, 1);
  EXPECT_EQ(wave.FileName(), path);
  EXPECT_EQ(std::filesystem::file_size(path), 44u);
  EXPECT_TRUE(wave.Empty());
  // A folder of that name is not deleted.
  std::filesystem::create_directory(dir.File("d.wav"));
  EXPECT_THROW(wave.CreateFile(dir.File("d.wav"), f.get()), EMMWaveError);
  EXPECT_TRUE(std::filesystem::is_directory(dir.File("d.wav")));
  try {
    wave.CreateFile(dir.File("no/such/folder.wav"), f.get());
    FAIL();
  } catch (const EMMWaveError& e) {
    EXPECT_EQ(std::string(e.what()), "Unable to create wave file");
  }
}

TEST(WaveWriteFile, NonPcmFilesGetTheirWholeRecordAndAFactChunk) {
  TempDir dir;
  const std::string path = dir.File("a.wav");
  auto f = AllocWaveFormat(20);
  f->wFormatTag = 0x11;
  f->nChannels = 1;
  f->nSamplesPerSec = 8000;
  f->nAvgBytesPerSec = 4055;
  f->nBlockAlign = 256;
  f->wBitsPerSample = 4;
  f->cbSize = 2;
  WaveFormatExtra(f.get())[0] = 0xF9;
  WaveFormatExtra(f.get())[1] = 0x01;
  {
    TMMWave wave;
    wave.CreateFile(path, f.get());
    const Bytes blocks = Pattern(1024);
    wave.WriteData(blocks.data(), 1024);
    EXPECT_TRUE(wave.CloseFile());
  }
  const Bytes file = test::ReadAll(path);
  EXPECT_EQ(test::Get32(file, 16), 20u);
  EXPECT_EQ(test::Get16(file, 36), 2u);
  const size_t fact = FindChunk(file, "fact");
  ASSERT_NE(fact, std::string::npos);
  EXPECT_GT(fact, FindChunk(file, "data"));
  EXPECT_EQ(test::Get32(file, fact + 8), static_cast<uint32_t>(BytesToSamples(f.get(), 1024)));
  TMMWave back;
  back.SetFileName(path);
  EXPECT_TRUE(SameWaveFormat(back.PWaveFormat(), f.get()));
  back.SetTimeFormat(tfByte);
  EXPECT_EQ(back.DataSize(), 1024);
}

TEST(WaveWriteFile, InfoAndDisplayChunksFollowTheDataInTheirOrder) {
  TempDir dir;
  const std::string path = dir.File("i.wav");
  auto f = MakePcmFormat(8, 1, 8000);
  {
    TMMWave wave;
    wave.CreateFile(path, f.get());
    wave.SetInfo(FourCC("ISFT"), "Tonvista");
    wave.SetInfo(FourCC("IART"), "Me");
    wave.SetInfo(FourCC("INAM"), "");
    wave.SetDispEntries({{1, {'t', 'x', 't'}}, {8, {9, 9}}, {3, {1}}});
    wave.WriteData("abc", 3);
    EXPECT_TRUE(wave.CloseFile());
  }
  const Bytes file = test::ReadAll(path);
  const size_t data = FindChunk(file, "data");
  EXPECT_EQ(test::Get32(file, data + 4), 3u);
  EXPECT_EQ(file[data + 8 + 3], 0);  // pad byte after the odd data
  const size_t disp = FindChunk(file, "DISP");
  ASSERT_GT(disp, data);
  EXPECT_EQ(test::Get32(file, disp + 4), 8u);  // type + "txt" + zero
  const size_t list = FindChunk(file, "LIST");
  ASSERT_GT(list, disp);
  const std::string body(file.begin() + static_cast<long>(list + 8), file.end());
  EXPECT_EQ(body.substr(0, 4), "INFO");
  EXPECT_LT(body.find("IART"), body.find("ISFT"));
  EXPECT_EQ(body.find("INAM"), std::string::npos);
  EXPECT_EQ(test::Get32(file, 4), file.size() - 8);

  TMMWave back;
  back.SetFileName(path);
  EXPECT_EQ(back.TotalSamples(), 3);
  EXPECT_EQ(back.Info(FourCC("ISFT")), "Tonvista");
  const auto entries = back.DispEntries();
  ASSERT_EQ(entries.size(), 2u);  // type 3 is not written
  EXPECT_EQ(entries[1].Data, (Bytes{9, 9}));
}

TEST(WaveWriteFile, AppendingRecomputesSizesAndKeepsTheTrailingChunks) {
  TempDir dir;
  const std::string path = dir.File("a.wav");
  auto f = MakePcmFormat(16, 1, 8000);
  const Bytes first = Pattern(400, 3), second = Pattern(600, 9);
  {
    TMMWave wave;
    wave.CreateFile(path, f.get());
    wave.SetInfo(FourCC("ICMT"), "take one");
    wave.WriteData(first.data(), 400);
    EXPECT_TRUE(wave.CloseFile());
  }
  for (int round = 0; round < 2; ++round) {
    TMMWave wave;
    wave.SetFileName(path);
    wave.OpenFile();
    wave.SeekToEnd();
    EXPECT_EQ(wave.WriteData(second.data(), 600), 600);
    EXPECT_TRUE(wave.CloseFile());
  }
  TMMWave back;
  back.SetFileName(path);
  EXPECT_EQ(back.TotalSamples(), 800);
  EXPECT_EQ(back.Info(FourCC("ICMT")), "take one");
  back.OpenFile();
  Bytes got(1600);
  EXPECT_EQ(back.ReadData(got.data(), 1600), 1600);
  EXPECT_TRUE(std::equal(first.begin(), first.end(), got.begin()));
  EXPECT_TRUE(std::equal(second.begin(), second.end(), got.begin() + 1000));
  const Bytes file = test::ReadAll(path);
  EXPECT_EQ(test::Get32(file, 4), file.size() - 8);
  const std::string text(file.begin(), file.end());
  EXPECT_EQ(text.find("take one"), text.rfind("take one"));  // one INFO list
}

TEST(WaveWriteFile, OverwritingInsideTheDataKeepsItsLength) {
  TempDir dir;
  const std::string path = dir.File("o.wav");
  test::WriteAll(path, test::PcmWave(8, 1, 8000, Bytes(100, 0x80)));
  TMMWave wave;
  wave.SetFileName(path);
  wave.OpenFile();
  wave.SetPosition(10);
  EXPECT_EQ(wave.WriteData("zz", 2), 2);
  EXPECT_TRUE(wave.CloseFile());
  const Bytes file = test::ReadAll(path);
  EXPECT_EQ(test::Get32(file, 40), 100u);
  EXPECT_EQ(file[44 + 10], 'z');
  EXPECT_EQ(file[44 + 12], 0x80);
}

// A write that fails half way (here: the process's file size limit, which
// fails exactly as a full disk does) leaves a file that still loads and
// holds the data that reached the disk.
TEST(WaveWriteFile, WriteFailureLeavesAValidFile) {
  TempDir dir;
  const std::string path = dir.File("full.wav");
  auto f = MakePcmFormat(16, 2, 44100);
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  int64_t writtenOk = 0;
  {
    TMMWave wave;
    wave.CreateFile(path, f.get());
    wave.SetInfo(FourCC("ICMT"), "will not fit");
    rlimit small = old;
    small.rlim_cur = 100000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const Bytes block = Pattern(4096);
    for (int i = 0; i < 100; ++i) {
      if (wave.WriteData(block.data(), 4096) != 4096) break;
      writtenOk += 4096;
    }
    EXPECT_FALSE(wave.CloseFile());  // not everything reached the disk
    setrlimit(RLIMIT_FSIZE, &old);
  }
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_GT(writtenOk, 0);
  TMMWave back;
  back.SetFileName(path);
  back.SetTimeFormat(tfByte);
  EXPECT_GT(back.DataSize(), 90000);
  EXPECT_LE(back.DataSize(), 100000 - 44);
  EXPECT_EQ(back.DataSize() % 4, 0);
  const Bytes file = test::ReadAll(path);
  EXPECT_EQ(test::Get32(file, 4), file.size() - 8);
  EXPECT_EQ(test::Get32(file, 40), static_cast<uint32_t>(back.DataSize()));
}

// A file near the 4 GB the format can describe, made sparse so that it
// costs no disk space: sizes beyond 2 GB keep exact values, reading works
// at the far end, and a write that would overflow the RIFF size is refused.
TEST(WaveLarge, DataBeyondTwoGigabytes) {
  TempDir dir;
  const std::string path = dir.File("big.wav");
  const uint32_t dataBytes = 0xFFFFFFC0u;
  Bytes head = test::RiffBuilder().Chunk("fmt ", test::FmtBody(1, 2, 44100, 16)).Build();
  head.insert(head.end(), {'d', 'a', 't', 'a'});
  test::Put32(head, dataBytes);
  const uint32_t riff = static_cast<uint32_t>(head.size() - 8) + dataBytes;
  for (int i = 0; i < 4; ++i) head[4 + static_cast<size_t>(i)] = static_cast<uint8_t>(riff >> (8 * i));
  test::WriteAll(path, head);
  std::filesystem::resize_file(path, head.size() + dataBytes);
  {
    // The last frame carries a marker.
    std::FILE* f = std::fopen(path.c_str(), "r+b");
    ASSERT_NE(f, nullptr);
    std::fseek(f, static_cast<long>(head.size() + dataBytes - 4), SEEK_SET);
    std::fwrite("ENDS", 1, 4, f);
    std::fclose(f);
  }
  TMMWave wave;
  wave.SetFileName(path);
  EXPECT_EQ(wave.TotalSamples(), int64_t{dataBytes} / 4);
  wave.SetTimeFormat(tfByte);
  EXPECT_EQ(wave.DataSize(), int64_t{dataBytes});
  wave.SetTimeFormat(tfMillisecond);
  EXPECT_EQ(wave.DataSize(), (int64_t{dataBytes} / 4 * 1000 + 22050) / 44100);
  wave.SetTimeFormat(tfSample);
  wave.OpenFile();
  wave.SetPosition(wave.TotalSamples() - 1);
  EXPECT_EQ(wave.BytesLeft(), 4);
  char last[8] = {};
  EXPECT_EQ(wave.ReadData(last, 8), 4);
  EXPECT_EQ(std::string(last, 4), "ENDS");
  // Room is left for 24 more bytes: 20 of a longer write go in, then none.
  wave.SeekToEnd();
  EXPECT_EQ(wave.WriteData("abcd", 4), 4);
  const Bytes more(64, 1);
  EXPECT_EQ(wave.WriteData(more.data(), 64), 20);
  EXPECT_EQ(wave.WriteData(more.data(), 4), 0);
  EXPECT_TRUE(wave.CloseFile());
  const uint64_t size = std::filesystem::file_size(path);
  EXPECT_EQ(size, head.size() + dataBytes + 24);
  std::FILE* f = std::fopen(path.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  uint8_t riffField[4];
  ASSERT_EQ(std::fread(riffField, 1, 4, f), 4u);  // "RIFF"
  ASSERT_EQ(std::fread(riffField, 1, 4, f), 4u);
  std::fclose(f);
  EXPECT_EQ(test::Get32(Bytes(riffField, riffField + 4), 0), size - 8);
  TMMWave back;
  back.SetFileName(path);
  EXPECT_EQ(back.TotalSamples(), (int64_t{dataBytes} + 24) / 4);
}

TEST(WaveMisc, AssignTakesOverNameAndSettings) {
  TempDir dir;
  test::WriteAll(dir.File("a.wav"), test::PcmWave(8, 1, 8000, Pattern(80)));
  TMMWave a, b;
  a.SetTimeFormat(tfMillisecond);
  a.SetIOBufferSize(100);  // raised to the minimum
  EXPECT_EQ(a.IOBufferSize(), 8192);
  a.SetFileMustExist(false);
  a.SetFileName(dir.File("a.wav"));
  b.Assign(a);
  EXPECT_EQ(b.FileName(), a.FileName());
  EXPECT_EQ(b.TimeFormat(), tfMillisecond);
  EXPECT_EQ(b.IOBufferSize(), 8192);
  EXPECT_FALSE(b.FileMustExist());
  EXPECT_EQ(b.DataSize(), 10);
}

}  // namespace
}  // namespace tv
