#include "TMMLevelCalc.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "MMPCMSup.h"
#include "TMMConnector.h"

namespace tv {

namespace {

inline int32_t Load16(const uint8_t* p) {
  int16_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// Largest |value(frame)| over the frames; offsets may push a value past 32
// bits, so sums are formed in 64 bits and the result saturates.
template <class Value>
int32_t MaxMagnitude(const uint8_t* p, int32_t frames, int32_t stride, Value value) {
  int64_t best = 0;
  for (int32_t i = 0; i < frames; ++i, p += stride) {
    const int64_t v = value(p);
    best = std::max(best, v < 0 ? -v : v);
  }
  return static_cast<int32_t>(std::min<int64_t>(best, INT32_MAX));
}

}  // namespace

TMMLevelCalc::TMMLevelCalc(std::function<void()> peakMoved) : peakMoved_(std::move(peakMoved)) {
  timer_ = TimerList::Register(TimerList::kTick, 0, &TMMLevelCalc::TimerCallback, this);
  Layout();
}

TMMLevelCalc::~TMMLevelCalc() {
  TMMConnector::DisplayRemoved(this);
  // Waits for a tick that is running, so no callback outlives the meter.
  TimerList::Unregister(timer_);
}

void TMMLevelCalc::TimerCallback(TimerList::Entry* /*entry*/, void* owner) {
  static_cast<TMMLevelCalc*>(owner)->PeakTick();
}

void TMMLevelCalc::PeakTick() {
  {
    std::lock_guard lock(peakLock_);
    if (peak_ <= 0) return;
    if (--countdown_ > 0) return;
    const int32_t speed = peakSpeed_.load(std::memory_order_relaxed);
    if (speed == 0) {
      peak_ = 0;
      countdown_ = 0;
    } else {
      --peak_;
      countdown_ = speed;
    }
  }
  if (peakMoved_) peakMoved_();
}

// ---------------------------------------------------------------------------
// Display protocol

void TMMLevelCalc::AssignFormat(const WAVEFORMATEX* format) {
  if (format == nullptr) return;
  if (!PcmFormatSupported(format)) throw EMMLevelError(LoadResString(SInvalidWaveFormatGen));
  SetBitLength(format->wBitsPerSample == 16 ? b16Bit : b8Bit);
  SetMode(format->nChannels == 1 ? mMono : (format->nChannels == 2 ? mStereo : mMultiChannel));
}

int32_t TMMLevelCalc::ChannelCount() const {
  return mode_ == mMono ? 1 : (mode_ == mStereo ? 2 : 4);
}

int32_t TMMLevelCalc::FrameBytes() const {
  return (bitLength_ + 1) * ChannelCount() * samples_;
}

void TMMLevelCalc::ResetDisplay() {
  {
    std::lock_guard lock(peakLock_);
    peak_ = 0;
    countdown_ = 0;
  }
  lit_ = 0;
  rawPeak_ = 0;
  level_ = 0;
  ClearDecay();
  shownLit_ = 0;
  shownPeak_ = 0;
  if (OnChange) OnChange(this);
}

void TMMLevelCalc::FeedPCM(const void* data, int32_t bytes) {
  if (!enabled_ || !visible_ || data == nullptr) return;
  const int32_t block = (bitLength_ + 1) * ChannelCount();
  const int32_t frames = std::min(samples_, std::max(bytes, 0) / block);
  if (frames <= 0) return;

  const int32_t raw = RawPeak(static_cast<const uint8_t*>(data), frames);
  rawPeak_ = raw;
  if (raw >= kFullScale && OnPcmOverflow) OnPcmOverflow(this);

  history_[historyPos_] = raw;
  if (historyPos_ == kHistorySize - 1) {
    historyPos_ = 1;
    if (OnIntegral) OnIntegral(this);
  } else {
    ++historyPos_;
  }

  level_ = decayMode_ == dmNone ? raw : Smooth(raw);
  const int64_t g = static_cast<int64_t>(level_) * (gain_ + 8) / 8;
  int32_t lit = LitFor(g);
  if (direction_ == dirSymetric) lit /= 2;
  if (lit > spots_) {
    if (OnGainOverflow) OnGainOverflow(this);
    lit = spots_;
  }
  Show(lit);
}

int32_t TMMLevelCalc::RawPeak(const uint8_t* p, int32_t frames) const {
  const int64_t offL = dcOffsetL_;
  const int64_t offR = dcOffsetR_;
  const int32_t channels = ChannelCount();
  if (bitLength_ == b16Bit) {
    const int32_t stride = 2 * channels;
    if (channels == 1)
      return MaxMagnitude(p, frames, stride, [=](const uint8_t* f) { return Load16(f) + offL; });
    switch (channel_) {
      case chLeft:
        return MaxMagnitude(p, frames, stride, [=](const uint8_t* f) { return Load16(f) + offL; });
      case chRight:
        return MaxMagnitude(p, frames, stride,
                            [=](const uint8_t* f) { return Load16(f + 2) + offR; });
      case chBoth:
        break;
    }
    return MaxMagnitude(p, frames, stride, [=](const uint8_t* f) {
      return (Load16(f) + offL + Load16(f + 2) + offR) / 2;
    });
  }
  const int32_t stride = channels;
  if (channels == 1)
    return MaxMagnitude(p, frames, stride,
                        [=](const uint8_t* f) { return (f[0] - 128) * 256 + offL; });
  switch (channel_) {
    case chLeft:
      return MaxMagnitude(p, frames, stride,
                          [=](const uint8_t* f) { return (f[0] - 128) * 256 + offL; });
    case chRight:
      return MaxMagnitude(p, frames, stride,
                          [=](const uint8_t* f) { return (f[1] - 128) * 256 + offR; });
    case chBoth:
      break;
  }
  // Two 8-bit channels are averaged as bytes, with their offsets, first.
  return MaxMagnitude(p, frames, stride, [=](const uint8_t* f) {
    return ((f[0] + offL + f[1] + offR) / 2 - 128) * 256;
  });
}

int32_t TMMLevelCalc::Smooth(int32_t raw) {
  switch (decayMode_) {
    case dmNone:
      break;
    case dmStepUp:
      state_ *= factor_;
      if (static_cast<float>(raw) > state_) {
        state_ = static_cast<float>(raw);
        return raw;
      }
      return static_cast<int32_t>(state_);
    case dmExponential:
      state_ = state_ * factor_ + (1.0f - factor_) * static_cast<float>(raw);
      return static_cast<int32_t>(std::floor(state_));
    case dmUniform:
      if (++ringPos_ >= avgLength_) ringPos_ = 0;
      if (filled_ < avgLength_) ++filled_;
      sum_ += raw - ring_[ringPos_];
      ring_[ringPos_] = raw;
      return sum_ / filled_;
  }
  return raw;
}

int32_t TMMLevelCalc::LitFor(int64_t g) const {
  const double n = spots_;
  const double s = sensitivy_;
  const double a = static_cast<double>(g);
  double lit;
  if (logAmp_) {
    const double ratio = std::max(1e-6, a / kFullScale);
    lit = (20.0 * std::log10(ratio) - s) * n / -s;
  } else {
    const double floor = kFullScale / std::pow(10.0, -s / 20.0);
    lit = (a - floor) * n / (kFullScale - floor);
  }
  return static_cast<int32_t>(std::clamp(std::round(lit), 0.0, static_cast<double>(INT32_MAX)));
}

void TMMLevelCalc::Show(int32_t lit) {
  int32_t peak;
  {
    std::lock_guard lock(peakLock_);
    if (numPeaks_ > 0 && lit > 0 && lit >= peak_) {
      peak_ = lit;
      countdown_ = 2 * peakDelay_ + 1;
    }
    peak = peak_;
  }
  lit_ = lit;
  if (lit_ == shownLit_ && peak == shownPeak_) return;
  shownLit_ = lit_;
  shownPeak_ = peak;
  if (OnChange) OnChange(this);
}

void TMMLevelCalc::Changed() {
  shownLit_ = lit_;
  shownPeak_ = PeakSpot();
  if (OnChange) OnChange(this);
}

int32_t TMMLevelCalc::PeakSpot() const {
  std::lock_guard lock(peakLock_);
  return peak_;
}

// ---------------------------------------------------------------------------
// Properties

void TMMLevelCalc::SetEnabled(bool value) {
  if (value == enabled_) return;
  enabled_ = value;
  if (!enabled_) {
    {
      std::lock_guard lock(peakLock_);
      peak_ = 0;
      countdown_ = 0;
    }
    lit_ = 0;
    TimerList::Suspend(timer_);
  } else {
    Layout();
    TimerList::Resume(timer_);
  }
  Changed();
}

void TMMLevelCalc::SetVisible(bool value) {
  visible_ = value;
  // A meter whose timer could not be had tries again when it is shown.
  if (visible_ && timer_ == nullptr)
    timer_ = TimerList::Register(TimerList::kTick, enabled_ ? 0 : 1, &TMMLevelCalc::TimerCallback,
                                 this);
}

void TMMLevelCalc::SetDirection(TMMLevelDirection value) {
  if (value == direction_) return;
  direction_ = value;
  Layout();
}

void TMMLevelCalc::SetSpotSpace(int32_t value) {
  value = std::clamp(value, 0, 10);
  if (value == spotSpace_) return;
  spotSpace_ = value;
  Layout();
}

void TMMLevelCalc::SetSpotWidth(int32_t value) {
  value = std::clamp(value, 1, std::max(1, barLength_ / 3));
  if (value == spotWidth_) return;
  spotWidth_ = value;
  Layout();
}

void TMMLevelCalc::SetPoint1(int32_t value) {
  value = std::clamp(value, 1, 100);
  if (value == point1_) return;
  point1_ = value;
  Layout();
}

void TMMLevelCalc::SetPoint2(int32_t value) {
  value = std::clamp(value, 1, 100);
  if (value == point2_) return;
  point2_ = value;
  Layout();
}

void TMMLevelCalc::SetBitLength(TMMBits value) { bitLength_ = value == b16Bit ? b16Bit : b8Bit; }

void TMMLevelCalc::SetMode(TMMMode value) {
  mode_ = value == mStereo ? mStereo : (value == mMultiChannel ? mMultiChannel : mMono);
}

void TMMLevelCalc::SetChannel(TMMChannel value) {
  channel_ = value == chLeft ? chLeft : (value == chRight ? chRight : chBoth);
}

void TMMLevelCalc::SetGain(int32_t value) {
  if (value < -8 || value > 32) return;
  gain_ = value;
}

void TMMLevelCalc::SetSamples(int32_t value) { samples_ = std::max(value, 1); }

void TMMLevelCalc::SetSensitivy(int32_t value) { sensitivy_ = std::clamp(value, -90, -9); }

void TMMLevelCalc::SetLogAmp(bool value) { logAmp_ = value; }

void TMMLevelCalc::SetNumPeaks(int32_t value) {
  value = std::clamp(value, 0, 5);
  if (value == numPeaks_) return;
  numPeaks_ = value;
  if (numPeaks_ == 0) {
    {
      std::lock_guard lock(peakLock_);
      peak_ = 0;
      countdown_ = 0;
    }
    Changed();
  }
}

void TMMLevelCalc::SetPeakDelay(int32_t value) { peakDelay_ = std::clamp(value, 0, 50); }

void TMMLevelCalc::SetPeakSpeed(int32_t value) {
  peakSpeed_.store(std::clamp(value, 0, 50), std::memory_order_relaxed);
}

void TMMLevelCalc::SetDecayMode(TMMDecayMode value) {
  if (value == decayMode_) return;
  decayMode_ = value;
  ClearDecay();
}

void TMMLevelCalc::SetDecay(int32_t value) {
  value = std::clamp(value, 1, 16);
  if (value == decay_) return;
  decay_ = value;
  // 0.0001^(1 / 2^d), in single precision as the levels are.
  float f = 0.0001f;
  for (int32_t i = 0; i < decay_; ++i) f = std::sqrt(f);
  factor_ = f;
  avgLength_ = std::clamp(2 * decay_ - 2, 1, kRingSize);
  if (decayMode_ == dmUniform) ClearDecay();
}

void TMMLevelCalc::SetValue(int32_t value) {
  value = std::clamp(value, 0, 100);
  if (value == value_) return;
  value_ = value;
  if (!enabled_) return;
  int32_t lit = LitFor(kFullScale * value_ / 100);
  if (direction_ == dirSymetric) lit /= 2;
  Show(std::min(lit, spots_));
}

void TMMLevelCalc::SetBarLength(int32_t pixels) {
  pixels = std::max(pixels, 0);
  if (pixels == barLength_) return;
  barLength_ = pixels;
  Layout();
}

void TMMLevelCalc::Layout() {
  const int32_t pitch = spotWidth_ + spotSpace_;
  spots_ = std::max(1, (barLength_ + spotSpace_) / pitch);
  margin_ = std::max(0, (barLength_ - (spots_ * pitch - spotSpace_)) / 2);
  zone1_ = point1_ * spots_ / 100;
  zone2_ = point2_ * spots_ / 100;
  // Counts taken on the old layout must not point past the new one.
  lit_ = std::min(lit_, spots_);
  std::lock_guard lock(peakLock_);
  peak_ = std::min(peak_, spots_);
}

void TMMLevelCalc::ClearDecay() {
  state_ = 0.0f;
  ring_.fill(0);
  ringPos_ = 0;
  filled_ = 0;
  sum_ = 0;
}

}  // namespace tv
