// The level meter and the oscilloscope as the main window runs them: one
// frame fed and the control painted, per iteration. 16-bit stereo at
// 44100 Hz; the meter is MMLevel1 (50 sample frames a frame, 300 pixels
// tall), the oscilloscope MMOscope1 (256 points on its 260 x 132 design
// size). The target is 0.1 ms per frame; the ratio printed is the time
// taken over that target (below 1 meets it).
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "MMPCMSup.h"
#include "TMMLevel.h"
#include "TMMOscope.h"

namespace {

constexpr double kTargetSeconds = 1e-4;

// One second of a 997 Hz tone whose level swings slowly between -40 dB and
// full scale, so that meter and trace change with every frame.
const std::vector<int16_t>& Signal() {
  static const std::vector<int16_t> s = [] {
    std::vector<int16_t> v(2 * 44100);
    for (int i = 0; i < 44100; ++i) {
      const double level = std::pow(10.0, -2.0 * (0.5 + 0.5 * std::sin(2 * M_PI * 3 * i / 44100.0)));
      const double x = 32000 * level * std::sin(2 * M_PI * 997 * i / 44100.0);
      v[2 * i] = v[2 * i + 1] = static_cast<int16_t>(std::lround(x));
    }
    return v;
  }();
  return s;
}

template <class Display>
void FeedAndPaint(benchmark::State& state, Display& display) {
  display.show();  // hidden displays skip their frames
  QImage image(display.size(), QImage::Format_RGB32);
  const auto* bytes = reinterpret_cast<const uint8_t*>(Signal().data());
  const int total = static_cast<int>(Signal().size() * sizeof(int16_t));
  const int frame = display.FrameBytes();
  int at = 0;
  for (auto _ : state) {
    display.FeedPCM(bytes + at);
    at += frame;
    if (at + frame > total) at = 0;
    QPainter painter(&image);
    display.paint(painter, QRectF(image.rect()));
  }
  benchmark::DoNotOptimize(image.constBits());
}

void BM_LevelFeedAndPaint(benchmark::State& state) {
  tv::TMMLevel level(tv::TMMLevel::Design::MMLevel1, nullptr);
  level.resize(17, 300);
  FeedAndPaint(state, level);
}

void BM_OscopeFeedAndPaint(benchmark::State& state) {
  tv::TMMOscope scope;
  scope.ApplyGeneratorDesign();
  FeedAndPaint(state, scope);
}

BENCHMARK(BM_LevelFeedAndPaint)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_OscopeFeedAndPaint)->Unit(benchmark::kMicrosecond);

// Remembers the CPU time per frame of each case for the summary.
class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs)
      if (r.run_type == Run::RT_Iteration && r.iterations > 0)
        seconds[r.benchmark_name()] = r.GetAdjustedCPUTime() * 1e-6;
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> seconds;
};

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  SummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  for (const auto& [name, s] : reporter.seconds)
    std::printf("%s: %.4f ms per frame, %.2f of the 0.1 ms target\n", name.c_str(), s * 1e3,
                s / kTargetSeconds);
  benchmark::Shutdown();
  return 0;
}
