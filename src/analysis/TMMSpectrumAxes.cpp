// The spectrum's axes and what is drawn from the levels: the column-to-bin
// mapping, the amplitude scales, the bar heights, the peak markers, the peak
// frequency and the texts of the scales and of the mouse readout.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

#include "MMPCMSup.h"
#include "MMUtils.h"
#include "TMMSpectrumCalc.h"

namespace tv {

namespace {

constexpr double kLn2 = 0.69314718055994530942;
constexpr double kPi = 3.14159265358979323846;
// Multipliers above this cannot make a visible difference; the bound keeps
// level x multiplier inside 64 bits.
constexpr int64_t kMaxMultiplier = int64_t{1} << 40;

// Round half to even, as the scale rules round.
double Round(double v) { return std::nearbyint(v); }

int32_t ToInt32(double v) {
  if (!(v == v)) return 0;
  return static_cast<int32_t>(std::clamp(v, -1073741824.0, 1073741824.0));
}

// printf's "%W.Pf" without its dependence on the C locale; the decimal
// separator is the program's.
std::string FormatFixed(double value, int width, int precision) {
  if (value == 0.0) value = 0.0;  // no "-0.0"
  char buffer[64];
  const auto [end, ec] =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, precision);
  std::string text = ec == std::errc() ? std::string(buffer, end) : std::string("0");
  const char decimal = DecimalSeparator();
  if (decimal != '.') std::replace(text.begin(), text.end(), '.', decimal);
  if (static_cast<int>(text.size()) < width) text.insert(0, static_cast<size_t>(width) - text.size(), ' ');
  return text;
}

std::string FormatInt(int32_t value, int width) {
  std::string text = std::to_string(value);
  if (static_cast<int>(text.size()) < width) text.insert(0, static_cast<size_t>(width) - text.size(), ' ');
  return text;
}

}  // namespace

// ---------------------------------------------------------------------------
// Geometry

void TMMSpectrumCalc::ResizeColumns() {
  const size_t size = static_cast<size_t>(plotW_) + 10;
  firstBin_.assign(size, 0);
  endBin_.assign(size, 0);
  multiplier_.assign(size, 0);
  bars_.assign(size, TSpectrumBar{});
  barCount_ = 0;
  std::lock_guard lock(peakLock_);
  peaks_.assign(size, PeakState{});
  peakSnapshot_.assign(size, 0);
  peakCount_ = 0;
}

void TMMSpectrumCalc::SetPlotSize(int32_t width, int32_t height) {
  width = Max(width, 4);
  height = Max(height, 4);
  if (width == plotW_ && height == plotH_) return;
  const bool widthChanged = width != plotW_;
  plotW_ = width;
  plotH_ = height;
  if (widthChanged) ResizeColumns();
  if (loading_) return;
  RecalcMapping();
  RecalcScales();
  // The levels do not depend on the plot's size: a frozen or loaded
  // spectrum survives a resize of its window.
  ClearLayout();
  Redraw();
}

std::span<const int32_t> TMMSpectrumCalc::FirstBins() const {
  return {firstBin_.data(), static_cast<size_t>(plotW_)};
}

std::span<const int32_t> TMMSpectrumCalc::EndBins() const {
  return {endBin_.data(), static_cast<size_t>(plotW_)};
}

std::span<const int64_t> TMMSpectrumCalc::ColumnMultipliers() const {
  return {multiplier_.data(), static_cast<size_t>(plotW_)};
}

// ---------------------------------------------------------------------------
// Frequency axis

