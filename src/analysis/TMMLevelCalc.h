// What a level meter computes: per fed frame the largest sample magnitude of
// its channel, smoothed by a decay mode, turned into a number of lit spots on
// a dB or linear scale, with a peak marker that holds and falls on the shared
// 25 ms timer. The widget TMMLevel owns one and draws what it says.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>

#include "MMErrors.h"
#include "MMTimerList.h"
#include "MMTypes.h"
#include "TMMDisplay.h"

namespace tv {

TV_DECLARE_ERROR(EMMLevelError);

enum TMMLevelKind { lkHorizontal = 0, lkVertical };
enum TMMLevelDirection { dirNormal = 0, dirReversed, dirSymetric };

// Threads: everything runs on the main thread except the peak countdown,
// which the shared timer runs on its own thread. The two share only the peak
// spot and its countdown, under one short lock.
class TMMLevelCalc : public TMMDisplay {
 public:
  static constexpr int32_t kFullScale = 32767;
  static constexpr int32_t kHistorySize = 59;
  static constexpr int32_t kRingSize = 32;
  // A new meter is 200 pixels long.
  static constexpr int32_t kDefaultBarLength = 200;

  using Notify = std::function<void(TMMLevelCalc* sender)>;

  // `peakMoved` runs on the timer's thread whenever the countdown moved the
  // peak marker; it may only schedule a repaint.
  explicit TMMLevelCalc(std::function<void()> peakMoved = {});
  ~TMMLevelCalc() override;
  TMMLevelCalc(const TMMLevelCalc&) = delete;
  TMMLevelCalc& operator=(const TMMLevelCalc&) = delete;

  // Main-thread events.
  Notify OnGainOverflow;
  Notify OnPcmOverflow;
  Notify OnIntegral;  // once per 58 frames; History() holds their peaks
  Notify OnChange;    // the lit count or the peak changed: draw again

  // TMMDisplay
  void AssignFormat(const WAVEFORMATEX* format) override;
  int32_t FrameBytes() const override;
  void FeedPCM(const void* data) override { FeedPCM(data, FrameBytes()); }
  void ResetDisplay() override;
  // Measures the whole sample frames among `bytes` (at most Samples of them).
  void FeedPCM(const void* data, int32_t bytes);

  bool Enabled() const { return enabled_; }
  void SetEnabled(bool value);
  // The widget reports whether it is on screen; hidden meters skip frames.
  bool Visible() const { return visible_; }
  void SetVisible(bool value);

  TMMLevelDirection Direction() const { return direction_; }
  void SetDirection(TMMLevelDirection value);
  int32_t SpotSpace() const { return spotSpace_; }
  void SetSpotSpace(int32_t value);  // clamped to 0..10
  int32_t SpotWidth() const { return spotWidth_; }
  void SetSpotWidth(int32_t value);  // clamped to 1..a third of the bar
  int32_t Point1() const { return point1_; }
  void SetPoint1(int32_t value);  // clamped to 1..100
  int32_t Point2() const { return point2_; }
  void SetPoint2(int32_t value);

  TMMBits BitLength() const { return bitLength_; }
  void SetBitLength(TMMBits value);
  TMMMode Mode() const { return mode_; }
  void SetMode(TMMMode value);
  TMMChannel Channel() const { return channel_; }
  void SetChannel(TMMChannel value);
  int32_t Gain() const { return gain_; }
  void SetGain(int32_t value);  // -8..32, others ignored
  int32_t Samples() const { return samples_; }
  void SetSamples(int32_t value);  // at least 1
  int32_t Sensitivy() const { return sensitivy_; }
  void SetSensitivy(int32_t value);  // clamped to -90..-9
  bool LogAmp() const { return logAmp_; }
  void SetLogAmp(bool value);
  int32_t NumPeaks() const { return numPeaks_; }
  void SetNumPeaks(int32_t value);  // clamped to 0..5
  int32_t PeakDelay() const { return peakDelay_; }
  void SetPeakDelay(int32_t value);  // clamped to 0..50
  int32_t PeakSpeed() const { return peakSpeed_.load(std::memory_order_relaxed); }
  void SetPeakSpeed(int32_t value);  // clamped to 0..50
  TMMDecayMode DecayMode() const { return decayMode_; }
  void SetDecayMode(TMMDecayMode value);
  int32_t Decay() const { return decay_; }
  void SetDecay(int32_t value);  // clamped to 1..16
  int32_t Value() const { return value_; }
  // Shows that percent (0..100) of full scale at once.
  void SetValue(int32_t value);
  int32_t DCOffsetL() const { return dcOffsetL_; }
  void SetDCOffsetL(int32_t value) { dcOffsetL_ = value; }
  int32_t DCOffsetR() const { return dcOffsetR_; }
  void SetDCOffsetR(int32_t value) { dcOffsetR_ = value; }

