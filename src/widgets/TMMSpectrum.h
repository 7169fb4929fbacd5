// The spectrum display control: owns the computing half (TMMSpectrumCalc,
// the display a connector feeds) and draws its bars as one of six kinds,
// with grid, frequency and amplitude scales, the peak-frequency label and a
// mouse readout. Each frame is composed off-screen in a QImage of the plot's
// size and copied in one step; paint() draws the same picture as vector
// graphics for printing.
#pragma once

#include <QColor>
#include <QImage>
#include <QPoint>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <vector>

#include "TMMSpectrumCalc.h"

namespace tv {

enum TMMSpectrumKind { skDots = 0, skLines, skVLines, skBars, skPeaks, skScroll };
enum TMMBevel { bvNone = 0, bvLowered, bvRaised };

// Design values a window gives its spectrum when it is created.
enum class TMMSpectrumDesign {
  Component,   // the control's own defaults
  Main,        // the main window's spectrum, MMSpectrum1
  Background,  // the background window's spectrum, SpeckBack
};

class TMMSpectrum : public QWidget {
  Q_OBJECT

 public:
  // Draws one bar of a bar kind instead of the built-in spots: its columns
  // across the full plot height, its height and marker in pixels.
  using TMMSpectrumDrawBar = std::function<void(TMMSpectrum* sender, QPainter& canvas,
                                                const QRect& rect, int32_t nSpots, int32_t peak)>;
  // Clears the plot instead of the built-in fill.
  using TMMSpectrumClear =
      std::function<void(TMMSpectrum* sender, QPainter& canvas, const QRect& rect)>;

  explicit TMMSpectrum(QWidget* parent = nullptr,
                       TMMSpectrumDesign design = TMMSpectrumDesign::Component);
  ~TMMSpectrum() override;

  // Applies a window's design values (object name included).
  void ApplyDesign(TMMSpectrumDesign design);

  // The analysis: its properties, levels and events, and the display that a
  // connector's Spectrum link takes.
  TMMSpectrumCalc& Calc() { return calc_; }
  const TMMSpectrumCalc& Calc() const { return calc_; }
  TMMDisplay& Display() { return calc_; }

  TMMSpectrumDrawBar OnDrawBar;
  TMMSpectrumClear OnClearBackground;

  // ---- Drawing properties
  TMMSpectrumKind Kind() const { return kind_; }
  void SetKind(TMMSpectrumKind value);
  // Switching a scale on or off grows or shrinks the control by the strip,
  // so that the plot keeps its size.
  bool DrawFreqScale() const { return drawFreqScale_; }
  void SetDrawFreqScale(bool value);
  bool DrawAmpScale() const { return drawAmpScale_; }
  void SetDrawAmpScale(bool value);
  bool DrawGrid() const { return drawGrid_; }
  void SetDrawGrid(bool value);
  bool ShowInfo() const { return showInfo_; }
  void SetShowInfo(bool value);
  int32_t Space() const { return space_; }
  void SetSpace(int32_t value);  // clamped to 0 .. 5
  int32_t SpotSpace() const { return spotSpace_; }
  void SetSpotSpace(int32_t value);  // clamped to 0 .. 10
  int32_t SpotHeight() const { return spotHeight_; }
  void SetSpotHeight(int32_t value);  // clamped to 1 .. a third of the plot height
  QColor Bar1Color() const { return bar1Color_; }
  void SetBar1Color(const QColor& value);
  QColor Bar2Color() const { return bar2Color_; }
  void SetBar2Color(const QColor& value);
  QColor Bar3Color() const { return bar3Color_; }
  void SetBar3Color(const QColor& value);
  QColor Inactive1Color() const { return inactive1Color_; }
  void SetInactive1Color(const QColor& value);
  QColor Inactive2Color() const { return inactive2Color_; }
  void SetInactive2Color(const QColor& value);
  QColor Inactive3Color() const { return inactive3Color_; }
  void SetInactive3Color(const QColor& value);
  QColor ScaleTextColor() const { return scaleTextColor_; }
  void SetScaleTextColor(const QColor& value);
  QColor ScaleLineColor() const { return scaleLineColor_; }
  void SetScaleLineColor(const QColor& value);
  QColor GridColor() const { return gridColor_; }
  void SetGridColor(const QColor& value);
  int32_t Point1() const { return point1_; }
  void SetPoint1(int32_t value);  // 1 .. 100, others ignored
  int32_t Point2() const { return point2_; }
  void SetPoint2(int32_t value);  // 1 .. 100, others ignored
  bool DrawInactive() const { return drawInactive_; }
  void SetDrawInactive(bool value);
  bool InactiveDoted() const { return inactiveDoted_; }
  void SetInactiveDoted(bool value);
  bool ActiveDoted() const { return activeDoted_; }
  void SetActiveDoted(bool value);
  const QImage& BackGroundDIB() const { return backGroundDIB_; }
  void SetBackGroundDIB(const QImage& value);
  bool UseBackGroundDIB() const { return useBackGroundDIB_; }
  void SetUseBackGroundDIB(bool value);
  TMMBevel Bevel() const { return bevel_; }
  void SetBevel(TMMBevel value);
  int32_t BevelWidth() const { return bevel_ == bvNone ? 0 : 2; }
  // The plot's background.
  QColor Color() const { return color_; }
  void SetColor(const QColor& value);
  // Pen widths in the control's pixels, for pictures drawn at another
  // scale (a printed page): the trace of the line kinds, and the grid and
  // scale ticks. 0, the default, is one pixel of whatever device draws.
  qreal TraceWidth() const { return traceWidth_; }
  void SetTraceWidth(qreal value);
  qreal GridWidth() const { return gridWidth_; }
  void SetGridWidth(qreal value);

