// Tick marks along one edge of a rectangle: the scale that the level scale
// (and any other scale control) carries as a sub-object.
#pragma once

#include <QColor>
#include <QRect>
#include <functional>

#include "MMErrors.h"

class QPainter;

namespace tv {

TV_DECLARE_ERROR(EMMScaleError);

enum TMMScaleStyle { stColor = 0, stLowered, stRaised };
enum TMMScaleOrigin { soInner = 0, soOuter };
// The side of the rectangle that faces the scaled control.
enum class TMMScaleEdge { Top, Bottom, Left, Right };

class TMMScale {
 public:
  bool Visible() const { return visible_; }
  void SetVisible(bool value) { Set(visible_, value); }
  QColor Color() const { return color_; }
  void SetColor(const QColor& value) { Set(color_, value); }
  TMMScaleStyle Style() const { return style_; }
  void SetStyle(TMMScaleStyle value) { Set(style_, value); }
  int TickCount() const { return tickCount_; }
  void SetTickCount(int value);  // at least 2
  // Every n-th tick, counted from the first, is longer; 0 = none.
  int EnlargeEvery() const { return enlargeEvery_; }
  void SetEnlargeEvery(int value);
  // Length of an ordinary tick in pixels (1..50); long ticks are twice it.
  int Size() const { return size_; }
  void SetSize(int value);
  // soInner: ticks stand on the edge facing the control; soOuter: on the
  // opposite one, pointing towards it.
  TMMScaleOrigin Origin() const { return origin_; }
  void SetOrigin(TMMScaleOrigin value) { Set(origin_, value); }
  // A base line joins the ticks.
  bool Connect() const { return connect_; }
  void SetConnect(bool value) { Set(connect_, value); }

  // Any property changed (the owner repaints).
  std::function<void(TMMScale* sender)> OnChange;

  // Pixels the ticks take across the edge; 0 when not visible.
  int RoomNeeded() const;
  bool IsLong(int tick) const;
  // Position of tick i of `count` spread over [start, start + length - 1].
  static int TickPosition(int i, int count, int start, int length);
  // Draws the ticks along `edge` of `rect`. A painter without a device to
  // paint on raises EMMScaleError.
  void Draw(QPainter& canvas, const QRect& rect, TMMScaleEdge edge) const;

 private:
  template <class T>
  void Set(T& slot, const T& value) {
    if (slot == value) return;
    slot = value;
    if (OnChange) OnChange(this);
  }

  bool visible_ = true;
  QColor color_{Qt::gray};
  TMMScaleStyle style_ = stColor;
  int tickCount_ = 11;
  int enlargeEvery_ = 5;
  int size_ = 3;
  TMMScaleOrigin origin_ = soInner;
  bool connect_ = false;
};

}  // namespace tv
