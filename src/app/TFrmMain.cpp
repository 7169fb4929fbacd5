#include "TFrmMain.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QClipboard>
#include <QCloseEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMetaObject>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QSlider>
#include <QThread>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdio>

#include "DataFolder.h"
#include "DisplayPlaceholders.h"
#include "DtmfKeys.h"
#include "DtmfScanner.h"
#include "MMErrors.h"
#include "TMMPeakDetect.h"
#include "TMMTrigger.h"
#include "TMMWave.h"
#include "TMMWaveFile.h"
#include "Messages.h"
#include "Preferences.h"
#include "TMMBitmapButton.h"
#include "TMMGauge.h"
#include "TMMLEDLabel.h"
#include "TMMLEDPanel.h"
#include "TMMLed.h"
#include "TMMNumberEdit.h"
#include "WaveDialogs.h"
#include "TfCon.h"
#include "TfDtmf.h"
#include "TFrmInfo.h"
#include "TfNormalize.h"
#include "Tf_result.h"

namespace tv {

namespace {

constexpr auto kRoot = PreferenceRoot::CurrentUser;

QFont Bold(QFont f, qreal scale = 1.0) {
  f.setBold(true);
  if (scale != 1.0) f.setPointSizeF(f.pointSizeF() * scale);
  return f;
}

QFont Scaled(QFont f, qreal scale) {
  f.setPointSizeF(f.pointSizeF() * scale);
  return f;
}

void SetBackground(QWidget* w, const QColor& color) {
  w->setAutoFillBackground(true);
  QPalette p = w->palette();
  p.setColor(QPalette::Window, color);
  w->setPalette(p);
}

void SetTextColor(QWidget* w, const QColor& color) {
  QPalette p = w->palette();
  p.setColor(QPalette::WindowText, color);
  w->setPalette(p);
}

QString Bare(const QString& path) { return QFileInfo(path).fileName(); }

const QString kSelectWaveFile = QStringLiteral("Please select a Wave File !");

QAction* Entry(QMenu* menu, const char* name, const QString& caption, bool enabled,
               const QKeySequence& shortcut = {}) {
  QAction* a = menu->addAction(caption);
  a->setObjectName(QString::fromLatin1(name));
  a->setEnabled(enabled);
  if (!shortcut.isEmpty()) a->setShortcut(shortcut);
  return a;
}

QMenu* SubMenu(QMenuBar* bar, const char* name, const QString& caption) {
  QMenu* m = bar->addMenu(caption);
  m->setObjectName(QString::fromLatin1(name));
  return m;
}

QLabel* MakeLabel(const QString& text, QWidget* parent, const char* name = nullptr) {
  auto* l = new QLabel(text, parent);
  if (name != nullptr) l->setObjectName(QString::fromLatin1(name));
  return l;
}

// A sunken read-out field for times and file names.
QLabel* Readout(const QString& text, QWidget* parent, const char* name) {
  QLabel* l = MakeLabel(text, parent, name);
  l->setStyleSheet(
      QStringLiteral("QLabel { background: #f8f8f6; border: 1px solid #a4a4a2;"
                     " border-top-color: #6a6a68; border-left-color: #6a6a68; padding: 0 4px; }"
                     " QLabel:disabled { color: #8a8a88; }"));
  return l;
}

// A small black read-out with aqua figures (the peak-hold levels).
QLabel* LedReadout(const QString& text, QWidget* parent, const char* name) {
  QLabel* l = MakeLabel(text, parent, name);
  l->setStyleSheet(QStringLiteral(
      "QLabel { background: black; color: rgb(0, 255, 255); border: 1px solid #5a5a58;"
      " border-bottom-color: #f0f0ee; border-right-color: #f0f0ee; padding: 0 5px;"
      " font-family: 'DejaVu Sans Mono'; font-weight: bold; }"));
  return l;
}

}  // namespace

TFrmMain::TFrmMain(TFrmInfo* startupScreen, QWidget* parent)
    : QMainWindow(parent), FrmInfo_(startupScreen) {
  setObjectName(QStringLiteral("FrmMain"));
  setWindowTitle(QStringLiteral("Tonvista"));

  auto* central = new QWidget(this);
  central->setObjectName(QStringLiteral("ClientArea"));
  auto* column = new QVBoxLayout(central);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);

  BuildTitlePanel(central);
  column->addWidget(PanTitle);

  auto* middle = new QHBoxLayout();
  middle->setSpacing(0);
  MMSpectrum1 = new TSpectrumPlaceholder(central);
  MMSpectrum1->setObjectName(QStringLiteral("MMSpectrum1"));
  middle->addWidget(MMSpectrum1, 1);
  PanLevel = new QFrame(central);
  PanLevel->setObjectName(QStringLiteral("PanLevel"));
  PanLevel->setFixedWidth(kLevelStripWidth);
  SetBackground(PanLevel, Qt::black);
  {
    auto* meters = new QGridLayout(PanLevel);
    meters->setContentsMargins(18, 10, 18, 8);
    meters->setHorizontalSpacing(16);
    meters->setVerticalSpacing(4);
    MMLevel1 = new TLevelPlaceholder(Qt::Vertical, PanLevel);
    MMLevel1->setObjectName(QStringLiteral("MMLevel1"));
    MMLevel2 = new TLevelPlaceholder(Qt::Vertical, PanLevel);
    MMLevel2->setObjectName(QStringLiteral("MMLevel2"));
    meters->addWidget(MMLevel1, 0, 0);
    meters->addWidget(MMLevel2, 0, 1);
    for (int c = 0; c < 2; ++c) {
      QLabel* ch = MakeLabel(c == 0 ? QStringLiteral("L") : QStringLiteral("R"), PanLevel);
      ch->setAlignment(Qt::AlignCenter);
      ch->setFont(Bold(font()));
      SetTextColor(ch, QColor(0, 200, 210));
      meters->addWidget(ch, 1, c);
    }
    meters->setRowStretch(0, 1);
  }
  middle->addWidget(PanLevel);
  column->addLayout(middle, 1);

