// The LED-style level meter: a bar of spots lit in three colour zones with a
// peak marker, horizontal or vertical. The numbers come from TMMLevelCalc,
// which a connector feeds; this control draws them.
#pragma once

#include <QColor>
#include <QImage>
#include <QWidget>
#include <functional>

#include "TMMLevelCalc.h"

namespace tv {

class TMMLevel;

using TMMLevelNotify = std::function<void(TMMLevel* sender)>;
// Replaces the built-in bar drawing: the bar's rectangle, the lit spots and
// the peak spot (0 = none).
using TMMLevelDrawBar =
    std::function<void(TMMLevel* sender, QPainter& dib, const QRect& rect, int nSpots, int peak)>;
using TMMLevelPaint = std::function<void(TMMLevel* sender, QPainter& canvas)>;

class TMMLevel : public QWidget {
  Q_OBJECT

 public:
  // The main window's meters, by their component names: the left and right
  // meter of the decoder chain and the two small meters of the live input.
  enum class Design { MMLevel1, MMLevel2, MMLevel3, MMLevel4 };

  explicit TMMLevel(QWidget* parent = nullptr);
  // A meter with that instance's name and design settings.
  TMMLevel(Design design, QWidget* parent);
  ~TMMLevel() override;
  void ApplyDesign(Design design);

  // What a connector feeds (Level1 / Level2 links).
  TMMLevelCalc& Calc() { return calc_; }
  const TMMLevelCalc& Calc() const { return calc_; }
  void AssignFormat(const WAVEFORMATEX* format) { calc_.AssignFormat(format); }
  int32_t FrameBytes() const { return calc_.FrameBytes(); }
  void FeedPCM(const void* frame) { calc_.FeedPCM(frame); }
  void ResetDisplay() { calc_.ResetDisplay(); }

  TMMLevelNotify OnGainOverflow;
  TMMLevelNotify OnPcmOverflow;
  TMMLevelNotify OnIntegral;
  TMMLevelDrawBar OnDrawBar;
  TMMLevelPaint OnPaint;  // after the meter is drawn

  bool Enabled() const { return calc_.Enabled(); }
  void SetEnabled(bool value) { calc_.SetEnabled(value); }
  TMMLevelKind Kind() const { return kind_; }
  // Swaps width and height when they do not suit the new direction.
  void SetKind(TMMLevelKind value);
  TMMLevelDirection Direction() const { return calc_.Direction(); }
  void SetDirection(TMMLevelDirection value);
  int32_t SpotSpace() const { return calc_.SpotSpace(); }
  void SetSpotSpace(int32_t value);
  int32_t SpotWidth() const { return calc_.SpotWidth(); }
  void SetSpotWidth(int32_t value);
  int32_t Point1() const { return calc_.Point1(); }
  void SetPoint1(int32_t value);
  int32_t Point2() const { return calc_.Point2(); }
  void SetPoint2(int32_t value);

  QColor Bar1Color() const { return bar_[0]; }
  void SetBar1Color(const QColor& c) { SetColorOf(bar_[0], c); }
  QColor Bar2Color() const { return bar_[1]; }
  void SetBar2Color(const QColor& c) { SetColorOf(bar_[1], c); }
  QColor Bar3Color() const { return bar_[2]; }
  void SetBar3Color(const QColor& c) { SetColorOf(bar_[2], c); }
  QColor Inactive1Color() const { return inactive_[0]; }
  void SetInactive1Color(const QColor& c) { SetColorOf(inactive_[0], c); }
  QColor Inactive2Color() const { return inactive_[1]; }
  void SetInactive2Color(const QColor& c) { SetColorOf(inactive_[1], c); }
  QColor Inactive3Color() const { return inactive_[2]; }
  void SetInactive3Color(const QColor& c) { SetColorOf(inactive_[2], c); }
  bool InactiveDoted() const { return inactiveDoted_; }
  void SetInactiveDoted(bool value);
  bool ActiveDoted() const { return activeDoted_; }
  void SetActiveDoted(bool value);
  QColor Color() const { return color_; }
  void SetColor(const QColor& c) { SetColorOf(color_, c); }
  // Width of the sunken border, 0..10 pixels.
  int Bevel() const { return bevel_; }
  void SetBevel(int value);

