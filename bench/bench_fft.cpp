// Our real FFT side by side with FFTW's single-precision real transform.
// Ours transforms in place, so each iteration first refreshes its input
// (a copy of n floats, counted against us); FFTW runs out of place on a
// plan made with FFTW_MEASURE, its best case. Prints ours/FFTW per length.
#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "MMFFT.h"

namespace {

std::vector<float> Signal(int n) {
  std::mt19937 gen(12345);
  std::uniform_real_distribution<float> dist(-32768.0f, 32767.0f);
  std::vector<float> x(static_cast<size_t>(n));
  for (float& v : x) v = dist(gen);
  return x;
}

void BM_RealFFT(benchmark::State& state) {
  const int k = static_cast<int>(state.range(0));
  const int n = 1 << k;
  tv::PFFTSetup setup = tv::CreateFFTSetup(k);
  const std::vector<float> input = Signal(n);
  std::vector<float> work(input.size());
  for (auto _ : state) {
    std::memcpy(work.data(), input.data(), input.size() * sizeof(float));
    tv::RealFFT(setup.get(), work.data(), 1);
    benchmark::DoNotOptimize(work.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_FFTW(benchmark::State& state) {
  const int n = 1 << static_cast<int>(state.range(0));
  float* in = fftwf_alloc_real(static_cast<size_t>(n));
  fftwf_complex* out = fftwf_alloc_complex(static_cast<size_t>(n / 2 + 1));
  fftwf_plan plan = fftwf_plan_dft_r2c_1d(n, in, out, FFTW_MEASURE);
  const std::vector<float> input = Signal(n);  // planning overwrote `in`
  std::memcpy(in, input.data(), input.size() * sizeof(float));
  for (auto _ : state) {
    fftwf_execute(plan);
    benchmark::DoNotOptimize(out);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
  fftwf_destroy_plan(plan);
  fftwf_free(out);
  fftwf_free(in);
}

BENCHMARK(BM_RealFFT)->Arg(10)->Arg(14);
BENCHMARK(BM_FFTW)->Arg(10)->Arg(14);

// Keeps the console output and remembers the time per iteration of each run.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) {
      if (r.run_type == Run::RT_Iteration && r.iterations > 0) {
        times[r.benchmark_name()] = r.GetAdjustedRealTime();
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> times;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  for (int k : {10, 14}) {
    const std::string arg = "/" + std::to_string(k);
    const auto ours = reporter.times.find("BM_RealFFT" + arg);
    const auto fftw = reporter.times.find("BM_FFTW" + arg);
    if (ours == reporter.times.end() || fftw == reporter.times.end()) continue;
    std::printf("%5d points: ours %.2f us, FFTW %.2f us, ratio ours/FFTW %.2f\n", 1 << k,
                ours->second / 1e3, fftw->second / 1e3, ours->second / fftw->second);
  }
  benchmark::Shutdown();
  return 0;
}
