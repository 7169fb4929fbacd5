#include "TFuncPanel.h"

#include <QPushButton>
#include <algorithm>

#include "PanelStyle.h"
#include "TAnalyzerFreezePanel.h"
#include "TAnalyzerGainPanel.h"
#include "TAnalyzerScalePanel.h"
#include "TGeneratorPanel.h"
#include "TPlayerPanel.h"

namespace tv {

namespace {

// Where the mode panels stand: left of the mode buttons.
const QRect kPanelArea(6, 6, TFuncPanel::kWidth - 160, TFuncPanel::kHeight - 12);

}  // namespace

TFuncPanel::TFuncPanel(QWidget* parent) : QFrame(parent) {
  setObjectName(QStringLiteral("Pan_func"));
  setFixedSize(kWidth, kHeight);
  setFrameShape(QFrame::Panel);
  setFrameShadow(QFrame::Raised);
  SetBackground(this, QColor(212, 212, 210));

  player_ = new TPlayerPanel(this);
  player_->move(kPanelArea.topLeft());
  generator_ = new TGeneratorPanel(this);
  generator_->setGeometry(kPanelArea);
  // The bandwidths need the widest of the three Analyzer panels.
  const int scaleWidth = 175;
  const int gainWidth = 345;
  analyzerScale_ = new TAnalyzerScalePanel(this);
  analyzerScale_->setGeometry(kPanelArea.x(), kPanelArea.y(), scaleWidth, kPanelArea.height());
  analyzerGain_ = new TAnalyzerGainPanel(this);
  analyzerGain_->setGeometry(kPanelArea.x() + scaleWidth + 1, kPanelArea.y(), gainWidth,
                             kPanelArea.height());
  analyzerFreeze_ = new TAnalyzerFreezePanel(this);
  analyzerFreeze_->setGeometry(kPanelArea.x() + scaleWidth + gainWidth + 2, kPanelArea.y(),
                               kPanelArea.width() - scaleWidth - gainWidth - 2,
                               kPanelArea.height());
  ShowPlayer();

  const QFont big = Bold(font(), 1.25);
  const auto mode = [&](const char* name, const QString& caption, int index) {
    auto* b = new QPushButton(caption, this);
    b->setObjectName(QString::fromLatin1(name));
    b->setFont(big);
    b->setGeometry(kWidth - 146, 8 + index * 41, 136, 37);
    b->setFocusPolicy(Qt::TabFocus);
    return b;
  };
  QPushButton* realTime = mode("LabReal", QStringLiteral("Real Time"), 0);
  QPushButton* generator = mode("btnGenerat", QStringLiteral("Generator"), 1);
  QPushButton* analyzer = mode("LabAnalyer", QStringLiteral("Analyzer"), 2);
  QPushButton* player = mode("LabPlayer", QStringLiteral("Wave Player"), 3);
  QPushButton* exit = mode("LabTrigger", QStringLiteral("Exit"), 4);
  connect(realTime, &QPushButton::clicked, this, &TFuncPanel::realTimeClicked);
  connect(generator, &QPushButton::clicked, this, &TFuncPanel::generatorClicked);
  connect(analyzer, &QPushButton::clicked, this, &TFuncPanel::analyzerClicked);
  connect(player, &QPushButton::clicked, this, &TFuncPanel::playerClicked);
  connect(exit, &QPushButton::clicked, this, &TFuncPanel::exitClicked);
}

void TFuncPanel::ShowOnly(std::initializer_list<QWidget*> panels) {
  for (QWidget* p : std::initializer_list<QWidget*>{player_, generator_, analyzerScale_,
                                                    analyzerGain_, analyzerFreeze_}) {
    p->setVisible(std::find(panels.begin(), panels.end(), p) != panels.end());
  }
}

void TFuncPanel::ShowPlayer() { ShowOnly({player_}); }

void TFuncPanel::ShowGenerator() { ShowOnly({generator_}); }

void TFuncPanel::ShowAnalyzer() { ShowOnly({analyzerScale_, analyzerGain_, analyzerFreeze_}); }

}  // namespace tv
