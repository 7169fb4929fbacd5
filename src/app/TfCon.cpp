#include "TfCon.h"

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
#include "TfNormalize.h"

namespace tv {

namespace {

QString Bare(const QString& path) { return QFileInfo(path).fileName(); }

}  // namespace

TfCon::TfCon(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("fCon"));
  setWindowTitle(QStringLiteral("Convert and Normalize a wavefile"));
  setModal(true);
  auto* grid = new QGridLayout(this);
  grid->setContentsMargins(14, 14, 14, 14);
  grid->setVerticalSpacing(8);

  LabGauge1 = new QLabel(QStringLiteral("Converting..."), this);
  Gauge1 = new TMMGauge(this);
  Gauge1->setObjectName(QStringLiteral("Gauge1"));
  Gauge1->setMinimumWidth(320);
  LabGauge = new QLabel(QStringLiteral("Scanning..."), this);
  Gauge = new TMMGauge(this);
  Gauge->setObjectName(QStringLiteral("Gauge"));
  grid->addWidget(LabGauge1, 0, 0);
  grid->addWidget(Gauge1, 0, 1, 1, 3);
  grid->addWidget(LabGauge, 1, 0);
  grid->addWidget(Gauge, 1, 1, 1, 3);

  AddPeakAndGainRow(*grid, 2, Label2, LabGain);

  grid->addWidget(new QLabel(QStringLiteral("Converted & Normalized file: "), this), 3, 0, 1, 4);
  labdest = new QLabel(this);
  labdest->setObjectName(QStringLiteral("labdest"));
  labdest->setTextInteractionFlags(Qt::TextSelectableByMouse);
  grid->addWidget(labdest, 4, 0, 1, 4);

  Button1 = new QPushButton(QStringLiteral("Load wavfile"), this);
  Button1->setObjectName(QStringLiteral("Button1"));
  Button2 = new QPushButton(QStringLiteral("Done"), this);
  Button2->setObjectName(QStringLiteral("Button2"));
  Button2->setVisible(false);
  grid->addWidget(Button1, 5, 0, 1, 2);
  grid->addWidget(Button2, 5, 2, 1, 2);
  connect(Button1, &QPushButton::clicked, this, &TfCon::Button1Click);
  connect(Button2, &QPushButton::clicked, this, &TfCon::Button2Click);

  converter_.OnConvertProgress = [this](int percent) {
    Gauge1->SetProgress(percent);
    Gauge1->repaint();
  };
  ShowNormalizeProgress(converter_.Normalizer, LabGauge, Gauge, Label2, LabGain);
}

QString TfCon::ConvertForDtmf(const QString& source) {
  Gauge1->SetProgress(0);
  return QString::fromStdString(converter_.ConvertForDtmf(source.toStdString()));
}

QString TfCon::NormalizeFile(const QString& name) {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  QString result;
  try {
    result = QString::fromStdString(converter_.NormalizeFile(name.toStdString()));
  } catch (...) {
    QApplication::restoreOverrideCursor();
    throw;
  }
  QApplication::restoreOverrideCursor();
  if (!result.isEmpty()) {
    labdest->setText(Bare(result));
    Button2->setVisible(true);
  }
  return result;
}

void TfCon::Button1Click() {
  const QString folder = ReadPreference(PreferenceRoot::CurrentUser, kPreferenceKey,
                                        QStringLiteral("InitDir"), QString());
  const QString file = PromptOpenWave(this, QStringLiteral("Open Wave File"), folder);
  if (file.isEmpty()) {
    ShowMessage(this, QStringLiteral("Please select a Wavefile!"));
    return;
  }
  try {
    // A file that is not PCM converts to nothing and is passed over.
    NormalizeFile(ConvertForDtmf(file));
  } catch (const std::exception& e) {
    ShowError(this, QString::fromStdString(e.what()));
  }
}

void TfCon::Button2Click() { accept(); }

}  // namespace tv
