#include "TPlayerPanel.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <algorithm>
#include <cstdio>

#include "PanelStyle.h"
#include "TMMBitmapButton.h"
#include "TMMGauge.h"
#include "TMMLEDMode.h"
#include "TMMLEDPanel.h"
#include "TMMLevel.h"
#include "TMMNumberEdit.h"
#include "TMMWave.h"

namespace tv {

namespace {

constexpr int kWidth = 737;
constexpr int kHeight = 205;

}  // namespace

TPlayerPanel::TPlayerPanel(QWidget* parent) : QFrame(parent) {
  StylePanel(this, "PanPlayer");
  setFixedSize(kWidth, kHeight);
  QLabel* head = MakeLabel(QStringLiteral("Wave Player"), this, "LabPlayerHead");
  head->setFont(Bold(font(), 1.05));
  SetTextColor(head, QColor(0, 95, 110));
  head->setGeometry(10, 4, 200, 18);
  BuildTransport();
  BuildFileDisplays();
  BuildScanSection();
}

void TPlayerPanel::BuildTransport() {
  const auto button = [this](TMMBitmapButton::Glyph glyph, const char* name, const QString& hint,
                             bool pressedState, void (TPlayerPanel::*signal)()) {
    auto* b = new TMMBitmapButton(glyph, this);
    b->setObjectName(QString::fromLatin1(name));
    b->setToolTip(hint);
    b->SetShowsPressedState(pressedState);
    // The pressed state follows the transport, not the click.
    if (pressedState) {
      connect(b, &TMMBitmapButton::clicked, this, [b, this, signal] {
        b->SetPressed(!b->Pressed());
        emit(this->*signal)();
      });
    } else {
      connect(b, &TMMBitmapButton::clicked, this, signal);
    }
    return b;
  };
  using G = TMMBitmapButton::Glyph;
  loadButton_ = button(G::Load, "btnLoad", QStringLiteral("Select .wav"), false,
                       &TPlayerPanel::loadClicked);
  rewindButton_ = button(G::Rewind, "MMBitmapButton4", QStringLiteral("10 % Rewind"), false,
                         &TPlayerPanel::rewindClicked);
  startButton_ = button(G::Play, "btnStart", QStringLiteral("Play"), true, &TPlayerPanel::startClicked);
  pauseButton_ = button(G::Pause, "btnPause", QStringLiteral("Pause"), true, &TPlayerPanel::pauseClicked);
  stopButton_ = button(G::Stop, "btnStop", QStringLiteral("Stop"), false, &TPlayerPanel::stopClicked);
  forwardButton_ = button(G::Forward, "MMBitmapButton3", QStringLiteral("10 % Forward"), false,
                          &TPlayerPanel::forwardClicked);
  loopButton_ = button(G::Loop, "bntloop1",
                       QStringLiteral("Play Loop from start x ms. to End time x ms."), true,
                       &TPlayerPanel::loopClicked);
  recordButton_ = button(G::Record, "bntRec", QStringLiteral("Record"), true,
                         &TPlayerPanel::recordClicked);
  int x = 10;
  for (TMMBitmapButton* b : {loadButton_, rewindButton_, startButton_, pauseButton_, stopButton_,
                             forwardButton_, loopButton_, recordButton_}) {
    b->move(x, 25);
    x += b->width() + (b == loadButton_ || b == forwardButton_ ? 9 : 3);
  }
  transportEnd_ = x;

  // The panel's small level meters.
  leftMeter_ = new TMMLevel(TMMLevel::Design::MMLevel3, this);
  rightMeter_ = new TMMLevel(TMMLevel::Design::MMLevel4, this);
  for (int i = 0; i < 2; ++i) {
    TMMLevel* meter = i == 0 ? leftMeter_ : rightMeter_;
    meter->setGeometry(x + 18, 26 + i * 15, 92, 11);
    QLabel* channel = MakeLabel(i == 0 ? QStringLiteral("L") : QStringLiteral("R"), this);
    channel->setFont(Scaled(font(), 0.85));
    channel->setGeometry(x + 6, 24 + i * 15, 10, 14);
  }

  positionSlider_ = new QSlider(Qt::Horizontal, this);
  positionSlider_->setObjectName(QStringLiteral("TrackBar"));
  positionSlider_->setGeometry(8, 58, 412, 22);
  positionSlider_->setRange(0, 0);
  positionSlider_->setEnabled(false);  // until a file with data is loaded
  connect(positionSlider_, &QSlider::sliderPressed, this, [this] { tracking_ = true; });
  connect(positionSlider_, &QSlider::sliderReleased, this, [this] {
    tracking_ = false;
    emit trackEnded();
  });
  connect(positionSlider_, &QSlider::valueChanged, this, &TPlayerPanel::TrackBarChange);
}

void TPlayerPanel::BuildFileDisplays() {
  MakeLabel(QStringLiteral("Time :"), this)->setGeometry(10, 84, 42, 20);
  elapsedLabel_ = Readout(QStringLiteral("00:00.000"), this, "Label10");
  elapsedLabel_->setGeometry(54, 84, 96, 20);
  elapsedLabel_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  MakeLabel(QStringLiteral("Remain :"), this)->setGeometry(166, 84, 58, 20);
  remainingLabel_ = Readout(QStringLiteral("00:00.000"), this, "labLeft");
  remainingLabel_->setGeometry(226, 84, 96, 20);
  remainingLabel_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

  fileLabel_ = Readout(QStringLiteral("No Wav File selected"), this, "LabFile");
  fileLabel_->setGeometry(10, 110, 410, 20);

  const auto panel = [this](const char* name, int digits, const QString& unit, int x, int width) {
    auto* p = new TMMLEDPanel(this);
    p->setObjectName(QString::fromLatin1(name));
    p->SetDigits(digits);
    p->SetUnit(unit);
    p->setGeometry(x, 136, width, 30);
    return p;
  };
  rateDisplay_ = panel("MMLEDPanel6", 5, QStringLiteral("Hz"), 10, 112);
  bitsDisplay_ = panel("MMLEDPanel7", 2, QStringLiteral("Bit"), 128, 64);
  channelDisplay_ = new TMMLEDMode(this);
  channelDisplay_->setObjectName(QStringLiteral("MMLEDMode2"));
  channelDisplay_->setGeometry(198, 136, 70, 30);
  sizeDisplay_ = panel("MMLEDPanel1", 6, QStringLiteral("kb"), 274, 146);

  recordLabel_ = Readout(QStringLiteral("No record File selected"), this, "labRec");
  recordLabel_->setGeometry(10, 174, 200, 20);

  // The loop range in milliseconds.
  const auto loopEdit = [this](const QString& caption, const char* name, int x) {
    QLabel* label = MakeLabel(caption, this);
    label->setFont(Scaled(font(), 0.85));
    label->setGeometry(x - 2, 168, 100, 12);
    auto* edit = new TMMNumberEdit(this);
    edit->setObjectName(QString::fromLatin1(name));
    edit->SetRange(0, 100000000);
    edit->SetValue(0);
    edit->setGeometry(x, 181, 96, 20);
    return edit;
  };
  loopStartEdit_ = loopEdit(QStringLiteral(" Start time in ms.  "), "edts1", 218);
  loopEndEdit_ = loopEdit(QStringLiteral(" End time in ms.  "), "edte1", 324);
}

void TPlayerPanel::BuildScanSection() {
  auto* scan = new QFrame(this);
  scan->setObjectName(QStringLiteral("PanScan"));
  scan->setFrameShape(QFrame::StyledPanel);
  scan->setFrameShadow(QFrame::Sunken);
  scan->setGeometry(432, 6, kWidth - 440, kHeight - 12);
  const int sw = scan->width();

  scanButton_ = new QPushButton(QStringLiteral("Scan for DTMF Tones"), scan);
  scanButton_->setObjectName(QStringLiteral("labTriggerStart"));
  scanButton_->setFont(Bold(font(), 1.15));
  scanButton_->setGeometry(8, 8, sw - 16, 32);
  connect(scanButton_, &QPushButton::clicked, this, &TPlayerPanel::scanClicked);

  scanGauge_ = new TMMGauge(scan);
  scanGauge_->setObjectName(QStringLiteral("Gauge"));
  scanGauge_->setGeometry(8, 46, sw - 16, 18);

  thresholdLabel_ = MakeLabel(QStringLiteral("Threshold: %1").arg(kThresholdMin), scan, "Label8");
  thresholdLabel_->setFont(Bold(font()));
  thresholdLabel_->setGeometry(8, 72, sw - 16, 16);

  thresholdSlider_ = new QSlider(Qt::Horizontal, scan);
  thresholdSlider_->setObjectName(QStringLiteral("tbThresh"));
  thresholdSlider_->setRange(kThresholdMin, kThresholdMax);
  thresholdSlider_->setSingleStep(1);
  thresholdSlider_->setPageStep(25);
  thresholdSlider_->setTickPosition(QSlider::TicksBelow);
  thresholdSlider_->setTickInterval(25);
  thresholdSlider_->setValue(kThresholdMin);
  thresholdSlider_->setGeometry(6, 90, sw - 12, 26);
  connect(thresholdSlider_, &QSlider::valueChanged, this, &TPlayerPanel::tbThreshChange);

  QLabel* low = MakeLabel(QStringLiteral("Not loud/ besides noise"), scan, "LabThreshLow");
  low->setFont(Scaled(font(), 0.85));
  low->setGeometry(8, 118, (sw - 16) / 2, 14);
  QLabel* high = MakeLabel(QStringLiteral("Fast (1ms) & Clean"), scan, "LabThreshHigh");
  high->setFont(Scaled(font(), 0.85));
  high->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  high->setGeometry(sw / 2, 118, sw / 2 - 8, 14);

  showResultsBox_ = new QCheckBox(QStringLiteral("Show Results from decodated files"), scan);
  showResultsBox_->setObjectName(QStringLiteral("cb_result"));
  showResultsBox_->setChecked(true);
  showResultsBox_->setGeometry(8, 146, sw - 16, 20);

  resultEdit_ = new QLineEdit(scan);
  resultEdit_->setObjectName(QStringLiteral("ed_result"));
  resultEdit_->setGeometry(8, 170, sw - 16, 20);
  resultEdit_->hide();
}

QString TPlayerPanel::FormatTime(int64_t ms) {
  if (ms < 0) ms = 0;
  const auto part = [ms](int64_t unit, int64_t range) { return static_cast<int>((ms / unit) % range); };
  char text[64];
  if (ms < 3600000) {
    std::snprintf(text, sizeof text, "%d:%2.2d.%3.3d", static_cast<int>(ms / 60000), part(1000, 60),
                  part(1, 1000));
  } else if (ms < 86400000) {
    std::snprintf(text, sizeof text, "%d:%2.2d:%2.2d.%3.3d", static_cast<int>(ms / 3600000),
                  part(60000, 60), part(1000, 60), part(1, 1000));
  } else {
    std::snprintf(text, sizeof text, "%d:%2.2d:%2.2d:%2.2d.%3.3d", static_cast<int>(ms / 86400000),
                  part(3600000, 24), part(60000, 60), part(1000, 60), part(1, 1000));
  }
  return QString::fromLatin1(text);
}

void TPlayerPanel::ShowFileInfo(const TMMWave& wave) {
  const auto length = static_cast<int>(std::min<int64_t>(wave.DataSize(), INT32_MAX));
  positionSlider_->setEnabled(!wave.Empty());
  positionSlider_->setMaximum(length);
  remainingLabel_->setText(FormatTime(length));
  bitsDisplay_->SetValue(wave.BitLength());
  rateDisplay_->SetValue(wave.SampleRate());
  const WAVEFORMATEX* f = wave.PWaveFormat();
  channelDisplay_->SetChannels(f != nullptr ? f->nChannels : 0);
  const QFileInfo file(QString::fromStdString(wave.FileName()));
  // A file that cannot be found counts as -1 bytes, which shows as 0 kb.
  const qint64 bytes = file.exists() ? file.size() : -1;
  sizeDisplay_->SetValue(static_cast<int>(bytes / 1024));
  fileLabel_->setText(file.fileName());
}

void TPlayerPanel::SetPosition(int ms) { positionSlider_->setValue(ms); }

int TPlayerPanel::Position() const { return positionSlider_->value(); }

void TPlayerPanel::TrackBarChange() {
  const int position = positionSlider_->value();
  elapsedLabel_->setText(FormatTime(position));
  remainingLabel_->setText(FormatTime(positionSlider_->maximum() - position));
}

QString TPlayerPanel::ElapsedText() const { return elapsedLabel_->text(); }

QString TPlayerPanel::RemainingText() const { return remainingLabel_->text(); }

void TPlayerPanel::SetElapsedText(const QString& text) { elapsedLabel_->setText(text); }

void TPlayerPanel::SetRecordName(const QString& name) {
  recordLabel_->setText(name.isEmpty() ? QStringLiteral("No record File selected") : name);
}

void TPlayerPanel::SetLoopEnd(int ms) {
  loopEndEdit_->SetRange(0, ms);
  loopEndEdit_->SetValue(ms);
}

int TPlayerPanel::ScanProgress() const { return scanGauge_->Progress(); }

void TPlayerPanel::SetScanProgress(int percent) { scanGauge_->SetProgress(percent); }

int TPlayerPanel::Threshold() const { return thresholdSlider_->value(); }

bool TPlayerPanel::ShowsResults() const { return showResultsBox_->isChecked(); }

void TPlayerPanel::SetShowsResults(bool on) { showResultsBox_->setChecked(on); }

QString TPlayerPanel::SelectResult(const QString& text) {
  resultEdit_->setText(text);
  resultEdit_->selectAll();
  return resultEdit_->selectedText();
}

void TPlayerPanel::tbThreshChange() {
  const int position = thresholdSlider_->value();
  thresholdLabel_->setText(QStringLiteral("Threshold: %1").arg(position));
  emit thresholdChanged(position);
}

}  // namespace tv
