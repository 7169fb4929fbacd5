#include "TfNormalize.h"

#include <QApplication>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

#include "Messages.h"
#include "Preferences.h"
#include "TMMGauge.h"
#include "WaveDialogs.h"
#include "WaveNormalizer.h"

namespace tv {

namespace {

QString Bare(const QString& path) { return QFileInfo(path).fileName(); }

// Restores the cursor however the work ends.
struct WaitCursor {
  WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~WaitCursor() { QApplication::restoreOverrideCursor(); }
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;
};

}  // namespace

void ShowNormalizeProgress(WaveNormalizer& normalizer, QLabel* caption, TMMGauge* gauge,
                           QLabel* peak, QLabel* gain) {
  normalizer.OnProgress = [caption, gauge](NormalizePhase phase, int percent) {
    caption->setText(phase == NormalizePhase::Scanning ? QStringLiteral("Scanning...")
                                                       : QStringLiteral("Normalize..."));
    gauge->SetProgress(percent);
    gauge->repaint();
    QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  };
  normalizer.OnPeakFound = [peak, gain](const NormalizeOutcome& o) {
    peak->setText(QString::number(o.peak));
    if (o.needsGain) gain->setText(QString::fromStdString(WaveNormalizer::GainText(o.gain)));
  };
}

void AddPeakAndGainRow(QGridLayout& grid, int row, QLabel*& peak, QLabel*& gain) {
  QWidget* parent = grid.parentWidget();
  grid.addWidget(new QLabel(QStringLiteral("Peak :"), parent), row, 0);
  peak = new QLabel(QStringLiteral("0"), parent);
  peak->setObjectName(QStringLiteral("Label2"));
  grid.addWidget(peak, row, 1);
  grid.addWidget(new QLabel(QStringLiteral("Gain :"), parent), row, 2);
  gain = new QLabel(QStringLiteral("0"), parent);
  gain->setObjectName(QStringLiteral("LabGain"));
  grid.addWidget(gain, row, 3);
}

TfNormalize::TfNormalize(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("fNormalize"));
  setWindowTitle(QStringLiteral("Normalize Wave file"));
  setModal(true);
  auto* grid = new QGridLayout(this);
  grid->setContentsMargins(14, 14, 14, 14);
  grid->setVerticalSpacing(8);

  grid->addWidget(new QLabel(QStringLiteral("Source :"), this), 0, 0);
  labSource = new QLabel(this);
  labSource->setObjectName(QStringLiteral("labSource"));
  labSource->setMinimumWidth(300);
  grid->addWidget(labSource, 0, 1, 1, 3);
  grid->addWidget(new QLabel(QStringLiteral("Destination :"), this), 1, 0);
  labdest = new QLabel(this);
  labdest->setObjectName(QStringLiteral("labdest"));
  grid->addWidget(labdest, 1, 1, 1, 3);

  AddPeakAndGainRow(*grid, 2, Label2, LabGain);

  LabGauge = new QLabel(QStringLiteral("Scanning..."), this);
  Gauge = new TMMGauge(this);
  Gauge->setObjectName(QStringLiteral("Gauge"));
  Gauge->setVisible(false);
  grid->addWidget(LabGauge, 3, 0);
  grid->addWidget(Gauge, 3, 1, 1, 3);

  btnFile = new QPushButton(QStringLiteral("Load wave file"), this);
  btnFile->setObjectName(QStringLiteral("btnFile"));
  Button2 = new QPushButton(QStringLiteral("Done"), this);
  Button2->setObjectName(QStringLiteral("Button2"));
  grid->addWidget(btnFile, 4, 0, 1, 2);
  grid->addWidget(Button2, 4, 2, 1, 2);
  connect(btnFile, &QPushButton::clicked, this, &TfNormalize::btnFileClick);
  connect(Button2, &QPushButton::clicked, this, &TfNormalize::Button2Click);
}

void TfNormalize::btnFileClick() {
  const QString folder = ReadPreference(PreferenceRoot::CurrentUser, kPreferenceKey,
                                        QStringLiteral("InitDir"), QString());
  const QString file = PromptOpenWave(this, QStringLiteral("Open Wave File"), folder);
  if (file.isEmpty()) return;
  labSource->setText(Bare(file));
  try {
    Normalise(file);
  } catch (const std::exception& e) {
    ShowError(this, QString::fromStdString(e.what()));
  }
}

void TfNormalize::Button2Click() { accept(); }

void TfNormalize::Normalise(const QString& fileName) {
  WaveNormalizer normalizer;
  ShowNormalizeProgress(normalizer, LabGauge, Gauge, Label2, LabGain);
  LabGauge->setText(QStringLiteral("Scanning..."));
  Gauge->setVisible(true);
  NormalizeOutcome outcome;
  {
    WaitCursor wait;
    outcome = normalizer.Normalize(fileName.toStdString(), [this, &fileName]() -> std::string {
      // The dialog waits for a person: no wait cursor over it.
      QApplication::restoreOverrideCursor();
      const QString dest = PromptSaveWave(this, QStringLiteral("Save Normalized File as"),
                                          QFileInfo(fileName).absolutePath());
      QApplication::setOverrideCursor(Qt::WaitCursor);
      if (!dest.isEmpty()) labdest->setText(Bare(dest));
      return dest.toStdString();
    });
  }
  if (!outcome.pcm) return;  // not PCM: passed over
  if (outcome.needsGain) {
    if (outcome.truncated) {
      ShowMessage(this, QStringLiteral("The file ended before its declared length; the normalized "
                                       "file holds what could be read."));
    }
  } else if (outcome.magnitude == 0) {
    ShowMessage(this, QStringLiteral("%1 is silent: there is nothing to normalize.").arg(Bare(fileName)));
  }
}

}  // namespace tv
