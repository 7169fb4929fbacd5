// tonvista-devices: lists the sound devices the program sees and checks a
// play-and-record round trip through them, for users setting up a machine.
//
//   tonvista-devices [--input-file FILE]                 list the devices
//   tonvista-devices [options] --check [SECONDS]         round-trip check
#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <numbers>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "MMDispatch.h"
#include "MMErrors.h"
#include "TMMWaveIn.h"
#include "TMMWaveOut.h"

namespace {

using namespace tv;
using Clock = std::chrono::steady_clock;

constexpr const char* kUsage =
    "Usage: tonvista-devices [--input-file FILE] [--check [SECONDS]]\n"
    "                        [--rate HZ] [--in-buffer BYTES] [--out-buffer BYTES]\n"
    "                        [--in-device ID] [--out-device ID]\n"
    "\n"
    "Without --check, lists the input and output devices with their default\n"
    "formats. ID -1 is the default device, which the program uses.\n"
    "\n"
    "--check [SECONDS]   plays a test signal (a quiet 997 Hz tone with a little\n"
    "                    noise, 10 s by default) to the output device while\n"
    "                    recording the input device, 16-bit stereo, and reports\n"
    "                    the buffers delivered, the buffers lost or repeated,\n"
    "                    whether the recording matches what was played bit for\n"
    "                    bit (it can where the path is digital, as a sound\n"
    "                    server's monitor of its output is), the round-trip\n"
    "                    latency (from handing a sample to the output device to\n"
    "                    receiving the input buffer that holds it) and the CPU\n"
    "                    the device threads used. Exit status 0 when nothing\n"
    "                    was lost, 1 otherwise.\n"
    "--rate HZ           sample rate of the check (default 44100)\n"
    "--in-buffer BYTES   input buffer size (default 8192, as the program uses)\n"
    "--out-buffer BYTES  output buffer size (default 6144, as the program uses)\n"
    "--in-device ID, --out-device ID   devices of the check (default -1)\n"
    "--input-file FILE   use a wave file as line-in: the virtual devices are\n"
    "                    listed and the file becomes the default input\n"
    "\n"
    "TONVISTA_AUDIO=virtual lists the virtual devices (a loopback pair, a\n"
    "silent input, a null output) after the sound system's and makes them the\n"
    "defaults.\n";

std::string OneLine(std::string text) {
  for (char& c : text) {
    if (c == '\n') c = ' ';
  }
  std::erase(text, '\r');
  return text;
}

bool ParseInt(std::string_view text, long low, long high, long& value) {
  if (text.empty()) return false;
  char* end = nullptr;
  const std::string s(text);
  const long v = std::strtol(s.c_str(), &end, 10);
  if (end == nullptr || *end != '\0' || v < low || v > high) return false;
  value = v;
  return true;
}

// ---------------------------------------------------------------------------
// Listing

void PrintDevices(bool input) {
  TMMWaveDevices& devices = SystemWaveDevices();
  const int count = input ? TMMWaveIn::DeviceCount() : TMMWaveOut::DeviceCount();
  std::printf("%s devices:\n", input ? "Input" : "Output");
  if (count == 0) {
    std::printf("  %s\n", LoadResString(input ? SNoRecordingDevice : SNoPlayingDevice).c_str());
    return;
  }
  for (TMMDeviceId id = -1; id < count; ++id) {
    TMMWaveCaps caps;
    const MMRESULT r =
        input ? devices.waveInGetDevCapsA(id, caps) : devices.waveOutGetDevCapsA(id, caps);
    if (r != MMSYSERR_NOERROR) {
      std::printf("  %3d  (not available)\n", id);
      continue;
    }
    std::printf("  %3d  %-44s %2u ch, %6u Hz\n", id, caps.ProductName.c_str(),
                static_cast<unsigned>(caps.Channels), caps.DefaultSampleRate);
  }
}

// ---------------------------------------------------------------------------
// The test signal: a quiet tone with a little noise. Every frame is a
// function of its index alone, so the recording can be matched against it
// frame by frame, and the noise makes every stretch of it unique.

class TestSignal {
 public:
  explicit TestSignal(int rate) : tone_(static_cast<size_t>(rate)) {
    for (int k = 0; k < rate; ++k) {
      // 997 whole cycles a second: the table repeats after `rate` frames.
      tone_[static_cast<size_t>(k)] = static_cast<int16_t>(
          std::lround(3000.0 * std::sin(2.0 * std::numbers::pi * 997.0 * k / rate)));
    }
  }