  // ---- Drawing
  QRect PlotRect();
  // The whole control drawn into `target` (scaled to fit) as vector
  // graphics: printing and pictures of the display.
  void paint(QPainter& painter, const QRectF& target);
  // Composes the next frame of the plot off-screen, as a repaint does.
  const QImage& ComposeFrame();
  // Spots of the bar kinds in the current plot.
  int32_t SpotCount();

  bool InfoActive() const { return infoActive_; }
  QPoint InfoPosition() const { return infoPos_; }

  QSize sizeHint() const override { return {194, 89}; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  void changeEvent(QEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  static constexpr int kAmpStrip = 32;
  static constexpr int kFreqStrip = 40;

  // What the scale strips and the prepared pictures are drawn from.
  struct AxisState {
    int32_t fftLength = 0;
    int32_t sampleRate = 0;
    int32_t verticalScale = 0;
    float zoom = 0;
    float fLo = 0;
    bool logFreq = false;
    bool logAmp = false;
    bool operator==(const AxisState&) const = default;
  };

  void CalcRedraw();
  // Recomputes the plot rectangle when the control's size or strips changed.
  void EnsureLayout();
  void LayoutChanged();
  // A drawing property changed: `layout` for those that move the bars.
  void DrawingChanged(bool layout);
  void Grow(int dx, int dy);

  void DrawPlot(QPainter& p, bool live, bool cleared);
  bool ClearDirect();
  void ClearPlot(QPainter& p);
  void FillBackground(QPainter& p, const QRect& r);
  void DrawGridLines(QPainter& p);
  void DrawLines(QPainter& p, bool live);
  void DrawDots(QPainter& p);
  void DrawVLines(QPainter& p, int32_t height, int32_t bottom);
  void DrawBars(QPainter& p, bool live);
  void DrawScrollBand(QPainter& p);
  void ScrollHistory();
  void EnsureInactive();
  void DrawSpot(QPainter& p, int32_t x0, int32_t x1, int32_t spot, const QColor& c, bool doted);
  QColor ZoneColor(int32_t value, int32_t limit1, int32_t limit2) const;
  int32_t Row(int32_t height) const;

  void PaintControl(QPainter& p, const QRect& exposed, bool composed);
  void DrawBevel(QPainter& p);
  void DrawScales(QPainter& p);
  void DrawPeakLabel(QPainter& p);
  void DrawReadout(QPainter& p);

  void StartReadout(const QPoint& pos);
  void MoveReadout(const QPoint& pos);
  void EndReadout();

  TMMSpectrumCalc calc_;

  TMMSpectrumKind kind_ = skBars;
  bool drawFreqScale_ = false;
  bool drawAmpScale_ = false;
  bool drawGrid_ = false;
  bool showInfo_ = true;
  int32_t space_ = 1;
  int32_t spotSpace_ = 1;
  int32_t spotHeight_ = 1;
  QColor bar1Color_;
  QColor bar2Color_;
  QColor bar3Color_;
  QColor inactive1Color_;
  QColor inactive2Color_;
  QColor inactive3Color_;
  QColor scaleTextColor_;
  QColor scaleLineColor_;
  QColor gridColor_;
  int32_t point1_ = 50;
  int32_t point2_ = 85;
  bool drawInactive_ = true;
  bool inactiveDoted_ = false;
  bool activeDoted_ = false;
  QImage backGroundDIB_;
  bool useBackGroundDIB_ = false;
  TMMBevel bevel_ = bvLowered;
  QColor color_;
  qreal traceWidth_ = 0;
  qreal gridWidth_ = 0;

  QSize layoutSize_;
  QRect plotRect_;
  AxisState axis_;
  QImage plot_;
  QImage inactive_;
  QImage scaledBackground_;
  bool inactiveValid_ = false;
  bool plotDirty_ = true;
  std::vector<QPoint> points_;

  bool infoActive_ = false;
  QPoint infoPos_;
  QString savedToolTip_;
};

}  // namespace tv
