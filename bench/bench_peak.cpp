// The peak detector as the decoder runs it: FFTLength 16384, Welch window,
// one second of 44100 Hz 16-bit stereo in 6144-byte buffers. Prints how
// many seconds of audio it analyses per second of CPU.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "TMMPeakDetect.h"

namespace {

constexpr int kRate = 44100;
constexpr uint32_t kBufferBytes = 6144;

// One second of a DTMF key ("5": 770 + 1336 Hz) over light noise.
std::vector<int16_t> OneSecond() {
  std::mt19937 gen(7);
  std::normal_distribution<double> noise(0.0, 300.0);
  std::vector<int16_t> s(2 * kRate);
  for (int m = 0; m < kRate; ++m) {
    const double t = static_cast<double>(m) / kRate;
    const double v = 9000.0 * std::sin(2 * M_PI * 770 * t) + 9000.0 * std::sin(2 * M_PI * 1336 * t);
    s[2 * m] = static_cast<int16_t>(std::lround(v + noise(gen)));
    s[2 * m + 1] = static_cast<int16_t>(std::lround(v + noise(gen)));
  }
  return s;
}

double gAudioPerCpu = 0;

void BM_PeakDetect(benchmark::State& state) {
  tv::TMMPeakDetect pd("MMPeakDetect1");
  auto format = tv::MakePcmFormat(16, 2, kRate);
  pd.SetPWaveFormat(format.get());
  pd.SetFFTLength(16384);
  pd.SetWindow(tv::fwWelch);
  pd.Open();
  pd.Start();

  const std::vector<int16_t> audio = OneSecond();
  const auto* bytes = reinterpret_cast<const char*>(audio.data());
  const uint32_t total = static_cast<uint32_t>(audio.size() * sizeof(int16_t));
  std::vector<char> block(tv::kBufferHeaderSize + kBufferBytes);
  auto* header = reinterpret_cast<tv::TMMBufferHeader*>(block.data());
  tv::InitBufferHeader(header, kBufferBytes);

  for (auto _ : state) {
    for (uint32_t offset = 0; offset < total; offset += kBufferBytes) {
      const uint32_t n = std::min(kBufferBytes, total - offset);
      std::memcpy(header->lpData, bytes + offset, n);
      header->dwBytesRecorded = n;
      pd.BufferReady(header);
    }
    benchmark::DoNotOptimize(pd.BinValue(pd.FrequencyToIndex(770.0f)));
  }
  state.counters["audio_s_per_cpu_s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

BENCHMARK(BM_PeakDetect)->Unit(benchmark::kMillisecond);

class RateReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) {
      if (r.run_type == Run::RT_Iteration && r.iterations > 0) {
        // CPU seconds per iteration; one iteration is one second of audio.
        const double cpu = r.GetAdjustedCPUTime() / 1e3;
        if (cpu > 0) gAudioPerCpu = 1.0 / cpu;
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RateReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("peak detector (16384, Welch, 44100 Hz 16-bit stereo, 6144-byte buffers): "
              "%.0f seconds of audio per CPU second\n",
              gAudioPerCpu);
  benchmark::Shutdown();
  return 0;
}
