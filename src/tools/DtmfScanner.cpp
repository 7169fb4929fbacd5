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
      for (int b = 0; b < count_; ++b) {
        const int32_t v = Magnitude(index_[static_cast<size_t>(b)], n);
        value_[static_cast<size_t>(b)] = std::max(value_[static_cast<size_t>(b)], v);
      }
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

  // The peak detector's value for bin k: |X[k]| / (N / 2), truncated.
  int32_t Magnitude(int32_t k, int32_t n) const {
    const int32_t half = length_ / 2;
    if (k <= 0 || k >= half) {
      if (k != 0) return 0;
      double sum = 0;  // bin 0 carries no imaginary part
      for (int32_t i = 0; i < n; ++i) sum += samples_[static_cast<size_t>(i)];
      const auto re = static_cast<float>(sum / half);
      return static_cast<int32_t>(std::sqrt(re * re));
    }
    const double w = 2.0 * std::numbers::pi * k / length_;
    const double c = 2.0 * std::cos(w);
    double s1 = 0, s2 = 0;
    for (int32_t i = 0; i < n; ++i) {
      const double s0 = samples_[static_cast<size_t>(i)] + c * s1 - s2;
      s2 = s1;
      s1 = s0;
    }
    const double power = s1 * s1 + s2 * s2 - c * s1 * s2;
    const auto p = static_cast<float>(power / (static_cast<double>(half) * half));
    return p >= 0.0f ? static_cast<int32_t>(std::sqrt(p)) : 0;
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
  trigger_->SetBufferSize(ScanBufferSize(format));
  const DtmfDetectorKind detector = detector_;
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
