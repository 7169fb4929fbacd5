// The wave file component as a chain source (silence, looping, start
// position) and as a writer (create, append, empty recordings, a disk that
// fills up, also from a driver thread).
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>

#include <atomic>
#include <string>
#include <thread>

#include "ChainHelpers.h"
#include "MMDispatch.h"
#include "TMMWaveFile.h"
#include "TestFiles.h"

namespace tv {
namespace {

using test::Buffer;
using test::Bytes;
using test::FrameSource;
using test::TempDir;
using test::TestDriver;

Bytes Pattern(size_t n) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(i * 11 + 5);
  return b;
}

struct SourceChain {
  TempDir dir;
  TMMWaveFile file{"WavePlayer"};
  TestDriver driver;
  Bytes data;
  explicit SourceChain(size_t bytes, int bits = 16) : data(Pattern(bytes)) {
    test::WriteAll(dir.File("s.wav"), test::PcmWave(static_cast<uint16_t>(bits), 1, 8000, data));
    driver.SetInput(&file);
    driver.SetBufferSize(1000);
  }
};

TEST(WaveFileSource, LoadingPassesTheFormatDownTheChain) {
  SourceChain c(100);
  int changes = 0, changed = 0;
  c.file.OnChange = [&](TMMDSPComponent* s) {
    EXPECT_EQ(s, &c.file);
    ++changes;
  };
  c.file.OnChanged = [&](TMMDSPComponent*) { ++changed; };
  c.file.Wave().SetFileName(c.dir.File("s.wav"));
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(changed, 1);
  ASSERT_NE(c.driver.PWaveFormat(), nullptr);
  EXPECT_EQ(c.driver.PWaveFormat()->nSamplesPerSec, 8000u);
  EXPECT_EQ(c.file.BlockAlign(), 2);
  EXPECT_EQ(c.file.Time(), 6);  // 50 samples at 8 kHz
  c.file.Wave().SetFileName("");
  EXPECT_EQ(c.driver.PWaveFormat(), nullptr);
}

TEST(WaveFileSource, DeliversTheFileThenStops) {
  SourceChain c(2500);
  c.file.SetFileName(c.dir.File("s.wav"));
  int opened = 0, closed = 0;
  c.file.OnOpen = [&](TMMDSPComponent*) { ++opened; };
  c.file.OnClose = [&](TMMDSPComponent*) { ++closed; };
  c.driver.Open();
  c.driver.Start();
  EXPECT_EQ(opened, 1);
  Buffer b(4096);
  Bytes got;
  bool more = true;
  while (more) {
    more = c.driver.Pull(b);
    const Bytes d = b.Data();
    got.insert(got.end(), d.begin(), d.end());
  }
  EXPECT_EQ(got, c.data);
  c.driver.Stop();
  c.driver.Close();
  EXPECT_EQ(closed, 1);
  EXPECT_FALSE(c.file.FileOpen());
  c.driver.Close();
  EXPECT_EQ(closed, 1);
}

TEST(WaveFileSource, SilenceWhenNotStartedOrDisabledAndNothingWhenEmpty) {
  SourceChain c(300, 8);
  Buffer b(4096);
  EXPECT_FALSE(c.driver.Pull(b));  // no file: empty
  EXPECT_EQ(b.Header()->dwBytesRecorded, 0u);
  c.file.SetFileName(c.dir.File("s.wav"));
  c.driver.Open();
  EXPECT_TRUE(c.driver.Pull(b));
  EXPECT_EQ(b.Data(), Bytes(1000, 128));
  c.driver.Start();
  c.file.SetEnabled(false);
  EXPECT_TRUE(c.driver.Pull(b));
  EXPECT_EQ(b.Data(), Bytes(1000, 128));
  c.file.SetEnabled(true);
  c.driver.Pull(b);
  EXPECT_EQ(b.Data(), c.data);
  c.driver.Close();
}

TEST(WaveFileSource, StartsAtThePositionSetBeforeOpening) {
  SourceChain c(2000);
  c.file.SetFileName(c.dir.File("s.wav"));
  c.file.Wave().SetTimeFormat(tfMillisecond);
  c.file.SetPosition(100);  // 800 samples, byte 1600
  EXPECT_EQ(c.file.Position(), 100);
  c.driver.Open();
  c.driver.Start();
  Buffer b(4096);
  EXPECT_FALSE(c.driver.Pull(b));
  EXPECT_EQ(b.Data(), Bytes(c.data.begin() + 1600, c.data.end()));
  EXPECT_EQ(c.file.PositionMs(), 125);
  c.file.SetPositionMs(50);
  EXPECT_EQ(c.file.Wave().SamplePosition(), 400);
  c.driver.Close();
}

TEST(WaveFileSource, LoopingWrapsAsOftenAsTheBufferAsks) {
  SourceChain c(1000);
  c.file.SetFileName(c.dir.File("s.wav"));
  int loops = 0;
  c.file.OnLooping = [&](TMMDSPComponent*) { ++loops; };
  c.driver.Open();
  c.driver.Start();
  Buffer b(4096);
  // LoopCount 2 with the counter at 2: wraps at the first two ends.
  for (int pass = 0; pass < 2; ++pass) {
    b.Reset(1000);
    b.Header()->LoopEnabled = -1;
    b.Header()->LoopCount = 2;
    b.Header()->LoopCounter = 2 - pass;
    bool more = false;
    c.driver.BufferLoad(b.Header(), more);
    EXPECT_TRUE(more);
    EXPECT_EQ(b.Header()->LoopRestarted, -1);
    EXPECT_EQ(b.Header()->LoopCounter, 1 - pass);
  }
  b.Reset(1000);
  b.Header()->LoopEnabled = -1;
  b.Header()->LoopCount = 2;
  b.Header()->LoopCounter = 0;
  bool more = false;
  c.driver.BufferLoad(b.Header(), more);
  EXPECT_FALSE(more);
  EXPECT_EQ(b.Header()->LoopRestarted, 0);
  EXPECT_EQ(loops, 2);
  // LoopCount 0 loops without end.
  c.file.SetPosition(0);
  for (int i = 0; i < 5; ++i) EXPECT_TRUE(c.driver.Pull(b, true, 0));
  EXPECT_EQ(loops, 7);
  EXPECT_EQ(b.Data(), c.data);
  c.driver.Close();
}

struct WriterChain {
  TempDir dir;
  FrameSource source;
  TMMWaveFile writer{"Writer"};
  TestDriver driver;
  WriterChain() {
    auto f = MakePcmFormat(16, 2, 44100);
    source.SetPWaveFormat(f.get());
    writer.SetInput(&source);
    driver.SetInput(&writer);
    driver.SetBufferSize(4096);
    writer.Wave().SetFileMustExist(false);
  }
};

TEST(WaveFileWriter, StoresWhatPassesThroughIntoANewFile) {
  WriterChain c;
  c.source.Bytes = Pattern(10000);
  test::WriteAll(c.dir.File("rec.wav"), test::PcmWave(8, 1, 8000, Bytes(123, 1)));
  c.writer.SetFileName(c.dir.File("rec.wav"));
  c.driver.Open();
  c.driver.Start();
  Buffer b(4096);
  while (c.driver.Pull(b)) {
  }
  c.driver.Stop();
  c.driver.Close();
  TMMWave back;
  back.SetFileName(c.dir.File("rec.wav"));
  back.OpenFile();
  Bytes got(10000);
  EXPECT_EQ(back.ReadData(got.data(), 10000), 10000);
  EXPECT_EQ(got, c.source.Bytes);
}

TEST(WaveFileWriter, AnEmptyRecordingLeavesFourZeroBytes) {
  WriterChain c;
  c.writer.SetFileName(c.dir.File("e.wav"));
  c.driver.Open();
  c.driver.Start();
  c.driver.Close();
  const Bytes file = test::ReadAll(c.dir.File("e.wav"));
  ASSERT_EQ(file.size(), 48u);
  EXPECT_EQ(test::Get32(file, 40), 4u);
  EXPECT_EQ(test::Get32(file, 44), 0u);
}

TEST(WaveFileWriter, AppendsWhenItMustNotOverwrite) {
  WriterChain c;
  const std::string path = c.dir.File("a.wav");
  auto f = MakePcmFormat(16, 2, 44100);
  test::WriteAll(path, test::PcmWave(16, 2, 44100, Bytes(400, 7)));
  c.writer.SetOverwriteExisting(false);
  c.writer.SetFileName(path);
  c.source.Bytes = Bytes(800, 9);
  c.driver.Open();
  c.driver.Start();
  Buffer b(4096);
  c.driver.Pull(b);
  c.driver.Close();
  TMMWave back;
  back.SetFileName(path);
  back.SetTimeFormat(tfByte);
  EXPECT_EQ(back.DataSize(), 1200);
  const Bytes file = test::ReadAll(path);
  EXPECT_EQ(file[44 + 399], 7);
  EXPECT_EQ(file[44 + 400], 9);
  EXPECT_EQ(file.size(), 44u + 1200);
}

TEST(WaveFileWriter, RefusesToAppendAnotherFormat) {
  WriterChain c;
  const std::string path = c.dir.File("m.wav");
  const Bytes old = test::PcmWave(8, 1, 8000, Bytes(400, 7));
  test::WriteAll(path, old);
  c.writer.SetOverwriteExisting(false);
  c.writer.SetFileName(path);
  try {
    c.driver.Open();
    FAIL();
  } catch (const EMMWaveError& e) {
    EXPECT_EQ(std::string(e.what()), "The wave format differs from the file to append to");
  }
  EXPECT_EQ(test::ReadAll(path), old);
}

TEST(WaveFileWriter, ClosesItselfWhenTheDiskIsFull) {
  WriterChain c;
  c.source.Bytes = Pattern(4096 * 5);
  c.writer.SetFileName(c.dir.File("full.wav"));
  int closed = 0;
  c.writer.OnClose = [&](TMMDSPComponent*) { ++closed; };
  int asked = 0;
  SetDiskFreeFunction([&](const std::filesystem::path&) -> int64_t {
    return ++asked <= 2 ? int64_t{1} << 40 : 40000;
  });
  c.driver.Open();
  c.driver.Start();
  Buffer b(4096);
  for (int i = 0; i < 5; ++i) c.driver.Pull(b);
  SetDiskFreeFunction(nullptr);
  EXPECT_EQ(asked, 3);
  EXPECT_EQ(closed, 1);
  EXPECT_FALSE(c.writer.FileOpen());
  c.driver.Close();
  EXPECT_EQ(closed, 1);
  TMMWave back;
  back.SetFileName(c.dir.File("full.wav"));
  back.SetTimeFormat(tfByte);
  EXPECT_EQ(back.DataSize(), 8192);
}

// The last bytes of a writer reach the disk when it closes; if they cannot,
// the close says so instead of passing the file for complete, and the file
// keeps what did reach the disk.
TEST(WaveFileWriter, AFileThatCannotBeFinishedIsReportedAtClose) {
  WriterChain c;
  c.source.Bytes = Pattern(4096 * 2);
  c.writer.SetFileName(c.dir.File("short.wav"));
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  c.driver.Open();
  c.driver.Start();
  Buffer b(4096);
  for (int i = 0; i < 2; ++i) c.driver.Pull(b);
  rlimit small = old;
  small.rlim_cur = 2000;  // fails exactly as a full disk does
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  std::string message;
  try {
    c.driver.Close();
  } catch (const EMMWaveError& e) {
    message = e.what();
  }
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_EQ(message, "Error writing wave file");
  EXPECT_FALSE(c.writer.FileOpen());
  TMMWave back;
  back.SetFileName(c.dir.File("short.wav"));
  back.SetTimeFormat(tfByte);
  EXPECT_EQ(back.DataSize(), 1956);  // 2000 bytes minus the header, in whole frames
}

// A driver whose thread pushes buffers down to the writer.
class PushThread : public TMMDSPThread {
 public:
  PushThread(TMMCustomSoundComponent* owner, std::function<void()> body)
      : TMMDSPThread(owner), body_(std::move(body)) {}
  ~PushThread() override { WaitFor(); }

