// The computing half of the spectrum display: turns fed PCM frames into
// per-bin levels (with decay or averaging), maps display columns to bins,
// derives column heights, peak markers and the peak frequency, and reads and
// writes the levels as a text file. No drawing happens here; the widget that
// owns it (TMMSpectrum) paints from the bar list and is told to repaint
// through OnRedraw.
//
// Threads: everything belongs to the main thread except the peak markers,
// which the shared 25 ms timer (TimerList) counts down on its own thread.
// The marker state sits behind one short lock; the timer touches nothing
// else.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "MMErrors.h"
#include "MMFFT.h"
#include "MMTimerList.h"
#include "MMTypes.h"
#include "TMMDisplay.h"

namespace tv {

TV_DECLARE_ERROR(EMMSpectrumError);

// Frequency weighting: ordinal div 2 is the difference order (0, 1, 2),
// ordinal mod 2 adds a 3 dB per octave tilt.
enum TMMSpectrumGain { sgNone = 0, sg3db, sg6db, sg9db, sg12db };

// One drawn bar: columns first .. end - 1 of the plot, height in pixels.
// The list ends with an entry whose first column is -1.
struct TSpectrumBar {
  int32_t first = -1;
  int32_t end = 0;
  int32_t height = 0;
};

// The highest bar of the last drawing.
struct TSpectrumPeakRecord {
  float frequency = 0.0f;
  int32_t height = 0;
  int32_t bin = 0;
  int32_t column = 0;
};

class TMMSpectrumCalc : public TMMDisplay {
 public:
  static constexpr int32_t kMaxFFTLength = 4096;
  static constexpr int32_t kMinFFTLength = 8;
  static constexpr int32_t kMaxBins = kMaxFFTLength / 2;
  static constexpr int32_t kHistorySlots = 32;
  // Levels per dB of the log scale: 8192 units per doubling of power.
  static constexpr double kUnitsPerDb = 8192.0 / (10.0 * 0.30102999566398120);

  using TNotifyEvent = std::function<void(TMMSpectrumCalc* sender)>;
  // Fills the first-bin (pX1) and end-bin (pX2) entries of every column.
  using TMMSpectrumGetXScale =
      std::function<void(TMMSpectrumCalc* sender, std::span<int32_t> pX1, std::span<int32_t> pX2)>;

  TMMSpectrumCalc();
  ~TMMSpectrumCalc() override;
  TMMSpectrumCalc(const TMMSpectrumCalc&) = delete;
  TMMSpectrumCalc& operator=(const TMMSpectrumCalc&) = delete;

  // Fired when the display data is cleared (and the display is enabled).
  TNotifyEvent OnNeedData;
  // Replaces the built-in column-to-bin mapping when set.
  TMMSpectrumGetXScale OnGetXScale;
  // A bar reached the top of the plot (once per such bar and drawing).
  TNotifyEvent OnGainOverflow;
  // A raw sample reached the top of the sample range (once per sample).
  TNotifyEvent OnPcmOverflow;
  // Something visible changed; the owner repaints.
  TNotifyEvent OnRedraw;

  // ---- TMMDisplay
  // Raises EMMSpectrumError "Invalid WaveFormat" for a format that fails the
  // PCM check. Null leaves the settings as they are.
  void AssignFormat(const WAVEFORMATEX* format) override;
  int32_t FrameBytes() const override;
  // Analyses exactly FrameBytes() bytes.
  void FeedPCM(const void* data) override;
  // The same, for callers that know how much they hold: fewer bytes than
  // FrameBytes() are ignored rather than read past.
  void FeedPCM(const void* data, size_t bytes);
  void ResetDisplay() override;
  int32_t FFTLength() const override { return fftLength_; }