  uint32_t Frame(uint64_t k) const {
    const int16_t tone = tone_[k % tone_.size()];
    const auto left = static_cast<int16_t>(tone + Noise(2 * k));
    const auto right = static_cast<int16_t>(tone + Noise(2 * k + 1));
    return static_cast<uint32_t>(static_cast<uint16_t>(left)) |
           (static_cast<uint32_t>(static_cast<uint16_t>(right)) << 16);
  }

 private:
  static int Noise(uint64_t n) {
    uint64_t x = n + 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    x ^= x >> 31;
    return static_cast<int>(x & 511) - 256;
  }

  std::vector<int16_t> tone_;
};

// The source the output plays: a given number of frames of the signal.
class SignalSource : public TMMDSPComponent {
 public:
  SignalSource(const TestSignal& signal, int rate, uint64_t frames)
      : TMMDSPComponent("Signal"), signal_(signal), frames_(frames) {
    WaveFormatPtr f = MakePcmFormat(16, 2, rate);
    SetPWaveFormat(f.get());
  }
  ~SignalSource() override { Unlink(); }
  std::span<const LinkProperty> LinkProperties() const override { return kPublishOutput; }

  void BufferLoad(PWaveHdr buffer, bool& moreBuffers) override {
    const uint64_t n = std::min<uint64_t>(buffer->dwBufferLength / 4, frames_ - next_);
    for (uint64_t i = 0; i < n; ++i) {
      const uint32_t v = signal_.Frame(next_ + i);
      std::memcpy(buffer->lpData + 4 * i, &v, 4);
    }
    next_ += n;
    buffer->dwBytesRecorded = static_cast<uint32_t>(n * 4);
    moreBuffers = next_ < frames_;
  }

 private:
  const TestSignal& signal_;
  const uint64_t frames_;
  uint64_t next_ = 0;
};

struct Arrival {
  Clock::time_point time;
  uint64_t endFrame;  // frames delivered up to and including this buffer
};

// Collects what a driver delivers; all storage is reserved beforehand so
// that the delivering thread never allocates.
class Recorder {
 public:
  Recorder(size_t maxFrames, size_t maxBuffers) {
    frames_.reserve(maxFrames);
    arrivals_.reserve(maxBuffers);
  }
  void Take(const PWaveHdr h, bool keepData) {
    const Clock::time_point now = Clock::now();
    std::lock_guard lock(lock_);
    const size_t n = h->dwBytesRecorded / 4;
    if (keepData) {
      const size_t room = frames_.capacity() - frames_.size();
      for (size_t i = 0; i < std::min(n, room); ++i) {
        uint32_t v;
        std::memcpy(&v, h->lpData + 4 * i, 4);
        frames_.push_back(v);
      }
    }
    total_ += n;
    if (arrivals_.size() < arrivals_.capacity()) arrivals_.push_back({now, total_});
  }
  std::vector<uint32_t> Frames() {
    std::lock_guard lock(lock_);
    return frames_;
  }
  std::vector<Arrival> Arrivals() {
    std::lock_guard lock(lock_);
    return arrivals_;
  }
  uint64_t Total() {
    std::lock_guard lock(lock_);
    return total_;
  }

