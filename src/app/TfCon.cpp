#include "TfCon.h"

#include <QApplication>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QMetaObject>
#include <QPushButton>

#include "MMErrors.h"
#include "Messages.h"
#include "Preferences.h"
#include "TMMGauge.h"
#include "TfNormalize.h"
#include "WaveDialogs.h"

namespace tv {

namespace {

QString Bare(const QString& path) { return QFileInfo(path).fileName(); }

}  // namespace

TfCon::TfCon(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("fCon"));
  setWindowTitle(QStringLiteral("Convert and Normalize a wavefile"));
  // Application-modal: while it works, the other windows wait.
  setModal(true);
  auto* grid = new QGridLayout(this);
  grid->setContentsMargins(14, 14, 14, 14);
  grid->setVerticalSpacing(8);

  auto* convertCaption = new QLabel(QStringLiteral("Converting..."), this);
  convertGauge_ = new TMMGauge(this);
  convertGauge_->setObjectName(QStringLiteral("Gauge1"));
  convertGauge_->setMinimumWidth(320);
  auto* normalizeCaption = new QLabel(QStringLiteral("Scanning..."), this);
  auto* normalizeGauge = new TMMGauge(this);
  normalizeGauge->setObjectName(QStringLiteral("Gauge"));
  grid->addWidget(convertCaption, 0, 0);
  grid->addWidget(convertGauge_, 0, 1, 1, 3);
  grid->addWidget(normalizeCaption, 1, 0);
  grid->addWidget(normalizeGauge, 1, 1, 1, 3);

  QLabel* peak = nullptr;
  QLabel* gain = nullptr;
  AddPeakAndGainRow(*grid, 2, peak, gain);

  grid->addWidget(new QLabel(QStringLiteral("Converted & Normalized file: "), this), 3, 0, 1, 4);
  destinationLabel_ = new QLabel(this);
  destinationLabel_->setObjectName(QStringLiteral("labdest"));
  destinationLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  grid->addWidget(destinationLabel_, 4, 0, 1, 4);

  auto* loadButton = new QPushButton(QStringLiteral("Load wavfile"), this);
  loadButton->setObjectName(QStringLiteral("Button1"));
  doneButton_ = new QPushButton(QStringLiteral("Done"), this);
  doneButton_->setObjectName(QStringLiteral("Button2"));
  doneButton_->setVisible(false);
  grid->addWidget(loadButton, 5, 0, 1, 2);
  grid->addWidget(doneButton_, 5, 2, 1, 2);
  connect(loadButton, &QPushButton::clicked, this, &TfCon::Button1Click);
  connect(doneButton_, &QPushButton::clicked, this, &TfCon::Button2Click);

  // Both steps report from the worker; the gauges follow on the GUI thread.
  converter_.OnConvertProgress = [this](int percent) {
    if (convertPercent_.exchange(percent) == percent) return;
    QMetaObject::invokeMethod(
        this, [this, percent] { ShowConvertProgress(percent); }, Qt::QueuedConnection);
  };
  ShowNormalizeProgress(converter_.Normalizer(), normalizeCaption, normalizeGauge, peak, gain);
}

TfCon::~TfCon() {
  if (worker_.joinable()) worker_.join();
}

void TfCon::ShowConvertProgress(int percent) { convertGauge_->SetProgress(percent); }

bool TfCon::Prepare(const QString& source, TPrepared done) {
  if (Busy()) return false;
  done_ = std::move(done);
  convertPercent_.store(-1);
  convertGauge_->SetProgress(0);
  show();
  raise();
  QApplication::setOverrideCursor(Qt::WaitCursor);
  worker_ = std::thread([this, file = source.toStdString()] {
    std::string name;
    std::string error;
    try {
      name = converter_.NormalizeFile(converter_.ConvertForDtmf(file));
    } catch (const std::exception& e) {
      error = PlainMessage(e.what());
    } catch (...) {
      error = "Unknown error";
    }
    QMetaObject::invokeMethod(
        this,
        [this, name = QString::fromStdString(name), error = QString::fromStdString(error)] {
          Prepared(name, error);
        },
        Qt::QueuedConnection);
  });
  return true;
}

void TfCon::Prepared(const QString& name, const QString& error) {
  worker_.join();
  QApplication::restoreOverrideCursor();
  if (!name.isEmpty()) {
    destinationLabel_->setText(Bare(name));
    doneButton_->setVisible(true);
  }
  TPrepared done = std::move(done_);
  done_ = nullptr;
  if (done) done(name, error);
}

void TfCon::done(int result) {
  if (Busy()) return;
  QDialog::done(result);
}

void TfCon::Button1Click() {
  const QString folder = ReadPreference(PreferenceRoot::CurrentUser, kPreferenceKey,
                                        QStringLiteral("InitDir"), QString());
  const QString file = PromptOpenWave(this, QStringLiteral("Open Wave File"), folder);
  if (file.isEmpty()) {
    ShowMessage(this, QStringLiteral("Please select a Wavefile!"));
    return;
  }
  // A file that is not PCM converts to nothing and is passed over.
  Prepare(file, [this](const QString&, const QString& error) {
    if (!error.isEmpty()) ShowError(this, error);
  });
}

void TfCon::Button2Click() { accept(); }

}  // namespace tv