  labDTMF = new TMMLEDLabel(central);
  labDTMF->setObjectName(QStringLiteral("labDTMF"));
  labDTMF->SetCells(TMMLEDLabel::kDefaultCells);
  labDTMF->setFixedHeight(kDtmfLineHeight);
  labDTMF->setMinimumWidth(0);
  labDTMF->SetCaption(QStringLiteral("DTMF TONE DETECTOR"));
  column->addWidget(labDTMF);

  PanControl = new QFrame(central);
  PanControl->setObjectName(QStringLiteral("PanControl"));
  PanControl->setFixedHeight(kControlAreaHeight);
  PanControl->setMinimumWidth(0);
  SetBackground(PanControl, QColor(196, 196, 194));
  column->addWidget(PanControl);

  BuildFuncPanel();
  setCentralWidget(central);
  BuildMenus();

  CreateComponents();
  FormCreate();
  CreateForms();
}

TFrmMain::~TFrmMain() {
  // The scan ends before the window's parts go; its worker must find
  // nothing of the window any more.
  Trigger->OnBufferReady = nullptr;
  Trigger->OnStop = nullptr;
  Trigger->Close();
  Trigger.reset();
  SetApplicationErrorHandler(nullptr);
}

void TFrmMain::CreateComponents() {
  WavePlayer = std::make_unique<TMMWaveFile>("WavePlayer");
  WavePlayer->Wave().SetTimeFormat(tfMillisecond);
  MMPeakDetect1 = std::make_unique<TMMPeakDetect>("MMPeakDetect1");
  MMPeakDetect1->SetFFTLength(16384);
  MMPeakDetect1->SetWindow(fwWelch);
  Trigger = std::make_unique<TMMTrigger>("Trigger");
  Trigger->SetInterval(5);
  Trigger->OnBufferReady = [this](TMMDSPComponent* sender, PWaveHdr h) {
    TriggerBufferReady(sender, h);
  };
  Trigger->OnStop = [this](TMMDSPComponent* sender) { TriggerStop(sender); };
  // Failures that no caller can take, such as one on the scan's worker,
  // are shown in a message box on the GUI thread.
  SetApplicationErrorHandler([this](const std::string& message) {
    const QString text = QString::fromStdString(message);
    QMetaObject::invokeMethod(
        this, [this, text] { ShowError(this, text); }, Qt::QueuedConnection);
  });
}

TFrmInfo* TFrmMain::FrmInfo() const { return FrmInfo_; }

// ---- Construction ---------------------------------------------------------

void TFrmMain::BuildTitlePanel(QWidget* parent) {
  PanTitle = new QFrame(parent);
  PanTitle->setObjectName(QStringLiteral("PanTitle"));
  PanTitle->setFixedHeight(kTitleHeight);
  PanTitle->setFrameShape(QFrame::Panel);
  PanTitle->setFrameShadow(QFrame::Raised);
  SetBackground(PanTitle, QColor(200, 200, 198));
  auto* row = new QHBoxLayout(PanTitle);
  row->setContentsMargins(14, 0, 14, 0);
  row->setSpacing(6);

  LabTitle = MakeLabel(QStringLiteral("Tonvista"), PanTitle, "LabTitle");
  QFont title(QStringLiteral("DejaVu Sans"));
  title.setPixelSize(27);
  title.setWeight(QFont::Black);
  LabTitle->setFont(title);
  SetTextColor(LabTitle, QColor(38, 44, 50));
  row->addWidget(LabTitle);
  QLabel* subtitle = MakeLabel(QStringLiteral("DTMF Tone Detector  \u00b7  Audio Analyzer"),
                               PanTitle, "LabSubtitle");
  subtitle->setFont(Bold(font(), 0.95));
  SetTextColor(subtitle, QColor(0, 110, 125));
  // The first thing to give way when the window gets narrow.
  subtitle->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  subtitle->setMinimumWidth(0);
  row->addSpacing(10);
  subtitle->setAlignment(Qt::AlignLeft | Qt::AlignBottom);
  subtitle->setContentsMargins(0, 0, 0, 7);
  row->addWidget(subtitle, 1);

  const auto channel = [&](const QString& name, TMMLed*& led, QLabel*& over, QLabel*& peak,
                           const char* ledName, const char* overName, const char* peakName) {
    QLabel* ch = MakeLabel(name, PanTitle);
    ch->setFont(Bold(font()));
    row->addWidget(ch);
    led = new TMMLed(PanTitle);
    led->setObjectName(QString::fromLatin1(ledName));
    led->setFixedSize(18, 18);
    led->setToolTip(QStringLiteral("Overload"));
    row->addWidget(led);
    over = MakeLabel(QStringLiteral("over"), PanTitle, overName);
    over->setFont(Bold(font()));
    SetTextColor(over, QColor(210, 0, 0));
    over->setFixedWidth(over->fontMetrics().horizontalAdvance(QStringLiteral("over")) + 4);
    QSizePolicy keep = over->sizePolicy();
    keep.setRetainSizeWhenHidden(true);  // the row must not jump when it shows
    over->setSizePolicy(keep);
    over->hide();
    over->setCursor(Qt::PointingHandCursor);
    over->installEventFilter(this);
    row->addWidget(over);
    peak = LedReadout(QStringLiteral("-inf"), PanTitle, peakName);
    peak->setToolTip(QStringLiteral("Click to reset"));
    peak->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    peak->setFixedSize(64, 22);
    peak->setCursor(Qt::PointingHandCursor);
    peak->installEventFilter(this);
    row->addWidget(peak);
    row->addSpacing(12);
  };
  channel(QStringLiteral("L"), LEDLeft, overl, Label17, "LEDLeft", "overl", "Label17");
  channel(QStringLiteral("R"), LEDRight, overr, Label18, "LEDRight", "overr", "Label18");
  connect(LEDLeft, &TMMLed::clicked, this, &TFrmMain::LEDLeftClick);
  connect(LEDRight, &TMMLed::clicked, this, &TFrmMain::LEDLeftClick);
}

