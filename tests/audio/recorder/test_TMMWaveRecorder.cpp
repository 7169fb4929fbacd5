// The wave recorder on the virtual devices, with real files in a private
// folder: what it writes, what it passes on, how it ends, and what a failed
// recording leaves behind.
#include "TMMWaveRecorder.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <csignal>

#include "../devices/DeviceTestParts.h"
#include "MMNotice.h"
#include "MMWaveIO.h"
#include "TMMWaveOut.h"
#include "TestFiles.h"

namespace tv {
namespace {

using namespace test;

constexpr uint32_t kStereo16Rate = 44100;
constexpr uint32_t kBytesPerSecond = kStereo16Rate * 4;

// A wave file read by hand: valid when the RIFF size covers the file and
// the data chunk lies inside it, as a player expects.
struct ReadBack {
  bool valid = false;
  uint16_t channels = 0, bits = 0;
  uint32_t rate = 0;
  Bytes data;
};

ReadBack ReadWave(const std::string& name) {
  ReadBack r;
  if (!std::filesystem::exists(name)) return r;
  const Bytes b = ReadAll(name);
  if (b.size() < 12 || Get32(b, 4) + 8 != b.size()) return r;
  bool fmt = false;
  for (size_t at = 12; at + 8 <= b.size();) {
    const std::string id(b.begin() + static_cast<long>(at), b.begin() + static_cast<long>(at) + 4);
    const uint32_t size = Get32(b, at + 4);
    if (at + 8 + size > b.size()) return r;
    if (id == "fmt ") {
      r.channels = Get16(b, at + 10);
      r.rate = Get32(b, at + 12);
      r.bits = Get16(b, at + 22);
      fmt = true;
    } else if (id == "data") {
      r.data.assign(b.begin() + static_cast<long>(at) + 8,
                    b.begin() + static_cast<long>(at + 8 + size));
      r.valid = fmt;
      return r;
    }
    at += 8 + size + (size & 1);
  }
  return r;
}

std::vector<uint32_t> AsFrames(const Bytes& data) {
  std::vector<uint32_t> frames(data.size() / 4);
  if (!frames.empty()) std::memcpy(frames.data(), data.data(), frames.size() * 4);
  return frames;
}

// Files in the folder other than `keep`: leftovers of a recording.
std::vector<std::string> OtherFiles(const TempDir& dir, const std::vector<std::string>& keep) {
  std::vector<std::string> others;
  for (const auto& e : std::filesystem::directory_iterator(dir.Path())) {
    const std::string name = e.path().filename().string();
    if (std::find(keep.begin(), keep.end(), name) == keep.end()) others.push_back(name);
  }
  return others;
}

class WaveRecorderTest : public DeviceTest {
 protected:
  // 16-bit stereo at 44100 Hz, milliseconds, as the main window sets it.
  void Setup(TMMWaveRecorder& rec, TMMCBMode mode = cmThread,
             int device = TMMVirtualDevices::kSilenceIn) {
    rec.SetMode(mStereo);
    rec.SetBitLength(b16Bit);
    rec.SetSampleRate(static_cast<int>(kStereo16Rate));
    rec.SetBufferSize(4096);
    rec.SetNumBuffers(10);
    rec.SetDeviceID(device);
    rec.SetCallBackMode(mode);
    rec.SetTimeFormat(tfMillisecond);
    rec.OnStop = log.Recorder("stop");
    rec.OnError = log.Recorder("error");
  }
  bool WaitStopped(TMMWaveRecorder& rec) {
    return RunUntil([&] { return log.Count("stop") > 0 && rec.State() == wsClosed; });
  }

