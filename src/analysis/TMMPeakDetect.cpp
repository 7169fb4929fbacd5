#include "TMMPeakDetect.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cmath>
#include <cstring>

#if defined(__SSE__)
#include <xmmintrin.h>
#endif

#include "MMByteOrder.h"
#include "MMPCMSup.h"
#include "MMUtils.h"

namespace tv {

namespace {

constexpr int32_t kMaxBins = TMMPeakDetect::kMaxFFTLength / 2;
// Largest frame that passes the format check: 16-bit samples, 4 channels.
constexpr size_t kMaxBlockAlign = 8;

using v4sf = float __attribute__((vector_size(16)));
using v4si = int32_t __attribute__((vector_size(16)));

inline v4sf LoadV(const float* p) {
  v4sf v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// Square roots of four non-negative values: one instruction where the
// target has it (a scalar square root costs about as much as four).
inline v4sf SqrtV(v4sf v) {
#if defined(__SSE__)
  return _mm_sqrt_ps(v);
#else
  return v4sf{std::sqrt(v[0]), std::sqrt(v[1]), std::sqrt(v[2]), std::sqrt(v[3])};
#endif
}

int Log2Floor(int32_t v) { return std::bit_width(static_cast<uint32_t>(v)) - 1; }

}  // namespace

TMMPeakDetect::TMMPeakDetect(std::string name)
    : TMMDSPComponent(std::move(name)),
      setup_(CreateFFTSetup(Log2Floor(128))),
      windowTable_(kMaxFFTLength, 0),
      work_(kMaxFFTLength, 0.0f),
      magnitudes_(kMaxBins, 0),
      bins_(std::make_unique<std::atomic<int32_t>[]>(kMaxBins)) {
  RebuildWindow();
}

TMMPeakDetect::~TMMPeakDetect() {
  Unlink();
  detectOpened_ = false;
  detectStarted_ = false;
}

void TMMPeakDetect::RebuildWindow() {
  BuildWindowTable(windowTable_, window_, Log2Floor(FFTLength()));
}

void TMMPeakDetect::SetEnabled(bool value) { enabled_.store(value, std::memory_order_relaxed); }

void TMMPeakDetect::SetDetectPeaks(bool value) {
  detectPeaks_.store(value, std::memory_order_relaxed);
}

void TMMPeakDetect::SetFFTLength(int32_t value) {
  const int k = Log2Floor(Clamp(value, kMinFFTLength, kMaxFFTLength));
  const int32_t length = int32_t{1} << k;
  if (length == FFTLength()) return;
  // Built before the old one goes, so a failed allocation leaves the
  // detector as it was.
  PFFTSetup fresh = CreateFFTSetup(k);
  {
    std::lock_guard lock(analysisLock_);
    setup_.swap(fresh);
    fftLength_.store(length, std::memory_order_relaxed);
    RebuildWindow();
  }
  FreeFFTSetup(fresh);
  ResetBins();
}

void TMMPeakDetect::SetWindow(TMMFFTWindow value) {
  if (value == window_) return;
  {
    std::lock_guard lock(analysisLock_);
    window_ = value;
    RebuildWindow();
  }
  ResetBins();
}

void TMMPeakDetect::SetChannel(TMMChannel value) {
  if (value == channel_) return;
  {
    std::lock_guard lock(analysisLock_);
    channel_ = value;
  }
  ResetBins();
}

float TMMPeakDetect::BinWidth() const {
  const uint32_t rate = sampleRate_.load(std::memory_order_relaxed);
  if (rate == 0) return 0.0f;
  return static_cast<float>(static_cast<long double>(rate) / FFTLength());
}

int32_t TMMPeakDetect::FrequencyToIndex(float frequency) const {
  const int32_t half = FFTLength() / 2;
  const float width = BinWidth();
  if (!(width > 0.0f)) return half;
  const long double q = static_cast<long double>(frequency) / width;
  // Guards keep the conversion defined; such frequencies name no bin.
  if (std::isnan(q) || q >= half || q <= -1.0L) return half;
  return static_cast<int32_t>(q);
}

int32_t TMMPeakDetect::BinValue(int32_t index) const {
  if (index < 0 || index >= FFTLength() / 2) return 0;
  return bins_[static_cast<size_t>(index)].load(std::memory_order_relaxed);
}

void TMMPeakDetect::ClearBins() {
  for (int32_t i = 0; i < kMaxBins; ++i) {
    bins_[static_cast<size_t>(i)].store(0, std::memory_order_relaxed);
  }
}

void TMMPeakDetect::ResetBins() {
  const uint8_t silence = SilenceByte();
  leftPeak_.store(silence, std::memory_order_relaxed);
  rightPeak_.store(silence, std::memory_order_relaxed);
  ClearBins();
}

bool TMMPeakDetect::FormatUsable(const WAVEFORMATEX* f) {
  return PcmFormatSupported(f) && f->nBlockAlign == f->nChannels * (f->wBitsPerSample / 8);
}

void TMMPeakDetect::SetPWaveFormat(const WAVEFORMATEX* value) {
  if (value != nullptr) {
    if (!FormatUsable(value)) throw EMMPeakError(LoadResString(SInvalidWaveFormatGen));
    {
      std::lock_guard lock(analysisLock_);
      layout_ = Layout{true, value->nChannels, value->wBitsPerSample, value->nBlockAlign};
      silenceByte_.store(value->wBitsPerSample == 8 ? 128 : 0, std::memory_order_relaxed);
      sampleRate_.store(value->nSamplesPerSec, std::memory_order_relaxed);
    }
    ResetBins();
  } else {
    std::lock_guard lock(analysisLock_);
    layout_.valid = false;
    sampleRate_.store(0, std::memory_order_relaxed);
  }
  TMMDSPComponent::SetPWaveFormat(value);
}

void TMMPeakDetect::Open() {
  if (FormatUsable(PWaveFormat())) detectOpened_ = true;
  TMMDSPComponent::Open();
}

void TMMPeakDetect::Close() {
  detectOpened_ = false;
  TMMDSPComponent::Close();
}

void TMMPeakDetect::Start() {
  if (detectOpened_ && !detectStarted_) {
    ResetBins();
    detectStarted_ = true;
  }
  TMMDSPComponent::Start();
}

void TMMPeakDetect::Stop() {
  detectStarted_ = false;
  TMMDSPComponent::Stop();
}

void TMMPeakDetect::BufferReady(PWaveHdr buffer) {
  AnalyseBuffer(buffer);
  TMMDSPComponent::BufferReady(buffer);
}

void TMMPeakDetect::BufferLoad(PWaveHdr buffer, bool& moreBuffers) {
  TMMDSPComponent::BufferLoad(buffer, moreBuffers);
  AnalyseBuffer(buffer);
}

void TMMPeakDetect::AnalyseBuffer(PWaveHdr buffer) {
  if (buffer == nullptr) return;
  // A count beyond the buffer's length would read past its end.
  const uint32_t bytes = std::min(buffer->dwBytesRecorded, buffer->dwBufferLength);
  if (bytes > static_cast<uint32_t>(INT32_MAX)) return;
  Analyse(buffer->lpData, static_cast<int32_t>(bytes));
}

void TMMPeakDetect::Analyse(const char* data, int32_t bytes) {
  if (!detectOpened_ || !Enabled() || bytes < 0 || (data == nullptr && bytes > 0)) return;
  std::lock_guard lock(analysisLock_);
  if (!layout_.valid || setup_ == nullptr) return;

  const auto* p = reinterpret_cast<const uint8_t*>(data);
  if (DetectPeaks()) {
    WAVEFORMATEX f{};
    MakePcmFormat(f, layout_.bits, layout_.channels,
                  static_cast<int>(sampleRate_.load(std::memory_order_relaxed)));
    int32_t left = 0, right = 0;
    FindPeakSamples(p, bytes, &f, left, right);
    if (layout_.bits != 8) {
      left = std::abs(left);
      right = std::abs(right);
    }
    leftPeak_.store(left, std::memory_order_relaxed);
    rightPeak_.store(right, std::memory_order_relaxed);
  } else {
    leftPeak_.store(0, std::memory_order_relaxed);
    rightPeak_.store(0, std::memory_order_relaxed);
  }

  if (bytes == 0) {
    ClearBins();
    return;
  }
  const size_t total = static_cast<size_t>(bytes);
  const size_t frameBytes =
      static_cast<size_t>(layout_.blockAlign) * static_cast<size_t>(FFTLength());
  bool first = true;
  for (size_t offset = 0; offset < total; offset += frameBytes) {
    FormSamples(p + offset, std::min(total - offset, frameBytes));
    RealFFT(setup_.get(), work_.data(), 1);
    PublishFrame(first);
    first = false;
  }
}

namespace {

// Windowed samples on the 16-bit scale, in integer arithmetic as the
// window table is: 8-bit values x * w / 128, 16-bit values s * w / 32768,
// truncated toward zero (the products fit 32 bits). `pick` forms the
// signed sample of one sample frame.
template <typename Pick>
void Windowed(const uint8_t* src, size_t stride, int32_t count, const int32_t* w, float* out,
              int32_t divisor, Pick pick) {
  for (int32_t i = 0; i < count; ++i) {
    out[i] = static_cast<float>(pick(src + static_cast<size_t>(i) * stride) * w[i] / divisor);
  }
}

}  // namespace

// A frame of `bytes` bytes (at most one frame); a short frame continues in
// silence. Silence windows to exactly 0 in every layout, so only the sample
// frames that hold data are formed and the rest of the frame is zeroed.
void TMMPeakDetect::FormSamples(const uint8_t* frame, size_t bytes) {
  const int32_t n = FFTLength();
  const size_t stride = static_cast<size_t>(layout_.blockAlign);
  float* out = work_.data();
  int32_t whole = static_cast<int32_t>(std::min(bytes / stride, static_cast<size_t>(n)));
  FormRun(frame, whole, 0);
  if (whole < n && bytes % stride != 0) {
    // One sample frame is cut: its missing bytes are silence.
    uint8_t partial[kMaxBlockAlign];
    std::memset(partial, SilenceByte(), sizeof partial);
    std::memcpy(partial, frame + static_cast<size_t>(whole) * stride, bytes % stride);
    FormRun(partial, 1, whole);
    ++whole;
  }
  std::fill(out + whole, out + n, 0.0f);
}

void TMMPeakDetect::FormRun(const uint8_t* src, int32_t count, int32_t at) {
  const size_t stride = static_cast<size_t>(layout_.blockAlign);
  const int32_t* w = windowTable_.data() + at;
  float* out = work_.data() + at;
  const bool mono = layout_.channels == 1;
  const bool both = channel_ == chBoth && !mono;
  const size_t c = mono || channel_ != chRight ? 0 : 1;
  if (layout_.bits == 8) {
    if (both) {
      Windowed(src, stride, count, w, out, 128,
               [](const uint8_t* s) { return ((s[0] + s[1]) >> 1) - 128; });
    } else {
      src += c;
      Windowed(src, stride, count, w, out, 128, [](const uint8_t* s) { return s[0] - 128; });
    }
  } else {
    if (both) {
      Windowed(src, stride, count, w, out, 32768,
               [](const uint8_t* s) { return (LoadLE16s(s) + LoadLE16s(s + 2)) / 2; });
    } else {
      src += 2 * c;
      Windowed(src, stride, count, w, out, 32768, [](const uint8_t* s) { return LoadLE16s(s); });
    }
  }
}

// Magnitudes of one frame on the sample scale, then into the bins: the first
// frame of a buffer replaces them, later frames keep the larger value.
void TMMPeakDetect::PublishFrame(bool first) {
  const int32_t half = FFTLength() / 2;
  const float scale = 1.0f / static_cast<float>(half);  // a power of two: exact
  const float* out = work_.data();
  int32_t* mag = magnitudes_.data();
  // Four bins at a time (half is a multiple of 4); the same operations in
  // the same order as one bin at a time, so the values are identical.
  for (int32_t i = 0; i < half; i += 4) {
    const v4sf a = LoadV(out + 2 * i) * scale;
    const v4sf b = LoadV(out + 2 * i + 4) * scale;
    const v4sf aa = a * a, bb = b * b;
    v4sf pw = __builtin_shufflevector(aa, bb, 0, 2, 4, 6) +
              __builtin_shufflevector(aa, bb, 1, 3, 5, 7);
    // Anything but p >= 0 (a NaN included) counts as 0.
    pw = std::bit_cast<v4sf>(std::bit_cast<v4si>(pw) & (pw >= 0.0f));
    const v4si v = __builtin_convertvector(SqrtV(pw), v4si);
    std::memcpy(mag + i, &v, sizeof v);
  }

  std::atomic<int32_t>* bins = bins_.get();
  if (OnPeakReady) {
    // Each bin is updated right after its event, as a handler may look.
    if (first) ClearBins();
    for (int32_t i = 0; i < half; ++i) {
      OnPeakReady(this, i, mag[i]);
      if (mag[i] > bins[i].load(std::memory_order_relaxed)) {
        bins[i].store(mag[i], std::memory_order_relaxed);
      }
    }
  } else if (first) {
    for (int32_t i = 0; i < half; ++i) bins[i].store(mag[i], std::memory_order_relaxed);
  } else {
    for (int32_t i = 0; i < half; ++i) {
      if (mag[i] > bins[i].load(std::memory_order_relaxed)) {
        bins[i].store(mag[i], std::memory_order_relaxed);
      }
    }
  }
}

}  // namespace tv