void TFrmMain::BuildFuncPanel() {
  Pan_func = new QFrame(PanControl);
  Pan_func->setObjectName(QStringLiteral("Pan_func"));
  Pan_func->setFixedSize(kPanFuncWidth, kPanFuncHeight);
  Pan_func->setFrameShape(QFrame::Panel);
  Pan_func->setFrameShadow(QFrame::Raised);
  SetBackground(Pan_func, QColor(212, 212, 210));
  Pan_func->move(0, 1);

  BuildPlayerPanel();

  // The five mode buttons down the right side.
  const QFont big = Bold(font(), 1.25);
  const auto mode = [&](const char* name, const QString& caption, int index, bool enabled) {
    auto* b = new QPushButton(caption, Pan_func);
    b->setObjectName(QString::fromLatin1(name));
    b->setFont(big);
    b->setGeometry(kPanFuncWidth - 146, 8 + index * 41, 136, 37);
    b->setEnabled(enabled);
    b->setFocusPolicy(Qt::TabFocus);
    return b;
  };
  // Real Time, Generator and Analyzer need the sound devices and displays.
  LabReal = mode("LabReal", QStringLiteral("Real Time"), 0, false);
  btnGenerat = mode("btnGenerat", QStringLiteral("Generator"), 1, false);
  LabAnalyer = mode("LabAnalyer", QStringLiteral("Analyzer"), 2, false);
  LabPlayer = mode("LabPlayer", QStringLiteral("Wave Player"), 3, true);
  LabTrigger = mode("LabTrigger", QStringLiteral("Exit"), 4, true);
  connect(LabPlayer, &QPushButton::clicked, this, &TFrmMain::LabPlayerClick);
  connect(LabTrigger, &QPushButton::clicked, this, &TFrmMain::Exit1Click);
}

