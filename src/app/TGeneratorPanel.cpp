#include "TGeneratorPanel.h"

#include <QEvent>
#include <QGridLayout>
#include <QLabel>

#include "PanelStyle.h"
#include "TMMLEDLabel.h"
#include "TMMLEDSpin.h"
#include "TMMOscope.h"
#include "TMMRadioGroup.h"

namespace tv {

namespace {

constexpr int kSteps[] = {1, 10, 100, 1000};

TMMLEDSpin* Spin(QWidget* parent, const char* name, int low, int high, int value, int step,
                 int digits) {
  auto* spin = new TMMLEDSpin(parent);
  spin->setObjectName(QString::fromLatin1(name));
  spin->SetRange(low, high);
  spin->SetIncrement(step);
  spin->SetDigits(digits);
  spin->SetValue(value);
  return spin;
}

}  // namespace

TGeneratorPanel::TGeneratorPanel(QWidget* parent) : QFrame(parent) {
  StylePanel(this, "PanGenerat");
  auto* grid = new QGridLayout(this);
  grid->setContentsMargins(8, 8, 8, 8);
  grid->setHorizontalSpacing(10);
  grid->setVerticalSpacing(4);

  oscilloscope_ = new TMMOscope(this);
  oscilloscope_->ApplyGeneratorDesign();
  oscilloscope_->setFixedSize(oscilloscope_->size());
  grid->addWidget(oscilloscope_, 0, 0, 6, 1, Qt::AlignLeft | Qt::AlignVCenter);

  startLabel_ = ClickLabel(QStringLiteral("Start"), this, "MMLabel31");
  stopLabel_ = ClickLabel(QStringLiteral("Stop"), this, "MMLabel23");
  startLabel_->installEventFilter(this);
  stopLabel_->installEventFilter(this);
  grid->addWidget(startLabel_, 0, 1);
  grid->addWidget(stopLabel_, 0, 2);

  grid->addWidget(MakeLabel(QStringLiteral("Frequency"), this), 1, 1);
  frequencySpin_ = Spin(this, "SpinFreq1", 1, 22050, 1000, 100, 5);
  grid->addWidget(frequencySpin_, 2, 1);
  connect(frequencySpin_, &TMMLEDSpin::valueChanged, this, &TGeneratorPanel::frequencyChanged);

  grid->addWidget(MakeLabel(QStringLiteral("Frequency Wave Form"), this), 1, 2);
  waveFormLabel_ = new TMMLEDLabel(this);
  waveFormLabel_->setObjectName(QStringLiteral("LEDWave1"));
  waveFormLabel_->SetCells(11);
  waveFormLabel_->SetCaption(QStringLiteral("SINE"));
  waveFormSpin_ = Spin(this, "MMSpinButton5", 0, 1, 0, 1, 1);
  auto* form = new QHBoxLayout();
  form->addWidget(waveFormLabel_, 1);
  form->addWidget(waveFormSpin_);
  grid->addLayout(form, 2, 2);
  connect(waveFormSpin_, &TMMLEDSpin::valueChanged, this, &TGeneratorPanel::MMSpinButton5Change);

  grid->addWidget(MakeLabel(QStringLiteral("Output Level"), this), 3, 1);
  levelSpin_ = Spin(this, "MMLEDSpin18", 0, 16384, 8212, 100, 5);
  levelLabel_ = MakeLabel(QStringLiteral("-6,00 db"), this, "labDB");
  grid->addWidget(levelSpin_, 4, 1);
  grid->addWidget(levelLabel_, 4, 2);
  connect(levelSpin_, &TMMLEDSpin::valueChanged, this, &TGeneratorPanel::outputLevelChanged);

  stepGroup_ = new TMMRadioGroup(QStringLiteral("   Frequency Addition  "), this);
  stepGroup_->setObjectName(QStringLiteral("RadioGroup2"));
  stepGroup_->SetItems({QStringLiteral("+/- 1"), QStringLiteral("+/- 10"), QStringLiteral("+/- 100"),
                        QStringLiteral("+/- 1000")});
  stepGroup_->SetColumns(2);
  stepGroup_->SetItemIndex(2);
  grid->addWidget(stepGroup_, 5, 1);
  connect(stepGroup_, &TMMRadioGroup::clicked, this, &TGeneratorPanel::RadioGroup2Click);

  timeBaseGroup_ = new TMMRadioGroup(QStringLiteral(" ms/div "), this);
  timeBaseGroup_->setObjectName(QStringLiteral("rgUS"));
  timeBaseGroup_->SetItems({QStringLiteral("0.25 ms/div "), QStringLiteral("0.5 ms/div")});
  timeBaseGroup_->SetItemIndex(0);
  grid->addWidget(timeBaseGroup_, 5, 2);
  connect(timeBaseGroup_, &TMMRadioGroup::clicked, this,
          [this] { emit timeBaseChanged(timeBaseGroup_->ItemIndex()); });
  grid->setColumnStretch(0, 1);
}

int TGeneratorPanel::WaveForm() const { return waveFormSpin_->Value(); }
int TGeneratorPanel::OutputLevel() const { return levelSpin_->Value(); }
int TGeneratorPanel::Frequency() const { return frequencySpin_->Value(); }

QString TGeneratorPanel::LevelText() const { return levelLabel_->text(); }

void TGeneratorPanel::SetLevelText(const QString& text) { levelLabel_->setText(text); }

void TGeneratorPanel::MMSpinButton5Change() {
  const int form = waveFormSpin_->Value();
  waveFormLabel_->SetCaption(form == 0 ? QStringLiteral("SINE") : QStringLiteral("WHITE NOISE"));
  emit waveFormChanged(form);
}

void TGeneratorPanel::RadioGroup2Click() {
  const int index = stepGroup_->ItemIndex();
  if (index < 0 || index >= static_cast<int>(std::size(kSteps))) return;
  frequencySpin_->SetIncrement(kSteps[index]);
  levelSpin_->SetIncrement(kSteps[index]);
}

bool TGeneratorPanel::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseButtonRelease) {
    if (watched == startLabel_) {
      emit startClicked();
      return true;
    }
    if (watched == stopLabel_) {
      emit stopClicked();
      return true;
    }
  }
  return QFrame::eventFilter(watched, event);
}

}  // namespace tv
