#include "TAnalyzerFreezePanel.h"

#include <QCheckBox>
#include <QEvent>
#include <QGridLayout>
#include <QLabel>

#include "PanelStyle.h"

namespace tv {

TAnalyzerFreezePanel::TAnalyzerFreezePanel(QWidget* parent) : QFrame(parent) {
  StylePanel(this, "PanAna3");
  auto* grid = new QGridLayout(this);
  grid->setContentsMargins(10, 8, 10, 8);
  grid->addWidget(MakeLabel(QStringLiteral("Freeze Spectrum"), this), 0, 0, 1, 2);
  freezeLabel_ = ClickLabel(QStringLiteral("Freeze"), this, "MMLabel39");
  restartLabel_ = ClickLabel(QStringLiteral("Restart"), this, "MMLabel42");
  freezeLabel_->installEventFilter(this);
  restartLabel_->installEventFilter(this);
  grid->addWidget(freezeLabel_, 1, 0);
  grid->addWidget(restartLabel_, 1, 1);
  const auto box = [this](const QString& caption, const char* name, bool checked) {
    auto* b = new QCheckBox(caption, this);
    b->setObjectName(QString::fromLatin1(name));
    b->setChecked(checked);
    return b;
  };
  // As the spectrum starts: peak frequency and grid shown, no peak hold.
  peakBox_ = box(QStringLiteral("Display Peak Freq"), "CheckBox5", true);
  gridBox_ = box(QStringLiteral("Display Grid"), "CheckBox6", true);
  holdBox_ = box(QStringLiteral("Peak Hold"), "CheckBox7", false);
  grid->addWidget(peakBox_, 2, 0, 1, 2);
  grid->addWidget(gridBox_, 3, 0, 1, 2);
  grid->addWidget(holdBox_, 4, 0, 1, 2);
  grid->setRowStretch(5, 1);
}

bool TAnalyzerFreezePanel::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseButtonRelease) {
    if (watched == freezeLabel_) {
      emit freezeClicked();
      return true;
    }
    if (watched == restartLabel_) {
      emit restartClicked();
      return true;
    }
  }
  return QFrame::eventFilter(watched, event);
}

}  // namespace tv