void TFrmMain::BuildPlayerPanel() {
  PanPlayer = new QFrame(Pan_func);
  PanPlayer->setObjectName(QStringLiteral("PanPlayer"));
  PanPlayer->setFrameShape(QFrame::StyledPanel);
  PanPlayer->setFrameShadow(QFrame::Sunken);
  PanPlayer->setGeometry(6, 6, kPanFuncWidth - 160, kPanFuncHeight - 12);
  SetBackground(PanPlayer, QColor(220, 220, 218));
  QWidget* p = PanPlayer;

  QLabel* head = MakeLabel(QStringLiteral("Wave Player"), p, "LabPlayerHead");
  head->setFont(Bold(font(), 1.05));
  SetTextColor(head, QColor(0, 95, 110));
  head->setGeometry(10, 4, 200, 18);

  // Transport row. Play, pause, stop, seek, loop and record need the sound
  // devices; until they come they are shown but cannot be pressed.
  const auto button = [&](TMMBitmapButton::Glyph glyph, const char* name, const QString& hint,
                          bool pressedState) {
    auto* b = new TMMBitmapButton(glyph, p);
    b->setObjectName(QString::fromLatin1(name));
    b->setToolTip(hint);
    b->SetShowsPressedState(pressedState);
    b->setEnabled(false);
    return b;
  };
  btnLoad = button(TMMBitmapButton::Glyph::Load, "btnLoad", QStringLiteral("Select .wav"), false);
  btnLoad->setEnabled(true);
  connect(btnLoad, &TMMBitmapButton::clicked, this, [this] { btnLoadClick(); });
  MMBitmapButton4 = button(TMMBitmapButton::Glyph::Rewind, "MMBitmapButton4",
                           QStringLiteral("10 % Rewind"), false);
  btnStart = button(TMMBitmapButton::Glyph::Play, "btnStart", QStringLiteral("Play"), true);
  btnPause = button(TMMBitmapButton::Glyph::Pause, "btnPause", QStringLiteral("Pause"), true);
  btnStop = button(TMMBitmapButton::Glyph::Stop, "btnStop", QStringLiteral("Stop"), false);
  MMBitmapButton3 = button(TMMBitmapButton::Glyph::Forward, "MMBitmapButton3",
                           QStringLiteral("10 % Forward"), false);
  bntloop1 = button(TMMBitmapButton::Glyph::Loop, "bntloop1",
                    QStringLiteral("Play Loop from start x ms. to End time x ms."), true);
  bntRec = button(TMMBitmapButton::Glyph::Record, "bntRec", QStringLiteral("Record"), true);
  int x = 10;
  for (TMMBitmapButton* b :
       {btnLoad, MMBitmapButton4, btnStart, btnPause, btnStop, MMBitmapButton3, bntloop1, bntRec}) {
    b->move(x, 25);
    x += b->width() + (b == btnLoad || b == MMBitmapButton3 ? 9 : 3);
  }

  // The small level meters of the panel.
  MMLevel3 = new TLevelPlaceholder(Qt::Horizontal, p);
  MMLevel3->setObjectName(QStringLiteral("MMLevel3"));
  MMLevel3->setGeometry(x + 18, 26, 92, 11);
  MMLevel4 = new TLevelPlaceholder(Qt::Horizontal, p);
  MMLevel4->setObjectName(QStringLiteral("MMLevel4"));
  MMLevel4->setGeometry(x + 18, 41, 92, 11);
  for (int i = 0; i < 2; ++i) {
    QLabel* ch = MakeLabel(i == 0 ? QStringLiteral("L") : QStringLiteral("R"), p);
    ch->setFont(Scaled(font(), 0.85));
    ch->setGeometry(x + 6, 24 + i * 15, 10, 14);
  }

  TrackBar = new QSlider(Qt::Horizontal, p);
  TrackBar->setObjectName(QStringLiteral("TrackBar"));
  TrackBar->setGeometry(8, 58, 412, 22);
  TrackBar->setRange(0, 0);
  TrackBar->setEnabled(false);  // until a file with data is loaded

  QLabel* timeCap = MakeLabel(QStringLiteral("Time :"), p);
  timeCap->setGeometry(10, 84, 42, 20);
  Label10 = Readout(QStringLiteral("00:00.000"), p, "Label10");
  Label10->setGeometry(54, 84, 96, 20);
  Label10->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  QLabel* remainCap = MakeLabel(QStringLiteral("Remain :"), p);
  remainCap->setGeometry(166, 84, 58, 20);
  labLeft = Readout(QStringLiteral("00:00.000"), p, "labLeft");
  labLeft->setGeometry(226, 84, 96, 20);
  labLeft->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

  LabFile = Readout(QStringLiteral("No Wav File selected"), p, "LabFile");
  LabFile->setGeometry(10, 110, 410, 20);

  MMLEDPanel6 = new TMMLEDPanel(p);
  MMLEDPanel6->setObjectName(QStringLiteral("MMLEDPanel6"));
  MMLEDPanel6->SetDigits(5);
  MMLEDPanel6->SetUnit(QStringLiteral("Hz"));
  MMLEDPanel6->setGeometry(10, 136, 112, 30);
  MMLEDPanel7 = new TMMLEDPanel(p);
  MMLEDPanel7->setObjectName(QStringLiteral("MMLEDPanel7"));
  MMLEDPanel7->SetDigits(2);
  MMLEDPanel7->SetUnit(QStringLiteral("Bit"));
  MMLEDPanel7->setGeometry(128, 136, 64, 30);
  MMLEDMode2 = new TMMLEDMode(p);
  MMLEDMode2->setObjectName(QStringLiteral("MMLEDMode2"));
  MMLEDMode2->setGeometry(198, 136, 70, 30);
  MMLEDPanel1 = new TMMLEDPanel(p);
  MMLEDPanel1->setObjectName(QStringLiteral("MMLEDPanel1"));
  MMLEDPanel1->SetDigits(6);
  MMLEDPanel1->SetUnit(QStringLiteral("kb"));
  MMLEDPanel1->setGeometry(274, 136, 146, 30);

  labRec = Readout(QStringLiteral("No record File selected"), p, "labRec");
  labRec->setGeometry(10, 174, 200, 20);

  // Loop range in milliseconds.
  QLabel* startCap = MakeLabel(QStringLiteral(" Start time in ms.  "), p);
  startCap->setFont(Scaled(font(), 0.85));
  startCap->setGeometry(216, 168, 100, 12);
  edts1 = new TMMNumberEdit(p);
  edts1->setObjectName(QStringLiteral("edts1"));
  edts1->SetRange(0, 100000000);
  edts1->SetValue(0);
  edts1->setGeometry(218, 181, 96, 20);
  edts1->setEnabled(false);
  QLabel* endCap = MakeLabel(QStringLiteral(" End time in ms.  "), p);
  endCap->setFont(Scaled(font(), 0.85));
  endCap->setGeometry(322, 168, 100, 12);
  edte1 = new TMMNumberEdit(p);
  edte1->setObjectName(QStringLiteral("edte1"));
  edte1->SetRange(0, 100000000);
  edte1->SetValue(0);
  edte1->setGeometry(324, 181, 96, 20);
  edte1->setEnabled(false);

  // The scan section at the right of the panel.
  auto* scan = new QFrame(p);
  scan->setObjectName(QStringLiteral("PanScan"));
  scan->setFrameShape(QFrame::StyledPanel);
  scan->setFrameShadow(QFrame::Sunken);
  scan->setGeometry(432, 6, PanPlayer->width() - 440, PanPlayer->height() - 12);
  const int sw = scan->width();

  labTriggerStart = new QPushButton(QStringLiteral("Scan for DTMF Tones"), scan);
  labTriggerStart->setObjectName(QStringLiteral("labTriggerStart"));
  labTriggerStart->setFont(Bold(font(), 1.15));
  labTriggerStart->setGeometry(8, 8, sw - 16, 32);
  connect(labTriggerStart, &QPushButton::clicked, this, &TFrmMain::labTriggerStartClick);

  Gauge = new TMMGauge(scan);
  Gauge->setObjectName(QStringLiteral("Gauge"));
  Gauge->setGeometry(8, 46, sw - 16, 18);

  Label8 = MakeLabel(QStringLiteral("Threshold: %1").arg(kThresholdMin), scan, "Label8");
  Label8->setFont(Bold(font()));
  Label8->setGeometry(8, 72, sw - 16, 16);

  tbThresh = new QSlider(Qt::Horizontal, scan);
  tbThresh->setObjectName(QStringLiteral("tbThresh"));
  tbThresh->setRange(kThresholdMin, kThresholdMax);
  tbThresh->setSingleStep(1);
  tbThresh->setPageStep(25);
  tbThresh->setTickPosition(QSlider::TicksBelow);
  tbThresh->setTickInterval(25);
  tbThresh->setValue(kThresholdMin);
  tbThresh->setGeometry(6, 90, sw - 12, 26);
  connect(tbThresh, &QSlider::valueChanged, this, &TFrmMain::tbThreshChange);

  LabThreshLow = MakeLabel(QStringLiteral("Not loud/ besides noise"), scan, "LabThreshLow");
  LabThreshLow->setFont(Scaled(font(), 0.85));
  LabThreshLow->setGeometry(8, 118, (sw - 16) / 2, 14);
  LabThreshHigh = MakeLabel(QStringLiteral("Fast (1ms) & Clean"), scan, "LabThreshHigh");
  LabThreshHigh->setFont(Scaled(font(), 0.85));
  LabThreshHigh->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  LabThreshHigh->setGeometry(sw / 2, 118, sw / 2 - 8, 14);

  cb_result = new QCheckBox(QStringLiteral("Show Results from decodated files"), scan);
  cb_result->setObjectName(QStringLiteral("cb_result"));
  cb_result->setChecked(true);
  cb_result->setGeometry(8, 146, sw - 16, 20);

  ed_result = new QLineEdit(scan);
  ed_result->setObjectName(QStringLiteral("ed_result"));
  ed_result->setGeometry(8, 170, sw - 16, 20);
  ed_result->hide();
}

