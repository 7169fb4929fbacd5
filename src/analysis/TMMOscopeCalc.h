// What an oscilloscope computes: from each fed frame one 16-bit point per
// plot column (or, scrolling, one min/max column per frame), the pixel row of
// every point, and the overflow reports. The widget TMMOscope owns one and
// draws the trace, grid and scales from it.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "MMErrors.h"
#include "MMTypes.h"
#include "TMMDisplay.h"

namespace tv {

TV_DECLARE_ERROR(EMMOscopeError);

enum TMMOscopeKind { okDots = 0, okConLines, okVertLines, okMirLines, okSpikes };
enum TMMOscopeEffect { efNone = 0, efPeak, efSplit };

// Main thread only, like every display.
class TMMOscopeCalc : public TMMDisplay {
 public:
  static constexpr int32_t kMinPlot = 4;
  static constexpr int32_t kAmpScaleWidth = 32;    // each side
  static constexpr int32_t kTimeScaleHeight = 40;  // at the bottom
  static constexpr int32_t kDefaultWidth = 194;
  static constexpr int32_t kDefaultHeight = 90;
  // The amplitude scale reads a full-scale sample as this many volts.
  static constexpr double kFullScaleVolts = 1.0;

  using Notify = std::function<void(TMMOscopeCalc* sender)>;

  TMMOscopeCalc();
  ~TMMOscopeCalc() override;
  TMMOscopeCalc(const TMMOscopeCalc&) = delete;
  TMMOscopeCalc& operator=(const TMMOscopeCalc&) = delete;

  Notify OnGainOverflow;  // per point whose height passes the plot
  Notify OnPcmOverflow;   // per point above 32766
  Notify OnArrayFull;     // the scrolling picture became full and starts to move
  Notify OnArrayNew;      // the point buffer was made anew (plot width changed)
  Notify OnUpdate;        // after every frame taken
  Notify OnChange;        // the picture needs drawing

  // TMMDisplay
  void AssignFormat(const WAVEFORMATEX* format) override;
  int32_t FrameBytes() const override;
  void FeedPCM(const void* data) override { FeedPCM(data, FrameBytes()); }
  void ResetDisplay() override;
  bool Scrolling() const override { return scroll_; }
  bool Accelerated() const override { return accelerate_; }
  int32_t FFTLength() const override { return fftLength_; }
  // Takes the whole sample frames among `bytes`; points past them repeat the
  // last frame.
  void FeedPCM(const void* data, int32_t bytes);

  bool Enabled() const { return enabled_; }
  void SetEnabled(bool value);
  bool Visible() const { return visible_; }
  void SetVisible(bool value) { visible_ = value; }

  TMMOscopeKind Kind() const { return kind_; }
  void SetKind(TMMOscopeKind value);
  TMMOscopeEffect Effect() const { return effect_; }
  void SetEffect(TMMOscopeEffect value);
  TMMBits BitLength() const { return bitLength_; }
  void SetBitLength(TMMBits value);
  TMMMode Mode() const { return mode_; }
  void SetMode(TMMMode value);
  TMMChannel Channel() const { return channel_; }
  void SetChannel(TMMChannel value);
  int32_t SampleRate() const { return sampleRate_; }
  void SetSampleRate(int32_t value);  // clamped to 8000..88200
  int32_t Gain() const { return gain_; }
  void SetGain(int32_t value);  // -8..32, others ignored
  int32_t Steps() const { return steps_; }
  void SetSteps(int32_t value);  // at least 1
  int32_t Zoom() const { return zoom_; }
  void SetZoom(int32_t value);  // -9..9, 0 refused
  bool Scroll() const { return scroll_; }
  void SetScroll(bool value);
  bool Accelerate() const { return accelerate_; }
  void SetAccelerate(bool value);
  void SetFFTLength(int32_t value);  // 1..4096, rounded down to a power of two
  bool LowPass() const { return lowPass_; }
  void SetLowPass(bool value);
  int32_t BarWidth() const { return barWidth_; }
  void SetBarWidth(int32_t value);  // at least 1
  bool DrawMidLine() const { return drawMidLine_; }
  void SetDrawMidLine(bool value);
  bool DrawGrid() const { return drawGrid_; }
  void SetDrawGrid(bool value);
  bool DrawAmpScale() const { return drawAmpScale_; }
  void SetDrawAmpScale(bool value);
  bool DrawTimeScale() const { return drawTimeScale_; }
  void SetDrawTimeScale(bool value);