  TempDir dir;
  EventLog log;
};

TEST_F(WaveRecorderTest, RecordsWhatTheLoopbackPlaysAndPassesTheSameOn) {
  devices.SetSpeed(2);
  const std::string target = dir.File("take.wav");
  const Bytes earlier = PcmWave(16, 2, kStereo16Rate, Bytes(400, 7));
  WriteAll(target, earlier);

  FrameSource source;
  TMMWaveOut out("Out", devices);
  out.SetInput(&source);
  out.SetCallBackMode(cmThread);
  TMMWaveRecorder rec("Recorder", devices);
  Setup(rec, cmThread, TMMVirtualDevices::kLoopbackIn);
  Collector below;
  rec.SetOutput(&below);
  std::atomic<int> data{0};
  rec.OnData = [&](TMMDSPComponent*, PWaveHdr) { data.fetch_add(1); };
  rec.SetFileName(target);
  EXPECT_EQ(rec.Position(), 0);

  rec.Record();
  out.Start();
  ASSERT_TRUE(rec.Recording());
  ASSERT_TRUE(RunUntil([&] { return below.ByteCount() >= kBytesPerSecond; }));
  // The file it replaces stays whole until the recording is finished.
  EXPECT_EQ(ReadAll(target), earlier);
  const int64_t position = rec.Position();
  EXPECT_GE(position, 900);
  EXPECT_LE(position, 3000);
  rec.Stop();
  out.Close();
  EXPECT_EQ(log.Count("stop"), 1);
  EXPECT_EQ(rec.State(), wsClosed);
  EXPECT_EQ(rec.Position(), 0);

  const ReadBack file = ReadWave(target);
  ASSERT_TRUE(file.valid);
  EXPECT_EQ(file.channels, 2);
  EXPECT_EQ(file.bits, 16);
  EXPECT_EQ(file.rate, kStereo16Rate);
  // The file holds exactly what went on down the chain...
  EXPECT_EQ(file.data, below.Bytes());
  EXPECT_EQ(static_cast<size_t>(data.load()), below.Count());
  // ...and that is what was played, unbroken once the numbers arrive.
  const std::vector<uint32_t> frames = AsFrames(file.data);
  const size_t first = FindFrame(frames, 1);
  ASSERT_LT(first, frames.size());
  const std::vector<uint32_t> played(frames.begin() + static_cast<long>(first), frames.end());
  EXPECT_EQ(ContinuousUpTo(played), played.size());
  EXPECT_GT(played.size(), 30000u);
  EXPECT_EQ(rec.FileName(), std::filesystem::path(target).string());
  EXPECT_EQ(rec.Wave().TotalSamples(), static_cast<int64_t>(file.data.size() / 4));
  EXPECT_EQ(OtherFiles(dir, {"take.wav"}), std::vector<std::string>{});
  EXPECT_EQ(log.Count("error"), 0);
}

TEST_F(WaveRecorderTest, MaxRecordTimeEndsTheRecordingAfterExactlyThatMuchAudio) {
  int runs = 0;
  for (const TMMCBMode mode : {cmWindow, cmThread}) {
    SCOPED_TRACE(mode == cmWindow ? "window" : "thread");
    ++runs;
    EventLog events;
    TMMWaveRecorder rec("Recorder", devices);
    Setup(rec, mode);
    rec.OnStart = events.Recorder("start");
    rec.SetMaxRecordTime(5000);
    const std::string target = dir.File(mode == cmWindow ? "w.wav" : "t.wav");
    rec.SetFileName(target);
    rec.Record();
    ASSERT_TRUE(RunUntil([&] { return log.Count("stop") == runs && rec.State() == wsClosed; }));
    RunFor(50ms);
    EXPECT_EQ(log.Count("stop"), runs);
    EXPECT_EQ(events.Count("start"), 1);
    const ReadBack file = ReadWave(target);
    ASSERT_TRUE(file.valid);
    EXPECT_EQ(file.data.size(), 5 * kBytesPerSecond);
  }
}

TEST_F(WaveRecorderTest, AppendingKeepsTheFileAndCountsOnFromItsLength) {
  const std::string target = dir.File("long.wav");
  Bytes old(kBytesPerSecond / 2);  // 500 ms
  for (size_t i = 0; i < old.size(); ++i) old[i] = static_cast<uint8_t>(i * 7 + 1);
  WriteAll(target, PcmWave(16, 2, kStereo16Rate, old));
  TMMWaveRecorder rec("Recorder", devices);
  Setup(rec);
  Collector below;
  rec.SetOutput(&below);
  rec.SetOverwriteExisting(false);
  rec.SetFileName(target);
  rec.Record();
  ASSERT_TRUE(RunUntil([&] { return below.ByteCount() >= kBytesPerSecond / 10; }));
  // The position goes on from the file's length.
  EXPECT_GE(rec.Position(), 600);
  rec.Stop();
  const ReadBack file = ReadWave(target);
  ASSERT_TRUE(file.valid);
  ASSERT_GT(file.data.size(), old.size());
  EXPECT_TRUE(std::equal(old.begin(), old.end(), file.data.begin()));
  // The silence input added only zeros.
  EXPECT_TRUE(std::all_of(file.data.begin() + static_cast<long>(old.size()), file.data.end(),
                          [](uint8_t b) { return b == 0; }));
}

TEST_F(WaveRecorderTest, ANewFileNameWhileRecordingStopsItAndKeepsWhatWasRecorded) {
  TMMWaveRecorder rec("Recorder", devices);
  Setup(rec);
  Collector below;
  rec.SetOutput(&below);
  const std::string first = dir.File("first.wav");
  rec.SetFileName(first);
  EventLog changes;
  rec.OnChange = changes.Recorder("change");
  rec.Record();
  ASSERT_TRUE(RunUntil([&] { return below.ByteCount() >= kBytesPerSecond * 3 / 10; }));
  rec.SetFileName(dir.File("second.wav"));
  EXPECT_EQ(changes.Count("change"), 1);
  ASSERT_TRUE(WaitStopped(rec));
  EXPECT_EQ(rec.FileName(), dir.File("second.wav"));
  const ReadBack file = ReadWave(first);
  ASSERT_TRUE(file.valid);
  EXPECT_GE(file.data.size(), kBytesPerSecond * 3 / 10);
  EXPECT_FALSE(std::filesystem::exists(dir.File("second.wav")));
  EXPECT_EQ(OtherFiles(dir, {"first.wav"}), std::vector<std::string>{});
}

TEST_F(WaveRecorderTest, FormatPropertiesAndTheReadOnlyInputFormat) {
  std::vector<std::string> notices;
  SetInformationHandler(
      [&](const std::string&, const std::string& text) { notices.push_back(text); });
  TMMWaveRecorder rec("Recorder", devices);
  Setup(rec);
  // A format given to the recorder is what the input records.
  const WaveFormatPtr mono8 = MakePcmFormat(8, 1, 8000);
  rec.SetPWaveFormat(mono8.get());
  EXPECT_EQ(rec.SampleRate(), 8000);
  EXPECT_EQ(rec.Mode(), mMono);
  EXPECT_EQ(rec.BitLength(), b8Bit);
  EXPECT_TRUE(SameWaveFormat(rec.PWaveFormat(), mono8.get()));
  EXPECT_EQ(rec.InputFormat().rfind("PCM ", 0), 0u) << rec.InputFormat();
  EXPECT_NE(rec.InputFormat().find("8 Bit"), std::string::npos) << rec.InputFormat();
  EXPECT_NE(rec.InputFormat().find("Mono"), std::string::npos) << rec.InputFormat();
  EXPECT_TRUE(rec.StoredWaveFormat().empty());

  const std::string before = rec.InputFormat();
  rec.SetInputFormat("PCM 48 kHz");
  EXPECT_EQ(rec.InputFormat(), before);
  EXPECT_EQ(notices,
            std::vector<std::string>{"This is a read-only property, please use SelectFormat."});
  SetInformationHandler(nullptr);

  rec.SetTimeFormat(tfSample);
  EXPECT_EQ(rec.WaveIn().TimeFormat(), tfSample);
  EXPECT_EQ(rec.Wave().TimeFormat(), tfSample);

  // Without a file name there is nothing to record to.
  rec.Record();
  EXPECT_EQ(rec.State(), wsClosed);
  EXPECT_FALSE(rec.Wave().FileMustExist());
}

TEST_F(WaveRecorderTest, AStartThatFailsTouchesNothing) {
  TMMWaveRecorder rec("Recorder", devices);
  Setup(rec);
  rec.SetFileName(dir.File("missing/take.wav"));
  EXPECT_THROW(rec.Record(), EMMWaveError);
  EXPECT_EQ(rec.State(), wsClosed);
  EXPECT_EQ(OtherFiles(dir, {}), std::vector<std::string>{});

  // The file is created before the device reports itself open; a device
  // that never does leaves the earlier recording as it was.
  TMMVirtualFaults silent;
  silent.OpenNotifyDelayMs = -1;
  devices.SetInputFaults(silent);
  const std::string kept = dir.File("kept.wav");
  const Bytes before = PcmWave(16, 2, kStereo16Rate, Bytes(40, 5));
  WriteAll(kept, before);
  rec.SetFileName(kept);
  EXPECT_THROW(rec.Record(), EMMWaveInError);
  EXPECT_EQ(rec.State(), wsClosed);
  EXPECT_EQ(ReadAll(kept), before);
  EXPECT_EQ(OtherFiles(dir, {"kept.wav"}), std::vector<std::string>{});
  devices.SetInputFaults({});

  // Permissions bind everyone but the superuser.
  if (geteuid() != 0) {
    const std::filesystem::path locked = dir.Path() / "locked";
    std::filesystem::create_directory(locked);
    const std::string target = (locked / "take.wav").string();
    const Bytes earlier = PcmWave(16, 2, kStereo16Rate, Bytes(40, 3));
    WriteAll(target, earlier);
    std::filesystem::permissions(locked, std::filesystem::perms::owner_read |
                                             std::filesystem::perms::owner_exec);
    rec.SetFileName(target);
    try {
      rec.Record();
      ADD_FAILURE() << "recording into a read-only folder started";
    } catch (const EMMWaveError& e) {
      EXPECT_EQ(std::string(e.what()), "Unable to create wave file");
    }
    EXPECT_EQ(ReadAll(target), earlier);
    std::filesystem::permissions(locked, std::filesystem::perms::owner_all);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(locked),
                            std::filesystem::directory_iterator()),
              1);
  }
}