void TFrmMain::BuildMenus() {
  QMenuBar* bar = menuBar();

  File1 = SubMenu(bar, "File1", QStringLiteral("&File"));
  // Analyzer settings files come with the settings work.
  LoadPrject1 = Entry(File1, "LoadPrject1", QStringLiteral("&Load Analyzer Setting"), false);
  SaveProject1 = Entry(File1, "SaveProject1", QStringLiteral("&Save Analyzer Setting"), false);
  SaveasDefault1 =
      Entry(File1, "SaveasDefault1", QStringLiteral("Save Settings as Default"), false);
  File1->addSeparator();
  N2 = Entry(File1, "N2", QStringLiteral("Show Results Window"), true);
  File1->addSeparator();
  Exit1 = Entry(File1, "Exit1", QStringLiteral("Exit"), true);
  connect(N2, &QAction::triggered, this, &TFrmMain::N2Click);
  connect(Exit1, &QAction::triggered, this, &TFrmMain::Exit1Click);

  DecodeDemos1 = SubMenu(bar, "DecodeDemos1", QStringLiteral("Decode D&emos"));
  Verygoodfile1 = Entry(DecodeDemos1, "Verygoodfile1", QStringLiteral("Very good file"), true);
  Fastfile50ms1 = Entry(DecodeDemos1, "Fastfile50ms1", QStringLiteral("Fast file 50 ms"), true);
  Badfile1 = Entry(DecodeDemos1, "Badfile1", QStringLiteral("Bad quality"), true);
  Verybadfile1 = Entry(DecodeDemos1, "Verybadfile1", QStringLiteral("Very bad quality"), true);
  connect(Verygoodfile1, &QAction::triggered, this, &TFrmMain::Verygoodfile1Click);
  connect(Fastfile50ms1, &QAction::triggered, this, &TFrmMain::Fastfile50ms1Click);
  connect(Badfile1, &QAction::triggered, this, &TFrmMain::Badfile1Click);
  connect(Verybadfile1, &QAction::triggered, this, &TFrmMain::Verybadfile1Click);

  DTMFSettings1 = bar->addAction(QStringLiteral("D&TMF Tone Setup"));
  DTMFSettings1->setObjectName(QStringLiteral("DTMFSettings1"));
  connect(DTMFSettings1, &QAction::triggered, this, &TFrmMain::DTMFSettings1Click);

  AnalyzerInput1 = SubMenu(bar, "AnalyzerInput1", QStringLiteral("&Analyzer Input"));
  WavePlayer1 = Entry(AnalyzerInput1, "WavePlayer1", QStringLiteral("&Wave Player"), true);
  connect(WavePlayer1, &QAction::triggered, this, &TFrmMain::LabPlayerClick);
  // Live capture and the generator come with the sound devices.
  LineIn1 = Entry(AnalyzerInput1, "LineIn1", QStringLiteral("&Real Time Scan"), false);
  LineIn1->setToolTip(QStringLiteral("The one you choose by recording Input !"));
  LineIn1->setStatusTip(LineIn1->toolTip());
  Frequ1 = Entry(AnalyzerInput1, "Frequ1", QStringLiteral("&Generator"), false);
  AnalyzerInput1->setToolTipsVisible(true);

  // Frozen spectra come with the spectrum display.
  DataValue1 = SubMenu(bar, "DataValue1", QStringLiteral("Tonvista &Data Value"));
  for (int i = 0; i < 4; ++i) {
    const QByteArray name = "StoreSpectrum" + QByteArray::number(i + 1);
    StoreSpectrum[static_cast<size_t>(i)] =
        Entry(DataValue1, name.constData(), QStringLiteral("Store freezed Spectrum %1").arg(i + 1),
              false, QKeySequence(Qt::Key_F5 + i));
  }
  DataValue1->addSeparator();
  for (int i = 0; i < 4; ++i) {
    const QByteArray name = "LoadSpectrum" + QByteArray::number(i + 1);
    LoadSpectrum[static_cast<size_t>(i)] =
        Entry(DataValue1, name.constData(), QStringLiteral("Load freezed Spectrum %1").arg(i + 1),
              false, QKeySequence(Qt::Key_F9 + i));
  }
  DataValue1->addSeparator();
  AnalyzerEditor1 = Entry(DataValue1, "AnalyzerEditor1", QStringLiteral("Analyzer &Editor"), false);

  // Mixer, device dialogs and display colours come with the sound devices
  // and displays.
  Preferences1 = SubMenu(bar, "Preferences1", QStringLiteral("Preferen&ces"));
  SetupforInput1 = Entry(Preferences1, "SetupforInput1",
                         QStringLiteral("Standard &Mixer Win95/98/00/NT"), false);
  InputDevice1 = Entry(Preferences1, "InputDevice1", QStringLiteral("&Input Device"), false);
  OutputDevice1 = Entry(Preferences1, "OutputDevice1", QStringLiteral("&Output Device"), false);
  Spectrum1 = Entry(Preferences1, "Spectrum1", QStringLiteral("Spectrum &controls"), false);

  // MP3 conversion, split and swap come with their own tools.
  Tools1 = SubMenu(bar, "Tools1", QStringLiteral("Mp&3/wav tools"));
  DtmfConverter1 =
      Entry(Tools1, "DtmfConverter1", QStringLiteral("DTMF normalize && converter"), true);
  Mp3ToWav1 = Entry(Tools1, "Mp3ToWav1", QStringLiteral("Convert Mp3 to Wav"), false);
  NormalizeWave1 = Entry(Tools1, "NormalizeWave1", QStringLiteral("Normalize wave files"), true);
  connect(DtmfConverter1, &QAction::triggered, this, &TFrmMain::DtmfConverter1Click);
  connect(NormalizeWave1, &QAction::triggered, this, &TFrmMain::NormalizeWave1Click);
  SplitStereo1 =
      Entry(Tools1, "SplitStereo1", QStringLiteral("Split Stereo into 2 mono files"), false);
  SwapChannels1 =
      Entry(Tools1, "SwapChannels1", QStringLiteral("Swap left with right channel"), false);

  // Printing and the background spectrum come with the spectrum display.
  Module1 = SubMenu(bar, "Module1", QStringLiteral("&Module"));
  PrintModule1 = Module1->addMenu(QStringLiteral("&Print Module"));
  PrintModule1->setObjectName(QStringLiteral("PrintModule1"));
  PrintSpectrumSetup1 =
      Entry(PrintModule1, "PrintSpectrumSetup1", QStringLiteral("Print Spectrum Setup"), false);
  PrinterSetup1 = Entry(PrintModule1, "PrinterSetup1", QStringLiteral("Printer Setup"), false);
  BackgroundModule1 = Module1->addMenu(QStringLiteral("Background Module"));
  BackgroundModule1->setObjectName(QStringLiteral("BackgroundModule1"));
  LoadBackground1 =
      Entry(BackgroundModule1, "LoadBackground1", QStringLiteral("Load freezed Background"), false);
  ClearBackground1 = Entry(BackgroundModule1, "ClearBackground1",
                           QStringLiteral("Clear freezed Background"), false);
  CheckBackgroundcolors2 = Entry(BackgroundModule1, "CheckBackgroundcolors2",
                                 QStringLiteral("Check Background colors"), false);

  Info1 = SubMenu(bar, "Info1", QStringLiteral("&Info"));
  About1 = Entry(Info1, "About1", QStringLiteral("About"), true);
  connect(About1, &QAction::triggered, this, &TFrmMain::About1Click);
  // The help document comes with the help work.
  HelpFile1 =
      Entry(Info1, "HelpFile1", QStringLiteral("&Help-File"), false, QKeySequence(Qt::Key_F1));
}

