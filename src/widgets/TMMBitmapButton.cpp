#include "TMMBitmapButton.h"

#include <QIcon>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPolygonF>

namespace tv {

TMMBitmapButton::TMMBitmapButton(Glyph glyph, QWidget* parent)
    : QToolButton(parent), glyph_(glyph) {
  setAutoRaise(false);
  setFocusPolicy(Qt::TabFocus);
  setFixedSize(34, 28);
  setIconSize(QSize(18, 18));
  // Record is the one red symbol, as on a tape deck.
  const QColor ink = glyph == Glyph::Record ? QColor(200, 20, 20) : QColor(25, 30, 35);
  QIcon icon;
  for (int scale : {1, 2}) {
    icon.addPixmap(Render(glyph, 18 * scale, ink), QIcon::Normal);
    icon.addPixmap(Render(glyph, 18 * scale, QColor(150, 150, 150)), QIcon::Disabled);
  }
  setIcon(icon);
}

void TMMBitmapButton::SetPressed(bool pressed) {
  if (pressed && !isCheckable()) setCheckable(true);
  setChecked(pressed);
}

QPixmap TMMBitmapButton::Render(Glyph glyph, int size, const QColor& color) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing, true);
  p.setPen(Qt::NoPen);
  p.setBrush(color);
  const qreal s = size;
  const auto tri = [&](qreal x0, qreal x1, bool right) {
    QPolygonF t;
    if (right) {
      t << QPointF(x0, s * 0.2) << QPointF(x1, s * 0.5) << QPointF(x0, s * 0.8);
    } else {
      t << QPointF(x1, s * 0.2) << QPointF(x0, s * 0.5) << QPointF(x1, s * 0.8);
    }
    p.drawPolygon(t);
  };
  switch (glyph) {
    case Glyph::Load: {
      // Eject symbol: a triangle over a bar.
      QPolygonF t;
      t << QPointF(s * 0.5, s * 0.14) << QPointF(s * 0.88, s * 0.58) << QPointF(s * 0.12, s * 0.58);
      p.drawPolygon(t);
      p.drawRect(QRectF(s * 0.12, s * 0.68, s * 0.76, s * 0.16));
      break;
    }
    case Glyph::Play:
      tri(s * 0.25, s * 0.85, true);
      break;
    case Glyph::Pause:
      p.drawRect(QRectF(s * 0.24, s * 0.2, s * 0.18, s * 0.6));
      p.drawRect(QRectF(s * 0.58, s * 0.2, s * 0.18, s * 0.6));
      break;
    case Glyph::Stop:
      p.drawRect(QRectF(s * 0.22, s * 0.22, s * 0.56, s * 0.56));
      break;
    case Glyph::Forward:
      tri(s * 0.1, s * 0.5, true);
      tri(s * 0.5, s * 0.9, true);
      break;
    case Glyph::Rewind:
      tri(s * 0.1, s * 0.5, false);
      tri(s * 0.5, s * 0.9, false);
      break;
    case Glyph::Record:
      p.drawEllipse(QRectF(s * 0.2, s * 0.2, s * 0.6, s * 0.6));
      break;
    case Glyph::Loop: {
      // An open circle with an arrow head.
      QPen pen(color, s * 0.13, Qt::SolidLine, Qt::FlatCap);
      p.setPen(pen);
      p.setBrush(Qt::NoBrush);
      const QRectF ring(s * 0.2, s * 0.2, s * 0.6, s * 0.6);
      p.drawArc(ring, 100 * 16, 290 * 16);
      p.setPen(Qt::NoPen);
      p.setBrush(color);
      QPolygonF head;
      head << QPointF(s * 0.52, s * 0.05) << QPointF(s * 0.52, s * 0.37)
           << QPointF(s * 0.74, s * 0.21);
      p.drawPolygon(head);
      break;
    }
  }
  return pixmap;
}

}  // namespace tv
