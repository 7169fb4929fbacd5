// The main window's spectrum as it runs live: 1024 points of 16-bit stereo
// at 44100 Hz, log axes, step-up decay, skLines, on an 800 x 420 plot. One
// iteration analyses one frame and composes the plot off-screen, then copies
// it into the control's picture as a repaint does. Real time needs 43 frames
// a second; the target is 0.45 ms per frame (under 2 % of a core).
#include <QApplication>
#include <QImage>
#include <QPainter>
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "MMPCMSup.h"
#include "TMMSpectrum.h"

namespace {

constexpr int kRate = 44100;
constexpr int kPoints = 1024;
constexpr int kFrames = 43;  // one second
constexpr double kTargetMs = 0.45;

// A DTMF key ("5": 770 + 1336 Hz) over light noise, frame after frame.
std::vector<std::vector<uint8_t>> Signal() {
  std::mt19937 gen(11);
  std::normal_distribution<double> noise(0.0, 200.0);
  std::vector<std::vector<uint8_t>> frames;
  for (int f = 0; f < kFrames; ++f) {
    std::vector<uint8_t> bytes(static_cast<size_t>(kPoints) * 4);
    for (int i = 0; i < kPoints; ++i) {
      const double t = static_cast<double>(f * kPoints + i) / kRate;
      const double v = 9000.0 * (std::sin(2 * M_PI * 770 * t) + std::sin(2 * M_PI * 1336 * t));
      for (int c = 0; c < 2; ++c) {
        const auto s = static_cast<int16_t>(std::lround(v + noise(gen)));
        std::memcpy(&bytes[static_cast<size_t>(4 * i + 2 * c)], &s, 2);
      }
    }
    frames.push_back(std::move(bytes));
  }
  return frames;
}

double gMsPerFrame = 0;

void BM_SpectrumFeedAndPaint(benchmark::State& state) {
  tv::TMMSpectrum spectrum(nullptr, tv::TMMSpectrumDesign::Main);
  spectrum.resize(800 + 4 + 64, 420 + 4 + 40);
  spectrum.show();  // a hidden display ignores its frames
  if (spectrum.PlotRect().size() != QSize(800, 420)) {
    state.SkipWithError("the plot is not 800 x 420");
    return;
  }
  auto format = tv::MakePcmFormat(16, 2, kRate);
  tv::TMMDisplay& display = spectrum.Display();
  display.AssignFormat(format.get());
  const auto frames = Signal();
  QImage screen(spectrum.size(), QImage::Format_RGB32);
  const QPoint at = spectrum.PlotRect().topLeft();

  size_t next = 0;
  for (auto _ : state) {
    display.FeedPCM(frames[next].data());
    next = (next + 1) % frames.size();
    const QImage& plot = spectrum.ComposeFrame();
    QPainter p(&screen);
    p.drawImage(at, plot);
  }
  benchmark::DoNotOptimize(screen.constBits());
  state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_SpectrumFeedAndPaint)->Unit(benchmark::kMicrosecond);

// The parts of one frame, to see what limits it: the analysis alone, and
// the drawing of an unchanged frame.
void BM_SpectrumFeedOnly(benchmark::State& state) {
  tv::TMMSpectrum spectrum(nullptr, tv::TMMSpectrumDesign::Main);
  spectrum.resize(800 + 4 + 64, 420 + 4 + 40);
  spectrum.show();
  auto format = tv::MakePcmFormat(16, 2, kRate);
  tv::TMMSpectrumCalc& calc = spectrum.Calc();
  calc.AssignFormat(format.get());
  const auto frames = Signal();
  size_t next = 0;
  for (auto _ : state) {
    calc.FeedPCM(frames[next].data());
    next = (next + 1) % frames.size();
    benchmark::DoNotOptimize(calc.BinLevels()[40]);
  }
}

void BM_SpectrumComposeOnly(benchmark::State& state) {
  tv::TMMSpectrum spectrum(nullptr, tv::TMMSpectrumDesign::Main);
  spectrum.resize(800 + 4 + 64, 420 + 4 + 40);
  spectrum.show();
  auto format = tv::MakePcmFormat(16, 2, kRate);
  spectrum.Calc().AssignFormat(format.get());
  spectrum.Calc().FeedPCM(Signal()[0].data());
  for (auto _ : state) benchmark::DoNotOptimize(spectrum.ComposeFrame().constBits());
}

BENCHMARK(BM_SpectrumFeedOnly)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SpectrumComposeOnly)->Unit(benchmark::kMicrosecond);

class TargetReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) {
      if (r.run_type == Run::RT_Iteration && r.iterations > 0 &&
          r.run_name.function_name == "BM_SpectrumFeedAndPaint") {
        gMsPerFrame = r.GetAdjustedCPUTime() / 1e3;  // reported in microseconds
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
};

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  TargetReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  if (gMsPerFrame > 0) {
    std::printf("spectrum frame (1024 points, 16-bit stereo 44100 Hz, log axes, step-up decay, "
                "skLines, 800 x 420 plot): %.3f ms CPU, %.2f of the %.2f ms target, "
                "%.2f %% of a core at 43 frames/s\n",
                gMsPerFrame, gMsPerFrame / kTargetMs, kTargetMs, gMsPerFrame * 43 / 10);
  }
  benchmark::Shutdown();
  return 0;
}
