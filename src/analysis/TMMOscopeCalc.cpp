#include "TMMOscopeCalc.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cstring>

#include "MMPCMSup.h"
#include "TMMConnector.h"

namespace tv {

namespace {

// Wider than any screen; keeps a runaway size from allocating without bound.
constexpr int32_t kMaxPlot = 16384;

inline int32_t Load16(const uint8_t* p) {
  int16_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

inline int32_t From8(uint8_t b) { return b * 256 - 32768; }

std::vector<TMMOscopeCalc*>& List() {
  static std::vector<TMMOscopeCalc*> list;
  return list;
}

}  // namespace

TMMOscopeCalc::TMMOscopeCalc() {
  Layout();
  List().push_back(this);
}

TMMOscopeCalc::~TMMOscopeCalc() {
  TMMConnector::DisplayRemoved(this);
  std::erase(List(), this);
}

const std::vector<TMMOscopeCalc*>& TMMOscopeCalc::Oscilloscopes() { return List(); }

// ---------------------------------------------------------------------------
// Display protocol

void TMMOscopeCalc::AssignFormat(const WAVEFORMATEX* format) {
  if (format == nullptr) return;
  if (!PcmFormatSupported(format)) throw EMMOscopeError(LoadResString(SInvalidWaveFormatGen));
  SetSampleRate(static_cast<int32_t>(format->nSamplesPerSec));
  SetBitLength(format->wBitsPerSample == 16 ? b16Bit : b8Bit);
  SetMode(format->nChannels == 1 ? mMono : (format->nChannels == 2 ? mStereo : mMultiChannel));
}

int32_t TMMOscopeCalc::ChannelCount() const {
  return mode_ == mMono ? 1 : (mode_ == mStereo ? 2 : 4);
}

int32_t TMMOscopeCalc::FrameBytes() const {
  const int32_t b = (bitLength_ + 1) * ChannelCount();
  if (scroll_) return b * fftLength_;
  if (zoom_ > 0) return b * plotWidth_ * zoom_;
  return (b * plotWidth_ / (1 - zoom_) + 5) / 4 * 4;
}

void TMMOscopeCalc::ResetDisplay() {
  selecting_ = false;
  std::fill(points_.begin(), points_.end(), int16_t{0});
  MapRows(false);
  ClearScroll();
  selStart_ = selEnd_ = locator_ = -1;
  Changed();
}

void TMMOscopeCalc::FeedPCM(const void* data, int32_t bytes) {
  if (!enabled_ || !visible_ || selecting_ || data == nullptr) return;
  const int32_t block = (bitLength_ + 1) * ChannelCount();
  const int32_t frames = std::max(bytes, 0) / block;
  if (frames <= 0) return;
  const auto* p = static_cast<const uint8_t*>(data);

  if (scroll_) {
    FeedScroll(p, std::min(frames, fftLength_));
  } else {
    const int32_t n = plotWidth_;
    const int32_t last = frames - 1;
    if (zoom_ > 0) {
      for (int32_t i = 0; i < n; ++i)
        points_[i] = static_cast<int16_t>(Sample(p + std::min(i * zoom_, last) * block));
    } else {
      const int32_t repeat = 1 - zoom_;
      for (int32_t i = 0; i < n; ++i)
        points_[i] = static_cast<int16_t>(Sample(p + std::min(i / repeat, last) * block));
    }
    if (lowPass_) {
      int32_t previous = 0;
      for (int16_t& point : points_) {
        const int32_t current = point;
        point = static_cast<int16_t>((previous + 3 * current) / 4);
        previous = current;
      }
    }
    MapRows(true);
  }
  if (OnUpdate) OnUpdate(this);
  Changed();
}

int32_t TMMOscopeCalc::Sample(const uint8_t* f) const {
  const bool both = ChannelCount() > 1 && channel_ == chBoth;
  const int32_t at = ChannelCount() > 1 && channel_ == chRight ? 1 : 0;
  if (bitLength_ == b16Bit) {
    if (both) return (Load16(f) + Load16(f + 2)) / 2;
    return Load16(f + 2 * at);
  }
  if (both) return (From8(f[0]) + From8(f[1])) / 2;
  return From8(f[at]);
}

void TMMOscopeCalc::FeedScroll(const uint8_t* p, int32_t frames) {
  const int32_t block = (bitLength_ + 1) * ChannelCount();
  const bool stereo = ChannelCount() > 1;
  int32_t lo[2] = {INT32_MAX, INT32_MAX};
  int32_t hi[2] = {INT32_MIN, INT32_MIN};
  for (int32_t i = 0; i < frames; ++i, p += block) {
    for (int c = 0; c < (stereo ? 2 : 1); ++c) {
      const int32_t v = bitLength_ == b16Bit ? Load16(p + 2 * c) : From8(p[c]);
      lo[c] = std::min(lo[c], v);
      hi[c] = std::max(hi[c], v);
    }
  }
  int32_t first = lo[0];
  int32_t second = hi[0];
  if (stereo && channel_ == chRight) {
    first = lo[1];
    second = hi[1];
  } else if (stereo && channel_ == chBoth) {
    first = (lo[0] + lo[1]) / 2;
    second = (hi[0] + hi[1]) / 2;
  }
  Report(first, HeightOf(first));
  Report(second, HeightOf(second));
  AddColumn(static_cast<int16_t>(first), static_cast<int16_t>(second));
}

void TMMOscopeCalc::AddColumn(int16_t first, int16_t second) {
  const int32_t n = plotWidth_;
  int32_t at;
  if (scrollCount_ < n) {
    at = (scrollHead_ + scrollCount_) % n;
    ++scrollCount_;
  } else {
    at = scrollHead_;
    scrollHead_ = (scrollHead_ + 1) % n;
  }
  scrollFirst_[at] = first;
  scrollSecond_[at] = second;
  ++scrollAdded_;
  if (scrollCount_ == n && scrollAdded_ == n && OnArrayFull) OnArrayFull(this);
}

TMMOscopeCalc::ScrollColumn TMMOscopeCalc::ScrollColumnAt(int32_t index) const {
  const int32_t n = plotWidth_;
  const int32_t at = (scrollHead_ + index) % n;
  ScrollColumn c{0, RowOf(scrollFirst_[at]), RowOf(scrollSecond_[at])};
  c.from = index > 0 ? RowOf(scrollSecond_[(at + n - 1) % n]) : c.first;
  return c;
}

void TMMOscopeCalc::ClearScroll() {
  scrollHead_ = 0;
  scrollCount_ = 0;
  scrollAdded_ = 0;
  if (!scroll_) return;
  // Our picture starts again: the other scrolling ones draw theirs anew.
  for (TMMOscopeCalc* other : List()) {
    if (other == this || !other->scroll_) continue;
    other->fullRedraw_ = true;
    other->Changed();
  }
}

bool TMMOscopeCalc::TakeFullRedraw() {
  const bool full = fullRedraw_;
  fullRedraw_ = false;
  return full;
}

// ---------------------------------------------------------------------------
// Vertical mapping

int32_t TMMOscopeCalc::HeightOf(int32_t value) const {
  const int64_t g = static_cast<int64_t>(value) * (gain_ + 8) / 8;
  const int64_t h = kind_ == okSpikes ? g * plotHeight_ / 32767 : (g + 32767) * plotHeight_ / 65535;
  return static_cast<int32_t>(h);
}

void TMMOscopeCalc::Report(int32_t value, int32_t h) {
  if (value > 32766 && OnPcmOverflow) OnPcmOverflow(this);
  if (h > plotHeight_ && OnGainOverflow) OnGainOverflow(this);
}

void TMMOscopeCalc::MapRows(bool report) {
  const size_t n = points_.size();
  for (size_t i = 0; i < n; ++i) {
    const int32_t h = HeightOf(points_[i]);
    rows_[i] = plotHeight_ - h - 1;
    if (report) Report(points_[i], h);
  }
}

bool TMMOscopeCalc::InEffectBand(int32_t h) const {
  switch (effect_) {
    case efNone:
      return false;
    case efPeak:
      return h < plotHeight_ / 3 || h > plotHeight_ - plotHeight_ / 3;
    case efSplit:
      return h > plotHeight_ / 2;
  }
  return false;
}

double TMMOscopeCalc::ColumnMilliseconds(double column) const {
  double frames;
  if (scroll_)
    frames = column * fftLength_;
  else if (zoom_ > 0)
    frames = column * zoom_;
  else
    frames = column / (1 - zoom_);
  return frames * 1000.0 / sampleRate_;
}

double TMMOscopeCalc::RowVolts(double row) const {
  if (gain_ + 8 == 0) return 0.0;  // everything is drawn flat
  const double h = plotHeight_ - 1 - row;
  const double g =
      kind_ == okSpikes ? h * 32767.0 / plotHeight_ : h * 65535.0 / plotHeight_ - 32767.0;
  return g * 8.0 / (gain_ + 8) / 32767.0 * kFullScaleVolts;
}

// ---------------------------------------------------------------------------
// Geometry

void TMMOscopeCalc::SetClientSize(int32_t width, int32_t height) {
  width = std::max(width, 0);
  height = std::max(height, 0);
  if (width == clientWidth_ && height == clientHeight_) return;
  clientWidth_ = width;
  clientHeight_ = height;
  Layout();
  Changed();
}

void TMMOscopeCalc::SetBevel(int32_t value) {
  value = std::clamp(value, 0, 20);
  if (value == bevel_) return;
  bevel_ = value;
  Layout();
  Changed();
}

void TMMOscopeCalc::Layout() {
  const int32_t side = drawAmpScale_ ? kAmpScaleWidth : 0;
  const int32_t bottom = drawTimeScale_ ? kTimeScaleHeight : 0;
  plotLeft_ = bevel_ + side;
  plotTop_ = bevel_;
  plotWidth_ = std::clamp(clientWidth_ - 2 * bevel_ - 2 * side, kMinPlot, kMaxPlot);
  plotHeight_ = std::clamp(clientHeight_ - 2 * bevel_ - bottom, kMinPlot, kMaxPlot);
  if (static_cast<int32_t>(points_.size()) != plotWidth_) {
    points_.assign(static_cast<size_t>(plotWidth_), 0);
    rows_.assign(static_cast<size_t>(plotWidth_), 0);
    scrollFirst_.assign(static_cast<size_t>(plotWidth_), 0);
    scrollSecond_.assign(static_cast<size_t>(plotWidth_), 0);
    ClearScroll();
    selStart_ = selEnd_ = locator_ = -1;
    if (OnArrayNew) OnArrayNew(this);
  }
  MapRows(false);
}

// ---------------------------------------------------------------------------
// Properties

void TMMOscopeCalc::SetEnabled(bool value) {
  if (value == enabled_) return;
  enabled_ = value;
  Changed();
}

void TMMOscopeCalc::SetKind(TMMOscopeKind value) {
  if (value == kind_) return;
  kind_ = value;
  MapRows(false);
  Changed();
}

void TMMOscopeCalc::SetEffect(TMMOscopeEffect value) {
  if (value == effect_) return;
  effect_ = value;
  Changed();
}

void TMMOscopeCalc::SetBitLength(TMMBits value) { bitLength_ = value == b16Bit ? b16Bit : b8Bit; }

void TMMOscopeCalc::SetMode(TMMMode value) {
  mode_ = value == mStereo ? mStereo : (value == mMultiChannel ? mMultiChannel : mMono);
}

void TMMOscopeCalc::SetChannel(TMMChannel value) {
  channel_ = value == chLeft ? chLeft : (value == chRight ? chRight : chBoth);
}

void TMMOscopeCalc::SetSampleRate(int32_t value) {
  value = std::clamp(value, 8000, 88200);
  if (value == sampleRate_) return;
  sampleRate_ = value;
  Changed();
}

void TMMOscopeCalc::SetGain(int32_t value) {
  if (value < -8 || value > 32 || value == gain_) return;
  gain_ = value;
  MapRows(false);
  Changed();
}

void TMMOscopeCalc::SetSteps(int32_t value) {
  value = std::max(value, 1);
  if (value == steps_) return;
  steps_ = value;
  Changed();
}

void TMMOscopeCalc::SetZoom(int32_t value) {
  if (value == 0) return;
  value = std::clamp(value, -9, 9);
  if (value == zoom_) return;
  zoom_ = value;
  Changed();
}

void TMMOscopeCalc::SetScroll(bool value) {
  if (value == scroll_) return;
  scroll_ = value;
  ClearScroll();
  Changed();
}

void TMMOscopeCalc::SetAccelerate(bool value) { accelerate_ = value; }

void TMMOscopeCalc::SetFFTLength(int32_t value) {
  fftLength_ = static_cast<int32_t>(std::bit_floor(static_cast<uint32_t>(std::clamp(value, 1, 4096))));
}

void TMMOscopeCalc::SetLowPass(bool value) { lowPass_ = value; }

void TMMOscopeCalc::SetBarWidth(int32_t value) {
  value = std::max(value, 1);
  if (value == barWidth_) return;
  barWidth_ = value;
  Changed();
}

void TMMOscopeCalc::SetDrawMidLine(bool value) {
  if (value == drawMidLine_) return;
  drawMidLine_ = value;
  Changed();
}

void TMMOscopeCalc::SetDrawGrid(bool value) {
  if (value == drawGrid_) return;
  drawGrid_ = value;
  Changed();
}

void TMMOscopeCalc::SetDrawAmpScale(bool value) {
  if (value == drawAmpScale_) return;
  drawAmpScale_ = value;
  Layout();
  Changed();
}

void TMMOscopeCalc::SetDrawTimeScale(bool value) {
  if (value == drawTimeScale_) return;
  drawTimeScale_ = value;
  Layout();
  Changed();
}

void TMMOscopeCalc::SetSelection(int32_t start, int32_t end) {
  start = std::clamp(start, -1, plotWidth_ - 1);
  end = std::clamp(end, -1, plotWidth_ - 1);
  if (start == selStart_ && end == selEnd_) return;
  selStart_ = start;
  selEnd_ = end;
  Changed();
}

void TMMOscopeCalc::SetLocator(int32_t column) {
  column = std::clamp(column, -1, plotWidth_ - 1);
  if (column == locator_) return;
  locator_ = column;
  Changed();
}

}  // namespace tv
