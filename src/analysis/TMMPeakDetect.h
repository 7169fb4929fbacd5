// The peak detector: a chain component that lets every buffer pass
// unchanged and keeps, per FFT bin, the largest magnitude over the frames of
// the last buffer it analysed. The DTMF decision reads these bins.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "MMDSPObj.h"
#include "MMErrors.h"
#include "MMFFT.h"
#include "MMTypes.h"

namespace tv {

TV_DECLARE_ERROR(EMMPeakError);

using TMMPeakEvent = std::function<void(TMMDSPComponent* sender, int32_t index, int32_t value)>;

// Threads: properties, formats and lifecycle commands belong to the main
// thread; the analysis runs on whichever thread carries the buffer. Bins
// and the two channel peaks may be read from any thread at any time (they
// are relaxed atomics: a reader sees each bin either before or after an
// update, never torn). OnPeakReady runs on the analysing thread and must
// not change the detector's properties.
//
// Stereo channel choice applies to the first two channels of a frame; a
// four-channel stream is read through those two and its others are ignored.
class TMMPeakDetect : public TMMDSPComponent {
 public:
  static constexpr int32_t kMaxFFTLength = 32768;
  static constexpr int32_t kMinFFTLength = 8;

  explicit TMMPeakDetect(std::string name = {});
  ~TMMPeakDetect() override;

  std::span<const LinkProperty> LinkProperties() const override { return kPublishInputOutput; }

  TMMPeakEvent OnPeakReady;

  bool Enabled() const { return enabled_.load(std::memory_order_relaxed); }
  void SetEnabled(bool value);
  int32_t FFTLength() const { return fftLength_.load(std::memory_order_relaxed); }
  // Clamped to 8 .. 32768 and rounded down to a power of two.
  void SetFFTLength(int32_t value);
  TMMFFTWindow Window() const { return window_; }
  void SetWindow(TMMFFTWindow value);
  TMMChannel Channel() const { return channel_; }
  void SetChannel(TMMChannel value);
  bool DetectPeaks() const { return detectPeaks_.load(std::memory_order_relaxed); }
  void SetDetectPeaks(bool value);

  // Sample rate / FFTLength; 0 without a format.
  float BinWidth() const;
  // Trunc(frequency / BinWidth) capped at FFTLength div 2, the index that
  // BinValue answers with 0. Without a format, and for frequencies at or
  // below -BinWidth or not a number, the answer is that same capped index.
  int32_t FrequencyToIndex(float frequency) const;
  // The bin's largest magnitude over the last analysed buffer; 0 outside
  // 0 .. FFTLength div 2 - 1.
  int32_t BinValue(int32_t index) const;
  void ResetBins();

  // Largest sample per channel of the last buffer: |s| for 16-bit data, the
  // raw byte for 8-bit data.
  int32_t LeftPeak() const { return leftPeak_.load(std::memory_order_relaxed); }
  int32_t RightPeak() const { return rightPeak_.load(std::memory_order_relaxed); }
  uint8_t SilenceByte() const { return silenceByte_.load(std::memory_order_relaxed); }

  void SetPWaveFormat(const WAVEFORMATEX* value) override;
  void Open() override;
  void Close() override;
  void Start() override;
  void Stop() override;
  void BufferReady(PWaveHdr buffer) override;
  void BufferLoad(PWaveHdr buffer, bool& moreBuffers) override;

 private:
  // The detector's own test: the PCM check plus a frame size that matches
  // the channels and sample width, which the frame arithmetic relies on.
  static bool FormatUsable(const WAVEFORMATEX* f);
  void RebuildWindow();
  void AnalyseBuffer(PWaveHdr buffer);
  void Analyse(const char* data, int32_t bytes);
  void FormSamples(const uint8_t* frame, size_t bytes);
  void FormRun(const uint8_t* src, int32_t count, int32_t at);
  void PublishFrame(bool first);
  void ClearBins();

  // Stream layout taken from the format, read by the analysis.
  struct Layout {
    bool valid = false;
    int channels = 0;
    int bits = 0;
    int blockAlign = 0;
  };

  // Serialises the analysis against property and format changes, so that
  // a main-thread change never pulls tables from under a running frame.
  std::mutex analysisLock_;
  Layout layout_;
  std::atomic<uint32_t> sampleRate_{0};
  std::atomic<bool> enabled_{true};
  std::atomic<int32_t> fftLength_{128};
  TMMFFTWindow window_ = fwHamming;
  TMMChannel channel_ = chBoth;
  std::atomic<bool> detectPeaks_{true};
  std::atomic<uint8_t> silenceByte_{0};
  // The detector's own lifecycle flags, apart from the chain's.
  std::atomic<bool> detectOpened_{false};
  std::atomic<bool> detectStarted_{false};

  PFFTSetup setup_;
  std::vector<int32_t> windowTable_;
  std::vector<float> work_;
  std::vector<int32_t> magnitudes_;
  std::unique_ptr<std::atomic<int32_t>[]> bins_;
  std::atomic<int32_t> leftPeak_{0};
  std::atomic<int32_t> rightPeak_{0};
};

}  // namespace tv
