#include "DtmfScanner.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>

#include "DtmfConverter.h"
#include "DtmfSynth.h"
#include "MMDispatch.h"
#include "TMMPeakDetect.h"
#include "TMMTrigger.h"
#include "TMMWave.h"
#include "TMMWaveFile.h"
#include "TestFiles.h"

namespace tv {
namespace {

class ScanTest : public ::testing::Test {
 protected:
  void SetUp() override { SetMainDispatcher(&loop); }
  void TearDown() override { SetMainDispatcher(nullptr); }

  // Writes, converts and normalises a recording the way a load does.
  std::string Prepared(const std::string& keys, DtmfSignalOptions o, const std::string& name) {
    const std::string file = dir.File(name);
    WriteDtmfWave(file, keys, o);
    DtmfConverter c;
    return c.NormalizeFile(c.ConvertForDtmf(file));
  }

  LoopDispatcher loop;
  test::TempDir dir;
};

TEST(ScanBufferSizeTable, FollowsTheFormat) {
  EXPECT_EQ(ScanBufferSize(MakePcmFormat(16, 2, 44100).get()), 6144);
  EXPECT_EQ(ScanBufferSize(MakePcmFormat(16, 1, 44100).get()), 2048);
  EXPECT_EQ(ScanBufferSize(MakePcmFormat(8, 2, 44100).get()), 2048);
  EXPECT_EQ(ScanBufferSize(MakePcmFormat(8, 1, 44100).get()), 2048);
  EXPECT_EQ(ScanBufferSize(MakePcmFormat(16, 2, 22050).get()), 4096);
  EXPECT_EQ(ScanBufferSize(MakePcmFormat(16, 2, 48000).get()), 4096);
  EXPECT_EQ(ScanBufferSize(nullptr), 4096);
}

TEST_F(ScanTest, AllSixteenKeysThroughTheScanChain) {
  DtmfSignalOptions o;
  const std::string file = Prepared("0123456789*#ABCD", o, "all.wav");
  DtmfScanner scanner;
  scanner.SetPaced(false);
  const ScanResult r = scanner.Scan(file);
  EXPECT_EQ(r.keys, "0123456789*#ABCD");
  ASSERT_EQ(r.events.size(), 16u);
  // Keys come in order, each reported within a few buffers of its tone.
  for (size_t i = 0; i < r.events.size(); ++i) {
    const double toneStart = o.leadMs + static_cast<double>(i) * (o.toneMs + o.gapMs);
    EXPECT_GE(static_cast<double>(r.events[i].positionMs), toneStart - 1) << i;
    EXPECT_LE(static_cast<double>(r.events[i].positionMs), toneStart + o.toneMs + 70) << i;
  }
  EXPECT_EQ(scanner.Trigger().BufferSize(), 6144);
}

TEST_F(ScanTest, ToneAtTheFirstSampleIsReported) {
  DtmfSignalOptions o;
  o.leadMs = 0;
  o.rampMs = 0;
  const std::string file = Prepared("5", o, "first.wav");
  DtmfScanner scanner;
  scanner.SetPaced(false);
  EXPECT_EQ(scanner.Scan(file).keys, "5");
}

TEST_F(ScanTest, ToneOnlyInTheLastBufferIsNotReported) {
  // 44100 Hz stereo scans in 6144-byte buffers of 1536 frames. The tone
  // fills only the last buffer: its bins are never read by a decision.
  DtmfSignalOptions o;
  o.rate = 44100;
  o.channels = 2;
  o.leadMs = 1536.0 * 4 * 1000 / 44100;  // exactly four buffers of silence
  o.toneMs = 1536.0 * 1000 / 44100;      // one buffer of tone
  o.tailMs = 0;
  o.rampMs = 0;
  const std::string file = dir.File("last.wav");
  WriteDtmfWave(file, "9", o);
  DtmfScanner scanner;
  scanner.SetPaced(false);
  EXPECT_EQ(scanner.Scan(file).keys, "");
  // The same tone followed by one more buffer is found.
  o.tailMs = 1536.0 * 1000 / 44100;
  WriteDtmfWave(file, "9", o);
  EXPECT_EQ(scanner.Scan(file).keys, "9");
}

TEST_F(ScanTest, ThresholdAboveTheTonesFindsNothing) {
  // A click at full scale sets the normalisation's gain, so the tones stay
  // weak: found at the lowest threshold, ignored at the highest.
  DtmfSignalOptions o;
  o.levelDb = -20;
  std::vector<double> samples = SynthesizeDtmf("123", o);
  samples[100] = 1.0;
  const std::string file = dir.File("weak.wav");
  test::WriteAll(file, test::PcmWave(16, 1, 8000, PcmBytes(samples, o)));
  DtmfConverter c;
  const std::string prepared = c.NormalizeFile(c.ConvertForDtmf(file));
  DtmfScanner scanner;
  scanner.SetPaced(false);
  scanner.SetThreshold(50);
  EXPECT_EQ(scanner.Scan(prepared).keys, "123");
  scanner.SetThreshold(525);
  EXPECT_EQ(scanner.Scan(prepared).keys, "");
}

TEST_F(ScanTest, PacedScanMatchesTheUnpacedOne) {
  DtmfSignalOptions o;
  const std::string file = Prepared("4711", o, "paced.wav");
  DtmfScanner scanner;
  scanner.SetPaced(true);  // as the desktop program scans
  EXPECT_EQ(scanner.Scan(file).keys, "4711");
  EXPECT_EQ(scanner.Trigger().Interval(), 5);
  EXPECT_EQ(scanner.PeakDetect().FFTLength(), 16384);
  EXPECT_EQ(scanner.PeakDetect().Window(), fwWelch);
}

TEST_F(ScanTest, EmptyFileCannotBeScanned) {
  const std::string file = dir.File("empty.wav");
  test::WriteAll(file, test::PcmWave(16, 1, 8000, {}));
  DtmfScanner scanner;
  scanner.SetPaced(false);
  EXPECT_THROW(scanner.Scan(file), EMMError);
  // The scanner stays usable.
  DtmfSignalOptions o;
  EXPECT_EQ(scanner.Scan(Prepared("0", o, "zero.wav")).keys, "0");
}

// Cancelling a scan under way: not one key after Cancel has returned, one
// OnFinished with exactly the keys reported before, and the scanner ready
// for the next file.
TEST_F(ScanTest, CancelledScanReportsWhatItFoundOnceAndNothingAfter) {
  DtmfSignalOptions o;
  o.toneMs = 120;
  o.gapMs = 120;
  std::string keys;
  for (int i = 0; i < 6; ++i) keys += "0123456789";
  const std::string file = Prepared(keys, o, "long.wav");
  DtmfScanner scanner;
  // What the whole file gives (a tone's first buffer may misread a key at
  // the lowest threshold; the same buffers give the same keys every time).
  scanner.SetPaced(false);
  const std::string whole = scanner.Scan(file).keys;
  ASSERT_GE(whole.size(), keys.size() - 3);
  scanner.SetPaced(true);  // slow enough to be caught half way
  std::mutex lock;
  std::string seen;
  std::atomic<bool> cancelled{false};
  std::atomic<int> afterCancel{0};
  scanner.OnKey = [&](DtmfScanner* sender, const ScanKey& key) {
    EXPECT_EQ(sender, &scanner);
    if (cancelled.load()) afterCancel.fetch_add(1);
    std::lock_guard guard(lock);
    seen += key.key;
  };
  int finished = 0;
  ScanResult result;
  scanner.OnFinished = [&](DtmfScanner*, const ScanResult& r) {
    ++finished;
    result = r;
  };
  scanner.WavePlayer().Wave().SetFileName(file);
  scanner.Start();
  EXPECT_TRUE(scanner.Busy());
  ASSERT_TRUE(loop.RunUntil(
      [&] {
        std::lock_guard guard(lock);
        return seen.size() >= 3;
      },
      std::chrono::seconds(60)));
  scanner.Cancel();
  cancelled = true;
  scanner.Cancel();  // a second Cancel changes nothing
  // Long enough for the worker to have delivered several more buffers.
  loop.RunUntil([] { return false; }, std::chrono::milliseconds(300));
  ASSERT_TRUE(loop.RunUntil([&] { return !scanner.Busy(); }, std::chrono::seconds(20)));
  loop.RunUntil([] { return false; }, std::chrono::milliseconds(50));
  EXPECT_EQ(afterCancel.load(), 0);
  EXPECT_EQ(finished, 1);
  EXPECT_TRUE(result.cancelled);
  EXPECT_EQ(result.error, nullptr);
  {
    std::lock_guard guard(lock);
    EXPECT_EQ(result.keys, seen);
  }
  EXPECT_LT(result.keys.size(), whole.size());
  EXPECT_EQ(whole.rfind(result.keys, 0), 0u) << result.keys;
  EXPECT_EQ(result.fileName, file);

  // The next scan runs to the end.
  cancelled = false;
  scanner.SetPaced(false);
  seen.clear();
  EXPECT_EQ(scanner.Scan(file).keys, whole);
  EXPECT_EQ(finished, 2);
  EXPECT_FALSE(result.cancelled);
}

// An error on the scan's worker (here a handler that throws) ends the scan
// and comes back to whoever started it: thrown by the blocking call, handed
// to OnFinished, never taken for a complete result.
TEST_F(ScanTest, AWorkerErrorEndsTheScanAndReachesTheCaller) {
  DtmfSignalOptions o;
  const std::string file = Prepared("0123456789", o, "fails.wav");
  DtmfScanner scanner;
  scanner.SetPaced(false);
  int reported = 0;
  SetApplicationErrorHandler([&](const std::string&) { ++reported; });
  std::atomic<int> loads{0};
  scanner.Trigger().OnBufferFilled = [&](TMMDSPComponent*, PWaveHdr) {
    if (loads.fetch_add(1) == 20) throw EMMWaveError("Error reading wave file");
  };
  int finished = 0;
  ScanResult result;
  scanner.OnFinished = [&](DtmfScanner*, const ScanResult& r) {
    ++finished;
    result = r;
  };
  try {
    scanner.Scan(file);
    ADD_FAILURE() << "the scan did not fail";
  } catch (const EMMWaveError& e) {
    EXPECT_EQ(std::string(e.what()), "Error reading wave file");
  }
  SetApplicationErrorHandler(nullptr);
  EXPECT_EQ(reported, 0);
  EXPECT_EQ(finished, 1);
  EXPECT_NE(result.error, nullptr);
  EXPECT_FALSE(result.cancelled);
  EXPECT_LT(result.keys.size(), 10u);
  EXPECT_FALSE(scanner.Busy());
  EXPECT_FALSE(scanner.Trigger().IsOpen());
  // The scanner stays usable.
  scanner.Trigger().OnBufferFilled = nullptr;
  EXPECT_EQ(scanner.Scan(file).keys, "0123456789");
}

}  // namespace
}  // namespace tv
