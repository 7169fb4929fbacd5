#include "DtmfSynth.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#include "DtmfKeys.h"
#include "MMErrors.h"
#include "MMPCMSup.h"
#include "TMMWave.h"

namespace tv {

namespace {

double FromDb(double db) { return std::pow(10.0, db / 20.0); }

// Second-order sections of a 300..3400 Hz band pass (high pass then low
// pass), designed by the bilinear transform for the given rate.
struct Biquad {
  double b0, b1, b2, a1, a2;
  double z1 = 0, z2 = 0;
  double Run(double x) {
    const double y = b0 * x + z1;
    z1 = b1 * x - a1 * y + z2;
    z2 = b2 * x - a2 * y;
    return y;
  }
};

Biquad Section(double rate, double freq, bool highPass) {
  const double q = std::numbers::sqrt2 / 2;
  const double w = 2 * std::numbers::pi * std::min(freq, rate * 0.45) / rate;
  const double alpha = std::sin(w) / (2 * q);
  const double c = std::cos(w);
  const double a0 = 1 + alpha;
  Biquad s{};
  if (highPass) {
    s.b0 = (1 + c) / 2 / a0;
    s.b1 = -(1 + c) / a0;
    s.b2 = (1 + c) / 2 / a0;
  } else {
    s.b0 = (1 - c) / 2 / a0;
    s.b1 = (1 - c) / a0;
    s.b2 = (1 - c) / 2 / a0;
  }
  s.a1 = -2 * c / a0;
  s.a2 = (1 - alpha) / a0;
  return s;
}

}  // namespace

std::vector<double> SynthesizeDtmf(const std::string& keys, const DtmfSignalOptions& o) {
  const double rate = o.rate;
  auto frames = [&](double ms) { return static_cast<size_t>(std::llround(ms * rate / 1000.0)); };
  const size_t tone = frames(o.toneMs);
  const size_t gap = frames(o.gapMs);
  const size_t ramp = std::min(frames(o.rampMs), tone / 2);
  std::vector<double> out(frames(o.leadMs), 0.0);
  const double low = FromDb(o.levelDb);
  const double high = low * FromDb(o.twistDb);
  const double scale = 1.0 + o.freqErrorPct / 100.0;
  for (size_t k = 0; k < keys.size(); ++k) {
    const int index = DtmfKeyIndex(keys[k]);
    if (index < 0) continue;
    const DtmfKey& key = kDtmfKeys[static_cast<size_t>(index)];
    const double fl = kStandardRowFreq[static_cast<size_t>(key.row)] * scale;
    const double fh = kStandardColumnFreq[static_cast<size_t>(key.column)] * scale;
    for (size_t n = 0; n < tone; ++n) {
      double env = 1.0;
      if (n < ramp) env = 0.5 - 0.5 * std::cos(std::numbers::pi * n / ramp);
      if (tone - 1 - n < ramp) env = 0.5 - 0.5 * std::cos(std::numbers::pi * (tone - 1 - n) / ramp);
      const double t = static_cast<double>(n) / rate;
      out.push_back(env * (low * std::sin(2 * std::numbers::pi * fl * t) +
                           high * std::sin(2 * std::numbers::pi * fh * t)));
    }
    if (k + 1 < keys.size()) out.insert(out.end(), gap, 0.0);
  }
  out.insert(out.end(), frames(o.tailMs), 0.0);

  std::mt19937 rng(o.seed);
  std::normal_distribution<double> gauss(0.0, 1.0);
  const double noise = FromDb(o.noiseDb);
  const double hum = FromDb(o.humDb);
  for (size_t n = 0; n < out.size(); ++n) {
    const double t = static_cast<double>(n) / rate;
    double extra = noise * gauss(rng);
    if (hum > 1e-9) {
      extra += hum * (std::sin(2 * std::numbers::pi * 50 * t) +
                      0.4 * std::sin(2 * std::numbers::pi * 150 * t) +
                      0.2 * std::sin(2 * std::numbers::pi * 250 * t));
    }
    out[n] += extra;
  }
  if (o.telephoneBand) {
    Biquad hp1 = Section(rate, 300, true), hp2 = Section(rate, 300, true);
    Biquad lp1 = Section(rate, 3400, false), lp2 = Section(rate, 3400, false);
    for (double& s : out) s = lp2.Run(lp1.Run(hp2.Run(hp1.Run(s))));
  }
  return out;
}

std::vector<uint8_t> PcmBytes(const std::vector<double>& samples, const DtmfSignalOptions& o) {
  std::vector<uint8_t> bytes;
  bytes.reserve(samples.size() * static_cast<size_t>(o.channels * o.bits / 8));
  for (double s : samples) {
    const double v = std::clamp(s, -1.0, 1.0);
    for (int c = 0; c < o.channels; ++c) {
      if (o.bits == 8) {
        bytes.push_back(static_cast<uint8_t>(std::clamp<long>(std::lround(v * 127.0) + 128, 0, 255)));
      } else {
        const auto q = static_cast<int16_t>(std::clamp<long>(std::lround(v * 32767.0), -32768, 32767));
        bytes.push_back(static_cast<uint8_t>(static_cast<uint16_t>(q) & 0xFF));
        bytes.push_back(static_cast<uint8_t>(static_cast<uint16_t>(q) >> 8));
      }
    }
  }
  return bytes;
}

void WriteDtmfWave(const std::string& fileName, const std::string& keys,
                   const DtmfSignalOptions& options) {
  const std::vector<uint8_t> bytes = PcmBytes(SynthesizeDtmf(keys, options), options);
  WaveFormatPtr format = MakePcmFormat(options.bits, options.channels, options.rate);
  TMMWave wave;
  wave.SetFileMustExist(false);
  wave.CreateFile(fileName, format.get());
  size_t done = 0;
  while (done < bytes.size()) {
    const auto n = static_cast<int32_t>(std::min<size_t>(bytes.size() - done, 65536));
    if (wave.WriteData(bytes.data() + done, n) != n) {
      (void)wave.CloseFile();  // failed already; the message says so
      throw EMMError("Unable to write " + fileName);
    }
    done += static_cast<size_t>(n);
  }
  if (!wave.CloseFile()) throw EMMError("Unable to write " + fileName);
}

std::vector<DemoRecording> ReadDemoTable(const std::string& path) {
  std::ifstream in(path);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::vector<DemoRecording> table;
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> fields;
    std::stringstream split(line);
    std::string field;
    while (std::getline(split, field, '\t')) fields.push_back(field);
    if (fields.size() != 14) {
      throw std::runtime_error(path + ":" + std::to_string(number) + ": expected 14 fields");
    }
    try {
      DemoRecording d;
      d.file = fields[0];
      d.keys = fields[1];
      DtmfSignalOptions& o = d.options;
      o.rate = std::stoi(fields[2]);
      o.bits = std::stoi(fields[3]);
      o.channels = std::stoi(fields[4]);
      o.toneMs = std::stod(fields[5]);
      o.gapMs = std::stod(fields[6]);
      o.levelDb = std::stod(fields[7]);
      o.twistDb = std::stod(fields[8]);
      o.noiseDb = std::stod(fields[9]);
      o.humDb = std::stod(fields[10]);
      o.freqErrorPct = std::stod(fields[11]);
      o.telephoneBand = fields[12] == "1";
      o.seed = static_cast<uint32_t>(std::stoul(fields[13]));
      table.push_back(std::move(d));
    } catch (const std::logic_error&) {
      throw std::runtime_error(path + ":" + std::to_string(number) + ": malformed number");
    }
  }
  return table;
}

}  // namespace tv