  // ---- Analysis properties (setters return at once when nothing changes)
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool value);
  TMMMode Mode() const { return static_cast<TMMMode>(mode_); }
  // Channels per frame less one; a four-channel stream sets 3 and is read
  // through its first two channels.
  void SetMode(TMMMode value);
  TMMBits BitLength() const { return bits_; }
  void SetBitLength(TMMBits value);
  TMMChannel Channel() const { return channel_; }
  void SetChannel(TMMChannel value);
  int32_t SampleRate() const { return sampleRate_; }
  void SetSampleRate(int32_t value);  // clamped to 8000 .. 100000
  void SetFFTLength(int32_t value);   // clamped to 8 .. 4096, power of two
  TMMFFTWindow Window() const { return window_; }
  void SetWindow(TMMFFTWindow value);
  bool LogFreq() const { return logFreq_; }
  void SetLogFreq(bool value);
  bool LogAmp() const { return logAmp_; }
  void SetLogAmp(bool value);
  TMMSpectrumGain Gain() const { return gain_; }
  void SetGain(TMMSpectrumGain value);
  int32_t RefFreq() const { return refFreq_; }
  void SetRefFreq(int32_t value);  // clamped to 1 .. 44100
  TMMDecayMode DecayMode() const { return decayMode_; }
  void SetDecayMode(TMMDecayMode value);
  int32_t Decay() const { return decay_; }
  void SetDecay(int32_t value);  // clamped to 1 .. 16
  int32_t VerticalScale() const { return verticalScale_; }
  void SetVerticalScale(int32_t value);  // clamped to 1 .. 500
  int32_t FrequencyScale() const { return frequencyScale_; }
  void SetFrequencyScale(int32_t value);  // clamped to 1 .. 16, power of two
  int32_t NumPeaks() const { return numPeaks_.load(std::memory_order_relaxed); }
  void SetNumPeaks(int32_t value);  // 0 .. 5, others ignored
  int32_t PeakDelay() const { return peakDelay_.load(std::memory_order_relaxed); }
  void SetPeakDelay(int32_t value);  // 0 .. 50, others ignored
  int32_t PeakSpeed() const { return peakSpeed_.load(std::memory_order_relaxed); }
  void SetPeakSpeed(int32_t value);  // 0 .. 50, others ignored
  bool DisplayPeak() const { return displayPeak_; }
  void SetDisplayPeak(bool value);
  // When set, peak markers fall step by step after their hold time.
  bool DropPeaks() const { return dropPeaks_.load(std::memory_order_relaxed); }
  void SetDropPeaks(bool value) { dropPeaks_.store(value, std::memory_order_relaxed); }

  // Batch changes (applying a window's design values): scales, mapping and
  // clearing wait for EndLoad, which does them once.
  void BeginLoad() { loading_ = true; }
  void EndLoad();
  bool Loading() const { return loading_; }

  // ---- Levels
  // The level per bin; the first FFTLength() / 2 entries are in use.
  std::span<int32_t> BinLevels() { return binLevels_; }
  std::span<const int32_t> BinLevels() const { return binLevels_; }
  // The last frame's transform output divided by FFTLength / 2: pairs re, im.
  std::span<const int16_t> FFTOutput() const { return fftOut_; }
  float DecayFactor() const { return decayFactor_; }
  int32_t AverageLength() const { return averageLength_; }

  // Writes the first FFTLength() / 2 levels, one decimal integer per line,
  // lines ended by CR LF. The file is replaced only once it is complete.
  // Raises EMMSpectrumError when it cannot be written.
  void SaveLevels(const std::string& fileName) const;
  // Reads one integer per line into BinLevels()[0], [1], ... Raises
  // EMMSpectrumError, and leaves the levels as they were, for a file that
  // cannot be read, a line that is not an integer or more than 2048 lines.
  // Nothing is redrawn.
  void LoadLevels(const std::string& fileName);

  // ---- Geometry, set by the owner from its plot rectangle (at least 4 x 4)
  void SetPlotSize(int32_t width, int32_t height);
  int32_t PlotWidth() const { return plotW_; }
  int32_t PlotHeight() const { return plotH_; }
  // The bar layout of the drawing changed: markers and the bar list start
  // afresh; the levels stay.
  void ClearLayout();

  // The owner's visibility and mouse readout: either pauses the analysis.
  void SetVisible(bool value) { visible_ = value; }
  bool Visible() const { return visible_; }
  void SetInfoActive(bool value) { infoActive_.store(value, std::memory_order_relaxed); }
  bool InfoActive() const { return infoActive_.load(std::memory_order_relaxed); }

  // ---- Axes
  float StartFrequency() const { return fLo_; }
  float Zoom() const { return zoom_; }
  // First bin per column, -1 for a column that repeats its left neighbour.
  std::span<const int32_t> FirstBins() const;
  // End bin (exclusive) per column, 0 when the column covers one bin.
  std::span<const int32_t> EndBins() const;
  std::span<const int64_t> ColumnMultipliers() const;
  int32_t Shift() const { return shift_; }
  std::span<const int32_t> LevelOffsets() const { return offsets_; }
  float PixelsPerUnit() const { return pixelsPerUnit_; }

  // ---- Bars and peaks, recomputed for every drawing
  // Algorithm of the column heights; returns the number of bars.
  int32_t ComputeBars();
  std::span<const TSpectrumBar> Bars() const;
  const TSpectrumPeakRecord& PeakRecord() const { return record_; }
  // Takes each bar's current height as its marker when it reaches the
  // marker: in pixels (spots == 0) or in spots of a bar kind.
  void TakePeaks(int32_t spots);
  // The markers as the last TakePeaks left them, one per bar.
  std::span<const int32_t> PeakHeights() const;
  // One tick of the shared timer (called by it; tests call it directly).
  void PeakTick();
  // Registers with the shared timer when the registration is missing.
  void RenewPeakTimer();
  bool PeakTimerRegistered() const { return timerEntry_ != nullptr; }