void TFrmMain::CreateForms() {
  // The program's windows in their start-up order after the main window.
  // Print setup, stored spectra, display colours, the device dialogs and the
  // background spectrum take their places ahead of the normalizer; the MP3,
  // split and swap tools follow it.
  fNormalize_ = new TfNormalize(this);
  fDtmf_ = new TfDtmf(this);
  fCon_ = new TfCon(this);
  f_result_ = new Tf_result(this);
}

// ---- Window events ----------------------------------------------------

void TFrmMain::FormCreate() {
  const int top = ReadPreference(kRoot, kPreferenceKey, QStringLiteral("top"), kDesignTop);
  const int left = ReadPreference(kRoot, kPreferenceKey, QStringLiteral("left"), kDesignLeft);
  const int wide = ReadPreference(kRoot, kPreferenceKey, QStringLiteral("wide"), kDesignWidth);
  const int hei = ReadPreference(kRoot, kPreferenceKey, QStringLiteral("hei"), kDesignHeight);
  QPoint at(left, top);
  // A position stored on a monitor that is gone would hide the window.
  const QRect wanted(at, QSize(std::max(wide, 1), std::max(hei, 1)));
  const QList<QScreen*> screens = QGuiApplication::screens();
  const bool visible =
      screens.isEmpty() || std::any_of(screens.begin(), screens.end(), [&](QScreen* s) {
        return s->availableVirtualGeometry().intersects(wanted);
      });
  if (!visible) at = QPoint(kDesignLeft, kDesignTop);
  move(at);
  resize(wide, hei);
  CentrePanFunc();
}

void TFrmMain::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (!event->spontaneous() && !shown_) {
    shown_ = true;
    FormShow();
  }
}

void TFrmMain::FormShow() {
  setWindowTitle(QStringLiteral("Tonvista"));
  // The settings work loads "Default.prj" from AnalyzerProjectsFolder() here,
  // before anything below reads the controls it sets.
  FPaused = false;
  FLooping = false;
  // The frozen-spectrum work reads "BinData0".."BinData3" here.
  cb_result->setChecked(
      ReadPreference(kRoot, kPreferenceKey, QStringLiteral("show"), cb_result->isChecked()));
  // The spectrum display gets LogFreq and DropPeaks here.
  FPeakLeft = kPeakReset;
  FPeakRight = kPeakReset;
  FDecision.SetStandard();
  // The sound-device work starts live capture (MMWaveIn1) here.
  if (FrmInfo_ != nullptr) FrmInfo_->close();
}

void TFrmMain::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  FormResize();
}

void TFrmMain::FormResize() { CentrePanFunc(); }

void TFrmMain::CentrePanFunc() { Pan_func->move(PanFuncLeft(width()), Pan_func->y()); }

void TFrmMain::closeEvent(QCloseEvent* event) {
  FormClose();
  event->accept();
}

void TFrmMain::FormClose() {
  // A maximised window keeps the size it will return to.
  const QRect r =
      (isMaximized() || isMinimized() || isFullScreen()) ? normalGeometry() : QRect(pos(), size());
  WritePreference(kRoot, kPreferenceKey, QStringLiteral("top"), r.y());
  WritePreference(kRoot, kPreferenceKey, QStringLiteral("left"), r.x());
  WritePreference(kRoot, kPreferenceKey, QStringLiteral("wide"), r.width());
  WritePreference(kRoot, kPreferenceKey, QStringLiteral("hei"), r.height());
  // The settings work saves "Default.prj" here; the frozen-spectrum work
  // writes "BinData0".."BinData3".
  WritePreference(kRoot, kPreferenceKey, QStringLiteral("show"), cb_result->isChecked());
  // The sound-device work closes MMWaveOut1 and MMWaveIn1 here.
  // A scan still running ends without a result: the program is going.
  shuttingDown_ = true;
  Trigger->OnStop = nullptr;
  CloseScan();

  // The other windows go with the program, without their own close
  // handlers (which would store their positions over the main window's).
  if (FrmInfo_ != nullptr) FrmInfo_->hide();
  if (f_result_ != nullptr) f_result_->hide();
}

