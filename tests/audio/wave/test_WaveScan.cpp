// Loading wave files: the header scan, its repairs, and files that are
// broken or hostile in every place a header can be.
#include <gtest/gtest.h>

#include <string>

#include "TMMWave.h"
#include "TestFiles.h"

namespace tv {
namespace {

using test::Bytes;
using test::FmtBody;
using test::Le16;
using test::RiffBuilder;
using test::TempDir;

Bytes Ramp(size_t n) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(0x80 + (i % 7));
  return b;
}

struct Loaded {
  TempDir dir;
  TMMWave wave;
  std::string path;
  explicit Loaded(const Bytes& bytes) {
    path = dir.File("f.wav");
    test::WriteAll(path, bytes);
  }
  void Load() { wave.SetFileName(path); }
};

void ExpectInvalid(const Bytes& bytes, int line = __builtin_LINE()) {
  SCOPED_TRACE(line);
  Loaded l(bytes);
  try {
    l.Load();
    FAIL() << "loaded a broken file";
  } catch (const EMMWaveError& e) {
    EXPECT_EQ(std::string(e.what()), "Invalid wave file...");
  }
  EXPECT_EQ(l.wave.PWaveFormat(), nullptr);
}

TEST(WaveScan, DataLengthEndsAtTheNextChunkHeader) {
  Bytes list = {'I', 'N', 'F', 'O', 'I', 'N', 'A', 'M', 4, 0, 0, 0, 'a', 'b', 'c', 0};
  const Bytes file = RiffBuilder()
                         .Chunk("fmt ", FmtBody(1, 1, 8000, 16))
                         .Chunk("data", Ramp(800), 1000)
                         .Chunk("LIST", list)
                         .Build();
  Loaded l(file);
  l.wave.SetTimeFormat(tfByte);
  l.Load();
  EXPECT_EQ(l.wave.DataSize(), 800);
  EXPECT_EQ(l.wave.TotalSamples(), 400);
  // The chunk after the data is still read.
  EXPECT_EQ(l.wave.Info(FourCC("INAM")), "abc");
}

TEST(WaveScan, TruncatedDataRunsToTheEndOfTheFileInWholeFrames) {
  Bytes file = test::PcmWave(16, 2, 44100, Ramp(4000));
  file.resize(file.size() - 4000 + 1003);  // cut mid-frame
  Loaded l(file);
  l.wave.SetTimeFormat(tfByte);
  l.Load();
  EXPECT_EQ(l.wave.DataSize(), 1000);
  EXPECT_EQ(l.wave.TotalSamples(), 250);
}

TEST(WaveScan, ZeroOrHugeDataSizeTakesTheDataUpToTheEnd) {
  for (uint32_t claimed : {0u, 0xFFFFFFFFu, 0xFFFFFFF0u}) {
    const Bytes file = RiffBuilder()
                           .Chunk("fmt ", FmtBody(1, 1, 8000, 8))
                           .Chunk("data", Ramp(301), claimed, false)
                           .RiffSize(claimed == 0 ? 0 : 0xFFFFFFFF)
                           .Build();
    Loaded l(file);
    l.Load();
    EXPECT_EQ(l.wave.TotalSamples(), 301) << claimed;
  }
}

TEST(WaveScan, DataFollowedByChunksWithAnEmptySizeField) {
  const Bytes file = RiffBuilder()
                         .Chunk("fmt ", FmtBody(1, 1, 8000, 8))
                         .Chunk("data", Ramp(64), 0)
                         .Chunk("JUNK", Bytes(6, 0))
                         .Build();
  Loaded l(file);
  l.Load();
  EXPECT_EQ(l.wave.TotalSamples(), 64);
}

TEST(WaveScan, PcmHeaderIsRepaired) {
  const Bytes file = RiffBuilder()
                         .Chunk("fmt ", FmtBody(1, 2, 22050, 16, 12345, 3))
                         .Chunk("data", Ramp(400))
                         .Build();
  Loaded l(file);
  l.Load();
  const WAVEFORMATEX* f = l.wave.PWaveFormat();
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->nBlockAlign, 4);
  EXPECT_EQ(f->nAvgBytesPerSec, 88200u);
  // Frames of the repaired size, not of the stored one.
  EXPECT_EQ(l.wave.TotalSamples(), 100);
}

