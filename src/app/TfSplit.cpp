#include "TfSplit.h"

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
#include "WaveSplitter.h"

namespace tv {

namespace {

struct WaitCursor {
  WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~WaitCursor() { QApplication::restoreOverrideCursor(); }
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;
};

}  // namespace

QString WaveSizeText(const QString& file, qint64 dataBytes) {
  return QFileInfo(file).fileName() + QStringLiteral("  ") + QString::number(dataBytes / 1024) +
         QStringLiteral(" kb");
}

TfSplit::TfSplit(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("fSplit"));
  setWindowTitle(QStringLiteral("Split Stereo Wave file in two Mono files"));
  setModal(true);
  auto* grid = new QGridLayout(this);
  grid->setContentsMargins(14, 14, 14, 14);
  grid->setVerticalSpacing(8);
  auto row = [&](int r, const char* caption, QLabel*& label, const char* name) {
    grid->addWidget(new QLabel(QString::fromUtf8(caption), this), r, 0);
    label = new QLabel(this);
    label->setObjectName(QString::fromUtf8(name));
    label->setMinimumWidth(280);
    grid->addWidget(label, r, 1, 1, 2);
  };
  row(0, "Stereo Wave file :", labSource, "labSource");
  row(1, "Splited Wave file L: ", labdest, "labdest");
  row(2, "Splited Wave file R: ", Label2, "Label2");
  Gauge = new TMMGauge(this);
  Gauge->setObjectName(QStringLiteral("Gauge"));
  grid->addWidget(Gauge, 3, 0, 1, 3);

  Button1 = new QPushButton(QStringLiteral("Load and Split wave file"), this);
  Button1->setObjectName(QStringLiteral("Button1"));
  btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
  btnCancel->setObjectName(QStringLiteral("btnCancel"));
  btnCancel->setVisible(false);
  Button2 = new QPushButton(QStringLiteral("Done"), this);
  Button2->setObjectName(QStringLiteral("Button2"));
  grid->addWidget(Button1, 4, 0);
  grid->addWidget(btnCancel, 4, 1);
  grid->addWidget(Button2, 4, 2);
  connect(Button1, &QPushButton::clicked, this, &TfSplit::Button1Click);
  connect(Button2, &QPushButton::clicked, this, &TfSplit::Button2Click);
  connect(btnCancel, &QPushButton::clicked, this, [this] { cancel_ = true; });
}

void TfSplit::Button1Click() {
  const QString folder = ReadPreference(PreferenceRoot::CurrentUser, kPreferenceKey,
                                        QStringLiteral("InitDir"), QString());
  const QString file = PromptOpenWave(this, QStringLiteral("Open Wave File"), folder);
  if (file.isEmpty()) return;
  SplitFile(file);
}

void TfSplit::SplitFile(const QString& fileName) {
  WaveSplitter splitter;
  cancel_ = false;
  splitter.OnProgress = [this](int percent, bool& cancel) {
    Gauge->SetProgress(percent);
    Gauge->repaint();
    QApplication::processEvents();
    cancel = cancel_;
  };
  SplitOutcome outcome;
  Button1->setEnabled(false);
  btnCancel->setVisible(true);
  try {
    WaitCursor wait;
    outcome = splitter.Split(fileName.toStdString());
  } catch (const std::exception& e) {
    Button1->setEnabled(true);
    btnCancel->setVisible(false);
    ShowError(this, QString::fromStdString(e.what()));
    return;
  }
  Button1->setEnabled(true);
  btnCancel->setVisible(false);
  Gauge->SetProgress(0);
  if (!outcome.valid) {
    ShowError(this, QString::fromStdString(LoadResString(SNotValidInputFile)));
    return;
  }
  labSource->setText(QFileInfo(fileName).fileName());
  if (outcome.cancelled) return;
  labdest->setText(WaveSizeText(QString::fromStdString(outcome.left), outcome.leftBytes));
  Label2->setText(WaveSizeText(QString::fromStdString(outcome.right), outcome.rightBytes));
  if (outcome.truncated) {
    ShowMessage(this, QStringLiteral("The file ended before its declared length; the mono files hold "
                                     "what could be read."));
  }
}

void TfSplit::Button2Click() { accept(); }

}  // namespace tv
