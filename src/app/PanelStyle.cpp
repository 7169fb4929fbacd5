#include "PanelStyle.h"

#include <QFrame>
#include <QLabel>
#include <QPalette>

namespace tv {

QFont Bold(QFont font, qreal scale) {
  font.setBold(true);
  if (scale != 1.0) font.setPointSizeF(font.pointSizeF() * scale);
  return font;
}

QFont Scaled(QFont font, qreal scale) {
  font.setPointSizeF(font.pointSizeF() * scale);
  return font;
}

void SetBackground(QWidget* widget, const QColor& color) {
  widget->setAutoFillBackground(true);
  QPalette p = widget->palette();
  p.setColor(QPalette::Window, color);
  widget->setPalette(p);
}

void SetTextColor(QWidget* widget, const QColor& color) {
  QPalette p = widget->palette();
  p.setColor(QPalette::WindowText, color);
  widget->setPalette(p);
}

QLabel* MakeLabel(const QString& text, QWidget* parent, const char* name) {
  auto* l = new QLabel(text, parent);
  if (name != nullptr) l->setObjectName(QString::fromLatin1(name));
  return l;
}

QLabel* Readout(const QString& text, QWidget* parent, const char* name) {
  QLabel* l = MakeLabel(text, parent, name);
  l->setStyleSheet(
      QStringLiteral("QLabel { background: #f8f8f6; border: 1px solid #a4a4a2;"
                     " border-top-color: #6a6a68; border-left-color: #6a6a68; padding: 0 4px; }"
                     " QLabel:disabled { color: #8a8a88; }"));
  return l;
}

QLabel* LedReadout(const QString& text, QWidget* parent, const char* name) {
  QLabel* l = MakeLabel(text, parent, name);
  l->setStyleSheet(QStringLiteral(
      "QLabel { background: black; color: rgb(0, 255, 255); border: 1px solid #5a5a58;"
      " border-bottom-color: #f0f0ee; border-right-color: #f0f0ee; padding: 0 5px;"
      " font-family: 'DejaVu Sans Mono'; font-weight: bold; }"));
  return l;
}

QLabel* ClickLabel(const QString& text, QWidget* parent, const char* name) {
  QLabel* l = MakeLabel(text, parent, name);
  l->setAlignment(Qt::AlignCenter);
  l->setCursor(Qt::PointingHandCursor);
  l->setStyleSheet(QStringLiteral(
      "QLabel { border: 1px solid #8a8a88; border-radius: 3px; background: #ececea;"
      " padding: 2px 10px; font-weight: bold; } QLabel:disabled { color: #8a8a88; }"));
  return l;
}

void StylePanel(QWidget* panel, const char* name) {
  panel->setObjectName(QString::fromLatin1(name));
  if (auto* frame = qobject_cast<QFrame*>(panel)) {
    frame->setFrameShape(QFrame::StyledPanel);
    frame->setFrameShadow(QFrame::Sunken);
  }
  SetBackground(panel, QColor(220, 220, 218));
}

}  // namespace tv
