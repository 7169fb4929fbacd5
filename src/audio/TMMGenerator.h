// A test-signal generator read from a wave table. Without an Input it is an
// endless source; with one, or when buffers are pushed through it, it
// modulates the passing signal instead.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "MMDSPObj.h"
#include "MMErrors.h"

namespace tv {

TV_DECLARE_ERROR(EMMGeneratorError);

enum TMMWaveForm { wfSine = 0, wfSquare, wfTriangle, wfSawtoothPos, wfSawtoothNeg, wfNoise };
enum TMMModulation { moAM = 0, moFM, moPM };

class TMMGenerator : public TMMDSPComponent {
 public:
  static constexpr int32_t kTableSize = 100000;
  static constexpr int32_t kFullScale = 16384;  // Amplitude of a full-scale signal

  explicit TMMGenerator(std::string name = {});
  ~TMMGenerator() override;

  std::span<const LinkProperty> LinkProperties() const override { return kPublishInputOutput; }

  // Accepts valid PCM of one or two channels and takes rate, width and
  // channels from it; anything else raises "Invalid WaveFormat".
  void SetPWaveFormat(const WAVEFORMATEX* value) override;
  void Open() override;
  void Close() override;
  void Start() override;
  void BufferReady(PWaveHdr buffer) override;
  void BufferLoad(PWaveHdr buffer, bool& moreBuffers) override;

  bool Enabled() const { return enabled_.load(); }
  void SetEnabled(bool value) { enabled_.store(value); }
  // 8000 ... 88200 Hz.
  int32_t SampleRate() const { return sampleRate_; }
  void SetSampleRate(int32_t value);
  TMMBits BitLength() const { return bitLength_; }
  void SetBitLength(TMMBits value);
  TMMMode Mode() const { return mode_; }
  // mMultiChannel is ignored.
  void SetMode(TMMMode value);
  TMMChannel Channel() const { return channel_.load(); }
  void SetChannel(TMMChannel value) { channel_.store(value); }
  TMMWaveForm WaveForm() const { return waveForm_; }
  void SetWaveForm(TMMWaveForm value);
  TMMModulation Modulation() const { return modulation_.load(); }
  void SetModulation(TMMModulation value) { modulation_.store(value); }
  // 0.01 ... 100000 Hz.
  double Frequency() const { return frequency_.load(); }
  void SetFrequency(double value);
  // 0 ... 16384 (full scale).
  int32_t Amplitude() const { return amplitude_.load(); }
  void SetAmplitude(int32_t value);
  int32_t DryAmplitude() const { return dryAmplitude_.load(); }
  void SetDryAmplitude(int32_t value);

  // Seeds the noise generator; noise from the next Open or wave form change
  // on follows from it. Creation seeds it from the clock.
  void SetRandomSeed(uint32_t seed) { seed_ = seed; }
  // The table entry the next value is read from.
  double Phase() const;

 private:
  void ApplyFormat();
  void BuildTable();
  // Reads the next value; the table lock is held by the caller.
  int32_t NextValue(double step);
  void Generate(uint8_t* data, uint32_t bytes);
  void Modulate(uint8_t* data, uint32_t bytes);
  void ModulateAM16(uint8_t* data, uint32_t bytes, double step);
  void ModulateAM8(uint8_t* data, uint32_t bytes, double step);
  void ModulateFM(uint8_t* data, uint32_t bytes, double step);
  double Step() const;

  std::atomic<bool> enabled_{true};
  int32_t sampleRate_ = 11025;
  TMMBits bitLength_ = b8Bit;
  TMMMode mode_ = mMono;
  std::atomic<TMMChannel> channel_{chBoth};
  TMMWaveForm waveForm_ = wfSine;
  std::atomic<TMMModulation> modulation_{moAM};
  std::atomic<double> frequency_{1000.0};
  std::atomic<int32_t> amplitude_{kFullScale};
  std::atomic<int32_t> dryAmplitude_{0};
  uint32_t seed_ = 0;
  bool tableReady_ = false;

  // What the delivering thread reads; a new table is built aside and copied
  // in under the lock, so a reader never sees half a table.
  mutable std::mutex tableLock_;
  std::unique_ptr<int16_t[]> table_;
  std::unique_ptr<int16_t[]> scratch_;
  double phase_ = 0.0;
  bool noise_ = false;
  uint32_t noiseSeed_ = 0;
  int32_t peak_ = 127;
  int32_t channels_ = 1;
  int32_t bits_ = 8;
  int32_t rate_ = 11025;
};

}  // namespace tv