// The disk fills while recording: the recording stops, keeps what was
// stored, replaces the earlier file with a valid one and says why.
TEST_F(WaveRecorderTest, AFullDiskStopsTheRecordingWithAValidFileAndAReason) {
  const std::string target = dir.File("full.wav");
  WriteAll(target, PcmWave(16, 2, kStereo16Rate, Bytes(4000, 9)));
  std::atomic<int> asked{0};
  SetDiskFreeFunction([&](const std::filesystem::path&) -> int64_t {
    return asked.fetch_add(1) < 20 ? int64_t{1} << 40 : 1000;
  });
  TMMWaveRecorder rec("Recorder", devices);
  Setup(rec);
  Collector below;
  rec.SetOutput(&below);
  rec.SetFileName(target);
  rec.Record();
  ASSERT_TRUE(WaitStopped(rec));
  SetDiskFreeFunction(nullptr);
  RunFor(50ms);
  EXPECT_EQ(log.Count("error"), 1);
  const std::vector<std::string> messages = appErrors.Messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0], "The disk is full: the recording was stopped and saved up to this point");
  const ReadBack file = ReadWave(target);
  ASSERT_TRUE(file.valid);
  // Twenty buffers were stored before the disk was full.
  EXPECT_EQ(file.data.size(), 20u * 4096);
  const Bytes passed = below.Bytes();
  ASSERT_GE(passed.size(), file.data.size());
  EXPECT_TRUE(std::equal(file.data.begin(), file.data.end(), passed.begin()));
  EXPECT_EQ(OtherFiles(dir, {"full.wav"}), std::vector<std::string>{});
}

