// Properties, frame analysis, levels and the levels file of the spectrum.
// The axes, bars, peak markers and scale texts are in TMMSpectrumAxes.cpp.
#include "TMMSpectrumCalc.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>

#include "MMPCMSup.h"
#include "MMUtils.h"
#include "TMMConnector.h"

namespace tv {

namespace {

int Log2Floor(int32_t v) { return std::bit_width(static_cast<uint32_t>(v)) - 1; }

int32_t PowerOfTwoAtMost(int32_t v) { return int32_t{1} << Log2Floor(v); }

// Longest line that can still hold an integer, with blanks around it.
constexpr size_t kMaxLineLength = 64;
constexpr int32_t kMaxLevelLines = TMMSpectrumCalc::kMaxBins;

std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

// StrToInt's reading of a line: blanks around an optionally signed decimal.
bool ParseLevel(std::string_view line, int32_t& value) {
  const auto blank = [](char c) { return c == ' ' || c == '\t'; };
  while (!line.empty() && blank(line.front())) line.remove_prefix(1);
  while (!line.empty() && blank(line.back())) line.remove_suffix(1);
  const bool plus = !line.empty() && line.front() == '+';
  if (plus) line.remove_prefix(1);
  if (line.empty() || (plus && line.front() == '-')) return false;
  const char* end = line.data() + line.size();
  const auto [ptr, ec] = std::from_chars(line.data(), end, value);
  return ec == std::errc() && ptr == end;
}

}  // namespace

TMMSpectrumCalc::TMMSpectrumCalc()
    : setup_(CreateFFTSetup(Log2Floor(128))),
      windowTable_(kMaxFFTLength, 0),
      raw_(kMaxFFTLength, 0),
      work_(kMaxFFTLength, 0.0f),
      fftOut_(kMaxFFTLength, 0),
      binLevels_(kMaxBins, 0),
      decayState_(kMaxBins, 0.0f),
      sums_(kMaxBins, 0),
      history_(static_cast<size_t>(kHistorySlots) * kMaxBins, 0),
      offsets_(kMaxBins, 0) {
  RebuildWindow();
  ResizeColumns();
  RecalcMapping();
  RecalcScales();
  RenewPeakTimer();
}

TMMSpectrumCalc::~TMMSpectrumCalc() {
  TMMConnector::DisplayRemoved(this);
  // Waits for a tick that is running our callback.
  TimerList::Unregister(timerEntry_);
  timerEntry_ = nullptr;
}

void TMMSpectrumCalc::RenewPeakTimer() {
  if (timerEntry_ != nullptr) return;
  timerSuspended_ = NumPeaks() == 0 || !enabled_;
  timerEntry_ = TimerList::Register(
      TimerList::kTick, timerSuspended_ ? 1 : 0,
      [](TimerList::Entry*, void* owner) { static_cast<TMMSpectrumCalc*>(owner)->PeakTick(); },
      this);
}

// The timer is wanted while markers are on and the display is live; a
// frozen display keeps its markers where they stand.
void TMMSpectrumCalc::UpdatePeakTimer() {
  if (timerEntry_ == nullptr) return;
  const bool suspend = NumPeaks() == 0 || !enabled_;
  if (suspend == timerSuspended_) return;
  timerSuspended_ = suspend;
  if (suspend) {
    TimerList::Suspend(timerEntry_);
  } else {
    TimerList::Resume(timerEntry_);
  }
}

void TMMSpectrumCalc::Redraw() {
  if (OnRedraw) OnRedraw(this);
}

void TMMSpectrumCalc::RebuildWindow() {
  BuildWindowTable(windowTable_, window_, Log2Floor(fftLength_));
}

// ---------------------------------------------------------------------------
// Properties

void TMMSpectrumCalc::SetEnabled(bool value) {
  if (value == enabled_) return;
  enabled_ = value;
  UpdatePeakTimer();
  Redraw();
}

void TMMSpectrumCalc::SetMode(TMMMode value) {
  const int mode = Clamp(static_cast<int32_t>(value), 0, 3);
  if (mode == mode_) return;
  mode_ = mode;
  Redraw();
}

void TMMSpectrumCalc::SetBitLength(TMMBits value) {
  const TMMBits bits = value == b16Bit ? b16Bit : b8Bit;
  if (bits == bits_) return;
  bits_ = bits;
  Redraw();
}

void TMMSpectrumCalc::SetChannel(TMMChannel value) {
  if (value == channel_ || value < chBoth || value > chRight) return;
  channel_ = value;
  Redraw();
}

void TMMSpectrumCalc::SetSampleRate(int32_t value) {
  value = Clamp(value, 8000, 100000);
  if (value == sampleRate_) return;
  sampleRate_ = value;
  AxisChanged();
}

void TMMSpectrumCalc::SetFFTLength(int32_t value) {
  const int32_t length = PowerOfTwoAtMost(Clamp(value, kMinFFTLength, kMaxFFTLength));
  if (length == fftLength_) return;
  // Built before the old one goes: a failed allocation leaves all as it was.
  PFFTSetup fresh = CreateFFTSetup(Log2Floor(length));
  setup_.swap(fresh);
  fftLength_ = length;
  RebuildWindow();
  AxisChanged();
}

void TMMSpectrumCalc::SetWindow(TMMFFTWindow value) {
  if (value == window_) return;
  window_ = value;
  RebuildWindow();
}

void TMMSpectrumCalc::SetLogFreq(bool value) {
  if (value == logFreq_) return;
  logFreq_ = value;
  AxisChanged();
}

void TMMSpectrumCalc::SetLogAmp(bool value) {
  if (value == logAmp_) return;
  logAmp_ = value;
  if (loading_) return;
  RecalcScales();
  ClearDisplayData();
  Redraw();
}

void TMMSpectrumCalc::SetGain(TMMSpectrumGain value) {
  if (value == gain_ || value < sgNone || value > sg12db) return;
  gain_ = value;
  if (loading_) return;
  RecalcScales();
  ClearLayout();
  Redraw();
}

void TMMSpectrumCalc::SetRefFreq(int32_t value) {
  value = Clamp(value, 1, 44100);
  if (value == refFreq_) return;
  refFreq_ = value;
  if (loading_) return;
  RecalcScales();
  ClearLayout();
  Redraw();
}

void TMMSpectrumCalc::SetVerticalScale(int32_t value) {
  value = Clamp(value, 1, 500);
  if (value == verticalScale_) return;
  verticalScale_ = value;
  if (loading_) return;
  RecalcScales();
  ClearLayout();
  Redraw();
}

void TMMSpectrumCalc::SetDecayMode(TMMDecayMode value) {
  if (value == decayMode_ || value < dmNone || value > dmUniform) return;
  decayMode_ = value;
  ClearDecayState();
}

void TMMSpectrumCalc::SetDecay(int32_t value) {
  value = Clamp(value, 1, 16);
  if (value == decay_) return;
  decay_ = value;
  float factor = 0.0001f;
  for (int32_t i = 0; i < value; ++i) factor = std::sqrt(factor);
  decayFactor_ = factor;
  averageLength_ = Clamp(2 * value - 2, 1, kHistorySlots);
  if (decayMode_ == dmUniform) ClearDecayState();
}

void TMMSpectrumCalc::SetFrequencyScale(int32_t value) {
  value = PowerOfTwoAtMost(Clamp(value, 1, 16));
  if (value == frequencyScale_) return;
  frequencyScale_ = value;
  AxisChanged();
}

void TMMSpectrumCalc::SetNumPeaks(int32_t value) {
  if (value < 0 || value > 5 || value == NumPeaks()) return;
  numPeaks_.store(value, std::memory_order_relaxed);
  ZeroPeaks();
  UpdatePeakTimer();
  Redraw();
}

void TMMSpectrumCalc::SetPeakDelay(int32_t value) {
  if (value < 0 || value > 50) return;
  peakDelay_.store(value, std::memory_order_relaxed);
}

void TMMSpectrumCalc::SetPeakSpeed(int32_t value) {
  if (value < 0 || value > 50) return;
  peakSpeed_.store(value, std::memory_order_relaxed);
}

void TMMSpectrumCalc::SetDisplayPeak(bool value) {
  if (value == displayPeak_) return;
  displayPeak_ = value;
  Redraw();
}

void TMMSpectrumCalc::AxisChanged() {
  if (loading_) return;
  RecalcMapping();
  RecalcScales();
  ClearDisplayData();
  Redraw();
}

void TMMSpectrumCalc::EndLoad() {
  if (!loading_) return;
  loading_ = false;
  RecalcMapping();
  RecalcScales();
  ClearDisplayData();
  Redraw();
}

// ---------------------------------------------------------------------------
// Display protocol

void TMMSpectrumCalc::AssignFormat(const WAVEFORMATEX* format) {
  if (format == nullptr) return;
  if (!PcmFormatSupported(format)) throw EMMSpectrumError(LoadResString(SInvalidWaveFormatGen));
  SetSampleRate(static_cast<int32_t>(format->nSamplesPerSec));
  SetBitLength(static_cast<TMMBits>(format->wBitsPerSample / 8 - 1));
  SetMode(static_cast<TMMMode>(format->nChannels - 1));
}

int32_t TMMSpectrumCalc::FrameBytes() const {
  return (static_cast<int32_t>(bits_) + 1) * (mode_ + 1) * fftLength_;
}

void TMMSpectrumCalc::FeedPCM(const void* data) {
  if (data == nullptr || !enabled_ || !visible_ || InfoActive()) return;
  Analyse(static_cast<const uint8_t*>(data));
  Redraw();
}

void TMMSpectrumCalc::FeedPCM(const void* data, size_t bytes) {
  if (bytes < static_cast<size_t>(FrameBytes())) return;
  FeedPCM(data);
}

void TMMSpectrumCalc::ResetDisplay() {
  // Ending the readout is the owner's part; the analysis resumes here.
  SetInfoActive(false);
  ClearDisplayData();
  Redraw();
}

// ---------------------------------------------------------------------------
// Frame analysis

// Picks each frame's raw value: one channel, or both averaged. Values stay
// raw (8-bit unsigned) for the overflow check and the differences.
template <typename Sample>
void TMMSpectrumCalc::FormSamples(const uint8_t* data) {
  const int32_t n = fftLength_;
  const int32_t channels = mode_ + 1;
  const auto at = [data](int32_t index) -> int32_t {
    Sample s;
    std::memcpy(&s, data + static_cast<size_t>(index) * sizeof(Sample), sizeof s);
    return s;
  };
  int32_t* raw = raw_.data();
  if (channels == 1) {
    for (int32_t i = 0; i < n; ++i) raw[i] = at(i);
  } else if (channel_ == chBoth) {
    for (int32_t i = 0; i < n; ++i) {
      const int32_t sum = at(i * channels) + at(i * channels + 1);
      raw[i] = sizeof(Sample) == 1 ? sum >> 1 : sum / 2;
    }
  } else {
    const int32_t c = channel_ == chRight ? 1 : 0;
    for (int32_t i = 0; i < n; ++i) raw[i] = at(i * channels + c);
  }
}

void TMMSpectrumCalc::Analyse(const uint8_t* data) {
  const int32_t n = fftLength_;
  const bool wide = bits_ == b16Bit;
  const bool stereoBoth = mode_ > 0 && channel_ == chBoth;
  const int order = static_cast<int>(gain_) / 2;
  if (wide) {
    FormSamples<int16_t>(data);
  } else {
    FormSamples<uint8_t>(data);
  }

  // The samples before the frame repeat the first raw sample of the data:
  // for both channels the left one, else the analysed channel's.
  int32_t first;
  {
    const int32_t c = (mode_ > 0 && channel_ == chRight) ? 1 : 0;
    if (wide) {
      int16_t s;
      std::memcpy(&s, data + 2 * c, sizeof s);
      first = s;
    } else {
      first = data[c];
    }
  }

  const int32_t limit = wide ? ((stereoBoth && order < 2) ? 32765 : 32766) : 254;
  const int32_t* raw = raw_.data();
  if (OnPcmOverflow) {
    for (int32_t i = 0; i < n; ++i) {
      if (raw[i] > limit) OnPcmOverflow(this);
    }
  }

  const int64_t divisor = wide ? 32768 : 128;
  const int32_t* w = windowTable_.data();
  float* work = work_.data();
  int32_t x1 = first;
  int32_t x2 = first;
  switch (order) {
    case 0: {
      const int32_t bias = wide ? 0 : 128;
      for (int32_t i = 0; i < n; ++i) {
        work[i] = static_cast<float>(int64_t{raw[i] - bias} * w[i] / divisor);
      }
      break;
    }
    case 1:
      for (int32_t i = 0; i < n; ++i) {
        const int32_t x = raw[i];
        work[i] = static_cast<float>(int64_t{x - x1} * w[i] / divisor);
        x1 = x;
      }
      break;
    default:
      for (int32_t i = 0; i < n; ++i) {
        const int32_t x = raw[i];
        work[i] = static_cast<float>(int64_t{x - 2 * x1 + x2} * w[i] / divisor);
        x2 = x1;
        x1 = x;
      }
      break;
  }

  RealFFT(setup_.get(), work, +1);
  // Stored as 16-bit values; a value beyond the range (only weighted input
  // gets there) saturates rather than wrapping into a small one.
  const double half = n / 2;
  int16_t* out = fftOut_.data();
  for (int32_t i = 0; i < n; ++i) {
    const double q = std::trunc(static_cast<double>(work[i]) / half);
    out[i] = static_cast<int16_t>(std::clamp(q, -32767.0, 32767.0));
  }
  ComputeLevels();
}

void TMMSpectrumCalc::ComputeLevels() {
  const int32_t bins = fftLength_ / 2;
  const int16_t* out = fftOut_.data();
  int32_t* levels = binLevels_.data();
  const auto power = [out](int32_t k) -> int32_t {
    const int64_t re = out[2 * k];
    const int64_t im = out[2 * k + 1];
    const int64_t p = re * re + im * im;
    return p > std::numeric_limits<int32_t>::max() ? 0 : static_cast<int32_t>(p);
  };

  if (logAmp_ && decayMode_ == dmNone) {
    constexpr double kUnitsPerLn = 8192.0 / 0.69314718055994530942;
    for (int32_t k = 0; k < bins; ++k) {
      const int32_t p = power(k);
      if (p < 1) {
        levels[k] = 0;
        continue;
      }
      const double v = std::trunc(std::log(static_cast<double>(p)) * kUnitsPerLn - offsets_[k]);
      levels[k] = v > 0 ? static_cast<int32_t>(v) : 0;
    }
    return;
  }

  const auto amplitude = [&power](int32_t k) {
    return static_cast<int32_t>(std::sqrt(static_cast<double>(power(k))) * 16.0);
  };
  float* state = decayState_.data();
  const float factor = decayFactor_;
  switch (decayMode_) {
    case dmNone:
      for (int32_t k = 0; k < bins; ++k) levels[k] = amplitude(k);
      break;
    case dmStepUp:
      for (int32_t k = 0; k < bins; ++k) {
        const int32_t v = amplitude(k);
        float s = state[k] * factor;
        if (static_cast<float>(v) >= s) {
          s = static_cast<float>(v);
          levels[k] = v;
        } else {
          levels[k] = static_cast<int32_t>(s);
        }
        state[k] = s;
      }
      break;
    case dmExponential: {
      const float rest = 1.0f - factor;
      for (int32_t k = 0; k < bins; ++k) {
        const float s = state[k] * factor + rest * static_cast<float>(amplitude(k));
        state[k] = s;
        levels[k] = static_cast<int32_t>(std::floor(s));
      }
      break;
    }
    case dmUniform: {
      const int32_t length = averageLength_;
      if (++ringPos_ >= length) ringPos_ = 0;
      if (filled_ < length) ++filled_;
      int32_t* ring = history_.data() + static_cast<size_t>(ringPos_) * kMaxBins;
      int32_t* sums = sums_.data();
      for (int32_t k = 0; k < bins; ++k) {
        const int32_t v = amplitude(k);
        sums[k] += v - ring[k];
        ring[k] = v;
        levels[k] = sums[k] / filled_;
      }
      break;
    }
  }
}

// ---------------------------------------------------------------------------
// Clearing

void TMMSpectrumCalc::ClearDecayState() {
  std::fill(decayState_.begin(), decayState_.end(), 0.0f);
  std::fill(sums_.begin(), sums_.end(), 0);
  std::fill(history_.begin(), history_.end(), 0);
  ringPos_ = 0;
  filled_ = 0;
}

void TMMSpectrumCalc::ClearDisplayData() {
  if (loading_ || clearing_) return;
  clearing_ = true;
  std::fill(binLevels_.begin(), binLevels_.end(), 0);
  std::fill(fftOut_.begin(), fftOut_.end(), int16_t{0});
  ClearLayout();
  ClearDecayState();
  if (enabled_ && OnNeedData) {
    try {
      OnNeedData(this);
    } catch (...) {
      clearing_ = false;
      throw;
    }
  }
  clearing_ = false;
}

void TMMSpectrumCalc::ClearLayout() {
  ZeroPeaks();
  barCount_ = 0;
  if (!bars_.empty()) bars_[0] = TSpectrumBar{};
  record_ = TSpectrumPeakRecord{};
}

void TMMSpectrumCalc::ZeroPeaks() {
  std::lock_guard lock(peakLock_);
  std::fill(peaks_.begin(), peaks_.end(), PeakState{});
  std::fill(peakSnapshot_.begin(), peakSnapshot_.end(), 0);
}

// ---------------------------------------------------------------------------
// Levels file

void TMMSpectrumCalc::SaveLevels(const std::string& fileName) const {
  namespace fs = std::filesystem;
  const fs::path target(fileName);
  fs::path temp = target;
  temp += ".part";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    if (!out) {
      throw EMMSpectrumError("Unable to create the spectrum file " + Quoted(fileName) + ": " +
                             std::strerror(errno));
    }
    char line[16];
    for (int32_t k = 0; k < fftLength_ / 2; ++k) {
      const auto [end, ec] = std::to_chars(line, line + sizeof line - 2, binLevels_[k]);
      end[0] = '\r';
      end[1] = '\n';
      out.write(line, end + 2 - line);
    }
    out.flush();
    if (!out) {
      out.close();
      std::error_code ignored;
      fs::remove(temp, ignored);
      throw EMMSpectrumError("Unable to write the spectrum file " + Quoted(fileName));
    }
  }
  std::error_code ec;
  fs::rename(temp, target, ec);
  if (ec) {
    std::error_code ignored;
    fs::remove(temp, ignored);
    throw EMMSpectrumError("Unable to write the spectrum file " + Quoted(fileName) + ": " +
                           ec.message());
  }
}

