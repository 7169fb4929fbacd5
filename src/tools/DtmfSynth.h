// Synthesises DTMF key sequences as they sound on recorded calls: tone
// pairs with soft edges, level and twist, noise, mains hum and a telephone
// band. The demonstration recordings and the decoder's tests are made with it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tv {

struct DtmfSignalOptions {
  int rate = 8000;
  int bits = 16;
  int channels = 1;
  double toneMs = 100;      // length of each key's tone
  double gapMs = 100;       // silence between keys
  double leadMs = 250;      // silence before the first key
  double tailMs = 400;      // silence after the last key
  double rampMs = 3;        // raised-cosine rise and fall of each tone
  double levelDb = -9;      // level of the low-group tone, dB below full scale
  double twistDb = 0;       // high-group tone level relative to the low one
  double noiseDb = -200;    // white noise, RMS in dB below full scale
  double humDb = -200;      // 50 Hz hum with harmonics
  double freqErrorPct = 0;  // every tone off by this many percent
  bool telephoneBand = false;  // 300..3400 Hz band pass over everything
  uint32_t seed = 1;
};

// Samples in -1..1, one per frame (the channels carry the same signal).
std::vector<double> SynthesizeDtmf(const std::string& keys, const DtmfSignalOptions& options);

// PCM bytes for the samples, in the options' width and channel count.
std::vector<uint8_t> PcmBytes(const std::vector<double>& samples, const DtmfSignalOptions& options);

// Writes the keys as a PCM wave file; throws on failure.
void WriteDtmfWave(const std::string& fileName, const std::string& keys,
                   const DtmfSignalOptions& options);

// One line of the demonstration table: a file name, the keys it holds, and
// how it sounds.
struct DemoRecording {
  std::string file;
  std::string keys;
  DtmfSignalOptions options;
};

// Reads the tab-separated demonstration table; '#' starts a comment line.
// Throws std::runtime_error naming the line on a malformed entry.
std::vector<DemoRecording> ReadDemoTable(const std::string& path);

}  // namespace tv
