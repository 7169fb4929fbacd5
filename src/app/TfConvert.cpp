#include "TfConvert.h"

#include <QApplication>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

#include "AudioDialogs.h"
#include "MMMPEG.h"
#include "Messages.h"
#include "Preferences.h"
#include "TMMGauge.h"
#include "WaveDialogs.h"

namespace tv {

TfConvert::TfConvert(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("fConvert"));
  setWindowTitle(QStringLiteral("MP3 To Wave file"));
  setModal(true);
  auto* grid = new QGridLayout(this);
  grid->setContentsMargins(14, 14, 14, 14);
  grid->setVerticalSpacing(8);
  grid->addWidget(new QLabel(QStringLiteral("Mp3 File:"), this), 0, 0);
  labSource = new QLabel(this);
  labSource->setObjectName(QStringLiteral("labSource"));
  labSource->setMinimumWidth(300);
  grid->addWidget(labSource, 0, 1, 1, 2);
  grid->addWidget(new QLabel(QStringLiteral("Wave file:"), this), 1, 0);
  labDec = new QLabel(this);
  labDec->setObjectName(QStringLiteral("labDec"));
  grid->addWidget(labDec, 1, 1, 1, 2);
  Gauge = new TMMGauge(this);
  Gauge->setObjectName(QStringLiteral("Gauge"));
  grid->addWidget(Gauge, 2, 0, 1, 3);

  btnConvert = new QPushButton(QStringLiteral("Select Mp3 file"), this);
  btnConvert->setObjectName(QStringLiteral("btnConvert"));
  btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
  btnCancel->setObjectName(QStringLiteral("btnCancel"));
  btnCancel->setVisible(false);
  Button2 = new QPushButton(QStringLiteral("Done"), this);
  Button2->setObjectName(QStringLiteral("Button2"));
  grid->addWidget(btnConvert, 3, 0);
  grid->addWidget(btnCancel, 3, 1);
  grid->addWidget(Button2, 3, 2);
  connect(btnConvert, &QPushButton::clicked, this, &TfConvert::btnConvertClick);
  connect(Button2, &QPushButton::clicked, this, &TfConvert::Button2Click);
  connect(btnCancel, &QPushButton::clicked, this, [this] { converter_.Cancel(); });

  // Trigger.OnStart / OnStop of the chain.
  converter_.OnStart = [this] {
    btnConvert->setEnabled(false);
    Button2->setEnabled(false);
    btnCancel->setVisible(true);
  };
  converter_.OnFinish = [this] {
    btnConvert->setEnabled(true);
    Button2->setEnabled(true);
    btnCancel->setVisible(false);
    Gauge->SetProgress(0);
  };
  converter_.OnProgress = [this](int percent) {
    Gauge->SetProgress(percent);
    Gauge->repaint();
  };
}

bool TfConvert::Load(const QString& mp3) {
  try {
    converter_.Load(mp3.toStdString());
  } catch (const std::exception& e) {
    ShowError(this, QString::fromStdString(e.what()));
    return false;
  }
  labSource->setText(QFileInfo(mp3).fileName());
  return true;
}

void TfConvert::btnConvertClick() {
  // Without the decoder library MP3 files cannot be read at all: say so
  // before the user picks one.
  if (!MpegDecoderAvailable()) {
    ShowError(this, QString::fromStdString(MpegLoadError()));
    return;
  }
  const QString folder = ReadPreference(PreferenceRoot::CurrentUser, kPreferenceKey,
                                        QStringLiteral("InitDir"), QString());
  const QString mp3 = PromptOpenAudio(this, QStringLiteral("Load Mp3 file"), folder,
                                      QStringLiteral("Mp3 files (*.mp3)"));
  if (mp3.isEmpty() || !Load(mp3)) return;
  const QString wave = PromptSaveWave(this, QStringLiteral("Save Wave File as"), QFileInfo(mp3).absolutePath());
  if (wave.isEmpty()) return;  // idle, with the MP3 loaded
  ConvertFile(mp3, wave);
}

bool TfConvert::ConvertFile(const QString& mp3, const QString& wave) {
  if (QString::fromStdString(converter_.Source()) != mp3 && !Load(mp3)) return false;
  labDec->setText(QFileInfo(wave).fileName());
  try {
    converter_.Convert(wave.toStdString());
  } catch (const std::exception& e) {
    labDec->clear();
    ShowError(this, QString::fromStdString(e.what()));
    return false;
  }
  return true;
}

void TfConvert::Button2Click() { accept(); }

void TfConvert::reject() {
  // Closing the window while converting cancels first.
  if (converter_.Running()) {
    converter_.Cancel();
    return;
  }
  QDialog::reject();
}

}  // namespace tv
