// The dB scale drawn beside a level meter: labelled positions from full scale
// down to the meter's sensitivity, coloured by the meter's zones, with tick
// marks from a TMMScale on one or both sides.
#pragma once

#include <QColor>
#include <QWidget>

#include "TMMLevelCalc.h"
#include "TMMScale.h"

namespace tv {

enum TMMScalePos { spAboveOrLeft = 0, spBelowOrRight, spBoth };

class TMMLevelScale : public QWidget {
  Q_OBJECT

 public:
  explicit TMMLevelScale(QWidget* parent = nullptr);
  // The scale between the decoder chain's meters MMLevel1 and MMLevel2:
  // vertical, 21 positions, -60 dB. `inset` is the meters' bevel, so that
  // the ticks span the meters' bars.
  void ApplyDecoderDesign(int inset = 1);

  int ScaleTicks() const { return scaleTicks_; }
  void SetScaleTicks(int value);  // 2..200
  int Point1() const { return point1_; }
  void SetPoint1(int value);  // 1..100
  int Point2() const { return point2_; }
  void SetPoint2(int value);
  QColor Scale1Color() const { return scaleColor_[0]; }
  void SetScale1Color(const QColor& c) { SetColorOf(scaleColor_[0], c); }
  QColor Scale2Color() const { return scaleColor_[1]; }
  void SetScale2Color(const QColor& c) { SetColorOf(scaleColor_[1], c); }
  QColor Scale3Color() const { return scaleColor_[2]; }
  void SetScale3Color(const QColor& c) { SetColorOf(scaleColor_[2], c); }
  int Sensitivy() const { return sensitivy_; }
  void SetSensitivy(int value);  // clamped to -90..-9, as the meter
  bool LogAmp() const { return logAmp_; }
  void SetLogAmp(bool value);
  TMMLevelKind Kind() const { return kind_; }
  void SetKind(TMMLevelKind value);
  TMMLevelDirection Direction() const { return direction_; }
  void SetDirection(TMMLevelDirection value);
  TMMScalePos ScalePos() const { return scalePos_; }
  void SetScalePos(TMMScalePos value);
  TMMScale& Scale() { return scale_; }
  const TMMScale& Scale() const { return scale_; }
  QColor Color() const { return color_; }
  void SetColor(const QColor& c) { SetColorOf(color_, c); }
  // Pixels left free at both ends of the length (a meter's bevel).
  int Inset() const { return inset_; }
  void SetInset(int value);

  // Every LabelStep-th position carries a label; the last one always does.
  int LabelStep() const;
  // Position j counts from the end that stands for the meter's full scale.
  QString LabelText(int j) const;
  QColor LabelColor(int j) const;
  // Pixel of position j along the length (y for a vertical scale); a
  // symmetric scale has a second, mirrored position in the other half.
  int TickPosition(int j, bool secondHalf = false) const;

  void paint(QPainter& painter, const QRectF& target);
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void SetColorOf(QColor& slot, const QColor& c);
  int Length() const;      // along the scale, less the insets
  int HalfLength() const;  // the part one run of positions covers
  int LabelExtent() const;
  bool Labelled(int j) const;

  int scaleTicks_ = 8;
  int point1_ = 50;
  int point2_ = 85;
  QColor scaleColor_[3];
  int sensitivy_ = -35;
  bool logAmp_ = true;
  TMMLevelKind kind_ = lkHorizontal;
  TMMLevelDirection direction_ = dirNormal;
  TMMScalePos scalePos_ = spBoth;
  TMMScale scale_;
  QColor color_;
  int inset_ = 0;
};

}  // namespace tv
