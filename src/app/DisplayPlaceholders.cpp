#include "DisplayPlaceholders.h"

#include <QPainter>

namespace tv {

TSpectrumPlaceholder::TSpectrumPlaceholder(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
  setMinimumSize(0, 0);
}

void TSpectrumPlaceholder::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  painter.fillRect(rect(), Qt::black);
}

TLevelPlaceholder::TLevelPlaceholder(Qt::Orientation orientation, QWidget* parent)
    : QWidget(parent), orientation_(orientation) {
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void TLevelPlaceholder::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  painter.fillRect(rect(), Qt::black);
  // The faint segment ruling of an unlit bar meter.
  painter.setPen(QColor(0, 38, 38));
  if (orientation_ == Qt::Vertical) {
    for (int y = height() - 3; y > 1; y -= 4) painter.drawLine(2, y, width() - 3, y);
  } else {
    for (int x = 2; x < width() - 1; x += 4) painter.drawLine(x, 2, x, height() - 3);
  }
}

TOscopePlaceholder::TOscopePlaceholder(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void TOscopePlaceholder::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  painter.fillRect(rect(), Qt::black);
  painter.setPen(QColor(0, 60, 60));
  for (int i = 1; i < 10; ++i) painter.drawLine(width() * i / 10, 0, width() * i / 10, height());
  for (int i = 1; i < 8; ++i) painter.drawLine(0, height() * i / 8, width(), height() * i / 8);
}

}  // namespace tv