// Writes that really fail part-way (a file size limit stands in for a small
// disk): the file ends at the last whole frame that reached it.
TEST_F(WaveRecorderTest, AWriteThatFailsLeavesAFileEndingAtTheLastWholeFrame) {
  const std::string target = dir.File("limited.wav");
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  const auto previous = std::signal(SIGXFSZ, SIG_IGN);
  rlimit limited = old;
  constexpr rlim_t kLimit = 150001;  // not a whole frame past the header
  limited.rlim_cur = kLimit;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
  struct Restore {
    rlimit limit;
    void (*handler)(int);
    ~Restore() {
      setrlimit(RLIMIT_FSIZE, &limit);
      std::signal(SIGXFSZ, handler);
    }
  } restore{old, previous};

  TMMWaveRecorder rec("Recorder", devices);
  Setup(rec);
  Collector below;
  rec.SetOutput(&below);
  rec.SetFileName(target);
  rec.Record();
  ASSERT_TRUE(WaitStopped(rec));
  RunFor(50ms);
  EXPECT_EQ(log.Count("error"), 1);
  const std::vector<std::string> messages = appErrors.Messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0], "Error writing wave file");
  const ReadBack file = ReadWave(target);
  ASSERT_TRUE(file.valid);
  EXPECT_EQ(file.data.size() % 4, 0u);
  EXPECT_GT(file.data.size(), kLimit - 4096 * 10);
  EXPECT_LE(file.data.size(), kLimit - 44);
  const Bytes passed = below.Bytes();
  ASSERT_GE(passed.size(), file.data.size());
  EXPECT_TRUE(std::equal(file.data.begin(), file.data.end(), passed.begin()));
}

TEST_F(WaveRecorderTest, AThousandRecordAndStopCyclesLeaveOneValidFile) {
  TMMWaveRecorder rec("Recorder", devices);
  Setup(rec);
  Collector below;
  rec.SetOutput(&below);
  const std::string target = dir.File("cycles.wav");
  rec.SetFileName(target);
  for (int i = 0; i < 1000; ++i) {
    rec.Record();
    ASSERT_TRUE(rec.Recording()) << i;
    // Now and then some audio arrives before the stop.
    if (i % 100 == 0) {
      ASSERT_TRUE(RunUntil([&] { return below.Count() > 0; }));
    }
    below.Clear();
    rec.Stop();
    ASSERT_EQ(rec.State(), wsClosed) << i;
  }
  RunFor(20ms);
  EXPECT_EQ(log.Count("stop"), 1000);
  EXPECT_EQ(log.Count("error"), 0);
  EXPECT_TRUE(ReadWave(target).valid);
  EXPECT_EQ(OtherFiles(dir, {"cycles.wav"}), std::vector<std::string>{});
}

}  // namespace
}  // namespace tv
