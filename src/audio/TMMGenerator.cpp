#include "TMMGenerator.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <numbers>

#include "MMUtils.h"

namespace tv {

namespace {

inline int32_t Load16(const uint8_t* p) {
  int16_t v;
  std::memcpy(&v, p, 2);
  return v;
}

inline void Store16(uint8_t* p, int32_t v) {
  const auto s = static_cast<int16_t>(v);
  std::memcpy(p, &s, 2);
}

}  // namespace

TMMGenerator::TMMGenerator(std::string name)
    : TMMDSPComponent(std::move(name)),
      table_(std::make_unique<int16_t[]>(kTableSize)),
      scratch_(std::make_unique<int16_t[]>(kTableSize)) {
  seed_ = static_cast<uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  ApplyFormat();
}

TMMGenerator::~TMMGenerator() { Unlink(); }

// ---------------------------------------------------------------------------
// Properties

void TMMGenerator::ApplyFormat() {
  const WaveFormatPtr f = MakePcmFormat(bitLength_ == b16Bit ? 16 : 8, mode_ + 1, sampleRate_);
  SetPWaveFormat(f.get());
}

void TMMGenerator::SetSampleRate(int32_t value) {
  value = Clamp(value, 8000, 88200);
  if (value == sampleRate_) return;
  sampleRate_ = value;
  ApplyFormat();
}

void TMMGenerator::SetBitLength(TMMBits value) {
  if (value == bitLength_ || (value != b8Bit && value != b16Bit)) return;
  bitLength_ = value;
  ApplyFormat();
}

void TMMGenerator::SetMode(TMMMode value) {
  if (value == mode_ || (value != mMono && value != mStereo)) return;
  mode_ = value;
  ApplyFormat();
}

void TMMGenerator::SetWaveForm(TMMWaveForm value) {
  if (value == waveForm_) return;
  waveForm_ = value;
  if (tableReady_) BuildTable();
}

void TMMGenerator::SetFrequency(double value) {
  // Also catches NaN.
  if (!(value >= 0.01)) value = 0.01;
  frequency_.store(std::min(value, 100000.0));
}

void TMMGenerator::SetAmplitude(int32_t value) { amplitude_.store(Clamp(value, 0, kFullScale)); }

void TMMGenerator::SetDryAmplitude(int32_t value) {
  dryAmplitude_.store(Clamp(value, 0, kFullScale));
}

double TMMGenerator::Phase() const {
  std::lock_guard lock(tableLock_);
  return phase_;
}

void TMMGenerator::SetPWaveFormat(const WAVEFORMATEX* value) {
  if (value != nullptr && value != PWaveFormat()) {
    // Only mono and stereo have a layout to generate into.
    if (!PcmFormatSupported(value) || value->nChannels > 2) {
      throw EMMGeneratorError(LoadResString(SInvalidWaveFormatGen));
    }
    // The stream's own rate, not the property's clamp: the tone must keep
    // its frequency in whatever rate it flows.
    sampleRate_ = static_cast<int32_t>(value->nSamplesPerSec);
    bitLength_ = value->wBitsPerSample == 16 ? b16Bit : b8Bit;
    mode_ = value->nChannels == 2 ? mStereo : mMono;
    {
      std::lock_guard lock(tableLock_);
      bits_ = value->wBitsPerSample;
      channels_ = value->nChannels;
      rate_ = sampleRate_;
      peak_ = bits_ == 16 ? 32767 : 127;
    }
    if (tableReady_) BuildTable();
  }
  TMMDSPComponent::SetPWaveFormat(value);
}

// ---------------------------------------------------------------------------
// Lifecycle

void TMMGenerator::Open() {
  TMMDSPComponent::Open();
  if (!tableReady_) {
    tableReady_ = true;
    BuildTable();
  }
}

void TMMGenerator::Close() {
  tableReady_ = false;
  TMMDSPComponent::Close();
}

void TMMGenerator::Start() {
  TMMDSPComponent::Start();
  std::lock_guard lock(tableLock_);
  phase_ = 0.0;
}

// ---------------------------------------------------------------------------
// The table

void TMMGenerator::BuildTable() {
  constexpr int64_t n = kTableSize;
  constexpr int64_t h = n / 2;
  constexpr int64_t q = n / 4;
  const int64_t p = bitLength_ == b16Bit ? 32767 : 127;
  int16_t* t = scratch_.get();
  for (int64_t i = 0; i < n; ++i) {
    int64_t v = 0;
    switch (waveForm_) {
      case wfSine:
        v = static_cast<int64_t>(
            std::nearbyint(std::sin(2.0 * std::numbers::pi * static_cast<double>(i) / n) *
                           static_cast<double>(p)));
        break;
      case wfSquare:
        v = i <= h ? -p : p;
        break;
      case wfTriangle:
        if (i <= q) {
          v = i * p / q;
        } else if (i > 3 * q) {
          v = (i - 3 * n / 4) * p / q - p;
        } else {
          v = p * (h - i) / q;
        }
        break;
      case wfSawtoothPos:
        v = i <= h ? i * p / h : (i - h) * p / h - p;
        break;
      case wfSawtoothNeg:
        v = i <= h ? -(i * p) / h : p - (i - h) * p / h;
        break;
      case wfNoise: {
        seed_ = seed_ * 134775813u + 1u;
        const auto r = static_cast<int64_t>((static_cast<uint64_t>(seed_) * (2 * p)) >> 32);
        v = r - p;
        break;
      }
    }
    t[i] = static_cast<int16_t>(v);
  }
  std::lock_guard lock(tableLock_);
  std::memcpy(table_.get(), t, sizeof(int16_t) * kTableSize);
  noise_ = waveForm_ == wfNoise;
  noiseSeed_ = seed_;
}

double TMMGenerator::Step() const {
  return frequency_.load() * kTableSize / static_cast<double>(rate_);
}

int32_t TMMGenerator::NextValue(double step) {
  int64_t raw = 0;
  if (noise_) {
    // Drawn fresh: a noise table read with a tone's step repeats within a
    // few hundred samples (441 at 1000 Hz and 44100 Hz), a buzz with lines
    // every 100 Hz rather than noise.
    noiseSeed_ = noiseSeed_ * 134775813u + 1u;
    raw = static_cast<int64_t>((static_cast<uint64_t>(noiseSeed_) * (2 * peak_)) >> 32) - peak_;
  } else {
    auto index = static_cast<int32_t>(std::nearbyint(phase_));
    if (index >= kTableSize) index -= kTableSize;
    raw = table_[index];
  }
  const auto value =
      static_cast<int32_t>(raw * amplitude_.load(std::memory_order_relaxed) / kFullScale);
  // The table holds exactly one period: wrapping at its full length keeps
  // the tone at its frequency without a jump at every wrap.
  phase_ += step;
  if (phase_ >= kTableSize) phase_ = std::fmod(phase_, static_cast<double>(kTableSize));
  return value;
}

// ---------------------------------------------------------------------------
// Data

void TMMGenerator::Generate(uint8_t* data, uint32_t bytes) {
  std::lock_guard lock(tableLock_);
  const double step = Step();
  const TMMChannel channel = channel_.load();
  const bool left = channel != chRight;
  const bool right = channel != chLeft;
  if (bits_ == 16) {
    if (channels_ == 1) {
      for (uint32_t i = 0; i + 2 <= bytes; i += 2) Store16(data + i, NextValue(step));
    } else {
      for (uint32_t i = 0; i + 4 <= bytes; i += 4) {
        const int32_t v = NextValue(step);
        if (left) Store16(data + i, v);
        if (right) Store16(data + i + 2, v);
      }
    }
  } else if (channels_ == 1) {
    for (uint32_t i = 0; i < bytes; ++i) data[i] = static_cast<uint8_t>(NextValue(step) + 128);
  } else {
    for (uint32_t i = 0; i + 2 <= bytes; i += 2) {
      const auto v = static_cast<uint8_t>(NextValue(step) + 128);
      if (left) data[i] = v;
      if (right) data[i + 1] = v;
    }
  }
}

void TMMGenerator::Modulate(uint8_t* data, uint32_t bytes) {
  std::lock_guard lock(tableLock_);
  const double step = Step();
  switch (modulation_.load()) {
    case moAM:
      if (bits_ == 16) {
        ModulateAM16(data, bytes, step);
      } else {
        ModulateAM8(data, bytes, step);
      }
      break;
    case moFM:
      ModulateFM(data, bytes, step);
      break;
    case moPM:
      break;
  }
}

void TMMGenerator::ModulateAM16(uint8_t* data, uint32_t bytes, double step) {
  const int64_t dry = dryAmplitude_.load();
  auto am = [dry](int64_t s, int64_t g) {
    return ClipTo16(static_cast<int32_t>(s * dry / kFullScale + g * s / 32768));
  };
  if (channels_ == 1) {
    for (uint32_t i = 0; i + 2 <= bytes; i += 2) {
      Store16(data + i, am(Load16(data + i), NextValue(step)));
    }
    return;
  }
  const TMMChannel channel = channel_.load();
  for (uint32_t i = 0; i + 4 <= bytes; i += 4) {
    const int64_t g = NextValue(step);
    if (channel != chRight) Store16(data + i, am(Load16(data + i), g));
    if (channel != chLeft) Store16(data + i + 2, am(Load16(data + i + 2), g));
  }
}

void TMMGenerator::ModulateAM8(uint8_t* data, uint32_t bytes, double step) {
  const int64_t dry = dryAmplitude_.load();
  auto am = [dry](uint8_t byte, int64_t g) {
    const int64_t s = static_cast<int64_t>(byte) - 128;
    return static_cast<uint8_t>(ClipTo8(static_cast<int32_t>(s * dry / kFullScale + g * s / 128)) +
                                128);
  };
  if (channels_ == 1) {
    for (uint32_t i = 0; i < bytes; ++i) data[i] = am(data[i], NextValue(step));
    return;
  }
  const TMMChannel channel = channel_.load();
  for (uint32_t i = 0; i + 2 <= bytes; i += 2) {
    const int64_t g = NextValue(step);
    if (channel != chRight) data[i] = am(data[i], g);
    if (channel != chLeft) data[i + 1] = am(data[i + 1], g);
  }
}

void TMMGenerator::ModulateFM(uint8_t* data, uint32_t bytes, double step) {
  // Whatever the format, the data is read as 16-bit samples.
  for (uint32_t i = 0; i + 2 <= bytes; i += 2) {
    const double x = Load16(data + i);
    Store16(data + i, NextValue(step * (1.0 + x / 32768.0)));
  }
}

void TMMGenerator::BufferLoad(PWaveHdr buffer, bool& moreBuffers) {
  auto* data = reinterpret_cast<uint8_t*>(buffer->lpData);
  if (Input() != nullptr) {
    if (buffer->dwBufferLength != 0) {
      TMMDSPComponent::BufferLoad(buffer, moreBuffers);
      if (enabled_.load()) Modulate(data, buffer->dwBytesRecorded);
    }
  } else {
    if (enabled_.load()) {
      Generate(data, buffer->dwBufferLength);
    } else {
      std::lock_guard lock(tableLock_);
      std::memset(data, bits_ == 8 ? 128 : 0, buffer->dwBufferLength);
    }
    buffer->dwBytesRecorded = buffer->dwBufferLength;
  }
  // A generator never ends, even when its Input does.
  moreBuffers = true;
}

void TMMGenerator::BufferReady(PWaveHdr buffer) {
  if (enabled_.load()) {
    Modulate(reinterpret_cast<uint8_t*>(buffer->lpData), buffer->dwBytesRecorded);
  }
  TMMDSPComponent::BufferReady(buffer);
}

}  // namespace tv