void TMMSpectrumCalc::RecalcMapping() {
  const int32_t n = fftLength_;
  const int32_t bins = n / 2;
  const double fs = sampleRate_;
  const int32_t w = plotW_;
  zoom_ = static_cast<float>(Clamp(frequencyScale_, 1, 16));
  const double z = zoom_;
  if (logFreq_) {
    const double lo = fs / n;
    const double hi = (fs / 2) / std::exp(std::log(n / 2.0) / z);
    fLo_ = static_cast<float>(std::max(lo, std::min(static_cast<double>(fLo_), hi)));
  } else {
    const double hi = fs / 2 - fs / (2 * z);
    fLo_ = static_cast<float>(std::min(std::max(static_cast<double>(fLo_), 0.0), hi));
  }

  std::fill(firstBin_.begin(), firstBin_.end(), 0);
  std::fill(endBin_.begin(), endBin_.end(), 0);
  int32_t* first = firstBin_.data();
  int32_t* end = endBin_.data();
  if (OnGetXScale) {
    OnGetXScale(this, std::span<int32_t>(first, static_cast<size_t>(w)),
                std::span<int32_t>(end, static_cast<size_t>(w)));
    // Whatever the handler wrote, no column may point outside the levels.
    for (int32_t i = 0; i < w; ++i) {
      first[i] = Clamp(first[i], -1, bins - 1);
      end[i] = Clamp(end[i], 0, bins);
    }
  } else {
    const double logTop = std::log((n + 1) / 2.0);
    const double lowFactor = n * static_cast<double>(fLo_) / fs;
    const double linearStart = static_cast<double>(fLo_) / fs * n;
    for (int32_t i = 0; i < w; ++i) {
      double b;
      if (logFreq_) {
        b = std::floor(std::exp(logTop * (i - 0.45) / (static_cast<double>(w) * z)) * lowFactor +
                       0.51) -
            1;
      } else {
        b = std::floor(static_cast<double>(i) / w * bins / z + linearStart + 0.01);
      }
      const int32_t bin = Clamp(ToInt32(b), 0, bins - 1);
      first[i] = bin;
      if (i > 0) end[i - 1] = bin > first[i - 1] + 1 ? bin : 0;
    }
    end[w - 1] = 0;
  }
  // A column that repeats its neighbour's bin is spanned by the neighbour.
  for (int32_t i = w - 1; i > 0; --i) {
    if (first[i] == first[i - 1]) {
      first[i] = -1;
      end[i] = 0;
    }
  }
}

// ---------------------------------------------------------------------------
// Amplitude scales

void TMMSpectrumCalc::RecalcScales() {
  const double h = plotH_;
  const double fs = sampleRate_;
  const double ref = refFreq_;
  const int32_t n = fftLength_;
  const int order = static_cast<int>(gain_) / 2;
  const bool tilt = static_cast<int>(gain_) % 2 != 0;
  const int32_t w = plotW_;

  if (logAmp_) {
    const float a = static_cast<float>(819.2 * std::log(10.0) / kLn2);
    const float f = static_cast<float>(h / (60.0 * a));
    const float c = static_cast<float>(20.0 * std::log10(32768.0));
    double g;
    if (order == 0) {
      g = a * (static_cast<double>(c) - 60.0);
    } else {
      const double hh = std::log10(fs / (ref * 2 * kPi));
      g = a * (static_cast<double>(c) - hh * (order == 1 ? 20.0 : 40.0) - 60.0);
    }
    int32_t s = 0;
    double scaled = f;
    while (scaled < 4096.0 && s < 62) {
      scaled *= 2;
      ++s;
    }
    shift_ = s;
    pixelsPerUnit_ = f;
    const int64_t m = static_cast<int64_t>(std::floor(scaled + 0.5));
    std::fill(multiplier_.begin(), multiplier_.end(), std::min(m, kMaxMultiplier));
    for (int32_t k = 0; k < kMaxBins; ++k) {
      double o = g + 0.5;
      if (tilt) o -= a * 10.0 * std::log10((k + 1) * fs / n / ref);
      offsets_[static_cast<size_t>(k)] = ToInt32(std::floor(o));
    }
    return;
  }

  const float v = static_cast<float>(verticalScale_) / 100.0f;
  int32_t s = 4;
  double e = h / (std::sqrt(ref) * v * 32768.0);
  if (order == 1) e *= fs / (ref * 2 * kPi);
  if (order == 2) e *= fs * fs / (ref * ref * 4 * kPi * kPi);
  pixelsPerUnit_ = 0.0f;
  std::fill(offsets_.begin(), offsets_.end(), 0);
  std::fill(multiplier_.begin(), multiplier_.end(), 0);
  if (!tilt) {
    double m = std::sqrt(ref) * e;
    while (m < 4096.0 && s < 62) {
      m *= 2;
      ++s;
    }
    const int64_t mult = std::min(static_cast<int64_t>(std::floor(m + 0.5)), kMaxMultiplier);
    for (int32_t i = 0; i < w; ++i) multiplier_[static_cast<size_t>(i)] = firstBin_[static_cast<size_t>(i)] < 0 ? 0 : mult;
  } else {
    const double top = std::sqrt(fs / 2);
    while (top * e < 4096.0 && s < 62) {
      e *= 2;
      ++s;
    }
    for (int32_t i = 0; i < w; ++i) {
      const int32_t b = firstBin_[static_cast<size_t>(i)];
      if (b < 0) continue;
      const double m = Round(e * std::sqrt((b + 1) * fs / n) + 0.5);
      multiplier_[static_cast<size_t>(i)] = std::min(static_cast<int64_t>(m), kMaxMultiplier);
    }
  }
  shift_ = s;
}

