// The Real Time chain as the main window runs it, in real time on the
// virtual devices: a wave file as line-in (16-bit stereo, 44100 Hz) ->
// MMWaveIn1 -> MMConnector1 (two level meters, the oscilloscope on rising
// edges, the spectrum) -> conect2 (two more level meters) -> the peak
// detector. Each display is painted off-screen when it was fed, at most 60
// times a second, as a widget's coalesced repaints reach the screen.
//
// Printed: the process's CPU time as a share of one core over the run
// (target below 10 %), and the lateness of the displays' deliveries against
// the moment each chunk is heard: the buffer's arrival plus the chunk's
// offset in time (target: the largest below 10 ms). Beside the chain, a
// thread that does nothing but sleep to a due time every 1.24 ms (a level
// meter's chunk) measures how late this machine itself wakes a sleeper over
// the same seconds: no program that sleeps between deliveries can be less
// late than that. Its CPU time is left out of the chain's share.
//
//   bench_connector [SECONDS]     (default 20 s of audio)
#include <sys/resource.h>
#include <unistd.h>

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>
#include <vector>

#include "MMDispatch.h"
#include "MMPCMSup.h"
#include "TMMConnector.h"
#include "TMMLevel.h"
#include "TMMOscope.h"
#include "TMMPeakDetect.h"
#include "TMMSpectrum.h"
#include "TMMVirtualDevices.h"
#include "TMMWaveIn.h"