TEST(WaveScan, FactIsReplacedByTheCountTheDataGives) {
  Bytes fact;
  test::Put32(fact, 5);
  const Bytes file = RiffBuilder()
                         .Chunk("fmt ", FmtBody(1, 1, 8000, 16))
                         .Chunk("fact", fact)
                         .Chunk("data", Ramp(400))
                         .Build();
  Loaded l(file);
  l.Load();
  EXPECT_EQ(l.wave.TotalSamples(), 200);
}

TEST(WaveScan, ShortFmtLeavesTheRestZero) {
  // 14 bytes: no bits per sample, so a PCM record has no frame size.
  Bytes fmt = FmtBody(1, 1, 8000, 8);
  fmt.resize(14);
  ExpectInvalid(RiffBuilder().Chunk("fmt ", fmt).Chunk("data", Ramp(10)).Build());
  // A 16-byte non-PCM record has cbSize 0 and loads.
  const Bytes ok = RiffBuilder()
                       .Chunk("fmt ", FmtBody(6, 1, 8000, 8))
                       .Chunk("data", Ramp(100))
                       .Build();
  Loaded l(ok);
  l.Load();
  EXPECT_EQ(l.wave.FormatTag(), 6);
  EXPECT_EQ(l.wave.PWaveFormat()->cbSize, 0);
  EXPECT_EQ(l.wave.TotalSamples(), 100);
}

TEST(WaveScan, SecondChunksOfAKindEndTheScan) {
  Bytes list = {'I', 'N', 'F', 'O', 'I', 'A', 'R', 'T', 2, 0, 0, 0, 'x', 0};
  const Bytes file = RiffBuilder()
                         .Chunk("fmt ", FmtBody(1, 1, 8000, 8))
                         .Chunk("data", Ramp(10))
                         .Chunk("fmt ", FmtBody(1, 2, 44100, 16))
                         .Chunk("LIST", list)
                         .Build();
  Loaded l(file);
  l.Load();
  EXPECT_EQ(l.wave.PWaveFormat()->nChannels, 1);
  EXPECT_EQ(l.wave.Info(FourCC("IART")), "");
}

TEST(WaveScan, InfoKeepsOnlyTheStandardIdentifiersAndDispIsKept) {
  Bytes list = {'I', 'N', 'F', 'O'};
  for (const char* id : {"ICMT", "IXYZ"}) {
    list.insert(list.end(), id, id + 4);
    test::Put32(list, 3);
    list.insert(list.end(), {'h', 'i', 0, 0});
  }
  Bytes disp;
  test::Put32(disp, 1);
  disp.insert(disp.end(), {'t', 'e', 'x', 't', 0});
  const Bytes file = RiffBuilder()
                         .Chunk("fmt ", FmtBody(1, 1, 8000, 8))
                         .Chunk("LIST", list)
                         .Chunk("DISP", disp)
                         .Chunk("data", Ramp(10))
                         .Build();
  Loaded l(file);
  l.Load();
  EXPECT_EQ(l.wave.Info(FourCC("ICMT")), "hi");
  const auto entries = l.wave.DispEntries();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].Type, 1u);
  EXPECT_EQ(std::string(entries[0].Data.begin(), entries[0].Data.end()), "text");
}

