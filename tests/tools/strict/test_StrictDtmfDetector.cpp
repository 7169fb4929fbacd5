#include "StrictDtmfDetector.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <numbers>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "AllocationCounter.h"
#include "DtmfCorpus.h"
#include "DtmfKeys.h"
#include "DtmfSynth.h"
#include "TMMWave.h"
#include "RunProcess.h"
#include "TestFiles.h"

namespace tv {
namespace {

std::string KeysOf(const std::vector<StrictDtmfKey>& keys) {
  std::string s;
  for (const auto& k : keys) s += k.key;
  return s;
}

// Streams PCM bytes through a detector in pieces of `piece` bytes, which
// need not hold whole frames.
std::vector<StrictDtmfKey> Decode(const std::vector<uint8_t>& bytes, int rate, int channels, int bits,
                                  StrictDtmfOptions options = {}, size_t piece = 4093) {
  std::vector<StrictDtmfKey> keys;
  StrictDtmfDetector d(options);
  d.OnKey = [&keys](const StrictDtmfKey& k) { keys.push_back(k); };
  d.Start(rate, channels, bits);
  for (size_t at = 0; at < bytes.size(); at += piece) {
    d.FeedBytes(bytes.data() + at, std::min(piece, bytes.size() - at));
  }
  d.Finish();
  return keys;
}

std::vector<StrictDtmfKey> DecodeSignal(const std::string& keys, const DtmfSignalOptions& o,
                                        StrictDtmfOptions options = {}) {
  return Decode(PcmBytes(SynthesizeDtmf(keys, o), o), o.rate, o.channels, o.bits, options);
}

std::vector<StrictDtmfKey> DecodeFile(const std::string& file) {
  TMMWave wave;
  wave.SetTimeFormat(tfByte);
  wave.SetFileName(file);
  const WAVEFORMATEX* f = wave.PWaveFormat();
  if (f == nullptr) throw std::runtime_error("cannot read " + file);
  std::vector<uint8_t> bytes(static_cast<size_t>(wave.DataSize()));
  wave.OpenFile();
  const int32_t n = wave.ReadData(bytes.data(), static_cast<int32_t>(bytes.size()));
  (void)wave.CloseFile();  // read only
  bytes.resize(static_cast<size_t>(std::max(n, 0)));
  return Decode(bytes, static_cast<int>(f->nSamplesPerSec), f->nChannels, f->wBitsPerSample);
}

// The full path of a program on PATH, or "".
std::string Which(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
  size_t start = 0;
  while (start <= dirs.size()) {
    const size_t end = std::min(dirs.find(':', start), dirs.size());
    const std::filesystem::path candidate = std::filesystem::path(dirs.substr(start, end - start)) / program;
    if (access(candidate.c_str(), X_OK) == 0) return candidate.string();
    start = end + 1;
  }
  return "";
}

// Every recording of each category of the generated corpus, as the limits
// want it: all keys where the tones are within them, none where they break
// one, one key across breaks too short to be a pause.
class CorpusCategory : public ::testing::TestWithParam<std::string> {};

TEST_P(CorpusCategory, EveryRecordingDecodesExactly) {
  int count = 0;
  for (const CorpusRecording& r : MakeCorpus()) {
    if (r.category != GetParam()) continue;
    ++count;
    EXPECT_EQ(KeysOf(DecodeSignal(r.sent, r.options)), r.expected) << r.file;
  }
  EXPECT_GT(count, 0);
}

INSTANTIATE_TEST_SUITE_P(Limits, CorpusCategory, ::testing::ValuesIn(CorpusCategories()),
                         [](const ::testing::TestParamInfo<std::string>& param) {
                           std::string name;
                           for (char c : param.param) name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                           return name;
                         });

// Start and end within 5 ms, level, twist and frequencies as sounded, at
// rates analysed directly and after decimation, with the tones off their
// nominal frequencies (where each would leak into the other's level).
TEST(StrictDtmfDetector, ReportsTimesLevelTwistAndFrequencies) {
  for (int rate : {8000, 11025, 44100, 48000}) {
    SCOPED_TRACE(rate);
    DtmfSignalOptions o;
    o.rate = rate;
    o.channels = rate == 44100 ? 2 : 1;
    o.toneMs = 70;
    o.gapMs = 55;
    o.levelDb = -15;
    o.twistDb = -3;
    o.freqErrorPct = 1.0;
    o.noiseDb = -70;
    const std::string sent = "0123456789*#ABCD";
    const auto keys = DecodeSignal(sent, o);
    ASSERT_EQ(KeysOf(keys), sent);
    for (size_t i = 0; i < keys.size(); ++i) {
      const StrictDtmfKey& k = keys[i];
      const double start = o.leadMs + static_cast<double>(i) * (o.toneMs + o.gapMs);
      EXPECT_NEAR(k.startMs, start, 5.0) << k.key;
      EXPECT_NEAR(k.endMs, start + o.toneMs, 5.0) << k.key;
      EXPECT_NEAR(k.lowDb, -15.0, 0.3) << k.key;
      EXPECT_NEAR(k.highDb, -18.0, 0.3) << k.key;
      EXPECT_NEAR(k.twistDb, -3.0, 0.3) << k.key;
      EXPECT_NEAR(k.levelDb, 10 * std::log10(std::pow(10, -1.5) + std::pow(10, -1.8)), 0.3) << k.key;
      const DtmfKey& key = kDtmfKeys[static_cast<size_t>(DtmfKeyIndex(k.key))];
      EXPECT_NEAR(k.lowHz, kStandardRowFreq[static_cast<size_t>(key.row)] * 1.01, 2.0) << k.key;
      EXPECT_NEAR(k.highHz, kStandardColumnFreq[static_cast<size_t>(key.column)] * 1.01, 2.0) << k.key;
      EXPECT_EQ(k.channel, o.channels == 1 ? 0 : kMixChannel);
    }
  }
}

TEST(StrictDtmfDetector, KeysAtTheVeryEdgesAndAHeldKey) {
  DtmfSignalOptions o;
  o.leadMs = 0;
  o.tailMs = 0;
  o.rampMs = 0;
  o.toneMs = 60;
  o.gapMs = 60;
  auto keys = DecodeSignal("19", o);
  ASSERT_EQ(KeysOf(keys), "19");
  EXPECT_NEAR(keys[0].startMs, 0.0, 5.0);
  EXPECT_NEAR(keys[1].endMs, 180.0, 5.0);

  // Twenty seconds of one key is one key, measured end to end.
  o.leadMs = 300;
  o.tailMs = 300;
  o.toneMs = 20000;
  keys = DecodeSignal("#", o);
  ASSERT_EQ(KeysOf(keys), "#");
  EXPECT_NEAR(keys[0].startMs, 300.0, 5.0);
  EXPECT_NEAR(keys[0].endMs, 20300.0, 5.0);
}

// A call recorded with one party per channel: each channel's keys, or the
// mix of both, in time order and labelled with their channel.
TEST(StrictDtmfDetector, ChannelChoices) {
  DtmfSignalOptions o;
  o.toneMs = 100;
  o.gapMs = 300;
  o.noiseDb = -70;
  const std::vector<double> left = SynthesizeDtmf("147", o);
  o.leadMs += 200;
  o.seed = 2;
  const std::vector<double> right = SynthesizeDtmf("369", o);
  std::vector<int16_t> frames;
  for (size_t i = 0; i < std::max(left.size(), right.size()); ++i) {
    frames.push_back(static_cast<int16_t>(std::lround(32767 * (i < left.size() ? left[i] : 0.0))));
    frames.push_back(static_cast<int16_t>(std::lround(32767 * (i < right.size() ? right[i] : 0.0))));
  }
  const auto* data = reinterpret_cast<const uint8_t*>(frames.data());
  const std::vector<uint8_t> bytes(data, data + frames.size() * 2);

  StrictDtmfOptions options;
  options.channel = DtmfChannelChoice::Each;
  const auto each = Decode(bytes, 8000, 2, 16, options);
  ASSERT_EQ(KeysOf(each), "134679");
  for (size_t i = 0; i < each.size(); ++i) {
    EXPECT_EQ(each[i].channel, static_cast<int>(i % 2)) << i;
    EXPECT_EQ(DtmfChannelName(each[i].channel, 2), i % 2 == 0 ? "left" : "right");
    EXPECT_NEAR(each[i].startMs, 250.0 + 200.0 * static_cast<double>(i), 5.0) << i;
  }
  options.channel = DtmfChannelChoice::Left;
  EXPECT_EQ(KeysOf(Decode(bytes, 8000, 2, 16, options)), "147");
  options.channel = DtmfChannelChoice::Right;
  const auto right3 = Decode(bytes, 8000, 2, 16, options);
  EXPECT_EQ(KeysOf(right3), "369");
  EXPECT_EQ(right3.front().channel, 1);
  options.channel = DtmfChannelChoice::Mix;
  const auto mix = Decode(bytes, 8000, 2, 16, options);
  EXPECT_EQ(KeysOf(mix), "134679");
  EXPECT_EQ(mix.front().channel, kMixChannel);
  // Halved by the mix: 6 dB below the left channel's own reading.
  EXPECT_NEAR(mix.front().levelDb, each.front().levelDb - 6.02, 0.5);
}

// Keys come in order of their start even when a later key on one channel
// ends long before an earlier one on another; channels past the second
// are named by number.
TEST(StrictDtmfDetector, EachChannelInOrderOfStart) {
  DtmfSignalOptions o;
  o.toneMs = 900;
  const std::vector<double> first = SynthesizeDtmf("1", o);  // 250..1150 ms
  o.leadMs = 400;
  o.toneMs = 80;
  const std::vector<double> second = SynthesizeDtmf("2", o);  // 400..480 ms
  std::vector<int16_t> frames;
  for (size_t i = 0; i < first.size(); ++i) {
    frames.push_back(0);
    frames.push_back(static_cast<int16_t>(std::lround(32767 * (i < second.size() ? second[i] : 0.0))));
    frames.push_back(static_cast<int16_t>(std::lround(32767 * first[i])));
  }
  const auto* data = reinterpret_cast<const uint8_t*>(frames.data());
  StrictDtmfOptions options;
  options.channel = DtmfChannelChoice::Each;
  const auto keys = Decode(std::vector<uint8_t>(data, data + frames.size() * 2), 8000, 3, 16, options);
  ASSERT_EQ(KeysOf(keys), "12");
  EXPECT_EQ(DtmfChannelName(keys[0].channel, 3), "channel 3");
  EXPECT_EQ(DtmfChannelName(keys[1].channel, 3), "channel 2");
  EXPECT_NEAR(keys[0].endMs, 1150.0, 5.0);
  EXPECT_NEAR(keys[1].startMs, 400.0, 5.0);
}

TEST(StrictDtmfDetector, PiecesOfAnySizeGiveTheSameKeysAndTimes) {
  DtmfSignalOptions o;
  o.rate = 22050;
  o.channels = 2;
  o.toneMs = 45;
  o.gapMs = 45;
  const std::string sent = "5550147236";
  const std::vector<uint8_t> bytes = PcmBytes(SynthesizeDtmf(sent, o), o);
  for (size_t piece : {size_t{1}, size_t{3}, size_t{1537}, bytes.size()}) {
    SCOPED_TRACE(piece);
    const auto keys = Decode(bytes, o.rate, 2, 16, {}, piece);
    ASSERT_EQ(KeysOf(keys), sent);
    for (size_t i = 0; i < keys.size(); ++i) {
      EXPECT_NEAR(keys[i].startMs, o.leadMs + static_cast<double>(i) * 90.0, 5.0);
    }
  }
}

TEST(StrictDtmfDetector, NothingInSilenceNoiseOrHum) {
  DtmfSignalOptions o;
  o.leadMs = 0;
  o.tailMs = 20000;
  o.noiseDb = -20;
  o.humDb = -15;
  EXPECT_EQ(KeysOf(DecodeSignal("", o)), "");
  const std::vector<uint8_t> silence(160000, 0);
  EXPECT_EQ(KeysOf(Decode(silence, 8000, 1, 16)), "");
}

TEST(StrictDtmfDetector, RefusesFormatsItCannotDecodeAndFeedingBeforeStart) {
  StrictDtmfDetector d;
  EXPECT_THROW(d.Start(3999, 1), std::invalid_argument);
  EXPECT_THROW(d.Start(8000, 0), std::invalid_argument);
  EXPECT_THROW(d.Start(8000, 9), std::invalid_argument);
  EXPECT_THROW(d.Start(8000, 1, 24), std::invalid_argument);
  const int16_t frame[2] = {0, 0};
  EXPECT_THROW(d.Feed(frame, 1), std::logic_error);
  d.Start(8000, 1, 8);
  EXPECT_THROW(d.Feed(frame, 1), std::logic_error);  // 16-bit frames into an 8-bit stream
  d.Finish();
  EXPECT_FALSE(d.Started());
}

TEST(StrictDtmfDetector, FeedingAllocatesNothing) {
  DtmfSignalOptions o;
  o.rate = 44100;
  o.channels = 2;
  const std::vector<uint8_t> bytes = PcmBytes(SynthesizeDtmf("0123456789*#ABCD", o), o);
  StrictDtmfOptions options;
  options.channel = DtmfChannelChoice::Each;
  StrictDtmfDetector d(options);
  std::array<char, 64> found{};
  size_t count = 0;
  d.OnKey = [&](const StrictDtmfKey& k) {
    if (count < found.size()) found[count++] = k.key;
  };
  d.Start(o.rate, 2, 16);
  const long before = test::AllocationCount();
  for (size_t at = 0; at < bytes.size(); at += 6001) d.FeedBytes(bytes.data() + at, std::min<size_t>(6001, bytes.size() - at));
  d.Finish();
  EXPECT_EQ(test::AllocationCount(), before);
  EXPECT_EQ(std::string(found.data(), count), "00112233445566778899**##AABBCCDD");
}

// What tells a key from music that lands on its frequencies: a third tone
// taking its share of the energy, or a level that fades like a plucked
// string's.
TEST(StrictDtmfTalkOff, ChordsAndFadingNotesOnAKeysFrequencies) {
  auto sound = [](double thirdHz, double fadeDb) {
    const int rate = 8000;
    std::vector<int16_t> pcm(static_cast<size_t>(rate), 0);
    for (size_t n = 2000; n < 4000; ++n) {
      const double t = static_cast<double>(n - 2000) / rate;
      const double gain = 0.25 * std::pow(10.0, -fadeDb * t / 0.25 / 20.0);
      double v = std::sin(2 * std::numbers::pi * 770 * t) + std::sin(2 * std::numbers::pi * 1336 * t);
      if (thirdHz > 0) v += std::sin(2 * std::numbers::pi * thirdHz * t);
      pcm[n] = static_cast<int16_t>(std::lround(8000 * gain * v));
    }
    const auto* p = reinterpret_cast<const uint8_t*>(pcm.data());
    return KeysOf(Decode(std::vector<uint8_t>(p, p + pcm.size() * 2), rate, 1, 16));
  };
  EXPECT_EQ(sound(0, 0), "5");
  EXPECT_EQ(sound(0, 3), "5");       // a little sag is still a key
  EXPECT_EQ(sound(1046.5, 0), "");   // C6 makes it a chord
  EXPECT_EQ(sound(0, 12), "");       // dies away like a plucked string
}

// Talk-off: speech and music hold no keys.
TEST(StrictDtmfTalkOff, SpeechOfSeveralVoices) {
  const std::string espeak = Which("espeak-ng");
  if (espeak.empty()) GTEST_SKIP() << "espeak-ng is not installed (scripts/install-deps)";
  test::TempDir dir;
  const char* voices[] = {"en+f4", "en-us+m3", "de+f2"};
  int n = 0;
  for (const char* voice : voices) {
    const std::string file = dir.File("speech" + std::to_string(++n) + ".wav");
    const auto r = test::RunProcess(espeak, {"-v", voice, "-p", std::to_string(30 * n), "-w", file,
                                             "Your code is nine four seven two. Press one for sales, "
                                             "two for support, or hold the line for an operator."});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(KeysOf(DecodeFile(file)), "") << voice;
  }
}

TEST(StrictDtmfTalkOff, MusicWithSampledInstruments) {
  const std::string timidity = Which("timidity");
  const std::filesystem::path midi = "/usr/share/games/openttd/baseset/openmsx/harp_harmony.mid";
  const std::filesystem::path patches = "/etc/timidity/freepats.cfg";
  if (timidity.empty() || !std::filesystem::exists(midi) || !std::filesystem::exists(patches)) {
    GTEST_SKIP() << "timidity, freepats or openttd-openmsx is not installed (scripts/install-deps)";
  }
  test::TempDir dir;
  const std::string file = dir.File("music.wav");
  const auto r = test::RunProcess(timidity, {"-c", patches.string(), "-Ow", "-s", "8000", "--output-mono",
                                             "-o", file, midi.string()});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(KeysOf(DecodeFile(file)), "");
}

}  // namespace
}  // namespace tv
