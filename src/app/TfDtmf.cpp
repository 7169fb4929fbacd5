#include "TfDtmf.h"

#include <QCheckBox>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QVBoxLayout>
#include <algorithm>

#include "Preferences.h"
#include "TMMLEDSpin.h"
#include "TMMNumberEdit.h"
#include "TMMRadioGroup.h"

namespace tv {

namespace {

// Keys of the grid, row by row; columns follow n1..n4, rows n5..n8.
constexpr const char* kGridKeys[4][4] = {
    {"1", "2", "3", "A"}, {"4", "5", "6", "B"}, {"7", "8", "9", "C"}, {"*", "0", "#", "D"}};

QLabel* KeyCap(const QString& text, QWidget* parent) {
  auto* cap = new QLabel(text, parent);
  cap->setAlignment(Qt::AlignCenter);
  cap->setFrameShape(QFrame::Panel);
  cap->setFrameShadow(QFrame::Raised);
  cap->setLineWidth(2);
  cap->setMinimumSize(58, 34);
  QFont f = cap->font();
  f.setPointSizeF(f.pointSizeF() * 1.5);
  f.setBold(true);
  cap->setFont(f);
  cap->setAutoFillBackground(true);
  QPalette pal = cap->palette();
  pal.setColor(QPalette::Window, QColor(236, 236, 234));
  cap->setPalette(pal);
  return cap;
}

}  // namespace

TfDtmf::TfDtmf(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("fDtmf"));
  setWindowTitle(QStringLiteral("Frequencies settings"));
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
  setModal(true);

  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(12, 12, 12, 12);
  outer->setSpacing(10);

  customGroup_ = new TMMRadioGroup(QStringLiteral(" Frequencies "), this);
  customGroup_->setObjectName(QStringLiteral("rgCustom"));
  customGroup_->SetItems({QStringLiteral("DTMF Signals"), QStringLiteral("Custom")});
  customGroup_->SetColumns(2);
  customGroup_->SetItemIndex(0);
  outer->addWidget(customGroup_);

  auto* gridFrame = new QFrame(this);
  gridFrame->setFrameShape(QFrame::StyledPanel);
  gridFrame->setFrameShadow(QFrame::Sunken);
  auto* grid = new QGridLayout(gridFrame);
  grid->setContentsMargins(10, 10, 10, 10);
  grid->setSpacing(6);
  auto* corner = new QLabel(QStringLiteral("Hz"), gridFrame);
  corner->setObjectName(QStringLiteral("LabHz"));
  corner->setAlignment(Qt::AlignCenter);
  QFont bold = corner->font();
  bold.setBold(true);
  corner->setFont(bold);
  grid->addWidget(corner, 0, 0);
  for (size_t i = 0; i < edits_.size(); ++i) {
    auto* e = new TMMNumberEdit(gridFrame);
    e->setObjectName(QStringLiteral("n%1").arg(i + 1));
    e->SetRange(kMinFrequency, kMaxFrequency);
    e->SetValue(kStandardFrequencies[i]);
    e->setEnabled(false);
    e->setFixedWidth(62);
    e->setAlignment(Qt::AlignCenter);
    edits_[i] = e;
    if (i < 4) {
      grid->addWidget(e, 0, static_cast<int>(i) + 1, Qt::AlignCenter);
    } else {
      grid->addWidget(e, static_cast<int>(i) - 3, 0, Qt::AlignCenter);
    }
  }
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 4; ++c) {
      QLabel* cap = KeyCap(QString::fromLatin1(kGridKeys[r][c]), gridFrame);
      cap->setObjectName(QStringLiteral("LabKey%1%2").arg(r + 1).arg(c + 1));
      grid->addWidget(cap, r + 1, c + 1);
    }
  }
  outer->addWidget(gridFrame);

  auto* factRow = new QHBoxLayout();
  auto* offsetCaption = new QLabel(QStringLiteral("Increment or decrement Freq. Factor"), this);
  offsetCaption->setObjectName(QStringLiteral("LabFact"));
  offsetSpin_ = new TMMLEDSpin(this);
  offsetSpin_->setObjectName(QStringLiteral("spFact"));
  offsetSpin_->SetRange(-1633, 1633);
  offsetSpin_->SetIncrement(1);
  offsetSpin_->SetDigits(3);
  offsetSpin_->SetValue(0);
  offsetSpin_->setFixedSize(118, 30);
  factRow->addWidget(offsetCaption);
  factRow->addStretch(1);
  factRow->addWidget(offsetSpin_);
  outer->addLayout(factRow);

  strictCheck_ = new QCheckBox(QStringLiteral("Strict tone check"), this);
  strictCheck_->setObjectName(QStringLiteral("cbStrict"));
  strictCheck_->setToolTip(
      QStringLiteral("Accept only tones that meet the telephone receiver limits (frequency, duration, "
                     "twist, noise) and ignore speech and music; uses the standard frequencies. "
                     "The Real Time mode then also shows the keys it hears"));
  strictCheck_->setChecked(false);
  outer->addWidget(strictCheck_);

  auto* buttons = new QHBoxLayout();
  buttons->addStretch(1);
  auto* closeButton = new QPushButton(QStringLiteral("Close"), this);
  closeButton->setObjectName(QStringLiteral("Button1"));
  closeButton->setDefault(true);
  closeButton->setMinimumWidth(90);
  buttons->addWidget(closeButton);
  outer->addLayout(buttons);

  connect(customGroup_, &TMMRadioGroup::clicked, this, &TfDtmf::rgCustomClick);
  connect(offsetSpin_, &TMMLEDSpin::valueChanged, this, &TfDtmf::spFactChange);
  connect(closeButton, &QPushButton::clicked, this, &TfDtmf::Button1Click);

  outer->setSizeConstraint(QLayout::SetFixedSize);
}