TEST(WaveScan, BrokenFilesAreRefusedWithTheWaveError) {
  const Bytes good = test::PcmWave(16, 1, 8000, Ramp(100));
  // Not RIFF, not WAVE, empty, too short for the header.
  Bytes notRiff = good;
  notRiff[0] = 'X';
  ExpectInvalid(notRiff);
  ExpectInvalid(RiffBuilder("AVI ").Chunk("fmt ", FmtBody(1, 1, 8000, 8)).Build());
  ExpectInvalid({});
  ExpectInvalid(Bytes(good.begin(), good.begin() + 11));
  // Missing "fmt " or "data"; cut in every header.
  ExpectInvalid(RiffBuilder().Chunk("data", Ramp(10)).Build());
  ExpectInvalid(RiffBuilder().Chunk("fmt ", FmtBody(1, 1, 8000, 8)).Build());
  for (size_t cut = 12; cut < 44; ++cut) {
    SCOPED_TRACE(cut);
    ExpectInvalid(Bytes(good.begin(), good.begin() + static_cast<long>(cut)));
  }
  // Impossible formats that later arithmetic would divide by.
  ExpectInvalid(test::PcmWave(16, 0, 8000, Ramp(100)));
  ExpectInvalid(test::PcmWave(16, 1, 0, Ramp(100)));
  ExpectInvalid(test::PcmWave(0, 1, 8000, Ramp(100)));
  ExpectInvalid(RiffBuilder().Chunk("fmt ", FmtBody(2, 1, 8000, 4, 4000, 0)).Chunk("data", Ramp(10)).Build());
  ExpectInvalid(RiffBuilder().Chunk("fmt ", FmtBody(2, 1, 8000, 4, 0, 256)).Chunk("data", Ramp(10)).Build());
  // 65535 channels of 16 bits do not fit a 16-bit frame size.
  ExpectInvalid(test::PcmWave(16, 65535, 8000, Ramp(100)));
  // A rate whose byte rate overflows.
  ExpectInvalid(test::PcmWave(16, 2, 0xF0000000u, Ramp(100)));
}

TEST(WaveScan, NonPcmExtraBytesMustFitTheChunk) {
  Bytes fmt = FmtBody(0x11, 1, 8000, 4, 4055, 256);
  test::Put16(fmt, 40);  // cbSize beyond the chunk
  test::Put16(fmt, 0x1F9);
  ExpectInvalid(RiffBuilder().Chunk("fmt ", fmt).Chunk("data", Ramp(512)).Build());
  fmt.resize(16);
  test::Put16(fmt, 2);
  test::Put16(fmt, 0x1F9);
  Loaded l(RiffBuilder().Chunk("fmt ", fmt).Chunk("data", Ramp(512)).Build());
  l.Load();
  EXPECT_EQ(l.wave.PWaveFormat()->cbSize, 2);
  EXPECT_EQ(WaveFormatExtra(l.wave.PWaveFormat())[0], 0xF9);
}

TEST(WaveScan, ChunkSizesNear4GBAndOddPaddingDoNotHurt) {
  // A chunk before the data claiming almost 4 GB swallows the rest: no data.
  ExpectInvalid(RiffBuilder()
                    .Chunk("fmt ", FmtBody(1, 1, 8000, 8))
                    .Chunk("JUNK", Bytes(3, 1), 0xFFFFFFFE)
                    .Chunk("data", Ramp(10))
                    .Build());
  // Odd chunks with and without their pad byte.
  const Bytes padded = RiffBuilder()
                           .Chunk("fmt ", FmtBody(1, 1, 8000, 8))
                           .Chunk("odd ", Bytes(3, 7))
                           .Chunk("data", Ramp(11))
                           .Build();
  Loaded a(padded);
  a.Load();
  EXPECT_EQ(a.wave.TotalSamples(), 11);
  const Bytes unpadded = RiffBuilder()
                             .Chunk("fmt ", FmtBody(1, 1, 8000, 8))
                             .Chunk("data", Ramp(11), std::nullopt, false)
                             .Build();
  Loaded b(unpadded);
  b.Load();
  EXPECT_EQ(b.wave.TotalSamples(), 11);
}

TEST(WaveScan, RiffSizeBeyondTheFileIsCut) {
  const Bytes file = RiffBuilder()
                         .Chunk("fmt ", FmtBody(1, 1, 8000, 8))
                         .Chunk("data", Ramp(50))
                         .RiffSize(0x7FFFFFFF)
                         .Build();
  Loaded l(file);
  l.Load();
  EXPECT_EQ(l.wave.TotalSamples(), 50);
  EXPECT_EQ(l.wave.FileSize(), static_cast<int64_t>(file.size()));
}

