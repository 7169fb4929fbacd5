#include "DtmfScanner.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstring>
#include <numbers>
#include <stdexcept>
#include <vector>

#include "MMDispatch.h"
#include "MMErrors.h"
#include "MMFFT.h"
#include "TMMPeakDetect.h"
#include "TMMTrigger.h"
#include "TMMWave.h"
#include "TMMWaveFile.h"

namespace tv {

namespace {

std::unique_ptr<TMMWaveFile> MakePlayer() {
  auto player = std::make_unique<TMMWaveFile>("WavePlayer");
  player->Wave().SetTimeFormat(tfMillisecond);
  return player;
}

std::unique_ptr<TMMPeakDetect> MakeDetector() {
  auto detector = std::make_unique<TMMPeakDetect>("MMPeakDetect1");
  detector->SetFFTLength(16384);
  detector->SetWindow(fwWelch);
  return detector;
}

}  // namespace

// The bins the described decision reads, computed straight from the
// windowed samples of each frame: the same integer windowing as the peak
// detector, then one Goertzel filter per bin over the samples that hold
// data (the rest of a frame is silence and adds nothing).
class DecisionBins {
 public:
  // Takes the detector's length, window and channel, and the stream layout.
  void Setup(const TMMPeakDetect& detector, const WAVEFORMATEX& format) {
    length_ = detector.FFTLength();
    int bits = 0;
    while ((1 << (bits + 1)) <= length_) ++bits;
    window_.assign(static_cast<size_t>(length_), 0);
    BuildWindowTable(window_, static_cast<int>(detector.Window()), bits);
    samples_.assign(static_cast<size_t>(length_), 0.0f);
    bits_ = format.wBitsPerSample;
    stride_ = format.nBlockAlign;
    mono_ = format.nChannels == 1;
    both_ = !mono_ && detector.Channel() == chBoth;
    offset_ = mono_ || detector.Channel() != chRight ? 0 : (bits_ == 8 ? 1 : 2);
    silence_ = bits_ == 8 ? 128 : 0;
    count_ = 0;
  }

  // Trunc(frequency / bin width), capped at half the length: the peak
  // detector's bin for a frequency at `rate` samples per second.
  int32_t IndexOf(float frequency, uint32_t rate) const {
    const int32_t half = length_ / 2;
    const auto width = static_cast<float>(static_cast<long double>(rate) / length_);
    if (!(width > 0.0f)) return half;
    const long double q = static_cast<long double>(frequency) / width;
    if (std::isnan(q) || q >= half || q <= -1.0L) return half;
    return static_cast<int32_t>(q);
  }

  // This buffer's values of the bins at `index` (duplicates allowed).
  void Compute(const uint8_t* data, int64_t bytes, const std::array<int32_t, 8>& index) {
    count_ = 0;
    for (int32_t i : index) {
      if (std::find(index_.begin(), index_.begin() + count_, i) == index_.begin() + count_) {
        index_[static_cast<size_t>(count_)] = i;
        value_[static_cast<size_t>(count_)] = 0;
        ++count_;
      }
    }
    const int64_t frameBytes = static_cast<int64_t>(stride_) * length_;
    for (int64_t at = 0; at < bytes; at += frameBytes) {
      const int32_t n = Form(data + at, std::min(bytes - at, frameBytes));
      Goertzel(n);
    }
  }

  // The value of bin `index` after the last Compute (0 before the first).
  int32_t Value(int32_t index) const {
    for (int b = 0; b < count_; ++b) {
      if (index_[static_cast<size_t>(b)] == index) return value_[static_cast<size_t>(b)];
    }
    return 0;
  }

 private:
  int32_t Sample(const uint8_t* s) const {
    if (bits_ == 8) return both_ ? ((s[0] + s[1]) >> 1) - 128 : s[offset_] - 128;
    auto load = [](const uint8_t* q) { return static_cast<int32_t>(static_cast<int16_t>(q[0] | (q[1] << 8))); };
    return both_ ? (load(s) + load(s + 2)) / 2 : load(s + offset_);
  }