  // Layout along the bar, in pixels; the widget sets the length.
  int32_t BarLength() const { return barLength_; }
  void SetBarLength(int32_t pixels);
  int32_t Spots() const { return spots_; }
  int32_t Margin() const { return margin_; }
  int32_t Zone1() const { return zone1_; }  // last spot of the first colour
  int32_t Zone2() const { return zone2_; }  // last spot of the second colour

  // What to draw.
  int32_t Lit() const { return lit_; }
  int32_t PeakSpot() const;
  // Largest magnitude of the last frame, before decay and gain.
  int32_t PeakValue() const { return rawPeak_; }
  // That magnitude after the decay mode: what the spots show, before gain.
  int32_t Level() const { return level_; }
  float DecayFactor() const { return factor_; }
  int32_t AverageLength() const { return avgLength_; }
  const std::array<int32_t, kHistorySize>& History() const { return history_; }
  int32_t HistoryPosition() const { return historyPos_; }
  // Channels per sample frame implied by Mode (a multi-channel stream has 4).
  int32_t ChannelCount() const;

 private:
  static void TimerCallback(TimerList::Entry* entry, void* owner);
  void PeakTick();
  void Layout();
  void ClearDecay();
  int32_t RawPeak(const uint8_t* data, int32_t frames) const;
  int32_t Smooth(int32_t raw);
  // Spots lit by the amplitude g on the scale, before the symmetric halving
  // and the overflow clamp.
  int32_t LitFor(int64_t g) const;
  // Lights `lit` spots (after any gain overflow clamp), moves the peak and
  // tells the widget when the picture changed.
  void Show(int32_t lit);
  void Changed();

  const std::function<void()> peakMoved_;
  TimerList::Entry* timer_ = nullptr;

  bool enabled_ = true;
  bool visible_ = true;
  TMMLevelDirection direction_ = dirNormal;
  int32_t spotSpace_ = 1;
  int32_t spotWidth_ = 1;
  int32_t point1_ = 50;
  int32_t point2_ = 85;
  TMMBits bitLength_ = b8Bit;
  TMMMode mode_ = mMono;
  TMMChannel channel_ = chBoth;
  int32_t gain_ = 0;
  int32_t samples_ = 50;
  int32_t sensitivy_ = -35;
  bool logAmp_ = true;
  int32_t numPeaks_ = 1;
  int32_t peakDelay_ = 20;
  std::atomic<int32_t> peakSpeed_{0};
  TMMDecayMode decayMode_ = dmNone;
  int32_t decay_ = 1;
  int32_t value_ = 0;
  int32_t dcOffsetL_ = 0;
  int32_t dcOffsetR_ = 0;

  int32_t barLength_ = kDefaultBarLength;
  int32_t spots_ = 1;
  int32_t margin_ = 0;
  int32_t zone1_ = 0;
  int32_t zone2_ = 0;

  int32_t lit_ = 0;
  int32_t rawPeak_ = 0;
  int32_t level_ = 0;
  // The peak marker: shared with the timer thread.
  mutable std::mutex peakLock_;
  int32_t peak_ = 0;
  int32_t countdown_ = 0;
  // What OnChange last reported, to skip frames that change nothing.
  int32_t shownLit_ = 0;
  int32_t shownPeak_ = 0;

  float state_ = 0.0f;
  float factor_ = 0.0001f;
  int32_t avgLength_ = 1;
  std::array<int32_t, kRingSize> ring_{};
  int32_t ringPos_ = 0;
  int32_t filled_ = 0;
  int32_t sum_ = 0;
  std::array<int32_t, kHistorySize> history_{};
  int32_t historyPos_ = 0;
};

}  // namespace tv
