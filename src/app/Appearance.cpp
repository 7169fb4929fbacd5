#include "Appearance.h"

#include <QApplication>
#include <QFont>
#include <QIcon>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <QStyleFactory>

namespace tv {

namespace {

QPixmap IconPicture(int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing, true);
  p.scale(size / 128.0, size / 128.0);
  QLinearGradient face(0, 6, 0, 122);
  face.setColorAt(0, QColor(0x0e, 0x3a, 0x46));
  face.setColorAt(1, QColor(0x02, 0x0a, 0x0e));
  p.setPen(QPen(QColor(0x3f, 0xe6, 0xf0, 115), 1));
  p.setBrush(face);
  p.drawRoundedRect(QRectF(6.5, 6.5, 115, 115), 21.5, 21.5);
  // A keypad with its middle key pressed.
  p.setPen(QPen(QColor(0, 255, 255, 180), 1.2));
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) {
      p.setBrush(QColor(0, 255, 255, r == 1 && c == 1 ? 217 : 56));
      p.drawRoundedRect(QRectF(22 + c * 20, 20 + r * 16, 16, 12), 3, 3);
    }
  }
  // The key's two tones over a noise floor.
  QPainterPath floor;
  const int pts[][2] = {{16, 104}, {24, 101}, {30, 103},  {36, 100}, {44, 102},
                        {50, 99},  {58, 102}, {66, 100},  {74, 103}, {82, 100},
                        {90, 102}, {98, 99},  {106, 102}, {112, 100}};
  floor.moveTo(pts[0][0], pts[0][1]);
  for (const auto& pt : pts) floor.lineTo(pt[0], pt[1]);
  p.setPen(QPen(QColor(0, 255, 255, 153), 2));
  p.setBrush(Qt::NoBrush);
  p.drawPath(floor);
  p.setPen(Qt::NoPen);
  for (const QRectF& bar : {QRectF(86, 30, 8, 70), QRectF(100, 46, 8, 54)}) {
    QLinearGradient g(bar.topLeft(), bar.bottomLeft());
    g.setColorAt(0, QColor(0x7f, 0xfc, 0xff));
    g.setColorAt(1, QColor(0x00, 0xa6, 0xb8, 90));
    p.setBrush(g);
    p.drawRoundedRect(bar, 2, 2);
  }
  return pixmap;
}

}  // namespace

QIcon ProgramIcon() {
  QIcon icon;
  for (int size : {16, 24, 32, 48, 64, 128, 256}) icon.addPixmap(IconPicture(size));
  return icon;
}

void ApplyAppearance(QApplication& app) {
  // The windows were laid out for these families; substitutes keep the
  // metrics close where the originals are missing.
  QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"),
                             {QStringLiteral("DejaVu Sans"), QStringLiteral("Liberation Sans")});
  QFont::insertSubstitutions(QStringLiteral("Arial"),
                             {QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")});
  QFont::insertSubstitutions(QStringLiteral("Times New Roman"),
                             {QStringLiteral("Liberation Serif"), QStringLiteral("DejaVu Serif")});

  if (QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion")))
    QApplication::setStyle(fusion);

  // Neutral instrument grey.
  QPalette p;
  const QColor face(212, 212, 210);
  p.setColor(QPalette::Window, face);
  p.setColor(QPalette::WindowText, QColor(20, 20, 20));
  p.setColor(QPalette::Base, QColor(255, 255, 255));
  p.setColor(QPalette::AlternateBase, QColor(236, 236, 234));
  p.setColor(QPalette::Text, QColor(15, 15, 15));
  p.setColor(QPalette::Button, QColor(224, 224, 222));
  p.setColor(QPalette::ButtonText, QColor(20, 20, 20));
  p.setColor(QPalette::Highlight, QColor(0, 120, 140));
  p.setColor(QPalette::HighlightedText, QColor(255, 255, 255));
  p.setColor(QPalette::ToolTipBase, QColor(255, 255, 225));
  p.setColor(QPalette::ToolTipText, QColor(0, 0, 0));
  p.setColor(QPalette::Light, QColor(255, 255, 255));
  p.setColor(QPalette::Midlight, QColor(232, 232, 230));
  p.setColor(QPalette::Mid, QColor(160, 160, 158));
  p.setColor(QPalette::Dark, QColor(120, 120, 118));
  p.setColor(QPalette::Shadow, QColor(60, 60, 60));
  for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
    p.setColor(QPalette::Disabled, role, QColor(140, 140, 138));
  }
  QApplication::setPalette(p);

  QApplication::setWindowIcon(ProgramIcon());
  // Matches the desktop file, so docks and task bars pair window and entry.
  QGuiApplication::setDesktopFileName(QStringLiteral("org.quellfon.Tonvista"));

  QFont base(QStringLiteral("DejaVu Sans"));
  base.setPointSizeF(9);
  app.setFont(base);
}

}  // namespace tv