// ---------------------------------------------------------------------------
// Bars

int32_t TMMSpectrumCalc::ComputeBars() {
  const int32_t w = plotW_;
  const int32_t hPlot = plotH_;
  const int32_t* first = firstBin_.data();
  const int32_t* end = endBin_.data();
  const int32_t* levels = binLevels_.data();
  const bool logDecay = logAmp_ && decayMode_ != dmNone;
  constexpr double kUnitsPerLn = 2.0 * 8192.0 / kLn2;
  const double f = pixelsPerUnit_;
  int32_t count = 0;
  record_ = TSpectrumPeakRecord{};
  for (int32_t i = 0; i < w; ++i) {
    const int32_t b = first[i];
    if (b < 0) continue;
    if (count > 0) bars_[static_cast<size_t>(count - 1)].end = i;
    int64_t level = levels[b];
    // Levels are linear here and are taken to the log scale per bar; the
    // first bin of a column weighs three times.
    if (logDecay) level *= 3;
    int32_t maxBin = b;
    for (int32_t k = b + 1; k < end[i]; ++k) {
      if (levels[k] > level) {
        level = levels[k];
        maxBin = k;
      }
    }
    int32_t height = 0;
    if (level >= 1) {
      if (logDecay) {
        height = ToInt32(std::trunc(
            (std::log(static_cast<double>(level) / 16.0) * kUnitsPerLn - offsets_[maxBin]) * f));
      } else {
        const int64_t m = multiplier_[static_cast<size_t>(i)];
        const int64_t limit = std::numeric_limits<int64_t>::max() / std::max<int64_t>(m, 1);
        height = level > limit ? std::numeric_limits<int32_t>::max() / 2
                               : ToInt32(static_cast<double>((level * m) >> shift_));
      }
    }
    bars_[static_cast<size_t>(count)] = TSpectrumBar{i, w, height};
    if (height > record_.height) record_ = TSpectrumPeakRecord{0.0f, height, maxBin, i};
    if (height >= hPlot && OnGainOverflow) OnGainOverflow(this);
    ++count;
  }
  bars_[static_cast<size_t>(count)] = TSpectrumBar{};
  barCount_ = count;
  record_.frequency = PeakFrequencyOfBin(record_.bin);
  return count;
}

std::span<const TSpectrumBar> TMMSpectrumCalc::Bars() const {
  return {bars_.data(), static_cast<size_t>(barCount_)};
}

// ---------------------------------------------------------------------------
// Peak markers

int32_t TMMSpectrumCalc::SpotsOfHeight(int32_t height, int32_t plotHeight, int32_t spots) {
  spots = Max(spots, 1);
  const double unit = static_cast<double>(plotHeight) / spots;
  return Clamp(ToInt32(Round(height / unit + 0.5)), 0, spots);
}

void TMMSpectrumCalc::TakePeaks(int32_t spots) {
  const int32_t hold = 2 * PeakDelay() + 1;
  std::lock_guard lock(peakLock_);
  peakCount_ = barCount_;
  for (int32_t j = 0; j < barCount_; ++j) {
    const int32_t h = bars_[static_cast<size_t>(j)].height;
    const int32_t unit = spots > 0 ? SpotsOfHeight(h, plotH_, spots) : h;
    PeakState& p = peaks_[static_cast<size_t>(j)];
    if (unit >= p.peak && unit > 0) {
      p.peak = unit;
      p.countdown = hold;
    }
    peakSnapshot_[static_cast<size_t>(j)] = p.peak;
  }
}

std::span<const int32_t> TMMSpectrumCalc::PeakHeights() const {
  return {peakSnapshot_.data(), static_cast<size_t>(barCount_)};
}

void TMMSpectrumCalc::PeakTick() {
  if (InfoActive() || NumPeaks() == 0) return;
  const int32_t speed = PeakSpeed();
  const bool drop = DropPeaks();
  std::lock_guard lock(peakLock_);
  for (int32_t j = 0; j < peakCount_; ++j) {
    PeakState& p = peaks_[static_cast<size_t>(j)];
    if (p.peak <= 0) continue;
    if (--p.countdown > 0) continue;
    if (speed == 0) {
      p.peak = 0;
      p.countdown = 0;
    } else {
      if (drop) --p.peak;
      p.countdown = speed;
    }
  }
}