  // Windowed samples of one frame; answers how many hold data.
  int32_t Form(const uint8_t* frame, int64_t bytes) {
    const int32_t divisor = bits_ == 8 ? 128 : 32768;
    const auto whole = static_cast<int32_t>(std::min<int64_t>(bytes / stride_, length_));
    for (int32_t i = 0; i < whole; ++i) {
      samples_[static_cast<size_t>(i)] = static_cast<float>(
          Sample(frame + static_cast<size_t>(i) * static_cast<size_t>(stride_)) * window_[static_cast<size_t>(i)] / divisor);
    }
    if (whole < length_ && bytes % stride_ != 0) {
      uint8_t partial[16];
      std::memset(partial, silence_, sizeof partial);
      std::memcpy(partial, frame + static_cast<size_t>(whole) * static_cast<size_t>(stride_),
                  static_cast<size_t>(bytes % stride_));
      samples_[static_cast<size_t>(whole)] =
          static_cast<float>(Sample(partial) * window_[static_cast<size_t>(whole)] / divisor);
      return whole + 1;
    }
    return whole;
  }

  // The peak detector's value for each wanted bin k, |X[k]| / (N / 2)
  // truncated, kept when larger than an earlier frame's. One Goertzel
  // filter per bin over the samples that hold data, all eight side by side.
  void Goertzel(int32_t n) {
    // Pairs of lanes, as wide as the baseline vector registers.
    using v2d = double __attribute__((vector_size(16)));
    const int32_t half = length_ / 2;
    alignas(16) double coef[8] = {};
    for (int b = 0; b < count_; ++b) {
      coef[b] = 2.0 * std::cos(2.0 * std::numbers::pi * index_[static_cast<size_t>(b)] / length_);
    }
    v2d c0, c1, c2, c3;
    std::memcpy(&c0, coef, sizeof c0);
    std::memcpy(&c1, coef + 2, sizeof c1);
    std::memcpy(&c2, coef + 4, sizeof c2);
    std::memcpy(&c3, coef + 6, sizeof c3);
    v2d p0 = {}, p1 = {}, p2 = {}, p3 = {}, q0 = {}, q1 = {}, q2 = {}, q3 = {};
    const float* x = samples_.data();
    for (int32_t i = 0; i < n; ++i) {
      const double xi = x[i];
      const v2d r0 = xi + c0 * p0 - q0;
      const v2d r1 = xi + c1 * p1 - q1;
      const v2d r2 = xi + c2 * p2 - q2;
      const v2d r3 = xi + c3 * p3 - q3;
      q0 = p0;
      q1 = p1;
      q2 = p2;
      q3 = p3;
      p0 = r0;
      p1 = r1;
      p2 = r2;
      p3 = r3;
    }
    alignas(16) double s1[8], s2[8];
    std::memcpy(s1, &p0, sizeof p0);
    std::memcpy(s1 + 2, &p1, sizeof p1);
    std::memcpy(s1 + 4, &p2, sizeof p2);
    std::memcpy(s1 + 6, &p3, sizeof p3);
    std::memcpy(s2, &q0, sizeof q0);
    std::memcpy(s2 + 2, &q1, sizeof q1);
    std::memcpy(s2 + 4, &q2, sizeof q2);
    std::memcpy(s2 + 6, &q3, sizeof q3);
    for (int b = 0; b < count_; ++b) {
      const int32_t k = index_[static_cast<size_t>(b)];
      int32_t v = 0;
      if (k == 0) {
        double sum = 0;  // bin 0 carries no imaginary part
        for (int32_t i = 0; i < n; ++i) sum += samples_[static_cast<size_t>(i)];
        const auto re = static_cast<float>(sum / half);
        v = static_cast<int32_t>(std::sqrt(re * re));
      } else if (k > 0 && k < half) {
        const double a = s1[b], d = s2[b], cc = coef[b];
        const double power = a * a + d * d - cc * a * d;
        const auto p = static_cast<float>(power / (static_cast<double>(half) * half));
        v = p >= 0.0f ? static_cast<int32_t>(std::sqrt(p)) : 0;
      }
      value_[static_cast<size_t>(b)] = std::max(value_[static_cast<size_t>(b)], v);
    }
  }

  int32_t length_ = 0;
  std::vector<int32_t> window_;
  std::vector<float> samples_;
  int bits_ = 16;
  int stride_ = 4;
  bool mono_ = false;
  bool both_ = true;
  int offset_ = 0;
  uint8_t silence_ = 0;
  std::array<int32_t, 8> index_{};
  std::array<int32_t, 8> value_{};
  int count_ = 0;
};

namespace {

// A load's conversion to 16-bit stereo 44100 Hz, frame by frame: the first
// pair of channels (a mono source doubled), 8-bit samples widened, and the
// rate changed by holding or dropping whole frames, the accumulator running
// on across blocks.
class LoadConversion {
 public:
  static constexpr int64_t kRate = 44100;