  // A bar height in spots for a plot of height h with `spots` spots.
  static int32_t SpotsOfHeight(int32_t height, int32_t plotHeight, int32_t spots);

  // The peak-frequency label ("462.2 Hz"), empty when none is shown.
  std::string PeakLabel() const;
  // Frequency shown for a peak in bin k.
  float PeakFrequencyOfBin(int32_t bin) const;

  // ---- Scale and readout values for the drawing
  // Grid intervals: horizontal for a plot height, vertical for a width.
  static int32_t HorizontalIntervals(int32_t height, bool logAmp);
  static int32_t VerticalIntervals(int32_t width);
  // Row of horizontal grid line k of n, column of vertical line k of d.
  int32_t GridRow(int32_t k, int32_t n) const;
  static int32_t GridColumn(int32_t k, int32_t d, int32_t width);
  // Frequency at tick k of d of the frequency scale.
  double FreqScaleValue(int32_t k, int32_t d) const;
  static std::string FreqScaleLabel(double frequency);
  // Label of amplitude grid line k of n; `right` selects the right scale.
  std::string AmpScaleLabel(int32_t k, int32_t n, bool right) const;
  // Mouse readout at plot position x, y.
  double ReadoutFrequency(int32_t x) const;
  std::string ReadoutFrequencyText(int32_t x) const;
  std::string ReadoutLevelText(int32_t y) const;

 private:
  struct PeakState {
    int32_t peak = 0;
    int32_t countdown = 0;
  };

  void Analyse(const uint8_t* data);
  template <typename Sample>
  void FormSamples(const uint8_t* data);
  void ComputeLevels();
  void RebuildWindow();
  void RecalcMapping();
  void RecalcScales();
  void ClearDisplayData();
  void ClearDecayState();
  void ZeroPeaks();
  void ResizeColumns();
  void UpdatePeakTimer();
  void Redraw();
  // After a change of length, rate, axis or zoom: mapping, scales, clear.
  void AxisChanged();

  // Settings
  bool enabled_ = true;
  int mode_ = mMono;
  TMMBits bits_ = b8Bit;
  TMMChannel channel_ = chBoth;
  int32_t sampleRate_ = 11025;
  int32_t fftLength_ = 128;
  TMMFFTWindow window_ = fwHamming;
  bool logFreq_ = false;
  bool logAmp_ = false;
  TMMSpectrumGain gain_ = sgNone;
  int32_t refFreq_ = 1000;
  TMMDecayMode decayMode_ = dmNone;
  int32_t decay_ = 1;
  int32_t verticalScale_ = 100;
  int32_t frequencyScale_ = 1;
  std::atomic<int32_t> numPeaks_{1};
  std::atomic<int32_t> peakDelay_{20};
  std::atomic<int32_t> peakSpeed_{0};
  bool displayPeak_ = false;
  std::atomic<bool> dropPeaks_{false};

  bool loading_ = false;
  bool clearing_ = false;
  bool visible_ = true;
  std::atomic<bool> infoActive_{false};

  // Analysis
  PFFTSetup setup_;
  std::vector<int32_t> windowTable_;
  std::vector<int32_t> raw_;
  std::vector<float> work_;
  std::vector<int16_t> fftOut_;
  std::vector<int32_t> binLevels_;
  std::vector<float> decayState_;
  std::vector<int32_t> sums_;
  std::vector<int32_t> history_;  // kHistorySlots rings of kMaxBins
  int32_t ringPos_ = 0;
  int32_t filled_ = 0;
  int32_t averageLength_ = 1;
  float decayFactor_ = 0.0001f;
  std::vector<int32_t> offsets_;

  // Scales and axis
  int32_t plotW_ = 4;
  int32_t plotH_ = 4;
  int32_t shift_ = 0;
  float pixelsPerUnit_ = 0.0f;
  float zoom_ = 1.0f;
  float fLo_ = 1.0f;
  std::vector<int32_t> firstBin_;
  std::vector<int32_t> endBin_;
  std::vector<int64_t> multiplier_;
  std::vector<TSpectrumBar> bars_;
  int32_t barCount_ = 0;
  TSpectrumPeakRecord record_;

  // Peak markers: shared with the timer thread under peakLock_.
  mutable std::mutex peakLock_;
  std::vector<PeakState> peaks_;
  int32_t peakCount_ = 0;
  std::vector<int32_t> peakSnapshot_;
  TimerList::Entry* timerEntry_ = nullptr;
  bool timerSuspended_ = false;
};

}  // namespace tv