namespace {

using namespace std::chrono_literals;
using tv::TMMDisplay;

constexpr int kRate = 44100;
constexpr double kBytesPerMicrosecond = kRate * 4 / 1e6;
constexpr int32_t kBufferSize = 4096;

int64_t NowUs() { return tv::SteadyMicrosecondClock().Microseconds(); }

double CpuSeconds(int who = RUSAGE_SELF) {
  rusage u{};
  getrusage(who, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

// Ten seconds of a 697 + 1209 Hz key tone whose level swings slowly, with a
// little noise, written as a wave file for the line-in.
void WriteLineIn(const std::filesystem::path& file) {
  const int frames = 10 * kRate;
  std::vector<int16_t> s(static_cast<size_t>(2 * frames));
  uint32_t noise = 1;
  for (int i = 0; i < frames; ++i) {
    const double t = static_cast<double>(i) / kRate;
    const double level = 0.1 + 0.4 * (0.5 + 0.5 * std::sin(2 * M_PI * 0.5 * t));
    noise = noise * 1664525u + 1013904223u;
    const double x = level * (std::sin(2 * M_PI * 697 * t) + std::sin(2 * M_PI * 1209 * t)) +
                     0.01 * (static_cast<double>(noise >> 16) / 32768.0 - 1.0);
    s[2 * static_cast<size_t>(i)] = s[2 * static_cast<size_t>(i) + 1] =
        static_cast<int16_t>(std::lround(std::clamp(x, -1.0, 1.0) * 32000));
  }
  const auto put32 = [](std::ofstream& o, uint32_t v) {
    const char b[4] = {static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
                       static_cast<char>(v >> 24)};
    o.write(b, 4);
  };
  const auto put16 = [](std::ofstream& o, uint16_t v) {
    const char b[2] = {static_cast<char>(v), static_cast<char>(v >> 8)};
    o.write(b, 2);
  };
  const auto bytes = static_cast<uint32_t>(s.size() * 2);
  std::ofstream o(file, std::ios::binary);
  o.write("RIFF", 4);
  put32(o, 36 + bytes);
  o.write("WAVEfmt ", 8);
  put32(o, 16);
  put16(o, 1);
  put16(o, 2);
  put32(o, kRate);
  put32(o, kRate * 4);
  put16(o, 4);
  put16(o, 16);
  o.write("data", 4);
  put32(o, bytes);
  o.write(reinterpret_cast<const char*>(s.data()), bytes);
}

// When each connector's latest buffer arrived: the start of the piece its
// displays are being fed. Everything here runs on the main thread.
struct Arrivals {
  std::map<const tv::TMMConnector*, int64_t> latest;
};

// Passes the feeds on to a display and measures how late each came. The
// connector's two piece buffers are told apart by the first chunk of a
// piece, which is always at its start for meters and spectra.
class Timed final : public TMMDisplay {
 public:
  Timed(const char* name, TMMDisplay& inner, const tv::TMMConnector& con, Arrivals& arrivals,
        bool measured)
      : name_(name), inner_(inner), con_(con), arrivals_(arrivals), measured_(measured) {}
  ~Timed() override { tv::TMMConnector::DisplayRemoved(this); }

  void AssignFormat(const tv::WAVEFORMATEX* format) override { inner_.AssignFormat(format); }
  int32_t FrameBytes() const override { return inner_.FrameBytes(); }
  void ResetDisplay() override { inner_.ResetDisplay(); }
  bool Scrolling() const override { return inner_.Scrolling(); }
  bool Accelerated() const override { return inner_.Accelerated(); }
  int32_t FFTLength() const override { return inner_.FFTLength(); }

  void FeedPCM(const void* data) override {
    const auto* p = static_cast<const uint8_t*>(data);
    if (p != last_ + lastSize_) {
      base_ = p;
      arrival_ = arrivals_.latest[&con_];
    }
    last_ = p;
    lastSize_ = FrameBytes();
    const double due = static_cast<double>(arrival_) +
                       static_cast<double>(p - base_) / kBytesPerMicrosecond;
    if (measured_) {
      lateMs_.push_back((static_cast<double>(NowUs()) - due) / 1000.0);
    }
    ++fed_;
    inner_.FeedPCM(data);
  }

  // Answers whether a feed came since the last paint and a frame of the
  // screen (1/60 s) has passed since it.
  bool PaintDue() {
    const int64_t now = NowUs();
    if (fed_ == painted_ || now - paintedAt_ < 16667) return false;
    painted_ = fed_;
    paintedAt_ = now;
    return true;
  }
  const char* Name() const { return name_; }
  std::vector<double>& Lateness() { return lateMs_; }
  int64_t Fed() const { return fed_; }

 private:
  const char* name_;
  TMMDisplay& inner_;
  const tv::TMMConnector& con_;
  Arrivals& arrivals_;
  const bool measured_;
  const uint8_t* last_ = nullptr;
  int32_t lastSize_ = 0;
  const uint8_t* base_ = nullptr;
  int64_t arrival_ = 0;
  int64_t fed_ = 0;
  int64_t painted_ = 0;
  int64_t paintedAt_ = 0;
  std::vector<double> lateMs_;
};

// The sleeper that measures the machine's own wake-up lateness.
class WakeUpReference {
 public:
  WakeUpReference() : thread_([this] { Run(); }) {}
  ~WakeUpReference() { Stop(); }
  WakeUpReference(const WakeUpReference&) = delete;
  WakeUpReference& operator=(const WakeUpReference&) = delete;

  // Measures from now on.
  void Clear() { clear_ = true; }
  void Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  // After Stop.
  std::vector<double>& Lateness() { return lateMs_; }
  double CpuSeconds() const { return cpu_; }

 private:
  void Run() {
    constexpr auto kPeriod = std::chrono::microseconds(1240);
    auto due = std::chrono::steady_clock::now();
    double cpuAtClear = ::CpuSeconds(RUSAGE_THREAD);
    lateMs_.reserve(50000);
    while (!stop_) {
      due += kPeriod;
      std::this_thread::sleep_until(due);
      const auto now = std::chrono::steady_clock::now();
      if (clear_.exchange(false)) {
        lateMs_.clear();
        cpuAtClear = ::CpuSeconds(RUSAGE_THREAD);
      }
      lateMs_.push_back(std::chrono::duration<double, std::milli>(now - due).count());
      // After a long stall the next due time starts afresh, as a pass does.
      if (now > due + kPeriod) due = now;
    }
    cpu_ = ::CpuSeconds(RUSAGE_THREAD) - cpuAtClear;
  }

  std::atomic<bool> stop_{false};
  std::atomic<bool> clear_{false};
  std::vector<double> lateMs_;
  double cpu_ = 0;
  std::thread thread_;
};

// Sorts the lateness and prints its median, 99th percentile and largest.
double PrintLateness(const char* name, const char* what, std::vector<double>& late) {
  std::sort(late.begin(), late.end());
  const double p99 = late[static_cast<size_t>(0.99 * static_cast<double>(late.size() - 1))];
  std::printf("%-12s %7zu %s, lateness median %.2f ms, 99th %.2f ms, largest %.2f ms\n", name,
              late.size(), what, late[late.size() / 2], p99, late.back());
  return late.back();
}

template <class Widget>
void PaintIfFed(Timed& timed, Widget& widget, QImage& image) {
  if (!timed.PaintDue()) return;
  QPainter painter(&image);
  widget.paint(painter, QRectF(image.rect()));
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  const double seconds = argc > 1 ? std::max(1.0, std::atof(argv[1])) : 20.0;

  tv::LoopDispatcher loop;
  tv::SetMainDispatcher(&loop);
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("bench_connector." + std::to_string(getpid()));
  std::filesystem::create_directories(folder);
  const std::filesystem::path lineIn = folder / "line-in.wav";
  WriteLineIn(lineIn);

  double cpuShare = 0;
  int64_t passes = 0;
  {
    tv::TMMVirtualDevices devices;
    devices.SetLineInFile(lineIn.string());
    tv::TMMWaveIn in("MMWaveIn1", devices);
    in.SetDeviceID(tv::TMMVirtualDevices::kLineIn);
    in.SetMode(tv::mStereo);
    in.SetBitLength(tv::b16Bit);
    in.SetSampleRate(kRate);
    in.SetBufferSize(kBufferSize);
    in.SetNumBuffers(10);
    in.SetCallBackMode(tv::cmWindow);

    tv::TMMConnector con1("MMConnector1"), con2("conect2");
    tv::TMMPeakDetect peak("MMPeakDetect1");
    con1.SetTriggerMode(tv::tmUpFlank);

    tv::TMMSpectrum spectrum(nullptr, tv::TMMSpectrumDesign::Main);
    tv::TMMOscope oscope;
    oscope.ApplyGeneratorDesign();
    tv::TMMLevel level1(tv::TMMLevel::Design::MMLevel1, nullptr);
    tv::TMMLevel level2(tv::TMMLevel::Design::MMLevel2, nullptr);
    tv::TMMLevel level3(tv::TMMLevel::Design::MMLevel3, nullptr);
    tv::TMMLevel level4(tv::TMMLevel::Design::MMLevel4, nullptr);
    for (QWidget* w : std::initializer_list<QWidget*>{&spectrum, &oscope, &level1, &level2,
                                                       &level3, &level4}) {
      if (w->width() < 16 || w->height() < 16) w->resize(std::max(w->width(), 17), 300);
      w->show();  // hidden displays skip their frames
    }

    Arrivals arrivals;
    Timed tSpectrum("spectrum", spectrum.Display(), con1, arrivals, true);
    // The oscilloscope's trigger moves its chunks inside the piece: fed and
    // painted, but its lateness is not told apart from the move.
    Timed tOscope("oscilloscope", oscope.Calc(), con1, arrivals, false);
    Timed tLevel3("MMLevel3", level3.Calc(), con1, arrivals, true);
    Timed tLevel4("MMLevel4", level4.Calc(), con1, arrivals, true);
    Timed tLevel1("MMLevel1", level1.Calc(), con2, arrivals, true);
    Timed tLevel2("MMLevel2", level2.Calc(), con2, arrivals, true);
    con1.SetSpectrum1(&tSpectrum);
    con1.SetOscope1(&tOscope);
    con1.SetLevel1(&tLevel3);
    con1.SetLevel2(&tLevel4);
    con2.SetLevel1(&tLevel1);
    con2.SetLevel2(&tLevel2);

    con1.OnBufferReady = [&](tv::TMMDSPComponent* c, tv::PWaveHdr) {
      arrivals.latest[static_cast<tv::TMMConnector*>(c)] = NowUs();
    };
    con2.OnBufferReady = con1.OnBufferReady;
    const QSize spectrumSize = spectrum.size().isEmpty() ? QSize(480, 240) : spectrum.size();
    QImage spectrumImage(spectrumSize, QImage::Format_RGB32);
    QImage oscopeImage(oscope.size(), QImage::Format_RGB32);
    QImage levelImage(QSize(17, 300), QImage::Format_RGB32);
    con1.OnTrigger = [&](tv::TMMDSPComponent*) {
      PaintIfFed(tSpectrum, spectrum, spectrumImage);
      PaintIfFed(tOscope, oscope, oscopeImage);
      PaintIfFed(tLevel3, level3, levelImage);
      PaintIfFed(tLevel4, level4, levelImage);
      ++passes;
    };
    con2.OnTrigger = [&](tv::TMMDSPComponent*) {
      PaintIfFed(tLevel1, level1, levelImage);
      PaintIfFed(tLevel2, level2, levelImage);
    };

    in.SetOutput(&con1);
    con1.SetOutput(&con2);
    con2.SetOutput(&peak);

    WakeUpReference reference;
    in.Start();
    // The first second settles the pipeline; the run is measured after it.
    loop.RunUntil([] { return false; }, 1000ms);
    for (Timed* t : {&tSpectrum, &tLevel1, &tLevel2, &tLevel3, &tLevel4}) t->Lateness().clear();
    reference.Clear();
    const auto wall0 = std::chrono::steady_clock::now();
    const double cpu0 = CpuSeconds();
    loop.RunUntil([] { return false; }, std::chrono::milliseconds(std::lround(seconds * 1000)));
    reference.Stop();
    const double cpu1 = CpuSeconds();
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
    cpuShare = (cpu1 - cpu0 - reference.CpuSeconds()) / wall;
    in.Close();

    std::printf("Real Time chain, %.0f s of 16-bit stereo at 44100 Hz on the virtual line-in\n",
                wall);
    std::printf("CPU: %.1f %% of one core (target below 10 %%)\n", cpuShare * 100);
    double worst = 0;
    for (Timed* t : {&tSpectrum, &tLevel3, &tLevel4, &tLevel1, &tLevel2}) {
      std::vector<double>& late = t->Lateness();
      if (late.empty()) {
        std::printf("%-12s never fed\n", t->Name());
        worst = 1e9;
        continue;
      }
      worst = std::max(worst, PrintLateness(t->Name(), "feeds", late));
    }
    std::printf("oscilloscope %7lld feeds\n", static_cast<long long>(tOscope.Fed()));
    std::printf("Largest lateness: %.2f ms (target below 10 ms)\n", worst);
    std::printf("This machine's own wake-up lateness meanwhile (a thread that only sleeps):\n");
    std::vector<double>& sleeper = reference.Lateness();
    if (!sleeper.empty()) {
      PrintLateness("sleeper", "wake-ups", sleeper);
    }
    std::printf("Trigger passes of MMConnector1: %lld\n", static_cast<long long>(passes));
    in.SetOutput(nullptr);
  }
  tv::SetMainDispatcher(nullptr);
  std::error_code ec;
  std::filesystem::remove_all(folder, ec);
  return 0;
}
