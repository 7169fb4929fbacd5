#include "TfOutfitSpec.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "TMMColorButton.h"
#include "TMMLEDSpin.h"
#include "TMMLevel.h"
#include "TMMSpectrum.h"

namespace tv {

namespace {

TMMLEDSpin* OverloadSpin(QWidget* parent, const char* name, int value) {
  auto* spin = new TMMLEDSpin(parent);
  spin->setObjectName(QString::fromLatin1(name));
  spin->SetRange(1, 99);
  spin->SetDigits(2);
  spin->SetValue(value);
  return spin;
}

}  // namespace

TfOutfitSpec::TfOutfitSpec(QWidget* parent) : QDialog(parent) {
  setModal(false);
  setObjectName(QStringLiteral("TfOutfitSpec"));
  setWindowTitle(QStringLiteral("Bars preference"));

  const TAnalyzerSettings design;
  MMLEDSpin55 = OverloadSpin(this, "MMLEDSpin55", design.Bar5);
  MMLEDSpin1 = OverloadSpin(this, "MMLEDSpin1", design.Bar1);
  MMLEDSpin5 = OverloadSpin(this, "MMLEDSpin5", design.Bar6);
  MMLEDSpin6 = OverloadSpin(this, "MMLEDSpin6", design.Bar7);
  for (int i = 0; i < 10; ++i) {
    auto* b = new TMMColorButton(this);
    b->setObjectName(QStringLiteral("MMColorButton%1").arg(i + 1));
    b->SetColor(ColorFromRgbValue(design.Color[static_cast<std::size_t>(i)]));
    MMColorButton[static_cast<std::size_t>(i)] = b;
  }

  // Rows of each group in the order the window shows them; button numbers
  // as the settings file counts them.
  auto group = [this](const QString& caption, TMMLEDSpin* low, TMMLEDSpin* high,
                      std::array<int, 5> buttons) {
    auto* box = new QGroupBox(caption, this);
    auto* grid = new QGridLayout(box);
    int row = 0;
    auto add = [&](const QString& label, QWidget* w) {
      grid->addWidget(new QLabel(label, box), row, 0);
      grid->addWidget(w, row, 1);
      ++row;
    };
    add(QStringLiteral("Low OL Point"), low);
    add(QStringLiteral("High OL Point"), high);
    const char* labels[] = {"Base Color", "Low OL Color", "High OL Color", "Scale Text",
                            "Grid Color"};
    for (std::size_t i = 0; i < 5; ++i) {
      add(QString::fromLatin1(labels[i]), MMColorButton[static_cast<std::size_t>(buttons[i] - 1)]);
    }
    return box;
  };
  auto* groups = new QHBoxLayout;
  groups->addWidget(group(QStringLiteral("Main Spectrum"), MMLEDSpin55, MMLEDSpin1, {1, 2, 3, 5, 4}));
  groups->addWidget(
      group(QStringLiteral("Background Spectrum"), MMLEDSpin5, MMLEDSpin6, {6, 7, 8, 10, 9}));
  auto* done = new QPushButton(QStringLiteral("Done"), this);
  done->setObjectName(QStringLiteral("Button1"));
  connect(done, &QPushButton::clicked, this, [this] { Button1Click(); });
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(groups);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(done);
  layout->addLayout(buttons);

  connect(MMLEDSpin55, &TMMLEDSpin::valueChanged, this, [this] { MMLEDSpin55Change(); });
  connect(MMLEDSpin1, &TMMLEDSpin::valueChanged, this, [this] { MMLEDSpin1Change(); });
  connect(MMLEDSpin5, &TMMLEDSpin::valueChanged, this, [this] { MMLEDSpin5Change(); });
  connect(MMLEDSpin6, &TMMLEDSpin::valueChanged, this, [this] { MMLEDSpin6Change(); });
  for (int i = 0; i < 10; ++i) {
    connect(MMColorButton[static_cast<std::size_t>(i)], &TMMColorButton::colorChanged, this,
            [this, i] { ColorChange(i + 1); });
  }
}

void TfOutfitSpec::SetTargets(TMMSpectrum* mainSpectrum, TMMLevel* level1, TMMLevel* level2,
                              TMMSpectrum* background) {
  main_ = mainSpectrum;
  level1_ = level1;
  level2_ = level2;
  background_ = background;
  MMLEDSpin55Change();
  MMLEDSpin1Change();
  MMLEDSpin5Change();
  MMLEDSpin6Change();
  for (int i = 1; i <= 10; ++i) ColorChange(i);
}

void TfOutfitSpec::MMLEDSpin55Change() {
  const int v = MMLEDSpin55->Value();
  if (main_) main_->SetPoint1(v);
  if (level1_) level1_->SetPoint1(v);
  if (level2_) level2_->SetPoint1(v);
}

void TfOutfitSpec::MMLEDSpin1Change() {
  const int v = MMLEDSpin1->Value();
  if (main_) main_->SetPoint2(v);
  if (level1_) level1_->SetPoint2(v);
  if (level2_) level2_->SetPoint2(v);
}

void TfOutfitSpec::MMLEDSpin5Change() {
  if (background_) background_->SetPoint1(MMLEDSpin5->Value());
}

void TfOutfitSpec::MMLEDSpin6Change() {
  if (background_) background_->SetPoint2(MMLEDSpin6->Value());
}

void TfOutfitSpec::ColorChange(int button) {
  const QColor c = MMColorButton[static_cast<std::size_t>(button - 1)]->Color();
  const bool mainGroup = button <= 5;
  TMMSpectrum* spectrum = mainGroup ? main_ : background_;
  const int slot = mainGroup ? button : button - 5;  // 1 base, 2 low, 3 high, 4 grid, 5 scale
  auto levels = [&](auto apply) {
    if (!mainGroup) return;
    if (level1_) apply(*level1_);
    if (level2_) apply(*level2_);
  };
  switch (slot) {
    case 1:
      if (spectrum) {
        spectrum->SetBar1Color(c);
        spectrum->SetInactive1Color(c);
      }
      levels([&](TMMLevel& l) { l.SetBar1Color(c); });
      break;
    case 2:
      if (spectrum) {
        spectrum->SetBar2Color(c);
        spectrum->SetInactive2Color(c);
      }
      levels([&](TMMLevel& l) { l.SetBar2Color(c); });
      break;
    case 3:
      if (spectrum) {
        spectrum->SetBar3Color(c);
        spectrum->SetInactive3Color(c);
      }
      levels([&](TMMLevel& l) { l.SetBar3Color(c); });
      break;
    case 4:
      if (spectrum) spectrum->SetGridColor(c);
      break;
    case 5:
      if (spectrum) {
        spectrum->SetScaleLineColor(c);
        spectrum->SetScaleTextColor(c);
      }
      break;
    default:
      break;
  }
}

void TfOutfitSpec::ApplySettings(const TAnalyzerSettings& settings) {
  for (std::size_t i = 0; i < 10; ++i) {
    if (IsStoredColor(settings.Color[i])) MMColorButton[i]->SetColor(ColorFromRgbValue(settings.Color[i]));
  }
  MMLEDSpin1->SetValue(settings.Bar1);
  MMLEDSpin55->SetValue(settings.Bar5);
  MMLEDSpin5->SetValue(settings.Bar6);
  MMLEDSpin6->SetValue(settings.Bar7);
}

void TfOutfitSpec::CollectSettings(TAnalyzerSettings& settings) const {
  for (std::size_t i = 0; i < 10; ++i) settings.Color[i] = RgbValueOf(MMColorButton[i]->Color());
  settings.Bar1 = MMLEDSpin1->Value();
  settings.Bar5 = MMLEDSpin55->Value();
  settings.Bar6 = MMLEDSpin5->Value();
  settings.Bar7 = MMLEDSpin6->Value();
}

void TfOutfitSpec::Button1Click() { close(); }

}  // namespace tv
