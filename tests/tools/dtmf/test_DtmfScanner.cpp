#include "DtmfScanner.h"

#include <gtest/gtest.h>

#include <string>

#include "DtmfConverter.h"
#include "DtmfSynth.h"
#include "MMDispatch.h"
#include "TMMPeakDetect.h"
#include "TMMTrigger.h"
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
  scanner.Paced = false;
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
  scanner.Paced = false;
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
  scanner.Paced = false;
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
  scanner.Paced = false;
  scanner.Threshold = 50;
  EXPECT_EQ(scanner.Scan(prepared).keys, "123");
  scanner.Threshold = 525;
  EXPECT_EQ(scanner.Scan(prepared).keys, "");
}

TEST_F(ScanTest, PacedScanMatchesTheUnpacedOne) {
  DtmfSignalOptions o;
  const std::string file = Prepared("4711", o, "paced.wav");
  DtmfScanner scanner;
  scanner.Paced = true;  // as the desktop program scans
  EXPECT_EQ(scanner.Scan(file).keys, "4711");
  EXPECT_EQ(scanner.Trigger().Interval(), 5);
  EXPECT_EQ(scanner.PeakDetect().FFTLength(), 16384);
  EXPECT_EQ(scanner.PeakDetect().Window(), fwWelch);
}

TEST_F(ScanTest, EmptyFileCannotBeScanned) {
  const std::string file = dir.File("empty.wav");
  test::WriteAll(file, test::PcmWave(16, 1, 8000, {}));
  DtmfScanner scanner;
  scanner.Paced = false;
  EXPECT_THROW(scanner.Scan(file), EMMError);
  // The scanner stays usable.
  DtmfSignalOptions o;
  EXPECT_EQ(scanner.Scan(Prepared("0", o, "zero.wav")).keys, "0");
}

}  // namespace
}  // namespace tv
