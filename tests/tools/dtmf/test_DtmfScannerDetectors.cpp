// The scanner's two detectors: the strict one fed by the trigger's buffers,
// and the described decision computed from its own bins.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "DtmfConverter.h"
#include "DtmfScanner.h"
#include "DtmfSynth.h"
#include "MMDispatch.h"
#include "TMMPeakDetect.h"
#include "TestFiles.h"

namespace tv {
namespace {

class ScanDetectorTest : public ::testing::Test {
 protected:
  void SetUp() override { SetMainDispatcher(&loop); }
  void TearDown() override { SetMainDispatcher(nullptr); }

  std::string Prepared(const std::string& file) {
    DtmfConverter c;
    return c.NormalizeFile(c.ConvertForDtmf(file));
  }

  LoopDispatcher loop;
  test::TempDir dir;
};

// A stereo file whose channels hold different keys at different times.
std::string WriteTwoParties(const std::string& file, const DtmfSignalOptions& left,
                            const DtmfSignalOptions& right, const std::string& leftKeys,
                            const std::string& rightKeys) {
  const std::vector<double> l = SynthesizeDtmf(leftKeys, left);
  const std::vector<double> r = SynthesizeDtmf(rightKeys, right);
  const size_t n = std::max(l.size(), r.size());
  std::vector<double> both(2 * n, 0.0);
  for (size_t i = 0; i < l.size(); ++i) both[2 * i] = l[i];
  for (size_t i = 0; i < r.size(); ++i) both[2 * i + 1] = r[i];
  DtmfSignalOptions mono = left;
  mono.channels = 1;  // PcmBytes writes one value per sample given
  test::WriteAll(file, test::PcmWave(16, 2, static_cast<uint32_t>(left.rate), PcmBytes(both, mono)));
  return file;
}

TEST_F(ScanDetectorTest, StrictKeysCarryTimesChannelLevelAndTwist) {
  // Left: "12" at -10 dBFS per tone, no twist, from 300 ms. Right: "9" at
  // -16 dBFS with the high tone 3 dB up, from 1000 ms.
  DtmfSignalOptions left;
  left.leadMs = 300;
  left.toneMs = 80;
  left.gapMs = 120;
  left.rampMs = 0;
  left.levelDb = -10;
  DtmfSignalOptions right = left;
  right.leadMs = 1000;
  right.levelDb = -16;
  right.twistDb = 3;
  const std::string file = WriteTwoParties(dir.File("call.wav"), left, right, "12", "9");

  DtmfScanner scanner;
  scanner.SetPaced(false);
  scanner.SetDetector(DtmfDetectorKind::Strict);
  StrictDtmfOptions o;
  o.channel = DtmfChannelChoice::Each;
  scanner.SetStrictOptions(o);
  const ScanResult r = scanner.Scan(file);
  ASSERT_EQ(r.keys, "129");
  const double starts[] = {300, 500, 1000};
  const int channels[] = {0, 0, 1};
  for (size_t i = 0; i < 3; ++i) {
    const ScanKey& k = r.events[i];
    SCOPED_TRACE(i);
    EXPECT_TRUE(k.strict);
    EXPECT_NEAR(k.startMs, starts[i], 5);
    EXPECT_NEAR(k.endMs, starts[i] + 80, 5);
    EXPECT_EQ(k.positionMs, std::llround(k.startMs));
    EXPECT_EQ(k.channel, channels[i]);
    EXPECT_EQ(k.channelName, channels[i] == 0 ? "left" : "right");
  }
  // A sine of amplitude a reads 20 log10(a) dBFS; the pair is the sum of
  // the two tones' powers.
  auto pairDb = [](double lowDb, double twistDb) {
    return 10 * std::log10(std::pow(10, lowDb / 10) + std::pow(10, (lowDb + twistDb) / 10));
  };
  EXPECT_NEAR(r.events[0].levelDb, pairDb(-10, 0), 1.0);
  EXPECT_NEAR(r.events[0].twistDb, 0, 0.5);
  EXPECT_NEAR(r.events[2].levelDb, pairDb(-16, 3), 1.0);
  EXPECT_NEAR(r.events[2].twistDb, 3, 0.5);
  EXPECT_NEAR(r.events[2].lowHz, 852, 852 * 0.005);
  EXPECT_NEAR(r.events[2].highHz, 1477, 1477 * 0.005);

  // One channel chosen: only that party's keys.
  o.channel = DtmfChannelChoice::Right;
  scanner.SetStrictOptions(o);
  EXPECT_EQ(scanner.Scan(file).keys, "9");
}

TEST_F(ScanDetectorTest, TheDetectorIsChosenPerScan) {
  // Tones 3.5 % off their frequencies: no keys to a telephone receiver;
  // the described decision, which takes the strongest bins whatever their
  // distance, still reports keys.
  DtmfSignalOptions o;
  o.freqErrorPct = 3.5;
  WriteDtmfWave(dir.File("off.wav"), "147", o);
  const std::string converted = Prepared(dir.File("off.wav"));
  o.freqErrorPct = 0;
  WriteDtmfWave(dir.File("on.wav"), "147", o);

  DtmfScanner scanner;
  scanner.SetPaced(false);
  EXPECT_EQ(scanner.Detector(), DtmfDetectorKind::Described);
  const std::string described = scanner.Scan(converted).keys;
  EXPECT_EQ(described.size(), 3u);
  scanner.SetDetector(DtmfDetectorKind::Strict);
  EXPECT_EQ(scanner.Scan(converted).keys, "");
  EXPECT_EQ(scanner.Scan(dir.File("on.wav")).keys, "147");
  // The peak detector idles through a strict scan and is back on after it.
  EXPECT_TRUE(scanner.PeakDetect().Enabled());
  scanner.SetDetector(DtmfDetectorKind::Described);
  EXPECT_EQ(scanner.Scan(converted).keys, described);
}

TEST_F(ScanDetectorTest, StrictKeysArriveOnTheWorkerInTimeOrder) {
  DtmfSignalOptions o;
  o.rate = 44100;
  o.channels = 2;
  WriteDtmfWave(dir.File("k.wav"), "0123456789*#ABCD", o);
  DtmfScanner scanner;
  scanner.SetPaced(false);
  scanner.SetDetector(DtmfDetectorKind::Strict);
  std::mutex lock;
  std::vector<std::string> seen;
  std::atomic<bool> onMain{false};
  const auto main = std::this_thread::get_id();
  scanner.OnKey = [&](DtmfScanner*, const ScanKey& k) {
    if (std::this_thread::get_id() == main) onMain = true;
    std::lock_guard g(lock);
    seen.push_back(k.key);
  };
  int lastPercent = -1;
  scanner.OnProgress = [&](DtmfScanner*, int p) { lastPercent = p; };
  const ScanResult r = scanner.Scan(dir.File("k.wav"));
  EXPECT_EQ(r.keys, "0123456789*#ABCD");
  EXPECT_FALSE(onMain.load());
  EXPECT_EQ(seen.size(), 16u);
  EXPECT_EQ(lastPercent, 100);
  for (size_t i = 1; i < r.events.size(); ++i) EXPECT_GT(r.events[i].startMs, r.events[i - 1].endMs);
}

TEST_F(ScanDetectorTest, AToneEndingWithTheFileIsStillReported) {
  // The last key's tone runs to the last sample: only the end of the
  // stream lets it end.
  DtmfSignalOptions o;
  o.tailMs = 0;
  o.rampMs = 0;
  WriteDtmfWave(dir.File("end.wav"), "58", o);
  DtmfScanner scanner;
  scanner.SetPaced(false);
  scanner.SetDetector(DtmfDetectorKind::Strict);
  EXPECT_EQ(scanner.Scan(dir.File("end.wav")).keys, "58");
}

TEST_F(ScanDetectorTest, DecisionBinsGiveTheTransformsKeysAtEveryThreshold) {
  // Weak, noisy, twisted and short tones put the key sums near every
  // threshold, where a bin that differed by more than rounding would show.
  struct Case {
    const char* name;
    double levelDb, noiseDb, twistDb, toneMs, gapMs;
    int rate, channels;
  };
  const Case cases[] = {{"clean.wav", -9, -200, 0, 100, 100, 8000, 1},
                        {"weak.wav", -32, -45, 0, 70, 60, 8000, 1},
                        {"twist.wav", -20, -40, -6, 50, 50, 22050, 2},
                        {"short.wav", -12, -35, 4, 35, 35, 44100, 2}};
  for (const Case& c : cases) {
    DtmfSignalOptions o;
    o.levelDb = c.levelDb;
    o.noiseDb = c.noiseDb;
    o.twistDb = c.twistDb;
    o.toneMs = c.toneMs;
    o.gapMs = c.gapMs;
    o.rate = c.rate;
    o.channels = c.channels;
    o.seed = 7;
    WriteDtmfWave(dir.File(c.name), "0123456789*#ABCD1593", o);
    const std::string file = Prepared(dir.File(c.name));
    DtmfScanner full, bins;
    full.SetPaced(false);
    bins.SetPaced(false);
    bins.SetDecisionBinsOnly(true);
    for (int threshold = 50; threshold <= 525; threshold += 25) {
      full.SetThreshold(threshold);
      bins.SetThreshold(threshold);
      const ScanResult a = full.Scan(file);
      const ScanResult b = bins.Scan(file);
      SCOPED_TRACE(std::string(c.name) + " at " + std::to_string(threshold));
      EXPECT_EQ(a.keys, b.keys);
      ASSERT_EQ(a.events.size(), b.events.size());
      for (size_t i = 0; i < a.events.size(); ++i) EXPECT_EQ(a.events[i].positionMs, b.events[i].positionMs);
    }
  }
}

TEST_F(ScanDetectorTest, DecisionBinsFollowTheDetectorsChannel) {
  DtmfSignalOptions left;
  left.rate = 44100;
  DtmfSignalOptions right = left;
  right.leadMs = 900;
  WriteTwoParties(dir.File("p.wav"), left, right, "3", "6");
  DtmfScanner scanner;
  scanner.SetPaced(false);
  scanner.SetDecisionBinsOnly(true);
  scanner.PeakDetect().SetChannel(chLeft);
  EXPECT_EQ(scanner.Scan(dir.File("p.wav")).keys, "3");
  scanner.PeakDetect().SetChannel(chRight);
  EXPECT_EQ(scanner.Scan(dir.File("p.wav")).keys, "6");
  scanner.PeakDetect().SetChannel(chBoth);
  EXPECT_EQ(scanner.Scan(dir.File("p.wav")).keys, "36");
}

TEST_F(ScanDetectorTest, InMemoryConversionScansAsTheFilesDo) {
  // Every way the conversion can go (rates held and dropped, 8-bit
  // widened, mono doubled, a second pair of channels dropped), quiet files
  // that the normalisation lifts and loud ones it leaves, a file cut short.
  struct Case {
    const char* name;
    int rate, bits, channels;
    double levelDb, noiseDb;
  };
  const Case cases[] = {{"m8k.wav", 8000, 16, 1, -20, -45},   {"s11k8.wav", 11025, 8, 2, -9, -40},
                        {"m22k8.wav", 22050, 8, 1, -25, -50}, {"s44k.wav", 44100, 16, 2, -14, -38},
                        {"s48k.wav", 48000, 16, 2, -18, -42}, {"q16k.wav", 16000, 16, 4, -12, -40},
                        {"loud.wav", 8000, 16, 1, -0.5, -200}};
  for (const Case& c : cases) {
    DtmfSignalOptions o;
    o.rate = c.rate;
    o.bits = c.bits;
    o.channels = c.channels;
    o.levelDb = c.levelDb;
    o.noiseDb = c.noiseDb;
    o.toneMs = 45;
    o.gapMs = 40;
    o.seed = 3;
    const std::string source = dir.File(c.name);
    if (c.channels == 4) {
      // The synthesiser writes every channel alike; the third and fourth
      // channels get other keys, which the conversion must drop.
      DtmfSignalOptions one = o;
      one.channels = 1;
      const auto front = SynthesizeDtmf("0123456789*#ABCD", one);
      const auto back = SynthesizeDtmf("DCBA#*9876543210", one);
      std::vector<double> all;
      for (size_t i = 0; i < front.size(); ++i) {
        all.insert(all.end(), {front[i], front[i], i < back.size() ? back[i] : 0.0, i < back.size() ? back[i] : 0.0});
      }
      test::WriteAll(source, test::PcmWave(16, 4, 16000, PcmBytes(all, one)));
    } else {
      WriteDtmfWave(source, "0123456789*#ABCD", o);
    }
    const std::string normalized = Prepared(source);
    DtmfScanner files, memory;
    files.SetPaced(false);
    memory.SetDecisionBinsOnly(true);
    for (int threshold : {50, 150, 400}) {
      files.SetThreshold(threshold);
      memory.SetThreshold(threshold);
      const ScanResult a = files.Scan(normalized);
      const ScanResult b = memory.ScanConvertedInMemory(source);
      SCOPED_TRACE(std::string(c.name) + " at " + std::to_string(threshold));
      EXPECT_EQ(a.keys, b.keys);
      ASSERT_EQ(a.events.size(), b.events.size());
      for (size_t i = 0; i < a.events.size(); ++i) EXPECT_EQ(a.events[i].positionMs, b.events[i].positionMs);
    }
  }
  // Cut short: the header promises more than the file holds.
  DtmfSignalOptions o;
  WriteDtmfWave(dir.File("cut.wav"), "0123456789", o);
  test::Bytes bytes = test::ReadAll(dir.File("cut.wav"));
  bytes.resize(bytes.size() - 9000);
  test::WriteAll(dir.File("cut.wav"), bytes);
  DtmfScanner files, memory;
  files.SetPaced(false);
  EXPECT_EQ(memory.ScanConvertedInMemory(dir.File("cut.wav")).keys, files.Scan(Prepared(dir.File("cut.wav"))).keys);
  // Not PCM audio.
  test::WriteAll(dir.File("text.wav"), test::Bytes(100, 'x'));
  EXPECT_THROW(memory.ScanConvertedInMemory(dir.File("text.wav")), std::exception);
}

}  // namespace
}  // namespace tv