void TMMSpectrumCalc::LoadLevels(const std::string& fileName) {
  std::ifstream in(fileName, std::ios::binary);
  if (!in) {
    throw EMMSpectrumError("Unable to open the spectrum file " + Quoted(fileName) + ": " +
                           std::strerror(errno));
  }
  // Everything is checked before a level changes.
  std::vector<int32_t> values;
  values.reserve(kMaxLevelLines);
  std::string line;
  int32_t number = 0;
  const auto notAnInteger = [&] {
    std::string shown = line.substr(0, 24);
    for (char& ch : shown) {
      if (static_cast<unsigned char>(ch) < 32) ch = '?';
    }
    if (line.size() > 24) shown += "...";
    return EMMSpectrumError("Line " + std::to_string(number) + " of the spectrum file " +
                            Quoted(fileName) + " is not an integer: " + Quoted(shown));
  };
  for (;;) {
    line.clear();
    bool ended = false;
    char c;
    while (in.get(c)) {
      if (c == '\n') {
        ended = true;
        break;
      }
      line.push_back(c);
      // A line this long holds no integer; the rest of the file is not read.
      if (line.size() > kMaxLineLength) {
        ++number;
        throw notAnInteger();
      }
    }
    if (in.bad()) throw EMMSpectrumError("Error reading the spectrum file " + Quoted(fileName));
    if (!ended && line.empty()) break;  // end of file
    ++number;
    if (number > kMaxLevelLines) {
      throw EMMSpectrumError("The spectrum file " + Quoted(fileName) + " has more than " +
                             std::to_string(kMaxLevelLines) + " lines; it is not a stored spectrum");
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    int32_t value = 0;
    if (!ParseLevel(line, value)) throw notAnInteger();
    values.push_back(value);
    if (!ended) break;
  }
  std::copy(values.begin(), values.end(), binLevels_.begin());
}

}  // namespace tv
