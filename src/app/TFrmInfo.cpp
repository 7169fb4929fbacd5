#include "TFrmInfo.h"

#include <QLabel>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QTextBrowser>
#include <cmath>

#include "TonvistaVersion.h"

namespace tv {

TInfoPicture::TInfoPicture(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setCursor(Qt::PointingHandCursor);
}

void TInfoPicture::paintEvent(QPaintEvent* /*event*/) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing, true);
  QLinearGradient sky(0, 0, 0, height());
  sky.setColorAt(0, QColor(10, 40, 52));
  sky.setColorAt(1, QColor(0, 6, 10));
  p.fillRect(rect(), sky);

  // A faint measuring grid.
  p.setPen(QColor(0, 90, 100, 60));
  for (int x = 0; x < width(); x += 24) p.drawLine(x, 0, x, height());
  for (int y = 0; y < height(); y += 24) p.drawLine(0, y, width(), y);

  // The two tones of a key as spectral lines, low and high group.
  const qreal base = height() - 24;
  p.setPen(QPen(QColor(0, 255, 255, 90), 1.2));
  QPainterPath floor;
  floor.moveTo(0, base);
  for (int x = 0; x <= width(); x += 3) {
    const qreal noise = 5 + 3 * std::sin(x * 0.37) + 2 * std::sin(x * 1.91);
    floor.lineTo(x, base - noise);
  }
  p.drawPath(floor);
  // The two tones of key "5" (770 Hz and 1336 Hz) standing out of it,
  // under the keypad.
  const qreal padLeft = width() - 4 * 34 - 3 * 7 - 26;
  for (qreal fx : {0.3, 0.72}) {
    const qreal x = padLeft + (width() - 26 - padLeft) * fx;
    const qreal peak = fx < 0.5 ? 62 : 48;
    QLinearGradient bar(x, base - peak, x, base);
    bar.setColorAt(0, QColor(0, 255, 255, 230));
    bar.setColorAt(1, QColor(0, 120, 140, 40));
    p.fillRect(QRectF(x - 2, base - peak, 4, peak - 4), bar);
  }

  // A DTMF keypad at the right.
  QFont keyFont(QStringLiteral("DejaVu Sans"));
  keyFont.setBold(true);
  keyFont.setPixelSize(15);
  p.setFont(keyFont);
  const qreal key = 34;
  const qreal gap = 7;
  const qreal left = width() - 4 * key - 3 * gap - 26;
  const qreal top = 26;
  static constexpr char kRows[4][5] = {"123A", "456B", "789C", "*0#D"};
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 4; ++c) {
      const QRectF cell(left + c * (key + gap), top + r * (key + gap), key, key);
      const bool lit = kRows[r][c] == '5';
      p.setPen(QPen(QColor(0, 255, 255, lit ? 255 : 120), 1.4));
      p.setBrush(lit ? QColor(0, 255, 255, 70) : QColor(0, 40, 48, 160));
      p.drawRoundedRect(cell, 5, 5);
      p.setPen(lit ? QColor(230, 255, 255) : QColor(0, 220, 230, 200));
      p.drawText(cell, Qt::AlignCenter, QString(QLatin1Char(kRows[r][c])));
    }
  }
  p.end();
  emit painted();
}

void TInfoPicture::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) emit clicked();
}

TFrmInfo::TFrmInfo(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("FrmInfo"));
  setWindowTitle(QStringLiteral("Programm Info"));
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                 Qt::WindowStaysOnTopHint);
  setFixedSize(kWidth, kHeight);
  // The start-up screen must not end the program when it closes.
  setAttribute(Qt::WA_QuitOnClose, false);

  picture_ = new TInfoPicture(this);
  picture_->setObjectName(QStringLiteral("Image1"));
  picture_->setGeometry(0, 0, kWidth, kHeight);
  connect(picture_, &TInfoPicture::clicked, this, &TFrmInfo::Image1Click);
  connect(picture_, &TInfoPicture::painted, this, [this] {
    if (painted_) return;
    painted_ = true;
    emit painted();
  });

  const auto label = [this](const QString& name, const QString& text, int px, bool bold,
                            const QColor& color) {
    auto* l = new QLabel(text, picture_);
    l->setObjectName(name);
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setPixelSize(px);
    f.setBold(bold);
    l->setFont(f);
    QPalette pal = l->palette();
    pal.setColor(QPalette::WindowText, color);
    l->setPalette(pal);
    // Clicks on the text close the window like clicks on the picture.
    l->setAttribute(Qt::WA_TransparentForMouseEvents, name != QStringLiteral("MMLabel13"));
    return l;
  };
  label(QStringLiteral("LabProduct"), QStringLiteral("Tonvista"), 40, true,
        QColor(235, 255, 255))
      ->setGeometry(22, 14, 300, 50);
  label(QStringLiteral("LabEdition"),
        QStringLiteral("DTMF Tone Detector & Audio Analyzer  ") + QStringLiteral(TONVISTA_EDITION),
        13, true, QColor(0, 230, 240))
      ->setGeometry(24, 64, 320, 20);

  auto* intro = new QTextBrowser(picture_);
  intro->setObjectName(QStringLiteral("MemIntro"));
  intro->setReadOnly(true);
  intro->setFrameShape(QFrame::NoFrame);
  intro->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  QFont introFont(QStringLiteral("DejaVu Sans"));
  introFont.setPixelSize(11);
  intro->setFont(introFont);
  intro->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  intro->viewport()->setAutoFillBackground(false);
  intro->setStyleSheet(QStringLiteral(
      "QTextBrowser { background: rgba(0, 20, 26, 150); color: rgb(190, 230, 232);"
      " border: 1px solid rgba(0, 200, 210, 70); border-radius: 3px; padding: 4px; }"));
  intro->setPlainText(QStringLiteral(
      "Tonvista finds the telephone key tones (DTMF) in recorded audio: load a wave "
      "file and the keys appear in the LED line, collected in the results window for "
      "the clipboard or a text file.\n"
      "Around the decoder: a spectrum analyzer with level meters, a wave player and "
      "recorder, and a test-tone generator."));
  intro->setGeometry(24, 94, 290, 112);

  label(QStringLiteral("LabContactHead"), QStringLiteral("For more information contact:"), 11,
        true, QColor(0, 230, 240))
      ->setGeometry(24, 242, 290, 16);
  label(QStringLiteral("LabContact"), QStringLiteral("Quellfon \u2013 Tonvista team"), 11, false,
        QColor(200, 235, 236))
      ->setGeometry(24, 258, 290, 16);

  closeLabel_ =
      label(QStringLiteral("MMLabel13"), QStringLiteral("Close"), 13, true, QColor(235, 255, 255));
  closeLabel_->setAlignment(Qt::AlignCenter);
  closeLabel_->setCursor(Qt::PointingHandCursor);
  closeLabel_->setStyleSheet(
      QStringLiteral("QLabel { border: 1px solid rgba(0, 255, 255, 150); border-radius: 3px;"
                     " background: rgba(0, 60, 70, 160); }"));
  closeLabel_->setGeometry(kWidth - 100, kHeight - 38, 80, 24);
  closeLabel_->installEventFilter(this);
}

bool TFrmInfo::eventFilter(QObject* watched, QEvent* event) {
  if (watched == closeLabel_ && event->type() == QEvent::MouseButtonRelease) {
    MMLabel13Click();
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

void TFrmInfo::ShowNow() {
  show();
  raise();
}

void TFrmInfo::Image1Click() { close(); }

void TFrmInfo::MMLabel13Click() { close(); }

}  // namespace tv