  // Geometry: the widget's client size and bevel decide the plot.
  void SetClientSize(int32_t width, int32_t height);
  int32_t Bevel() const { return bevel_; }
  void SetBevel(int32_t value);  // 0..20
  int32_t ClientWidth() const { return clientWidth_; }
  int32_t ClientHeight() const { return clientHeight_; }
  int32_t PlotLeft() const { return plotLeft_; }
  int32_t PlotTop() const { return plotTop_; }
  int32_t PlotWidth() const { return plotWidth_; }    // P, at least 4
  int32_t PlotHeight() const { return plotHeight_; }  // H, at least 4

  int32_t ChannelCount() const;
  // Normal mode: one point and its pixel row per plot column.
  std::span<const int16_t> Points() const { return points_; }
  std::span<const int32_t> Rows() const { return rows_; }
  // Height above the bottom row of a point value, and its pixel row H - h - 1.
  int32_t HeightOf(int32_t value) const;
  int32_t RowOf(int32_t value) const { return plotHeight_ - HeightOf(value) - 1; }
  // Whether a segment of that height takes the effect colour.
  bool InEffectBand(int32_t h) const;

  // Scrolling: the columns on screen, oldest first, as rows. A column is
  // drawn from the previous column's second row to `first` and on to `second`.
  struct ScrollColumn {
    int32_t from;
    int32_t first;
    int32_t second;
  };
  int32_t ScrollCount() const { return scrollCount_; }
  ScrollColumn ScrollColumnAt(int32_t index) const;
  // Columns ever added since the last restart: lets a cached picture move by
  // exactly the columns that arrived.
  int64_t ScrollAdded() const { return scrollAdded_; }
  // True once after another scrolling oscilloscope restarted its picture.
  bool TakeFullRedraw();

  // Plot coordinates to measurements.
  double ColumnMilliseconds(double column) const;
  double RowVolts(double row) const;

  // Selection and locator, in plot columns (-1 = none).
  int32_t SelectionStart() const { return selStart_; }
  int32_t SelectionEnd() const { return selEnd_; }
  void SetSelection(int32_t start, int32_t end);
  int32_t Locator() const { return locator_; }
  void SetLocator(int32_t column);
  // A mouse selection is under way: frames are ignored meanwhile.
  bool Selecting() const { return selecting_; }
  void SetSelecting(bool value) { selecting_ = value; }

  // Every oscilloscope of the process, in creation order.
  static const std::vector<TMMOscopeCalc*>& Oscilloscopes();

 private:
  void Layout();
  void MapRows(bool report);
  int32_t Sample(const uint8_t* frame) const;
  void FeedScroll(const uint8_t* data, int32_t frames);
  void AddColumn(int16_t first, int16_t second);
  void ClearScroll();
  void Report(int32_t value, int32_t h);
  void Changed() {
    if (OnChange) OnChange(this);
  }

  bool enabled_ = true;
  bool visible_ = true;
  TMMOscopeKind kind_ = okDots;
  TMMOscopeEffect effect_ = efNone;
  TMMBits bitLength_ = b8Bit;
  TMMMode mode_ = mMono;
  TMMChannel channel_ = chBoth;
  int32_t sampleRate_ = 11025;
  int32_t gain_ = 0;
  int32_t steps_ = 1;
  int32_t zoom_ = 1;
  bool scroll_ = false;
  bool accelerate_ = true;
  int32_t fftLength_ = 128;
  bool lowPass_ = false;
  int32_t barWidth_ = 5;
  bool drawMidLine_ = false;
  bool drawGrid_ = false;
  bool drawAmpScale_ = false;
  bool drawTimeScale_ = false;

  int32_t clientWidth_ = kDefaultWidth;
  int32_t clientHeight_ = kDefaultHeight;
  int32_t bevel_ = 0;
  int32_t plotLeft_ = 0;
  int32_t plotTop_ = 0;
  int32_t plotWidth_ = 0;
  int32_t plotHeight_ = 0;

  std::vector<int16_t> points_;
  std::vector<int32_t> rows_;
  // Scrolling columns as values, a ring of plot-width entries.
  std::vector<int16_t> scrollFirst_;
  std::vector<int16_t> scrollSecond_;
  int32_t scrollHead_ = 0;
  int32_t scrollCount_ = 0;
  int64_t scrollAdded_ = 0;
  bool fullRedraw_ = false;

  int32_t selStart_ = -1;
  int32_t selEnd_ = -1;
  int32_t locator_ = -1;
  bool selecting_ = false;
};

}  // namespace tv
