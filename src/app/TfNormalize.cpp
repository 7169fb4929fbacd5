#include "TfNormalize.h"

#include <QApplication>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QMetaObject>
#include <QPushButton>
#include <atomic>
#include <memory>

#include "MMErrors.h"
#include "Messages.h"
#include "Preferences.h"
#include "TMMGauge.h"
#include "WaveDialogs.h"
#include "WaveNormalizer.h"

namespace tv {

namespace {

QString Bare(const QString& path) { return QFileInfo(path).fileName(); }

}  // namespace

void ShowNormalizeProgress(WaveNormalizer& normalizer, QLabel* caption, TMMGauge* gauge,
                           QLabel* peak, QLabel* gain) {
  // Only changes travel: a pass reports every block.
  auto last = std::make_shared<std::atomic<int>>(-1);
  normalizer.OnProgress = [caption, gauge, last](NormalizePhase phase, int percent) {
    const int step = static_cast<int>(phase) * 1000 + percent;
    if (last->exchange(step) == step) return;
    QMetaObject::invokeMethod(
        gauge,
        [caption, gauge, phase, percent] {
          caption->setText(phase == NormalizePhase::Scanning ? QStringLiteral("Scanning...")
                                                             : QStringLiteral("Normalize..."));
          gauge->SetProgress(percent);
        },
        Qt::QueuedConnection);
  };
  normalizer.OnPeakFound = [peak, gain](const NormalizeOutcome& o) {
    QMetaObject::invokeMethod(
        peak,
        [peak, gain, o] {
          peak->setText(QString::number(o.peak));
          if (o.needsGain) gain->setText(QString::fromStdString(WaveNormalizer::GainText(o.gain)));
        },
        Qt::QueuedConnection);
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
  sourceLabel_ = new QLabel(this);
  sourceLabel_->setObjectName(QStringLiteral("labSource"));
  sourceLabel_->setMinimumWidth(300);
  grid->addWidget(sourceLabel_, 0, 1, 1, 3);
  grid->addWidget(new QLabel(QStringLiteral("Destination :"), this), 1, 0);
  destinationLabel_ = new QLabel(this);
  destinationLabel_->setObjectName(QStringLiteral("labdest"));
  grid->addWidget(destinationLabel_, 1, 1, 1, 3);

  AddPeakAndGainRow(*grid, 2, peakLabel_, gainLabel_);

  gaugeCaption_ = new QLabel(QStringLiteral("Scanning..."), this);
  gauge_ = new TMMGauge(this);
  gauge_->setObjectName(QStringLiteral("Gauge"));
  gauge_->setVisible(false);
  grid->addWidget(gaugeCaption_, 3, 0);
  grid->addWidget(gauge_, 3, 1, 1, 3);

  auto* fileButton = new QPushButton(QStringLiteral("Load wave file"), this);
  fileButton->setObjectName(QStringLiteral("btnFile"));
  auto* doneButton = new QPushButton(QStringLiteral("Done"), this);
  doneButton->setObjectName(QStringLiteral("Button2"));
  grid->addWidget(fileButton, 4, 0, 1, 2);
  grid->addWidget(doneButton, 4, 2, 1, 2);
  connect(fileButton, &QPushButton::clicked, this, &TfNormalize::btnFileClick);
  connect(doneButton, &QPushButton::clicked, this, &TfNormalize::Button2Click);
}

TfNormalize::~TfNormalize() {
  if (!worker_.joinable()) return;
  {
    // A worker waiting for a destination gets none: it writes nothing.
    std::lock_guard lock(destinationLock_);
    if (!destination_) destination_ = std::string();
  }
  destinationGiven_.notify_all();
  worker_.join();
}

void TfNormalize::btnFileClick() {
  if (Busy()) return;
  const QString folder = ReadPreference(PreferenceRoot::CurrentUser, kPreferenceKey,
                                        QStringLiteral("InitDir"), QString());
  const QString file = PromptOpenWave(this, QStringLiteral("Open Wave File"), folder);
  if (file.isEmpty()) return;
  sourceLabel_->setText(Bare(file));
  Normalise(file);
}

void TfNormalize::Button2Click() { accept(); }

void TfNormalize::done(int result) {
  if (Busy()) return;
  QDialog::done(result);
}

bool TfNormalize::Normalise(const QString& fileName) {
  if (Busy()) return false;
  gaugeCaption_->setText(QStringLiteral("Scanning..."));
  gauge_->SetProgress(0);
  gauge_->setVisible(true);
  {
    std::lock_guard lock(destinationLock_);
    destination_.reset();
  }
  QApplication::setOverrideCursor(Qt::WaitCursor);
  worker_ = std::thread([this, fileName] {
    WaveNormalizer normalizer;
    ShowNormalizeProgress(normalizer, gaugeCaption_, gauge_, peakLabel_, gainLabel_);
    NormalizeOutcome outcome;
    QString error;
    try {
      outcome = normalizer.Normalize(fileName.toStdString(), [this, fileName] { return AskDestination(fileName); });
    } catch (const std::exception& e) {
      error = QString::fromStdString(PlainMessage(e.what()));
    } catch (...) {
      error = QStringLiteral("Unknown error");
    }
    QMetaObject::invokeMethod(
        this, [this, fileName, outcome, error] { Finished(fileName, outcome, error); },
        Qt::QueuedConnection);
  });
  return true;
}

std::string TfNormalize::AskDestination(const QString& fileName) {
  // On the worker, between the passes: the GUI thread asks the person.
  QMetaObject::invokeMethod(
      this,
      [this, fileName] {
        // The dialog waits for a person: no wait cursor over it.
        QApplication::restoreOverrideCursor();
        const QString dest = PromptSaveWave(this, QStringLiteral("Save Normalized File as"),
                                            QFileInfo(fileName).absolutePath());
        QApplication::setOverrideCursor(Qt::WaitCursor);
        if (!dest.isEmpty()) destinationLabel_->setText(Bare(dest));
        {
          std::lock_guard lock(destinationLock_);
          destination_ = dest.toStdString();
        }
        destinationGiven_.notify_all();
      },
      Qt::QueuedConnection);
  std::unique_lock lock(destinationLock_);
  destinationGiven_.wait(lock, [this] { return destination_.has_value(); });
  return *destination_;
}

void TfNormalize::Finished(const QString& fileName, const NormalizeOutcome& outcome,
                           const QString& error) {
  worker_.join();
  QApplication::restoreOverrideCursor();
  if (!error.isEmpty()) {
    ShowError(this, error);
    return;
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