void TfDtmf::SetStandardValues() {
  for (size_t i = 0; i < edits_.size(); ++i) edits_[i]->SetValue(kStandardFrequencies[i]);
}

void TfDtmf::showEvent(QShowEvent* event) {
  if (!event->spontaneous()) {
    FormShow();
    // Centred on the screen, not on the window that opened it.
    if (QScreen* screen = this->screen()) {
      QRect frame = frameGeometry();
      frame.moveCenter(screen->availableGeometry().center());
      move(frame.topLeft());
    }
  }
  QDialog::showEvent(event);
}

void TfDtmf::done(int result) {
  FormClose();
  QDialog::done(result);
}

void TfDtmf::FormShow() {
  const auto root = PreferenceRoot::CurrentUser;
  // Each setter fires its handler only when the value changes, exactly as
  // a click would.
  customGroup_->SetItemIndex(
      ReadPreference(root, kDtmfPreferenceKey, QStringLiteral("Custom"), customGroup_->ItemIndex()));
  offsetSpin_->SetValue(
      ReadPreference(root, kDtmfPreferenceKey, QStringLiteral("Factor"), offsetSpin_->Value()));
  strictCheck_->setChecked(StoredStrictToneCheck());
  if (customGroup_->ItemIndex() != 1) {
    SetStandardValues();
    return;
  }
  for (size_t i = 0; i < edits_.size(); ++i) {
    edits_[i]->SetValue(
        ReadPreference(root, kDtmfPreferenceKey, QStringLiteral("N%1").arg(i + 1), edits_[i]->Value()));
  }
}

void TfDtmf::FormClose() {
  const auto root = PreferenceRoot::CurrentUser;
  WritePreference(root, kDtmfPreferenceKey, QStringLiteral("Custom"), customGroup_->ItemIndex());
  WritePreference(root, kDtmfPreferenceKey, QStringLiteral("Factor"), offsetSpin_->Value());
  WritePreference(root, kDtmfPreferenceKey, QStringLiteral("Strict"), strictCheck_->isChecked());
  if (customGroup_->ItemIndex() == 1) {
    for (size_t i = 0; i < edits_.size(); ++i) {
      WritePreference(root, kDtmfPreferenceKey, QStringLiteral("N%1").arg(i + 1), edits_[i]->Value());
    }
  }
}

void TfDtmf::rgCustomClick() {
  const bool custom = customGroup_->ItemIndex() != 0;
  for (TMMNumberEdit* e : edits_) e->setEnabled(custom);
  if (!custom) SetStandardValues();
}

void TfDtmf::spFactChange() {
  customGroup_->SetItemIndex(1);
  const int offset = offsetSpin_->Value();
  for (size_t i = 0; i < edits_.size(); ++i) {
    // SetValue clamps to 0..22000.
    edits_[i]->SetValue(kStandardFrequencies[i] + offset);
  }
}

void TfDtmf::Button1Click() { close(); }

bool TfDtmf::StrictToneCheck() const { return strictCheck_->isChecked(); }

bool TfDtmf::StoredStrictToneCheck() {
  return ReadPreference(PreferenceRoot::CurrentUser, kDtmfPreferenceKey, QStringLiteral("Strict"), false);
}

}  // namespace tv