 protected:
  void Execute() override { body_(); }

 private:
  std::function<void()> body_;
};

TEST(WaveFileWriter, EventsFromADriverThreadRunOnTheMainThread) {
  LoopDispatcher loop;
  SetMainDispatcher(&loop);
  TempDir dir;
  TestDriver input("Input");
  TMMWaveFile writer("Writer");
  writer.Wave().SetFileMustExist(false);
  auto f = MakePcmFormat(16, 1, 8000);
  input.SetPWaveFormat(f.get());
  writer.SetInput(&input);
  writer.SetFileName(dir.File("t.wav"));
  std::thread::id openedOn, closedOn;
  writer.OnOpen = [&](TMMDSPComponent*) { openedOn = std::this_thread::get_id(); };
  writer.OnClose = [&](TMMDSPComponent*) { closedOn = std::this_thread::get_id(); };
  std::atomic<int> pushed{0};
  SetDiskFreeFunction([&](const std::filesystem::path&) -> int64_t {
    return pushed.load() < 3 ? int64_t{1} << 40 : 0;
  });
  input.Open();
  input.Start();
  std::atomic<bool> done{false};
  PushThread worker(&input, [&] {
    Buffer b(1000);
    for (int i = 0; i < 6; ++i) {
      b.Reset(1000);
      std::memset(b.Header()->lpData, i + 1, 1000);
      b.Header()->dwBytesRecorded = 1000;
      input.BufferReady(b.Header());
      ++pushed;
    }
    done = true;
  });
  worker.Resume();
  EXPECT_TRUE(loop.RunUntil([&] { return done.load(); }, std::chrono::seconds(20)));
  worker.WaitFor();
  SetDiskFreeFunction(nullptr);
  input.Close();
  EXPECT_EQ(openedOn, std::this_thread::get_id());
  EXPECT_EQ(closedOn, std::this_thread::get_id());
  SetMainDispatcher(nullptr);
  TMMWave back;
  back.SetFileName(dir.File("t.wav"));
  back.SetTimeFormat(tfByte);
  EXPECT_EQ(back.DataSize(), 3000);
}

TEST(WaveFileInfoQueries, FilterExtensionAndFileChecks) {
  TempDir dir;
  TMMWaveFile file;
  EXPECT_EQ(file.FileFilter(), "Wave Files(*.wav)|*.wav");
  EXPECT_EQ(file.DefaultExtension(), "*.wav");
  const Bytes wave = test::PcmWave(16, 2, 44100, Bytes(44100 * 4, 0));
  test::WriteAll(dir.File("a.WAV"), wave);
  test::WriteAll(dir.File("noext"), wave);
  test::WriteAll(dir.File("a.mp3"), wave);
  test::WriteAll(dir.File("b.wav"), Bytes(100, 0));
  EXPECT_TRUE(file.CanOpenFile(dir.File("a.WAV")));
  EXPECT_TRUE(file.CanOpenFile(dir.File("noext")));
  EXPECT_FALSE(file.CanOpenFile(dir.File("a.mp3")));
  EXPECT_FALSE(file.CanOpenFile(dir.File("b.wav")));
  EXPECT_FALSE(file.CanOpenFile(dir.File("missing.wav")));
  TMMFileInfo info;
  ASSERT_TRUE(file.GetFileInfo(dir.File("a.WAV"), info));
  EXPECT_EQ(info.FileType, ftWave);
  EXPECT_EQ(info.Length, 1000);
  EXPECT_EQ(info.FileName, "a.WAV");
  EXPECT_EQ(info.Channels, 2);
  EXPECT_FALSE(file.GetFileInfo(dir.File("b.wav"), info));
}

}  // namespace
}  // namespace tv
