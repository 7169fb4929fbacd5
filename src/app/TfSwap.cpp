#include "TfSwap.h"

#include <QApplication>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

#include "MMErrors.h"
#include "Messages.h"
#include "Preferences.h"
#include "TMMGauge.h"
#include "WaveDialogs.h"
#include "WaveSwapper.h"
#include "TfSplit.h"

namespace tv {

TfSwap::TfSwap(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("fSwap"));
  setWindowTitle(QStringLiteral("Swap channels in a wave file"));
  setModal(true);
  auto* grid = new QGridLayout(this);
  grid->setContentsMargins(14, 14, 14, 14);
  grid->setVerticalSpacing(8);
  grid->addWidget(new QLabel(QStringLiteral("Stereo Wave file :"), this), 0, 0);
  labSource = new QLabel(this);
  labSource->setObjectName(QStringLiteral("labSource"));
  labSource->setMinimumWidth(280);
  grid->addWidget(labSource, 0, 1, 1, 2);
  grid->addWidget(new QLabel(QStringLiteral("Swapped Wave file :"), this), 1, 0);
  labdest = new QLabel(this);
  labdest->setObjectName(QStringLiteral("labdest"));
  grid->addWidget(labdest, 1, 1, 1, 2);
  Gauge = new TMMGauge(this);
  Gauge->setObjectName(QStringLiteral("Gauge"));
  grid->addWidget(Gauge, 2, 0, 1, 3);

  Button1 = new QPushButton(QStringLiteral("Load and swap left and right channel"), this);
  Button1->setObjectName(QStringLiteral("Button1"));
  btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
  btnCancel->setObjectName(QStringLiteral("btnCancel"));
  btnCancel->setVisible(false);
  Button2 = new QPushButton(QStringLiteral("Done"), this);
  Button2->setObjectName(QStringLiteral("Button2"));
  grid->addWidget(Button1, 3, 0);
  grid->addWidget(btnCancel, 3, 1);
  grid->addWidget(Button2, 3, 2);
  connect(Button1, &QPushButton::clicked, this, &TfSwap::Button1Click);
  connect(Button2, &QPushButton::clicked, this, &TfSwap::Button2Click);
  connect(btnCancel, &QPushButton::clicked, this, [this] { cancel_ = true; });
}

void TfSwap::Button1Click() {
  const QString folder = ReadPreference(PreferenceRoot::CurrentUser, kPreferenceKey,
                                        QStringLiteral("InitDir"), QString());
  const QString file = PromptOpenWave(this, QStringLiteral("Open Wave File"), folder);
  if (file.isEmpty()) return;
  SwapFile(file);
}

void TfSwap::SwapFile(const QString& fileName) {
  labSource->setText(QFileInfo(fileName).fileName());
  WaveSwapper swapper;
  cancel_ = false;
  swapper.OnProgress = [this](int percent, bool& cancel) {
    Gauge->SetProgress(percent);
    Gauge->repaint();
    QApplication::processEvents();
    cancel = cancel_;
  };
  SwapOutcome outcome;
  Button1->setEnabled(false);
  btnCancel->setVisible(true);
  QApplication::setOverrideCursor(Qt::WaitCursor);
  try {
    outcome = swapper.Swap(fileName.toStdString());
  } catch (const std::exception& e) {
    QApplication::restoreOverrideCursor();
    Button1->setEnabled(true);
    btnCancel->setVisible(false);
    ShowError(this, QString::fromStdString(e.what()));
    return;
  }
  QApplication::restoreOverrideCursor();
  Button1->setEnabled(true);
  btnCancel->setVisible(false);
  Gauge->SetProgress(0);
  if (!outcome.valid) {
    ShowError(this, QString::fromStdString(LoadResString(SNotValidInputFile)));
    return;
  }
  if (outcome.cancelled) return;
  labdest->setText(WaveSizeText(QString::fromStdString(outcome.destination), outcome.bytes));
  if (outcome.truncated) {
    ShowMessage(this, QStringLiteral("The file ended before its declared length; the copy holds what "
                                     "could be read."));
  }
}

void TfSwap::Button2Click() { accept(); }

}  // namespace tv