// ---------------------------------------------------------------------------
// Peak frequency

float TMMSpectrumCalc::PeakFrequencyOfBin(int32_t bin) const {
  const double width = static_cast<double>(sampleRate_) / fftLength_;
  double f;
  if (logFreq_) {
    f = bin <= 1 ? (bin + 0.25) * width : bin * width;
  } else {
    f = (bin + 0.5) * width;
  }
  if (f >= 200.0) f += 10.0;
  return static_cast<float>(f);
}

std::string TMMSpectrumCalc::PeakLabel() const {
  if (!displayPeak_ || record_.height <= 5) return {};
  return FormatFixed(record_.frequency, 0, 1) + " Hz";
}

// ---------------------------------------------------------------------------
// Grid, scales and readout

int32_t TMMSpectrumCalc::HorizontalIntervals(int32_t height, bool logAmp) {
  int32_t n = logAmp ? 6 : 10;
  while (n > 1 && static_cast<double>(height) / n < 10.0) --n;
  return n;
}

int32_t TMMSpectrumCalc::VerticalIntervals(int32_t width) {
  int32_t d = 32;
  while (d > 1 && static_cast<double>(width) / d < 10.0) d /= 2;
  return d;
}

int32_t TMMSpectrumCalc::GridRow(int32_t k, int32_t n) const {
  const int32_t h = plotH_;
  if (logAmp_) return k * (h - 1) / n;
  const float v = static_cast<float>(verticalScale_) / 100.0f;
  const double step = static_cast<double>(v) * 32768.0 / h;
  return h - ToInt32(std::trunc(k * static_cast<double>(v) * 32760.0 / n / step)) - 1;
}

int32_t TMMSpectrumCalc::GridColumn(int32_t k, int32_t d, int32_t width) {
  return k * (width - 1) / d;
}

double TMMSpectrumCalc::FreqScaleValue(int32_t k, int32_t d) const {
  const double fs = sampleRate_;
  const double lo = fLo_;
  const double z = zoom_;
  double f;
  if (logFreq_) {
    f = lo * std::exp(k * std::log(fftLength_ / 2.0) / (d * z));
  } else {
    f = lo + k * (fs / 2 - lo) / d / z;
  }
  return std::max(0.0, f);
}

std::string TMMSpectrumCalc::FreqScaleLabel(double frequency) { return FormatFixed(frequency, 0, 0); }

std::string TMMSpectrumCalc::AmpScaleLabel(int32_t k, int32_t n, bool right) const {
  if (logAmp_) return FormatInt(ToInt32(Round(-10.0 * 6.0 * k / n)), right ? 2 : 0);
  const float v = static_cast<float>(verticalScale_) / 100.0f;
  const double value = k * static_cast<double>(v) / n;
  return v <= 0.095f ? FormatFixed(value, 5, 3) : FormatFixed(value, 4, 2);
}

double TMMSpectrumCalc::ReadoutFrequency(int32_t x) const {
  const double span = Max(plotW_ - 1, 1);
  const double lo = fLo_;
  const double z = zoom_;
  if (logFreq_) return lo * std::exp(x * std::log(fftLength_ / 2.0) / (span * z));
  return lo + x * (sampleRate_ / 2.0 - lo) / span / z;
}

std::string TMMSpectrumCalc::ReadoutFrequencyText(int32_t x) const {
  return FormatFixed(ReadoutFrequency(x) / 1000.0, 2, 3) + " KHz";
}

std::string TMMSpectrumCalc::ReadoutLevelText(int32_t y) const {
  const double span = Max(plotH_ - 1, 1);
  // Appended piece by piece: GCC 12 misreads "literal" + string at -O3.
  std::string text(1, ' ');
  if (logAmp_) {
    text += FormatFixed(-10.0 * (6.0 * y / span), 2, 1);
    text += " dB";
    return text;
  }
  const float v = static_cast<float>(verticalScale_) / 100.0f;
  const double value = 10.0 / span * (plotH_ - y - 1) * static_cast<double>(v) * 0.1;
  text += verticalScale_ < 10 ? FormatFixed(value, 5, 3) : FormatFixed(value, 4, 2);
  text += " V";
  return text;
}

}  // namespace tv
