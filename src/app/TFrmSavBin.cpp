#include "TFrmSavBin.h"

#include <QFileInfo>
#include <QGridLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QVBoxLayout>

#include "DataFolder.h"
#include "FileRequest.h"
#include "TFrozenSpectra.h"
#include "TMMLEDLabel.h"

namespace tv {

namespace {

constexpr int kLedCells = 24;

}  // namespace

TFrmSavBin::TFrmSavBin(TFrozenSpectra& frozen, QWidget* parent)
    : QDialog(parent), slots_(frozen) {
  setObjectName(QStringLiteral("FrmSavBin"));
  setWindowTitle(QStringLiteral("Load Keyboard short cut"));
  setWindowFlags(Qt::Tool | Qt::WindowStaysOnTopHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
  setToolTip(QStringLiteral("You can load Short cut for the keyboard here"));

  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(10, 8, 10, 10);
  outer->setSpacing(8);
  Heading = new QLabel(QStringLiteral("Tonvista Data Value"), this);
  Heading->setObjectName(QStringLiteral("Heading"));
  QFont big = Heading->font();
  big.setBold(true);
  big.setPointSizeF(big.pointSizeF() * 1.4);
  Heading->setFont(big);
  Heading->setAlignment(Qt::AlignCenter);
  outer->addWidget(Heading);

  auto* rows = new QGridLayout();
  rows->setHorizontalSpacing(8);
  rows->setVerticalSpacing(6);
  const char* ledNames[] = {"MMLEDLABEL11", "MMLEDLABEL21", "MMLEDLABEL31", "MMLEDLABEL41"};
  const char* buttonNames[] = {"SpeedButton7", "SpeedButton9", "SpeedButton11", "SpeedButton13"};
  std::array<TMMLEDLabel*, 4> leds{};
  std::array<QPushButton*, 4> buttons{};
  for (int row = 0; row < 4; ++row) {
    auto* key = new QLabel(QStringLiteral("F%1").arg(9 + row), this);
    key->setObjectName(QStringLiteral("LabelF%1").arg(9 + row));
    QFont bold = key->font();
    bold.setBold(true);
    key->setFont(bold);
    KeyLabels[static_cast<size_t>(row)] = key;
    auto* led = new TMMLEDLabel(this);
    led->setObjectName(QString::fromLatin1(ledNames[row]));
    led->SetCells(kLedCells);
    led->SetCaption(QStringLiteral("DEFAULT"));
    leds[static_cast<size_t>(row)] = led;
    auto* load = new QPushButton(QStringLiteral("Load"), this);
    load->setObjectName(QString::fromLatin1(buttonNames[row]));
    buttons[static_cast<size_t>(row)] = load;
    rows->addWidget(key, row, 0);
    rows->addWidget(led, row, 1);
    rows->addWidget(load, row, 2);
    connect(load, &QPushButton::clicked, this, [this, row] { LoadRow(row); });
  }
  outer->addLayout(rows);
  MMLEDLABEL11 = leds[0];
  MMLEDLABEL21 = leds[1];
  MMLEDLABEL31 = leds[2];
  MMLEDLABEL41 = leds[3];
  SpeedButton7 = buttons[0];
  SpeedButton9 = buttons[1];
  SpeedButton11 = buttons[2];
  SpeedButton13 = buttons[3];

  auto* bottom = new QHBoxLayout();
  bottom->addStretch(1);
  Button1 = new QPushButton(QStringLiteral("Close"), this);
  Button1->setObjectName(QStringLiteral("Button1"));
  bottom->addWidget(Button1);
  outer->addLayout(bottom);
  connect(Button1, &QPushButton::clicked, this, &TFrmSavBin::Button1Click);
  adjustSize();
}

TMMLEDLabel* TFrmSavBin::RowLabel(int row) const {
  switch (row) {
    case 0:
      return MMLEDLABEL11;
    case 1:
      return MMLEDLABEL21;
    case 2:
      return MMLEDLABEL31;
    case 3:
      return MMLEDLABEL41;
    default:
      return nullptr;
  }
}

QString TFrmSavBin::RowText(const QString& file) {
  return file.isEmpty() ? QString() : QFileInfo(file).fileName().toUpper();
}

void TFrmSavBin::ShowSlotNames() {
  for (int row = 0; row < TFrozenSpectra::kSlots; ++row) {
    RowLabel(row)->SetCaption(RowText(slots_.FFrozenFile[static_cast<size_t>(row)]));
  }
}

void TFrmSavBin::LoadRow(int row) {
  if (RowLabel(row) == nullptr) return;
  TFileRequest request;
  request.title = QStringLiteral("Tonvista Data Value");
  request.filter = NameFilter(QStringLiteral("Tonvista Data Value "), QStringLiteral("*.sav"));
  request.defaultSuffix = QStringLiteral("sav");
  request.folder = PeakDataFolder();  // made when missing
  const QString chosen = PromptFile(this, request);
  if (chosen.isEmpty()) return;
  const QString path = QFileInfo(chosen).absoluteFilePath();
  slots_.FFrozenFile[static_cast<size_t>(row)] = path;
  RowLabel(row)->SetCaption(RowText(path));
}

void TFrmSavBin::showEvent(QShowEvent* event) {
  // A store since the last showing may have renamed a slot.
  if (!event->spontaneous()) {
    ShowSlotNames();
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
      move(screen->availableGeometry().center() - rect().center());
    }
  }
  QDialog::showEvent(event);
}

}  // namespace tv