  explicit LoadConversion(const WAVEFORMATEX& f)
      : srcRate_(f.nSamplesPerSec), align_(f.nBlockAlign), eight_(f.wBitsPerSample == 8), stereo_(f.nChannels >= 2) {
    acc_ = srcRate_ > kRate ? srcRate_ / 2 : kRate / 2;
  }

  // Calls emit(left, right) for every target frame of `frames` source frames.
  template <class Emit>
  void Convert(const uint8_t* in, int64_t frames, const Emit& emit) {
    for (int64_t k = 0; k < frames; ++k) {
      const uint8_t* s = in + k * align_;
      int32_t a, b;
      if (eight_) {
        a = (s[0] - 128) * 256;
        b = ((stereo_ ? s[1] : s[0]) - 128) * 256;
      } else {
        a = static_cast<int16_t>(s[0] | (s[1] << 8));
        b = stereo_ ? static_cast<int16_t>(s[2] | (s[3] << 8)) : a;
      }
      if (srcRate_ > kRate) {
        acc_ -= kRate;
        if (acc_ < 0) {
          emit(a, b);
          acc_ += srcRate_;
        }
      } else {
        do {
          emit(a, b);
          acc_ -= srcRate_;
        } while (acc_ >= 0);
        acc_ += kRate;
      }
    }
  }