 private:
  std::mutex lock_;
  std::vector<uint32_t> frames_;
  std::vector<Arrival> arrivals_;
  uint64_t total_ = 0;
};

struct Match {
  bool aligned = false;
  uint64_t start = 0;     // recorded frame where the signal shows first
  uint64_t firstSignal = 0;  // the frame of the signal found there
  uint64_t compared = 0;
  uint64_t lostFrames = 0, repeatedFrames = 0, wrongFrames = 0;
  int lostEvents = 0, repeatEvents = 0;
  bool complete = false;
};

constexpr uint64_t kProbe = 16;

bool MatchesAt(const std::vector<uint32_t>& rec, const TestSignal& signal, uint64_t played,
               uint64_t j, uint64_t k) {
  if (j + kProbe > rec.size() || k + kProbe > played) return false;
  for (uint64_t i = 0; i < kProbe; ++i) {
    if (rec[j + i] != signal.Frame(k + i)) return false;
  }
  return true;
}

struct Alignment {
  uint64_t recorded;  // a recorded frame ...
  uint64_t signal;    // ... and the frame of the signal it holds
};

// Where the signal shows in the recording. A sound server may start
// delivering a little after the output began, so the recording can begin
// anywhere in the signal.
std::optional<Alignment> FindSignal(const std::vector<uint32_t>& rec, const TestSignal& signal,
                                    uint64_t played) {
  int candidates = 0;
  for (uint64_t j = 0; j + kProbe <= rec.size() && candidates < 16; ++j) {
    if (rec[j] == 0) continue;
    ++candidates;
    for (uint64_t k = 0; k + kProbe <= played; ++k) {
      if (signal.Frame(k) == rec[j] && MatchesAt(rec, signal, played, j, k)) {
        return Alignment{j, k};
      }
    }
  }
  return std::nullopt;
}

// Walks the recording along the signal; where they part, looks for the
// place in the signal where the recording goes on.
Match MatchRecording(const std::vector<uint32_t>& rec, const TestSignal& signal, uint64_t played,
                     int rate) {
  Match m;
  const auto matchesAt = [&](uint64_t j, uint64_t k) {
    return MatchesAt(rec, signal, played, j, k);
  };
  const std::optional<Alignment> at = FindSignal(rec, signal, played);
  if (!at) return m;
  m.aligned = true;
  m.start = at->recorded;
  m.firstSignal = at->signal;
  const auto window = static_cast<int64_t>(rate);
  uint64_t j = m.start;
  uint64_t k = m.firstSignal;
  while (k < played && j < rec.size()) {
    if (rec[j] == signal.Frame(k)) {
      ++j;
      ++k;
      ++m.compared;
      continue;
    }
    int64_t found = -1;
    for (int64_t d = 1; d <= window && found < 0; ++d) {
      if (matchesAt(j, k + static_cast<uint64_t>(d))) found = static_cast<int64_t>(k) + d;
      if (found < 0 && static_cast<int64_t>(k) >= d && matchesAt(j, k - static_cast<uint64_t>(d))) {
        found = static_cast<int64_t>(k) - d;
      }
    }
    if (found > static_cast<int64_t>(k)) {
      m.lostFrames += static_cast<uint64_t>(found) - k;
      ++m.lostEvents;
      k = static_cast<uint64_t>(found);
    } else if (found >= 0) {
      m.repeatedFrames += k - static_cast<uint64_t>(found);
      ++m.repeatEvents;
      k = static_cast<uint64_t>(found);
    } else {
      ++m.wrongFrames;
      ++j;
      ++k;
    }
  }
  m.complete = k >= played;
  return m;
}

double CpuSeconds(clockid_t clock) {
  timespec ts{};
  clock_gettime(clock, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

struct CheckOptions {
  long seconds = 10;
  long rate = 44100;
  long inBuffer = 8192;
  long outBuffer = 6144;
  long inDevice = MapperId;
  long outDevice = MapperId;
};

int RunCheck(const CheckOptions& o) {
  LoopDispatcher loop;
  SetMainDispatcher(&loop);
  std::atomic<int> asyncErrors{0};
  SetApplicationErrorHandler([&](const std::string& message) {
    std::fprintf(stderr, "tonvista-devices: %s\n", OneLine(message).c_str());
    asyncErrors.fetch_add(1);
  });

  const auto rate = static_cast<int>(o.rate);
  const uint64_t played = static_cast<uint64_t>(o.seconds) * static_cast<uint64_t>(rate);
  const TestSignal signal(rate);
  SignalSource source(signal, rate, played);
  // Room for the signal, the latency in front of it and the tail after it.
  const uint64_t roomFrames = played + static_cast<uint64_t>(rate) * 12;
  Recorder recorded(roomFrames, roomFrames / 32 + 64);
  Recorder output(0, played / 16 + 64);

  TMMWaveIn in("MMWaveIn1");
  TMMWaveOut out("MMWaveOut1");
  std::atomic<bool> outStopped{false};
  int rc = 0;
  try {
    in.SetBufferSize(static_cast<int32_t>(o.inBuffer));
    in.SetCallBackMode(cmThread);
    in.SetDeviceID(static_cast<TMMDeviceId>(o.inDevice));
    in.SetMode(mStereo);
    in.SetBitLength(b16Bit);
    in.SetSampleRate(rate);
    out.SetBufferSize(static_cast<int32_t>(o.outBuffer));
    out.SetDeviceID(static_cast<TMMDeviceId>(o.outDevice));
    out.SetCallBackMode(cmThread);
    out.SetTimeFormat(tfMillisecond);
    out.SetInput(&source);
    in.OnBufferReady = [&](TMMDSPComponent*, PWaveHdr h) { recorded.Take(h, true); };
    out.OnBufferReady = [&](TMMDSPComponent*, PWaveHdr h) { output.Take(h, false); };
    out.OnStop = [&](TMMDSPComponent*) { outStopped.store(true); };

    std::printf("Check: %d Hz, 16-bit stereo, %ld s\n", rate, o.seconds);
    std::printf("  input:  %s, buffers of %ld bytes\n", in.ProductName().c_str(), o.inBuffer);
    std::printf("  output: %s, buffers of %ld bytes\n", out.ProductName().c_str(), o.outBuffer);
    std::fflush(stdout);

    const double cpu0 = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
    const double main0 = CpuSeconds(CLOCK_THREAD_CPUTIME_ID);
    const Clock::time_point t0 = Clock::now();
    in.Start();
    out.Start();
    const auto limit = std::chrono::seconds(o.seconds + 20);
    const bool finished = loop.RunUntil([&] { return outStopped.load() || !out.IsOpen(); }, limit);
    // The signal's tail is still on its way back: wait until it arrived, or
    // for at most five seconds.
    std::optional<Alignment> start;
    Clock::time_point lastLook{};
    loop.RunUntil(
        [&] {
          if (!start && Clock::now() - lastLook > std::chrono::milliseconds(500)) {
            // On a copy: the capture thread must never wait for the search.
            start = FindSignal(recorded.Frames(), signal, played);
            lastLook = Clock::now();
          }
          return start && recorded.Total() >= start->recorded + (played - start->signal);
        },
        std::chrono::seconds(5));
    const TMMDeviceStatistics inStats = in.DeviceStatistics();
    const TMMDeviceStatistics outStats = out.DeviceStatistics();
    in.Stop();
    const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
    const double cpu = (CpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - cpu0) -
                       (CpuSeconds(CLOCK_THREAD_CPUTIME_ID) - main0);
    in.Close();
    out.Close();
    loop.ProcessPending();

    const std::vector<uint32_t> rec = recorded.Frames();
    const Match m = MatchRecording(rec, signal, played, rate);
    const std::vector<Arrival> inArrivals = recorded.Arrivals();
    const std::vector<Arrival> outArrivals = output.Arrivals();

    std::printf("Buffers delivered: %zu recorded, %zu played\n", inArrivals.size(),
                outArrivals.size());
    const uint64_t deviceLost = inStats.Overruns + outStats.Underruns;
    uint64_t lost = deviceLost;
    std::string detail = "input overruns " + std::to_string(inStats.Overruns) + " (" +
                         std::to_string(inStats.OverrunBytes) + " bytes), output gaps " +
                         std::to_string(outStats.Underruns) + " (" +
                         std::to_string(outStats.UnderrunBytes) + " bytes)";
    if (m.aligned) {
      lost += static_cast<uint64_t>(m.lostEvents + m.repeatEvents);
      detail += "; in the recording " + std::to_string(m.lostFrames) + " frames lost, " +
                std::to_string(m.repeatedFrames) + " repeated";
    } else {
      detail += "; the recording cannot be matched to the signal";
    }
    std::printf("Buffers lost or repeated: %llu (%s)\n", static_cast<unsigned long long>(lost),
                detail.c_str());
    const bool exact = m.aligned && m.complete && m.lostFrames == 0 && m.repeatedFrames == 0 &&
                       m.wrongFrames == 0;
    if (exact) {
      std::printf("Bit-exact: yes (%llu frames compared", static_cast<unsigned long long>(m.compared));
      if (m.firstSignal > 0) {
        std::printf("; the first %.0f ms played before the input delivered",
                    1000.0 * static_cast<double>(m.firstSignal) / rate);
      }
      std::printf(")\n");
    } else if (m.aligned) {
      std::printf("Bit-exact: no (%llu of %llu frames compared, %llu differ%s)\n",
                  static_cast<unsigned long long>(m.compared),
                  static_cast<unsigned long long>(played),
                  static_cast<unsigned long long>(m.wrongFrames),
                  m.complete ? "" : ", the recording ended early");
    } else {
      std::printf("Bit-exact: no (the played signal was not found in the recording: an analogue "
                  "path, a resampling server or a muted input)\n");
    }
    if (m.aligned && !outArrivals.empty() && !inArrivals.empty()) {
      // For each played buffer: when its last frame came back.
      std::vector<double> latencies;
      size_t i = 0;
      for (const Arrival& a : outArrivals) {
        if (a.endFrame <= m.firstSignal) continue;
        const uint64_t recordedIndex = m.start + (a.endFrame - 1 - m.firstSignal);
        while (i < inArrivals.size() && inArrivals[i].endFrame <= recordedIndex) ++i;
        if (i == inArrivals.size()) break;
        latencies.push_back(std::chrono::duration<double, std::milli>(inArrivals[i].time - a.time).count());
      }
      if (!latencies.empty()) {
        std::nth_element(latencies.begin(), latencies.begin() + static_cast<long>(latencies.size() / 2),
                         latencies.end());
        std::printf("Round-trip latency: %.1f ms (median of %zu buffers)\n",
                    latencies[latencies.size() / 2], latencies.size());
      } else {
        std::printf("Round-trip latency: not measured\n");
      }
    } else {
      std::printf("Round-trip latency: not measured (the signal was not found)\n");
    }
    std::printf("CPU of the device threads: %.2f %% of one core (%.3f s in %.1f s)\n",
                wall > 0 ? 100.0 * cpu / wall : 0.0, cpu, wall);
    if (!finished) {
      std::printf("The output did not finish playing in time.\n");
      rc = 1;
    }
    if (lost > 0 || (m.aligned && !m.complete) || asyncErrors.load() > 0) rc = 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "tonvista-devices: %s\n", OneLine(e.what()).c_str());
    rc = 1;
  }
  try {
    in.Close();
    out.Close();
  } catch (...) {
  }
  loop.ProcessPending();
  SetApplicationErrorHandler(nullptr);
  SetMainDispatcher(nullptr);
  return rc;
}

}  // namespace

int main(int argc, char** argv) {
  std::optional<CheckOptions> check;
  CheckOptions options;
  std::string inputFile;
  const auto needValue = [&](int& i, const char* name) -> std::optional<std::string_view> {
    if (i + 1 >= argc) {
      std::fprintf(stderr, "tonvista-devices: %s needs a value\n%s", name, kUsage);
      return std::nullopt;
    }
    return std::string_view(argv[++i]);
  };
  bool wantCheck = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view a = argv[i];
    long* target = nullptr;
    long low = 0, high = 0;
    if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (a == "--check") {
      wantCheck = true;
      long seconds = 0;
      if (i + 1 < argc && ParseInt(argv[i + 1], 1, 3600, seconds)) {
        options.seconds = seconds;
        ++i;
      }
      continue;
    } else if (a == "--input-file") {
      const auto v = needValue(i, "--input-file");
      if (!v) return 2;
      inputFile = std::string(*v);
      continue;
    } else if (a == "--rate") {
      target = &options.rate, low = 8000, high = 100000;
    } else if (a == "--in-buffer") {
      target = &options.inBuffer, low = 32, high = 1 << 24;
    } else if (a == "--out-buffer") {
      target = &options.outBuffer, low = 32, high = 1 << 24;
    } else if (a == "--in-device") {
      target = &options.inDevice, low = -1, high = 1 << 16;
    } else if (a == "--out-device") {
      target = &options.outDevice, low = -1, high = 1 << 16;
    } else {
      std::fprintf(stderr, "tonvista-devices: unknown option %s\n%s", argv[i], kUsage);
      return 2;
    }
    const auto v = needValue(i, argv[i]);
    if (!v) return 2;
    if (!ParseInt(*v, low, high, *target)) {
      std::fprintf(stderr, "tonvista-devices: %s wants a number from %ld to %ld\n", argv[i - 1],
                   low, high);
      return 2;
    }
  }
  if (wantCheck) check = options;

  if (!inputFile.empty()) {
    try {
      UseLineInFile(inputFile);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "tonvista-devices: %s: %s\n", inputFile.c_str(),
                   OneLine(e.what()).c_str());
      return 1;
    }
  }
  if (!check) {
    PrintDevices(true);
    PrintDevices(false);
    return 0;
  }
  return RunCheck(*check);
}
