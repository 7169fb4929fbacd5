#include "DtmfCorpus.h"

#include <cmath>

namespace tv {

namespace {

const char* const kClean = "clean";
const char* const kDev15 = "deviation 1.5 %";
const char* const kDev35 = "deviation 3.5 %";
const char* const k40ms = "40 ms tones and pauses";
const char* const k20msTones = "20 ms tones";
const char* const k20msBreaks = "20 ms breaks";
const char* const kTwistIn = "twist +4 / -8 dB";
const char* const kTwistOut = "twist +8 / -12 dB";
const char* const kSnr = "SNR 15 dB";
const char* const kLevels = "level -42 / -7 dBFS";
const char* const kQuiet = "level -60 dBFS";
const char* const kLine = "telephone line";

// Key strings that between them use every key several times.
const char* const kKeySets[] = {"0123456789*#ABCD", "5550147236", "8005551234", "#*ABCD0",
                                "9876543210",       "147*2580369#", "D1C2B3A4"};
constexpr size_t kKeySetCount = sizeof kKeySets / sizeof kKeySets[0];

DtmfSignalOptions Base(int rate, uint32_t seed) {
  DtmfSignalOptions o;
  o.rate = rate;
  o.toneMs = 100;
  o.gapMs = 100;
  o.levelDb = -9;
  o.twistDb = 2;
  o.noiseDb = -60;
  o.seed = seed;
  return o;
}

}  // namespace

double NoiseForSnr(const DtmfSignalOptions& o, double snrDb) {
  const double low = std::pow(10.0, o.levelDb / 20.0);
  const double high = low * std::pow(10.0, o.twistDb / 20.0);
  const double power = (low * low + high * high) / 2.0;
  return 10.0 * std::log10(power) - snrDb;
}

std::vector<std::string> CorpusCategories() {
  return {kClean, kDev15,  kDev35, k40ms,  k20msTones, k20msBreaks,
          kTwistIn, kTwistOut, kSnr, kLevels, kQuiet,  kLine};
}

std::vector<CorpusRecording> MakeCorpus() {
  std::vector<CorpusRecording> corpus;
  uint32_t seed = 100;
  size_t pick = 0;
  auto add = [&](const char* category, const std::string& stem, int n, DtmfSignalOptions o,
                 bool keysExpected) {
    CorpusRecording r;
    r.category = category;
    r.file = stem + "-" + std::to_string(n) + ".wav";
    r.sent = kKeySets[pick++ % kKeySetCount];
    r.expected = keysExpected ? r.sent : "";
    o.seed = ++seed;
    r.options = o;
    corpus.push_back(r);
    return &corpus.back();
  };

  // Everyday recordings at the common rates, widths and channel counts.
  const int rates[] = {8000, 11025, 16000, 22050, 44100, 48000};
  for (int i = 0; i < 6; ++i) {
    DtmfSignalOptions o = Base(rates[i], 0);
    o.bits = i == 1 ? 8 : 16;
    o.channels = i >= 4 ? 2 : 1;
    add(kClean, "clean", i + 1, o, true);
  }
  for (int i = 0; i < 6; ++i) {
    DtmfSignalOptions o = Base(i < 3 ? 8000 : 44100, 0);
    o.freqErrorPct = i % 2 == 0 ? 1.5 : -1.5;
    o.noiseDb = -45;
    add(kDev15, "dev15", i + 1, o, true);
  }
  for (int i = 0; i < 6; ++i) {
    DtmfSignalOptions o = Base(i < 3 ? 8000 : 44100, 0);
    o.freqErrorPct = i % 2 == 0 ? 3.5 : -3.5;
    o.noiseDb = -45;
    add(kDev35, "dev35", i + 1, o, false);
  }
  for (int i = 0; i < 6; ++i) {
    DtmfSignalOptions o = Base(i < 3 ? 8000 : 44100, 0);
    o.toneMs = 40;
    o.gapMs = 40;
    o.noiseDb = i % 2 == 0 ? -60 : -40;
    add(k40ms, "t40", i + 1, o, true);
  }
  for (int i = 0; i < 6; ++i) {
    DtmfSignalOptions o = Base(i < 3 ? 8000 : 44100, 0);
    o.toneMs = 20;
    o.gapMs = 80;
    add(k20msTones, "t20", i + 1, o, false);
  }
  for (int i = 0; i < 6; ++i) {
    // One key sounded four times with 20 ms breaks: a single key.
    DtmfSignalOptions o = Base(i < 3 ? 8000 : 44100, 0);
    o.toneMs = 60;
    o.gapMs = 20;
    CorpusRecording* r = add(k20msBreaks, "b20", i + 1, o, true);
    const char key = "159*#D"[i];
    r->sent = std::string(4, key);
    r->expected = std::string(1, key);
  }
  for (int i = 0; i < 6; ++i) {
    DtmfSignalOptions o = Base(i < 3 ? 8000 : 44100, 0);
    o.twistDb = i % 2 == 0 ? 4 : -8;
    o.levelDb = i % 2 == 0 ? -12 : -6;
    add(kTwistIn, "twist", i + 1, o, true);
  }
  for (int i = 0; i < 6; ++i) {
    DtmfSignalOptions o = Base(i < 3 ? 8000 : 44100, 0);
    o.twistDb = i % 2 == 0 ? 8 : -12;
    o.levelDb = i % 2 == 0 ? -14 : -6;
    add(kTwistOut, "twistx", i + 1, o, false);
  }
  for (int i = 0; i < 6; ++i) {
    DtmfSignalOptions o = Base(8000, 0);
    o.toneMs = 60;
    o.gapMs = 60;
    o.twistDb = i % 3 - 1.0;
    o.noiseDb = NoiseForSnr(o, 15);
    add(kSnr, "snr15", i + 1, o, true);
  }
  for (int i = 0; i < 6; ++i) {
    DtmfSignalOptions o = Base(i < 3 ? 8000 : 44100, 0);
    o.twistDb = 0;
    o.levelDb = i % 2 == 0 ? -42 : -7;
    o.noiseDb = -85;
    add(kLevels, "level", i + 1, o, true);
  }
  for (int i = 0; i < 6; ++i) {
    DtmfSignalOptions o = Base(i < 3 ? 8000 : 44100, 0);
    o.twistDb = 0;
    o.levelDb = -60;
    o.noiseDb = -95;
    add(kQuiet, "quiet", i + 1, o, false);
  }
  for (int i = 0; i < 6; ++i) {
    // Band-limited line with hum, noise, a little frequency error and
    // twist, and brisk dialling.
    DtmfSignalOptions o = Base(i < 3 ? 8000 : 11025, 0);
    o.telephoneBand = true;
    o.humDb = -35;
    o.noiseDb = -38;
    o.levelDb = -12;
    o.twistDb = i % 2 == 0 ? 3 : -5;
    o.freqErrorPct = i % 3 == 0 ? 1.0 : -1.0;
    o.toneMs = 50 + 10 * i;
    o.gapMs = 45 + 5 * i;
    o.bits = i == 5 ? 8 : 16;
    add(kLine, "line", i + 1, o, true);
  }
  return corpus;
}

}  // namespace tv