 private:
  int64_t srcRate_;
  int64_t align_;
  bool eight_;
  bool stereo_;
  int64_t acc_ = 0;
};

// Runs `step(bytes, count)` for each block of the source's data as the
// conversion reads it (one second at a time); false when it ended early.
template <class Step>
void ReadSourceBlocks(TMMWave& wave, const Step& step) {
  const WAVEFORMATEX* f = wave.PWaveFormat();
  const int64_t align = f->nBlockAlign;
  const int64_t block = std::max<int64_t>(f->nAvgBytesPerSec - f->nAvgBytesPerSec % align, align);
  std::vector<uint8_t> buffer(static_cast<size_t>(block));
  wave.SetPosition(0);
  wave.OpenFile();
  try {
    for (;;) {
      const int32_t n = wave.ReadData(buffer.data(), static_cast<int32_t>(block));
      // A file cut short ends the conversion where its data ends.
      if (n <= 0 || wave.EndedEarly()) break;
      step(buffer.data(), n / align);
    }
  } catch (...) {
    (void)wave.CloseFile();  // only read
    throw;
  }
  (void)wave.CloseFile();  // only read
}

}  // namespace

ScanResult DtmfScanner::ScanConvertedInMemory(const std::string& fileName) {
  // The decision and its bins are the trigger scan's too.
  if (Busy()) throw std::logic_error("A scan is already under way");
  TMMWave wave;
  wave.SetFileName(fileName);
  const WAVEFORMATEX* f = wave.PWaveFormat();
  if (f == nullptr || f->wFormatTag != WAVE_FORMAT_PCM || !PcmFormatSupported(f)) {
    throw EMMWaveError(LoadResString(SNotValidForConversion));
  }
  const int64_t sourceBytes = wave.TotalSamples() * f->nBlockAlign;

  // The peak of the converted audio sets the normalising gain.
  int32_t magnitude = 0;
  {
    LoadConversion convert(*f);
    ReadSourceBlocks(wave, [&](const uint8_t* data, int64_t frames) {
      convert.Convert(data, frames, [&](int32_t a, int32_t b) {
        magnitude = std::max({magnitude, a < 0 ? -a : a, b < 0 ? -b : b});
      });
    });
  }
  const bool scale = magnitude > 0 && magnitude < 32767;
  const long double gain = scale ? 32767.0L / magnitude : 1.0L;

  // The scan: 6144-byte buffers of the normalised audio, each decided from
  // the bins of the one before, as the trigger hands them on.
  WAVEFORMATEX target{};
  MakePcmFormat(target, 16, 2, 44100);
  bins_->Setup(peakDetect_, target);
  constexpr size_t kBuffer = 6144;
  std::array<uint8_t, kBuffer> buffer{};
  size_t filled = 0;
  // Every 16-bit value scaled once, with the normaliser's rounding.
  std::vector<int16_t> scaled;
  if (scale) {
    scaled.resize(65536);
    for (int32_t v = -32768; v <= 32767; ++v) {
      const long r = std::lrint(static_cast<long double>(v) * gain);
      scaled[static_cast<size_t>(v + 32768)] = static_cast<int16_t>(r < -32768 ? -32768 : (r > 32767 ? 32767 : r));
    }
  }
  ScanResult result;
  result.fileName = fileName;
  int64_t offset = 0;
  int percent = -1;
  const int32_t threshold = threshold_.load();
  auto decide = [&] {
    const int index = decision_.DecideWith(
        [this](float hz) { return bins_->Value(bins_->IndexOf(hz, 44100)); }, threshold);
    if (index >= 0) {
      ScanKey key;
      key.key = decision_.KeyChar(index);
      key.positionMs = offset * 1000 / target.nAvgBytesPerSec;
      result.keys += key.key;
      result.events.push_back(key);
      if (OnKey) OnKey(this, key);
    }
    std::array<int32_t, 8> wanted{};
    for (int i = 0; i < 4; ++i) {
      wanted[static_cast<size_t>(i)] = bins_->IndexOf(static_cast<float>(decision_.ColumnFreq(i)), 44100);
      wanted[static_cast<size_t>(i + 4)] = bins_->IndexOf(static_cast<float>(decision_.RowFreq(i)), 44100);
    }
    bins_->Compute(buffer.data(), static_cast<int64_t>(filled), wanted);
    offset += static_cast<int64_t>(filled);
    filled = 0;
  };
  auto put = [&](int32_t s) {
    if (scale) s = scaled[static_cast<size_t>(s + 32768)];
    const auto u = static_cast<uint16_t>(s);
    buffer[filled++] = static_cast<uint8_t>(u & 0xFF);
    buffer[filled++] = static_cast<uint8_t>(u >> 8);
  };
  LoadConversion convert(*f);
  int64_t read = 0;
  ReadSourceBlocks(wave, [&](const uint8_t* data, int64_t frames) {
    convert.Convert(data, frames, [&](int32_t a, int32_t b) {
      put(a);
      put(b);
      if (filled == kBuffer) decide();
    });
    read += frames * f->nBlockAlign;
    const int p = sourceBytes > 0 ? static_cast<int>(std::min<int64_t>(read * 100 / sourceBytes, 100)) : 100;
    if (p != percent && OnProgress) OnProgress(this, p);
    percent = p;
  });
  if (filled > 0) decide();
  return result;
}

constexpr int32_t kStrictBatchBuffer = 65536;

bool ParseDtmfDetectorKind(const std::string& text, DtmfDetectorKind& kind) {
  if (text == "strict") {
    kind = DtmfDetectorKind::Strict;
  } else if (text == "described") {
    kind = DtmfDetectorKind::Described;
  } else {
    return false;
  }
  return true;
}

const char* DtmfDetectorKindName(DtmfDetectorKind kind) {
  return kind == DtmfDetectorKind::Strict ? "strict" : "described";
}

int32_t ScanBufferSize(const WAVEFORMATEX* f) {
  if (f == nullptr || f->nSamplesPerSec != 44100) return 4096;
  if (f->wBitsPerSample == 16 && f->nChannels == 2) return 6144;
  return 2048;
}

DtmfScanner::DtmfScanner()
    : ownPlayer_(MakePlayer()),
      ownDetector_(MakeDetector()),
      wavePlayer_(*ownPlayer_),
      peakDetect_(*ownDetector_),
      trigger_(std::make_unique<TMMTrigger>("Trigger")),
      bins_(std::make_unique<DecisionBins>()) {
  WireTrigger();
}

DtmfScanner::DtmfScanner(TMMWaveFile& wavePlayer, TMMPeakDetect& peakDetect)
    : wavePlayer_(wavePlayer),
      peakDetect_(peakDetect),
      trigger_(std::make_unique<TMMTrigger>("Trigger")),
      bins_(std::make_unique<DecisionBins>()) {
  WireTrigger();
}

void DtmfScanner::WireTrigger() {
  strict_.OnKey = [this](const StrictDtmfKey& k) { StrictKey(k); };
  trigger_->SetInterval(5);
  trigger_->OnBufferReady = [this](TMMDSPComponent* s, PWaveHdr h) { TriggerBufferReady(s, h); };
  trigger_->OnStop = [this](TMMDSPComponent* s) { TriggerStop(s); };
  // The error that ends a run is this scan's to report, not the
  // application's: it comes back with the result.
  trigger_->OnWorkerError = [this](TMMDSPComponent*, const std::exception_ptr& error) {
    std::lock_guard guard(runLock_);
    run_.result.error = error;
  };
}

DtmfScanner::~DtmfScanner() {
  alive_.reset();
  trigger_->OnStop = nullptr;
  {
    std::lock_guard guard(runLock_);
    run_.result.cancelled = true;
  }
  trigger_.reset();
}

void DtmfScanner::PrepareFileScan() {
  peakDetect_.SetEnabled(true);
  wavePlayer_.SetOutput(trigger_.get());
  trigger_->SetOutput(&peakDetect_);
  peakDetect_.SetOutput(nullptr);
}

bool DtmfScanner::Busy() const {
  std::lock_guard guard(runLock_);
  return run_.busy;
}

void DtmfScanner::Start() {
  if (Busy()) throw std::logic_error("A scan is already under way");
  TMMWave& wave = wavePlayer_.Wave();
  const WAVEFORMATEX* format = wave.PWaveFormat();
  trigger_->Close();
  PrepareFileScan();
  trigger_->SetPaced(paced_.load());
  trigger_->SetBufferSize(0);
  const DtmfDetectorKind detector = detector_;
  // The strict detector takes buffers of any size: an unpaced run hands on
  // large ones, each a handover between threads fewer.
  trigger_->SetBufferSize(detector == DtmfDetectorKind::Strict && !paced_.load() ? kStrictBatchBuffer
                                                                                  : ScanBufferSize(format));
  const bool binsOnly = detector == DtmfDetectorKind::Described && binsOnly_;
  if (detector == DtmfDetectorKind::Strict && format != nullptr) {
    strict_.SetOptions(strictOptions_);
    try {
      strict_.Start(static_cast<int>(format->nSamplesPerSec), format->nChannels, format->wBitsPerSample);
    } catch (const std::invalid_argument& e) {
      throw std::runtime_error(std::string("The strict tone check cannot decode this file: ") + e.what());
    }
  }
  // Nothing reads the peak detector's transform then: it stays idle.
  if (detector == DtmfDetectorKind::Strict || binsOnly) peakDetect_.SetEnabled(false);
  if (binsOnly && format != nullptr) bins_->Setup(peakDetect_, *format);
  {
    std::lock_guard guard(runLock_);
    run_ = Run{};
    run_.result.fileName = wave.FileName();
    run_.bytesPerSecond = format != nullptr ? format->nAvgBytesPerSec : 0;
    run_.length = wave.DataSize();
    run_.detector = detector;
    run_.binsOnly = binsOnly;
    run_.dataBytes = format != nullptr ? wave.TotalSamples() * format->nBlockAlign : 0;
    run_.busy = true;
  }
  try {
    trigger_->Start();
  } catch (...) {
    std::lock_guard guard(runLock_);
    run_.busy = false;
    peakDetect_.SetEnabled(true);
    throw;
  }
}

void DtmfScanner::Cancel() {
  {
    std::lock_guard guard(runLock_);
    if (!run_.busy || run_.stopped || run_.result.cancelled) return;
    run_.result.cancelled = true;
  }
  // With a buffer in flight the close completes once it is through.
  trigger_->Close();
}

void DtmfScanner::TriggerBufferReady(TMMDSPComponent*, PWaveHdr buffer) {
  // Read without the lock: only Start writes them, before the worker runs.
  const DtmfDetectorKind detector = run_.detector;
  const bool binsOnly = run_.binsOnly;
  const auto* data = reinterpret_cast<const uint8_t*>(buffer->lpData);
  const int64_t bytes = std::min(buffer->dwBytesRecorded, buffer->dwBufferLength);
  if (detector == DtmfDetectorKind::Strict) {
    // Keys come through StrictKey while the detector is fed.
    strict_.FeedBytes(data, static_cast<size_t>(bytes));
    run_.fed += bytes;
    if (run_.fed >= run_.dataBytes && !run_.strictDone) {
      run_.strictDone = true;
      strict_.Finish();
    }
    std::lock_guard guard(runLock_);
    if (run_.result.cancelled) return;
    run_.offset += bytes;
    if (run_.length > 0) {
      const auto percent = static_cast<int>(wavePlayer_.Wave().Position() * 100 / run_.length);
      if (percent != run_.percent) {
        run_.percent = percent;
        if (OnProgress) OnProgress(this, percent);
      }
    }
    return;
  }
  // The trigger fires OnBufferReady before it hands the buffer on to the
  // detector: the bins read here are those of the previous buffer (all
  // zero at the first call of a scan), and this buffer's bins are read at
  // the next call. So the buffer that ends the file never decides a key.
  int index = -1;
  if (binsOnly) {
    index = decision_.DecideWith(
        [this](float hz) { return bins_->Value(peakDetect_.FrequencyToIndex(hz)); }, threshold_.load());
    std::array<int32_t, 8> wanted{};
    for (int i = 0; i < 4; ++i) {
      wanted[static_cast<size_t>(i)] = peakDetect_.FrequencyToIndex(static_cast<float>(decision_.ColumnFreq(i)));
      wanted[static_cast<size_t>(i + 4)] = peakDetect_.FrequencyToIndex(static_cast<float>(decision_.RowFreq(i)));
    }
    bins_->Compute(data, bytes, wanted);
  } else {
    index = decision_.Decide(peakDetect_, threshold_.load());
  }
  std::lock_guard guard(runLock_);
  if (run_.result.cancelled) return;
  if (index >= 0) {
    const int64_t ms = run_.bytesPerSecond > 0 ? run_.offset * 1000 / run_.bytesPerSecond : 0;
    ScanKey key;
    key.key = decision_.KeyChar(index);
    key.positionMs = ms;
    run_.result.keys += key.key;
    run_.result.events.push_back(key);
    if (OnKey) OnKey(this, key);
  }
  run_.offset += buffer->dwBytesRecorded;
  if (run_.length > 0) {
    const auto percent = static_cast<int>(wavePlayer_.Wave().Position() * 100 / run_.length);
    if (percent != run_.percent) {
      run_.percent = percent;
      if (OnProgress) OnProgress(this, percent);
    }
  }
}

void DtmfScanner::StrictKey(const StrictDtmfKey& k) {
  ScanKey key;
  key.key = std::string(1, k.key);
  key.positionMs = std::llround(k.startMs);
  key.strict = true;
  key.startMs = k.startMs;
  key.endMs = k.endMs;
  key.channel = k.channel;
  key.channelName = DtmfChannelName(k.channel, strict_.StreamChannels());
  key.levelDb = k.levelDb;
  key.twistDb = k.twistDb;
  key.lowHz = k.lowHz;
  key.highHz = k.highHz;
  Report(key);
}

void DtmfScanner::Report(const ScanKey& key) {
  std::lock_guard guard(runLock_);
  if (run_.result.cancelled) return;
  run_.result.keys += key.key;
  run_.result.events.push_back(key);
  if (OnKey) OnKey(this, key);
}

void DtmfScanner::TriggerStop(TMMDSPComponent*) {
  {
    std::lock_guard guard(runLock_);
    if (!run_.busy) return;
    run_.stopped = true;
  }
  // The trigger is in the middle of stopping: it is closed, and the scan
  // reported finished, once that is through.
  std::weak_ptr<int> alive = alive_;
  MainDispatcher().Post([this, alive] {
    if (!alive.expired()) Finish();
  });
}

void DtmfScanner::Finish() {
  trigger_->Close();
  // A close that waits behind a buffer in flight ends with another stop,
  // which finishes the scan then.
  if (trigger_->IsOpen()) return;
  // The trigger is closed: the worker is done with the detectors.
  if (run_.detector == DtmfDetectorKind::Strict && !run_.strictDone) {
    run_.strictDone = true;
    // A file that ended before its header said: the keys still held.
    strict_.Finish();
  }
  if (run_.detector == DtmfDetectorKind::Strict || run_.binsOnly) peakDetect_.SetEnabled(true);
  ScanResult result;
  {
    std::lock_guard guard(runLock_);
    if (!run_.busy) return;
    run_.busy = false;
    result = std::move(run_.result);
  }
  last_ = result;
  if (OnFinished) OnFinished(this, result);
}

ScanResult DtmfScanner::Scan(const std::string& fileName) {
  wavePlayer_.Wave().SetFileName(fileName);
  Start();
  Dispatcher& main = MainDispatcher();
  while (!main.RunUntil([this] { return !Busy(); }, std::chrono::seconds(1))) {
  }
  if (last_.error) std::rethrow_exception(last_.error);
  return last_;
}

}  // namespace tv
