// The oscilloscope: the waveform of the frames a connector hands over, as a
// trace of one point per pixel column or as a scrolling min/max picture,
// with mid line, grid, amplitude and time scales, a mouse readout and a
// selection. The numbers come from TMMOscopeCalc; this control draws them.
#pragma once

#include <QColor>
#include <QImage>
#include <QWidget>
#include <functional>
#include <span>

#include "TMMOscopeCalc.h"

namespace tv {

class TMMOscope;

using TMMOscopeNotify = std::function<void(TMMOscope* sender)>;
// Replaces the built-in trace: the plot rectangle and one point per column.
using TMMOscopeDrawLine = std::function<void(TMMOscope* sender, QPainter& dib, const QRect& rect,
                                             std::span<const int16_t> data)>;
using TMMOscopePaint = std::function<void(TMMOscope* sender, QPainter& canvas)>;
// A selection in plot columns.
using TMMOscopeSelect = std::function<void(TMMOscope* sender, int min, int max)>;

class TMMOscope : public QWidget {
  Q_OBJECT

 public:
  explicit TMMOscope(QWidget* parent = nullptr);
  ~TMMOscope() override;
  // MMOscope1 of the generator panel: 16-bit stereo at 44100 Hz, connected
  // lines, mid line and grid, FFTLength 256, and a 256-column plot.
  void ApplyGeneratorDesign();

  // What a connector feeds (Oscope1 / Oscope2 links).
  TMMOscopeCalc& Calc() { return calc_; }
  const TMMOscopeCalc& Calc() const { return calc_; }
  void AssignFormat(const WAVEFORMATEX* format) { calc_.AssignFormat(format); }
  int32_t FrameBytes() const { return calc_.FrameBytes(); }
  void FeedPCM(const void* frame) { calc_.FeedPCM(frame); }
  void ResetDisplay();

  TMMOscopeNotify OnGainOverflow;
  TMMOscopeNotify OnPcmOverflow;
  TMMOscopeNotify OnArrayFull;
  TMMOscopeNotify OnArrayNew;
  TMMOscopeNotify OnUpdate;
  TMMOscopeDrawLine OnDrawLine;
  TMMOscopePaint OnPostPaint;  // after the picture is drawn, to add to it
  TMMOscopeSelect OnSelecting;
  TMMOscopeSelect OnSelectEnd;

  bool Enabled() const { return calc_.Enabled(); }
  void SetEnabled(bool value) { calc_.SetEnabled(value); }
  TMMOscopeKind Kind() const { return calc_.Kind(); }
  void SetKind(TMMOscopeKind value) { calc_.SetKind(value); }
  TMMOscopeEffect Effect() const { return calc_.Effect(); }
  void SetEffect(TMMOscopeEffect value) { calc_.SetEffect(value); }
  TMMBits BitLength() const { return calc_.BitLength(); }
  void SetBitLength(TMMBits value) { calc_.SetBitLength(value); }
  TMMMode Mode() const { return calc_.Mode(); }
  void SetMode(TMMMode value) { calc_.SetMode(value); }
  TMMChannel Channel() const { return calc_.Channel(); }
  void SetChannel(TMMChannel value) { calc_.SetChannel(value); }
  int32_t SampleRate() const { return calc_.SampleRate(); }
  void SetSampleRate(int32_t value) { calc_.SetSampleRate(value); }
  int32_t Gain() const { return calc_.Gain(); }
  void SetGain(int32_t value) { calc_.SetGain(value); }
  int32_t Steps() const { return calc_.Steps(); }
  void SetSteps(int32_t value) { calc_.SetSteps(value); }
  int32_t Zoom() const { return calc_.Zoom(); }
  void SetZoom(int32_t value) { calc_.SetZoom(value); }
  bool Scroll() const { return calc_.Scroll(); }
  void SetScroll(bool value) { calc_.SetScroll(value); }
  bool Accelerate() const { return calc_.Accelerate(); }
  void SetAccelerate(bool value) { calc_.SetAccelerate(value); }
  int32_t FFTLength() const { return calc_.FFTLength(); }
  void SetFFTLength(int32_t value) { calc_.SetFFTLength(value); }
  bool LowPass() const { return calc_.LowPass(); }
  void SetLowPass(bool value) { calc_.SetLowPass(value); }
  int32_t BarWidth() const { return calc_.BarWidth(); }
  void SetBarWidth(int32_t value) { calc_.SetBarWidth(value); }
  bool DrawMidLine() const { return calc_.DrawMidLine(); }
  void SetDrawMidLine(bool value) { calc_.SetDrawMidLine(value); }
  bool DrawGrid() const { return calc_.DrawGrid(); }
  void SetDrawGrid(bool value) { calc_.SetDrawGrid(value); }
  bool DrawAmpScale() const { return calc_.DrawAmpScale(); }
  void SetDrawAmpScale(bool value) { calc_.SetDrawAmpScale(value); }
  bool DrawTimeScale() const { return calc_.DrawTimeScale(); }
  void SetDrawTimeScale(bool value) { calc_.SetDrawTimeScale(value); }
  int Bevel() const { return calc_.Bevel(); }
  void SetBevel(int value) { calc_.SetBevel(value); }