  TMMBits BitLength() const { return calc_.BitLength(); }
  void SetBitLength(TMMBits value) { calc_.SetBitLength(value); }
  TMMMode Mode() const { return calc_.Mode(); }
  void SetMode(TMMMode value) { calc_.SetMode(value); }
  TMMChannel Channel() const { return calc_.Channel(); }
  void SetChannel(TMMChannel value) { calc_.SetChannel(value); }
  int32_t Gain() const { return calc_.Gain(); }
  void SetGain(int32_t value) { calc_.SetGain(value); }
  int32_t Samples() const { return calc_.Samples(); }
  void SetSamples(int32_t value) { calc_.SetSamples(value); }
  int32_t Sensitivy() const { return calc_.Sensitivy(); }
  void SetSensitivy(int32_t value) { calc_.SetSensitivy(value); }
  bool LogAmp() const { return calc_.LogAmp(); }
  void SetLogAmp(bool value) { calc_.SetLogAmp(value); }
  int32_t NumPeaks() const { return calc_.NumPeaks(); }
  void SetNumPeaks(int32_t value) { calc_.SetNumPeaks(value); }
  int32_t PeakDelay() const { return calc_.PeakDelay(); }
  void SetPeakDelay(int32_t value) { calc_.SetPeakDelay(value); }
  int32_t PeakSpeed() const { return calc_.PeakSpeed(); }
  void SetPeakSpeed(int32_t value) { calc_.SetPeakSpeed(value); }
  TMMDecayMode DecayMode() const { return calc_.DecayMode(); }
  void SetDecayMode(TMMDecayMode value) { calc_.SetDecayMode(value); }
  int32_t Decay() const { return calc_.Decay(); }
  void SetDecay(int32_t value) { calc_.SetDecay(value); }
  int32_t Value() const { return calc_.Value(); }
  void SetValue(int32_t value) { calc_.SetValue(value); }
  int32_t DCOffsetL() const { return calc_.DCOffsetL(); }
  void SetDCOffsetL(int32_t value) { calc_.SetDCOffsetL(value); }
  int32_t DCOffsetR() const { return calc_.DCOffsetR(); }
  void SetDCOffsetR(int32_t value) { calc_.SetDCOffsetR(value); }
  // Largest magnitude of the last frame (what the peak-hold labels read).
  int32_t PeakValue() const { return calc_.PeakValue(); }

  // The bar inside the bevel, and spot s (1 .. Spots) counted from where
  // the bar fills, in control coordinates.
  QRect BarRect() const;
  QRect SpotRect(int spot) const;

  // Draws the meter scaled into `target` (paintEvent and printing).
  void paint(QPainter& painter, const QRectF& target);
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void Relayout();
  void SyncBarLength();
  void SetColorOf(QColor& slot, const QColor& c);
  void DrawBackground(QPainter& painter);
  void DrawBar(QPainter& painter, int lit, int peak);
  // Zone (0, 1, 2) of a spot, and for a symmetric meter the ring it lies on.
  int ZoneOf(int place) const;
  int RingOf(int spot) const;
  void FillSpot(QPainter& painter, int spot, const QColor& c, bool dotted) const;

  TMMLevelCalc calc_;
  TMMLevelKind kind_ = lkHorizontal;
  QColor bar_[3];
  QColor inactive_[3];
  QColor color_;
  bool inactiveDoted_ = false;
  bool activeDoted_ = false;
  int bevel_ = 0;
  QImage background_;  // unlit spots, rebuilt when the layout or colours change
  bool backgroundValid_ = false;
};

}  // namespace tv