bool TFrmMain::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseButtonRelease) {
    if (watched == Label17 || watched == Label18) {
      Label17Click();
      return true;
    }
    if (watched == overl || watched == overr) {
      LEDLeftClick();
      return true;
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

// ---- Handlers -----------------------------------------------------------

void TFrmMain::tbThreshChange() {
  const int position = tbThresh->value();
  FThreshold.store(position, std::memory_order_relaxed);
  Label8->setText(QStringLiteral("Threshold: %1").arg(position));
}

void TFrmMain::DTMFSettings1Click() {
  fDtmf_->exec();
  // After every close, changed or not.
  ApplyDtmfFrequencies();
}

void TFrmMain::ApplyDtmfFrequencies() {
  std::array<int32_t, 4> columns{}, rows{};
  for (int i = 0; i < 4; ++i) {
    columns[static_cast<size_t>(i)] = fDtmf_->Edit(i)->Value();
    rows[static_cast<size_t>(i)] = fDtmf_->Edit(i + 4)->Value();
  }
  FDecision.SetFrequencies(columns, rows);
}

void TFrmMain::N2Click() {
  f_result_->show();
  f_result_->raise();
  f_result_->activateWindow();
}

void TFrmMain::Exit1Click() { close(); }

void TFrmMain::About1Click() {
  if (FrmInfo_ == nullptr) FrmInfo_ = new TFrmInfo(this);
  FrmInfo_->show();
  FrmInfo_->raise();
  FrmInfo_->activateWindow();
}

void TFrmMain::LabPlayerClick() {
  // The Generator and Analyzer panels, which this hides, come with their
  // displays.
  PanPlayer->show();
}

void TFrmMain::LEDLeftClick() {
  LEDLeft->SetLit(false);
  LEDRight->SetLit(false);
  overl->hide();
  overr->hide();
}

void TFrmMain::Label17Click() {
  Label17->setText(QStringLiteral("-inf"));
  Label18->setText(QStringLiteral("-inf"));
  FPeakLeft = kPeakReset;
  FPeakRight = kPeakReset;
}

// ---- Scan interface -----------------------------------------------------

void TFrmMain::AppendDtmfKey(const QString& key) {
  if (key.isEmpty()) return;
  if (QThread::currentThread() == thread()) {
    FlushDtmfKeys();  // keys from a worker come first
    labDTMF->Append(key);
    return;
  }
  {
    std::lock_guard guard(keyLock_);
    pendingKeys_ += key;
    if (flushPosted_) return;  // the flush already on its way takes this key too
    flushPosted_ = true;
  }
  // Queued to this window: dropped, not run, if the window is gone.
  QMetaObject::invokeMethod(
      this, [this] { FlushDtmfKeys(); }, Qt::QueuedConnection);
}

void TFrmMain::FlushDtmfKeys() {
  QString keys;
  {
    std::lock_guard guard(keyLock_);
    keys.swap(pendingKeys_);
    flushPosted_ = false;
  }
  labDTMF->Append(keys);
}

void TFrmMain::ClearDtmfText() {
  {
    std::lock_guard guard(keyLock_);
    pendingKeys_.clear();
  }
  labDTMF->Clear();
}

QString TFrmMain::DtmfText() {
  FlushDtmfKeys();
  return labDTMF->Caption();
}

void TFrmMain::SetScanProgress(int percent) {
  percent = std::clamp(percent, 0, 100);
  if (QThread::currentThread() == thread()) {
    scanProgress_.store(percent);
    Gauge->SetProgress(percent);
    return;
  }
  if (scanProgress_.exchange(percent) == percent) return;
  if (progressPosted_.exchange(true)) return;  // the pending update reads the latest value
  QMetaObject::invokeMethod(
      this,
      [this] {
        progressPosted_.store(false);
        Gauge->SetProgress(scanProgress_.load());
      },
      Qt::QueuedConnection);
}

void TFrmMain::RecordScanResult(const QString& fileName) {
  SetScanProgress(0);
  ed_result->setText(DtmfText());
  ed_result->selectAll();
  f_result_->AddResult(ed_result->text(), fileName);
  if (cb_result->isChecked()) {
    f_result_->show();
    f_result_->raise();
  }
  // The clipboard then holds this result only, also when it is empty.
  if (f_result_->cb_clip->isChecked())
    QGuiApplication::clipboard()->setText(ed_result->selectedText());
}


// ---- Loading and scanning ---------------------------------------------

QString TFrmMain::FormatTime(int64_t ms) {
  if (ms < 0) ms = 0;
  const int64_t milli = ms % 1000;
  const int64_t seconds = (ms / 1000) % 60;
  const int64_t minutes = (ms / 60000) % 60;
  const int64_t hours = (ms / 3600000) % 24;
  const int64_t days = ms / 86400000;
  char text[64];
  if (ms < 3600000) {
    std::snprintf(text, sizeof text, "%d:%2.2d.%3.3d", static_cast<int>(ms / 60000),
                  static_cast<int>(seconds), static_cast<int>(milli));
  } else if (ms < 86400000) {
    std::snprintf(text, sizeof text, "%d:%2.2d:%2.2d.%3.3d", static_cast<int>(ms / 3600000),
                  static_cast<int>(minutes), static_cast<int>(seconds), static_cast<int>(milli));
  } else {
    std::snprintf(text, sizeof text, "%d:%2.2d:%2.2d:%2.2d.%3.3d", static_cast<int>(days),
                  static_cast<int>(hours), static_cast<int>(minutes), static_cast<int>(seconds),
                  static_cast<int>(milli));
  }
  return QString::fromLatin1(text);
}

void TFrmMain::ShowFileInfo() {
  const TMMWave& wave = WavePlayer->Wave();
  const auto length = static_cast<int>(std::min<int64_t>(wave.DataSize(), INT32_MAX));
  TrackBar->setEnabled(!wave.Empty());
  TrackBar->setMaximum(length);
  labLeft->setText(FormatTime(length));
  MMLEDPanel7->SetValue(wave.BitLength());
  MMLEDPanel6->SetValue(wave.SampleRate());
  const WAVEFORMATEX* f = wave.PWaveFormat();
  MMLEDMode2->SetChannels(f != nullptr ? f->nChannels : 0);
  const QFileInfo file(QString::fromStdString(wave.FileName()));
  // A file that cannot be found counts as -1 bytes, which shows as 0 kb.
  const qint64 bytes = file.exists() ? file.size() : -1;
  MMLEDPanel1->SetValue(static_cast<int>(bytes / 1024));
  LabFile->setText(file.fileName());
}

bool TFrmMain::btnLoadClick() {
  // The sound-device work closes MMWaveIn1 and MMWaveOut1 here and links
  // WavePlayer -> MMWaveOut1 -> MMConnector1. A running scan ends first,
  // with its result, since its file is about to change.
  CloseScan();
  ClearDtmfText();
  const QString folder =
      ReadPreference(kRoot, kPreferenceKey, QStringLiteral("InitDir"), QDir::currentPath());
  const QString chosen = PromptOpenWave(this, QStringLiteral("Open Wave File"), folder);
  if (!chosen.isEmpty()) {
    WritePreference(kRoot, kPreferenceKey, QStringLiteral("InitDir"),
                    QFileInfo(chosen).absolutePath());
    fCon_->show();
    QString name;
    bool prepared = true;
    try {
      name = fCon_->NormalizeFile(fCon_->ConvertForDtmf(chosen));
    } catch (const std::exception& e) {
      prepared = false;
      ShowError(this, QStringLiteral("%1 cannot be prepared for decoding:\n%2")
                          .arg(Bare(chosen), QString::fromStdString(e.what())));
    }
    if (prepared) {
      try {
        WavePlayer->Wave().SetFileName(name.toStdString());
      } catch (const std::exception& e) {
        ShowError(this, QString::fromStdString(e.what()));
      }
      loading_ = true;
      labTriggerStartClick();
      loading_ = false;
      ShowFileInfo();
      // The MP3 work adds its test for MPEG data here.
      setWindowTitle(QStringLiteral("Tonvista  - ") + Bare(name));
      TrackBar->setValue(0);
    }
  }
  const int length = WavePlayer->Wave().FileName().empty()
                         ? 0
                         : static_cast<int>(std::min<int64_t>(WavePlayer->Wave().DataSize(), 100000000));
  edte1->SetRange(0, length);
  edte1->SetValue(length);
  fCon_->close();
  return !chosen.isEmpty();
}

void TFrmMain::labTriggerStartClick() {
  if (WavePlayer->Wave().Empty()) {
    // During a load the file just chosen came to nothing: say so rather
    // than open the dialog again. Otherwise the load scans what it loads.
    if (loading_ || !btnLoadClick()) ShowMessage(this, kSelectWaveFile);
    return;
  }
  // A scan still running ends here and records its result, before the
  // label is cleared for the new one.
  CloseScan();
  PrepareFileScan();
  Trigger->SetBufferSize(0);
  Trigger->SetBufferSize(ScanBufferSize(WavePlayer->Wave().PWaveFormat()));
  try {
    Trigger->Start();
  } catch (const std::exception& e) {
    ShowError(this, QString::fromStdString(e.what()));
  }
}

void TFrmMain::PrepareFileScan() {
  MMPeakDetect1->SetEnabled(true);
  ClearDtmfText();
  // The sound-device work closes MMWaveIn1 and MMWaveOut1 here; the
  // spectrum work resets LEDSpinYScale and the frequency scale to 1.
  WavePlayer->SetOutput(Trigger.get());
  Trigger->SetOutput(MMPeakDetect1.get());
  MMPeakDetect1->SetOutput(nullptr);
}

void TFrmMain::CloseScan() {
  Trigger->Close();
  // A buffer in flight holds the close back until its delivery is done.
  const QDeadlineTimer deadline(10000);
  while (Trigger->IsOpen() && Trigger->ClosePending() && !deadline.hasExpired()) {
    QApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 5);
  }
}

void TFrmMain::TriggerBufferReady(TMMDSPComponent*, PWaveHdr) {
  const int index = FDecision.Decide(*MMPeakDetect1, ThresholdPosition());
  if (index >= 0) AppendDtmfKey(QString::fromStdString(FDecision.KeyChar(index)));
  const TMMWave& wave = WavePlayer->Wave();
  const int64_t length = wave.DataSize();
  if (length > 0) SetScanProgress(static_cast<int>(wave.Position() * 100 / length));
}

void TFrmMain::TriggerStop(TMMDSPComponent*) {
  RecordScanResult(QString::fromStdString(WavePlayer->Wave().FileName()));
}

void TFrmMain::RunDemo(const QString& file, bool clearFirst) {
  // A demonstration drops every failure: a missing file simply gives nothing.
  try {
    // The file under a running scan is about to change: that scan ends
    // first, with its result.
    CloseScan();
    if (clearFirst) ClearDtmfText();
    const QString path = QDir(DecodeDemosFolder()).filePath(file);
    // The sound-device work closes MMWaveOut1 and sets its buffer size, the
    // spectrum work resets LEDSpinYScale and the frequency scale, here.
    WavePlayer->Wave().SetFileName(path.toStdString());
    fCon_->show();
    ShowFileInfo();
    const QString name = fCon_->NormalizeFile(fCon_->ConvertForDtmf(path));
    WavePlayer->Wave().SetFileName(name.toStdString());
    labTriggerStartClick();
    const QDeadlineTimer deadline(DemoPauseMs);
    while (!deadline.hasExpired() && !shuttingDown_) {
      QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    fCon_->close();
    // The sound-device work starts playback of the file here.
  } catch (...) {
    fCon_->close();
  }
}

void TFrmMain::Verygoodfile1Click() { RunDemo(QStringLiteral("5550147236dcba+#.wav"), true); }

void TFrmMain::Fastfile50ms1Click() { RunDemo(QStringLiteral("DTMF 50ms 5550147236.wav"), false); }

// The two poorer demonstrations also prepare the playback chain first; that
// comes with the sound-device work.
void TFrmMain::Badfile1Click() { RunDemo(QStringLiteral("dtmfbad_normalized.wav"), false); }

void TFrmMain::Verybadfile1Click() { RunDemo(QStringLiteral("dtmfgood.wav"), false); }

void TFrmMain::DtmfConverter1Click() { fCon_->exec(); }

void TFrmMain::NormalizeWave1Click() { fNormalize_->exec(); }

}  // namespace tv