  QColor Color() const { return color_; }
  void SetColor(const QColor& c) { SetColorOf(color_, c); }
  QColor ForegroundColor() const { return foreground_; }
  void SetForegroundColor(const QColor& c) { SetColorOf(foreground_, c); }
  QColor InactiveColor() const { return inactive_; }
  void SetInactiveColor(const QColor& c) { SetColorOf(inactive_, c); }
  QColor EffectColor() const { return effect_; }
  void SetEffectColor(const QColor& c) { SetColorOf(effect_, c); }
  QColor DisabledColor() const { return disabled_; }
  void SetDisabledColor(const QColor& c) { SetColorOf(disabled_, c); }
  QColor ScaleTextColor() const { return scaleText_; }
  void SetScaleTextColor(const QColor& c) { SetColorOf(scaleText_, c); }
  QColor ScaleLineColor() const { return scaleLine_; }
  void SetScaleLineColor(const QColor& c) { SetColorOf(scaleLine_, c); }
  QColor GridColor() const { return grid_; }
  void SetGridColor(const QColor& c) { SetColorOf(grid_, c); }
  QColor BarColor() const { return bar_; }
  void SetBarColor(const QColor& c) { SetColorOf(bar_, c); }
  QColor BarTickColor() const { return barTick_; }
  void SetBarTickColor(const QColor& c) { SetColorOf(barTick_, c); }
  QColor SelectionColor() const { return selection_; }
  void SetSelectionColor(const QColor& c) { SetColorOf(selection_, c); }
  QColor SelectionDotColor() const { return selectionDot_; }
  void SetSelectionDotColor(const QColor& c) { SetColorOf(selectionDot_, c); }
  QColor LocatorColor() const { return locator_; }
  void SetLocatorColor(const QColor& c) { SetColorOf(locator_, c); }
  // Drawn over the plot instead of the plain colour; a null image for none.
  QImage BackgroundBitmap() const { return backgroundBitmap_; }
  void SetBackgroundBitmap(const QImage& image);

  // Holding the left button shows the time and voltage under the mouse.
  bool ShowInfo() const { return showInfo_; }
  void SetShowInfo(bool value) { showInfo_ = value; }
  // The selection cannot be changed with the mouse.
  bool Locked() const { return locked_; }
  void SetLocked(bool value) { locked_ = value; }
  // Only the selected columns are in use: the rest of the trace is drawn in
  // the inactive colour.
  bool UseSelection() const { return useSelection_; }
  void SetUseSelection(bool value);
  // The readout shown while the button is held; empty otherwise.
  QString InfoText() const { return infoText_; }

  QRect PlotRect() const;
  // Grid spacing: milliseconds and volts per division.
  double TimeDivision() const;
  double VoltDivision() const;

  void paint(QPainter& painter, const QRectF& target);
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  void SetColorOf(QColor& slot, const QColor& c);
  int ColumnAt(int x) const;
  void ShowReadout(const QPoint& at);
  void DrawFrame(QPainter& p, const QRect& plot) const;
  void PreparePlotBackground(const QRect& plot);
  void DrawGridLines(QPainter& p, const QRect& plot) const;
  void RasterTrace(QImage& target);
  void DrawScroll(QPainter& p, const QRect& plot);
  void DrawScrollColumns(QPainter& p, int first, int last, const QPoint& origin) const;
  void DrawMarks(QPainter& p, const QRect& plot) const;
  void DrawScales(QPainter& p, const QRect& plot) const;
  void DrawBevel(QPainter& p) const;
  QColor SegmentColor(int row, const QColor& base) const;

  TMMOscopeCalc calc_;
  QColor color_{Qt::black};
  QColor foreground_{0, 255, 255};
  QColor inactive_{0, 128, 128};
  QColor effect_{255, 0, 0};
  QColor disabled_{128, 128, 128};
  QColor scaleText_{Qt::black};
  QColor scaleLine_{Qt::black};
  QColor grid_{128, 128, 128};
  QColor bar_{128, 128, 128};
  QColor barTick_{Qt::white};
  QColor selection_{255, 0, 0};
  QColor selectionDot_{255, 0, 0};
  QColor locator_{255, 255, 0};
  QImage backgroundBitmap_;
  bool showInfo_ = true;
  bool locked_ = false;
  bool useSelection_ = false;

  // Mouse state: the column where the button went down, -1 when up.
  int pressColumn_ = -1;
  bool dragged_ = false;
  QString infoText_;

  QSize hint_{TMMOscopeCalc::kDefaultWidth, TMMOscopeCalc::kDefaultHeight};
  // What the plot's background depends on; it is drawn again when this
  // changes, and each frame starts from a copy of it.
  struct BackgroundKey {
    QSize size;
    QRgb color = 0;
    QRgb grid = 0;
    QRgb mid = 0;
    QRgb selection = 0;
    qint64 bitmap = 0;
    bool drawMid = false;
    bool drawGrid = false;
    int zeroRow = 0;
    double msPerColumn = 0;
    double voltsPerRow = 0;
    int selLo = -1;
    int selHi = -1;
    bool operator==(const BackgroundKey&) const = default;
  };
  BackgroundKey KeyOfBackground(const QRect& plot) const;
  BackgroundKey backgroundKey_;
  QImage plotBackground_;
  QImage picture_;  // background and trace of this frame, composed off-screen
  // The scrolling trace, kept between frames and moved by the columns that
  // arrived (Accelerate); transparent where nothing is drawn.
  QImage scrollImage_;
  int64_t scrollDrawn_ = -1;
};

}  // namespace tv