TEST(WaveLoad, ReassigningTheSameNameReloadsOnlyAChangedFile) {
  TempDir dir;
  const std::string path = dir.File("a.wav");
  test::WriteAll(path, test::PcmWave(8, 1, 8000, Ramp(100)));
  TMMWave wave;
  int notified = 0;
  TMMObserver watcher;
  watcher.OnNotify = [&](void*, TMMObservable*, void* data) {
    EXPECT_EQ(data, &wave);
    ++notified;
  };
  wave.Observable().AddObserver(&watcher);
  wave.SetFileName(path);
  EXPECT_EQ(notified, 1);
  wave.SetFileName(path);
  EXPECT_EQ(notified, 1);
  test::WriteAll(path, test::PcmWave(8, 1, 8000, Ramp(200)));
  wave.SetFileName(path);
  EXPECT_EQ(notified, 2);
  EXPECT_EQ(wave.TotalSamples(), 200);
  wave.SetFileName("");
  EXPECT_EQ(notified, 3);
  EXPECT_EQ(wave.PWaveFormat(), nullptr);
  EXPECT_EQ(wave.Position(), -1);
  EXPECT_EQ(wave.FileSize(), 0);
  EXPECT_EQ(wave.DataSize(), 0);
}

TEST(WaveLoad, RelativeNamesAreExpanded) {
  TempDir dir;
  test::WriteAll(dir.File("r.wav"), test::PcmWave(8, 1, 8000, Ramp(10)));
  const auto cwd = std::filesystem::current_path();
  std::filesystem::current_path(dir.Path());
  TMMWave wave;
  wave.SetFileName("r.wav");
  std::filesystem::current_path(cwd);
  EXPECT_EQ(wave.FileName(), dir.File("r.wav"));
}

TEST(WaveLoad, FailedLoadsKeepTheCurrentWaveAndChooseTheirMessage) {
  TempDir dir;
  const std::string good = dir.File("good.wav");
  const std::string bad = dir.File("bad.wav");
  test::WriteAll(good, test::PcmWave(8, 1, 8000, Ramp(100)));
  test::WriteAll(bad, Bytes(100, 'x'));
  TMMWave wave;
  auto message = [&](const std::string& name) {
    try {
      wave.SetFileName(name);
    } catch (const EMMWaveError& e) {
      return std::string(e.what());
    }
    return std::string("no error");
  };
  EXPECT_EQ(message(bad), "Invalid wave file...");  // nothing loaded before
  wave.SetFileName(good);
  EXPECT_EQ(message(bad), "Error reading wave file");  // the loaded one still parses
  EXPECT_EQ(message(dir.File("missing.wav")), "Error reading wave file");
  EXPECT_EQ(wave.FileName(), good);
  EXPECT_EQ(wave.TotalSamples(), 100);
  test::WriteAll(good, Bytes(10, 'y'));
  EXPECT_EQ(message(bad), "Invalid wave file...");
}

TEST(WaveLoad, MissingFileIsAcceptedForWritingWhenItNeedNotExist) {
  TempDir dir;
  TMMWave wave;
  wave.SetFileMustExist(false);
  int notified = 0;
  TMMObserver watcher;
  watcher.OnNotify = [&](void*, TMMObservable*, void*) { ++notified; };
  wave.Observable().AddObserver(&watcher);
  wave.SetFileName(dir.File("new.wav"));
  EXPECT_EQ(wave.FileName(), dir.File("new.wav"));
  EXPECT_EQ(wave.PWaveFormat(), nullptr);
  EXPECT_TRUE(wave.Empty());
  EXPECT_EQ(notified, 1);
  // Without a format the read-only properties answer their defaults.
  EXPECT_EQ(wave.SampleRate(), 11025);
  EXPECT_EQ(wave.BitLength(), 0);
  EXPECT_EQ(wave.Mode(), mMono);
  EXPECT_EQ(wave.FormatString(), "Unknown");
}

}  // namespace
}  // namespace tv
