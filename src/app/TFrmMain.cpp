#include "TFrmMain.h"

#include <QAbstractSpinBox>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenuBar>
#include <QProcess>
#include <QScreen>
#include <QShowEvent>
#include <QSlider>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <array>

#include "DataFolder.h"
#include "DtmfScanner.h"
#include "Messages.h"
#include "PanelStyle.h"
#include "Preferences.h"
#include "TAnalyzerFreezePanel.h"
#include "TAnalyzerGainPanel.h"
#include "TAnalyzerScalePanel.h"
#include "TFrmInfo.h"
#include "TFrmSavBin.h"
#include "TFuncPanel.h"
#include "TGeneratorPanel.h"
#include "TLevelStrip.h"
#include "TMMBitmapButton.h"
#include "TMMConnector.h"
#include "TMMGenerator.h"
#include "TMMLEDLabel.h"
#include "TMMLEDSpin.h"
#include "TMMLevel.h"
#include "TMMNumberEdit.h"
#include "TMMOscope.h"
#include "TMMPeakDetect.h"
#include "TMMRadioGroup.h"
#include "TMMSpectrum.h"
#include "TMMWave.h"
#include "TMMWaveFile.h"
#include "TMMWaveIn.h"
#include "TMMWaveOut.h"
#include "TMainMenu.h"
#include "TPlayerPanel.h"
#include "TScanController.h"
#include "TSpectrumArea.h"
#include "TTitleBar.h"
#include "TfCon.h"
#include "TfConvert.h"
#include "TfDtmf.h"
#include "TfNormalize.h"
#include "TfSetupPrint.h"
#include "TfSpecBack.h"
#include "TfSplit.h"
#include "TfSwap.h"
#include "Tf_result.h"
#include "WaveDialogs.h"

namespace tv {

namespace {

constexpr auto kRoot = PreferenceRoot::CurrentUser;

QString Bare(const QString& path) { return QFileInfo(path).fileName(); }

const QString kSelectWaveFile = QStringLiteral("Please select a Wave File !");

// Closes a device; its close reports its own failures, and nothing that
// follows depends on it.
template <typename Device>
void CloseQuietly(Device& device) {
  try {
    device.Close();
  } catch (const std::exception&) {
  }
}

}  // namespace

TFrmMain::TFrmMain(TFrmInfo* startupScreen, QWidget* parent)
    : QMainWindow(parent), frmInfo_(startupScreen) {
  setObjectName(QStringLiteral("FrmMain"));
  setWindowTitle(QStringLiteral("Tonvista"));
  BuildLayout();
  menus_ = std::make_unique<TMainMenu>(menuBar());
  CreateComponents();
  CreateLiveComponents();
  ConnectPanels();
  ConnectMenus();
  FormCreate();
  CreateForms();
  // The window sees keys before its controls.
  qApp->installEventFilter(this);
}

TFrmMain::~TFrmMain() {
  qApp->removeEventFilter(this);
  // The scan ends before the window's parts go; its worker must find
  // nothing of the window any more.
  scan_.reset();
  // No device may deliver, and no connector feed a display, once the
  // displays (child widgets) are being destroyed.
  CloseDevices();
  connector1_.reset();
  connect2_.reset();
}

void TFrmMain::BuildLayout() {
  auto* central = new QWidget(this);
  central->setObjectName(QStringLiteral("ClientArea"));
  auto* column = new QVBoxLayout(central);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);

  titleBar_ = new TTitleBar(central);
  column->addWidget(titleBar_);

  auto* middle = new QHBoxLayout();
  middle->setSpacing(0);
  spectrumArea_ = new TSpectrumArea(central);
  middle->addWidget(spectrumArea_, 1);
  levelStrip_ = new TLevelStrip(central);
  middle->addWidget(levelStrip_);
  column->addLayout(middle, 1);

  dtmfLine_ = new TMMLEDLabel(central);
  dtmfLine_->setObjectName(QStringLiteral("labDTMF"));
  dtmfLine_->SetCells(TMMLEDLabel::kDefaultCells);
  dtmfLine_->setFixedHeight(kDtmfLineHeight);
  dtmfLine_->setMinimumWidth(0);
  dtmfLine_->SetCaption(QStringLiteral("DTMF TONE DETECTOR"));
  column->addWidget(dtmfLine_);

  controlArea_ = new QFrame(central);
  controlArea_->setObjectName(QStringLiteral("PanControl"));
  controlArea_->setFixedHeight(kControlAreaHeight);
  controlArea_->setMinimumWidth(0);
  SetBackground(controlArea_, QColor(196, 196, 194));
  column->addWidget(controlArea_);

  funcPanel_ = new TFuncPanel(controlArea_);
  funcPanel_->move(0, 1);
  setCentralWidget(central);
}

TPlayerPanel* TFrmMain::PlayerPanel() const { return funcPanel_->Player(); }

void TFrmMain::CreateComponents() {
  wavePlayer_ = std::make_unique<TMMWaveFile>("WavePlayer");
  wavePlayer_->Wave().SetTimeFormat(tfMillisecond);
  peakDetect_ = std::make_unique<TMMPeakDetect>("MMPeakDetect1");
  peakDetect_->SetFFTLength(16384);
  peakDetect_->SetWindow(fwWelch);
  scan_ = std::make_unique<TScanController>(*wavePlayer_, *peakDetect_);

  TPlayerPanel* player = PlayerPanel();
  scan_->Scanner().SetThreshold(player->Threshold());
  connect(player, &TPlayerPanel::thresholdChanged, this,
          [this](int position) { scan_->Scanner().SetThreshold(position); });
  connect(player, &TPlayerPanel::loadClicked, this, [this] { btnLoadClick(); });
  connect(player, &TPlayerPanel::scanClicked, this, &TFrmMain::labTriggerStartClick);
  connect(scan_.get(), &TScanController::aboutToStart, this, &TFrmMain::PrepareFileScan);
  connect(scan_.get(), &TScanController::keysFound, this, &TFrmMain::AppendDtmfKey);
  connect(scan_.get(), &TScanController::progressChanged, this, &TFrmMain::SetScanProgress);
  connect(scan_.get(), &TScanController::finished, this, &TFrmMain::TriggerStop);
  connect(scan_.get(), &TScanController::startFailed, this,
          [this](const QString& error) { ShowError(this, error); });
  connect(funcPanel_, &TFuncPanel::playerClicked, this, &TFrmMain::LabPlayerClick);
  connect(funcPanel_, &TFuncPanel::exitClicked, this, &TFrmMain::Exit1Click);
}

void TFrmMain::ConnectMenus() {
  const auto on = [this](const char* name, void (TFrmMain::*handler)()) {
    connect(menus_->Action(name), &QAction::triggered, this, handler);
  };
  on("N2", &TFrmMain::N2Click);
  on("Exit1", &TFrmMain::Exit1Click);
  on("Verygoodfile1", &TFrmMain::Verygoodfile1Click);
  on("Fastfile50ms1", &TFrmMain::Fastfile50ms1Click);
  on("Badfile1", &TFrmMain::Badfile1Click);
  on("Verybadfile1", &TFrmMain::Verybadfile1Click);
  on("DTMFSettings1", &TFrmMain::DTMFSettings1Click);
  on("WavePlayer1", &TFrmMain::LabPlayerClick);
  on("DtmfConverter1", &TFrmMain::DtmfConverter1Click);
  on("NormalizeWave1", &TFrmMain::NormalizeWave1Click);
  on("About1", &TFrmMain::About1Click);
  on("LineIn1", &TFrmMain::LabRealClick);
  on("Frequ1", &TFrmMain::Frequ1Click);
  const auto act = [this](const char* name, auto handler) {
    connect(menus_->Action(name), &QAction::triggered, this, handler);
  };
  for (int i = 0; i < TFrozenSpectra::kSlots; ++i) {
    const QByteArray store = "StoreSpectrum" + QByteArray::number(i + 1);
    act(store.constData(), [this, i] { FFrozen.StoreSlot(i, MMSpectrum1().Calc(), this); });
    const QByteArray load = "LoadSpectrum" + QByteArray::number(i + 1);
    act(load.constData(), [this, i] { FFrozen.LoadSlot(i, MMSpectrum1(), this); });
  }
  act("AnalyzerEditor1", [this] { FFrozen.OnShowEditor(); });
  act("LoadBackground1", [this] { specBack_->LoadBackground(); });
  act("ClearBackground1", [this] { specBack_->ClearBackground(); });
  act("PrintSpectrumSetup1", [this] { setupPrint_->exec(); });
  act("PrinterSetup1", [this] { setupPrint_->PrinterSetup(this); });
  act("Mp3ToWav1", [this] { fConvert_->exec(); });
  act("SplitStereo1", [this] { fSplit_->exec(); });
  act("SwapChannels1", [this] { fSwap_->exec(); });
  act("SetupforInput1", [] {
    // The desktop's mixer, where one is installed; silently nothing else.
    for (const char* mixer : {"pavucontrol", "pavucontrol-qt", "gnome-control-center"}) {
      if (QProcess::startDetached(QString::fromLatin1(mixer), {})) return;
    }
  });
}

void TFrmMain::CreateForms() {
  // The program's windows in their start-up order after the main window,
  // of those the program has.
  setupPrint_ = new TfSetupPrint(&MMSpectrum1(), this);
  frmSavBin_ = new TFrmSavBin(FFrozen, this);
  specBack_ = new TfSpecBack(MMSpectrum1(), this);
  fNormalize_ = new TfNormalize(this);
  fConvert_ = new TfConvert(this);
  fSplit_ = new TfSplit(this);
  fSwap_ = new TfSwap(this);
  fDtmf_ = new TfDtmf(this);
  fCon_ = new TfCon(this);
  f_result_ = new Tf_result(this);
}

TFrmInfo* TFrmMain::FrmInfo() const { return frmInfo_; }

DtmfDecision& TFrmMain::Decision() const { return scan_->Scanner().Decision(); }

TMMTrigger& TFrmMain::Trigger() const { return scan_->Scanner().Trigger(); }

bool TFrmMain::Busy() const { return loadBusy_ || scan_->Busy(); }

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
  const QRect fitted = FitToScreens(at.x(), at.y(), wide, hei, QSize(kDesignWidth, kDesignHeight));
  move(fitted.topLeft());
  resize(fitted.size());
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
  paused_ = false;
  looping_ = false;
  PlayerPanel()->SetShowsResults(ReadPreference(kRoot, kPreferenceKey, QStringLiteral("show"),
                                                PlayerPanel()->ShowsResults()));
  titleBar_->SetPeakLeft(TTitleBar::kPeakReset);
  titleBar_->SetPeakRight(TTitleBar::kPeakReset);
  Decision().SetStandard();
  scan_->Scanner().SetDetector(TfDtmf::StoredStrictToneCheck() ? DtmfDetectorKind::Strict
                                                                : DtmfDetectorKind::Described);
  MMSpectrum1().Calc().SetLogFreq(true);
  MMSpectrum1().Calc().SetDropPeaks(true);
  FFrozen.ReadSlotNames();
  frmSavBin_->ShowSlotNames();
  if (frmInfo_ != nullptr) frmInfo_->close();
  // The design's chain: live capture runs from the first show.
  LabRealClick();
}

void TFrmMain::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  FormResize();
}

void TFrmMain::FormResize() { CentrePanFunc(); }

int TFrmMain::PanFuncLeft(int windowWidth) { return (windowWidth - TFuncPanel::kWidth) / 2; }

void TFrmMain::CentrePanFunc() { funcPanel_->move(PanFuncLeft(width()), funcPanel_->y()); }

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
  WritePreference(kRoot, kPreferenceKey, QStringLiteral("show"), PlayerPanel()->ShowsResults());
  // A scan still running ends without a result: the program is going.
  disconnect(scan_.get(), &TScanController::finished, this, &TFrmMain::TriggerStop);
  scan_->Cancel();
  FFrozen.WriteSlotNames();
  waveTimer_->stop();
  timerOver_->stop();
  CloseDevices();

  // The other windows go with the program, without their own close
  // handlers (which would store their positions over the main window's).
  if (frmInfo_ != nullptr) frmInfo_->hide();
  if (f_result_ != nullptr) f_result_->hide();
}

// ---- Handlers -----------------------------------------------------------

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
  Decision().SetFrequencies(columns, rows);
  scan_->Scanner().SetDetector(fDtmf_->StrictToneCheck() ? DtmfDetectorKind::Strict
                                                         : DtmfDetectorKind::Described);
}

void TFrmMain::N2Click() {
  f_result_->show();
  f_result_->raise();
  f_result_->activateWindow();
}

void TFrmMain::Exit1Click() { close(); }

void TFrmMain::About1Click() {
  if (frmInfo_ == nullptr) frmInfo_ = new TFrmInfo(this);
  frmInfo_->show();
  frmInfo_->raise();
  frmInfo_->activateWindow();
}

void TFrmMain::LabPlayerClick() { funcPanel_->ShowPlayer(); }

void TFrmMain::DtmfConverter1Click() { fCon_->exec(); }

void TFrmMain::NormalizeWave1Click() { fNormalize_->exec(); }

// ---- The scan -----------------------------------------------------------

void TFrmMain::AppendDtmfKey(const QString& keys) { dtmfLine_->Append(keys); }

void TFrmMain::ClearDtmfText() {
  scan_->TakePendingKeys();
  dtmfLine_->Clear();
}

QString TFrmMain::DtmfText() {
  AppendDtmfKey(scan_->TakePendingKeys());
  return dtmfLine_->Caption();
}

void TFrmMain::SetScanProgress(int percent) { PlayerPanel()->SetScanProgress(std::clamp(percent, 0, 100)); }

int TFrmMain::ThresholdPosition() const { return scan_->Scanner().Threshold(); }

void TFrmMain::labTriggerStartClick() {
  // A click while a load is under way does not start another one.
  if (loadBusy_ && !loading_) return;
  if (wavePlayer_->Wave().Empty()) {
    // During a load the file just chosen came to nothing: say so rather
    // than open the dialog again. Otherwise the load scans what it loads.
    if (loading_ || !btnLoadClick()) ShowMessage(this, kSelectWaveFile);
    return;
  }
  scan_->Start();
}

void TFrmMain::PrepareFileScan() {
  ClearDtmfText();
  // Live capture and playback end; the scan has the detector to itself.
  CloseDevices();
  waveTimer_->stop();
  looping_ = false;
  paused_ = false;
  MMSpectrum1().Calc().SetEnabled(true);
  funcPanel_->AnalyzerScale()->FrequencyScale()->SetValue(1);
  MMSpectrum1().Calc().SetFrequencyScale(1);
  waveOut_->SetInput(nullptr);
  scan_->Scanner().PrepareFileScan();
}

void TFrmMain::TriggerStop(const QString& fileName, const QString& keys, const QString& error) {
  if (!error.isEmpty()) {
    // Keys found before the failure are no result: the file was not scanned
    // to its end.
    SetScanProgress(0);
    ShowError(this, QStringLiteral("%1 could not be scanned:\n%2").arg(Bare(fileName), error));
  } else {
    RecordScanResult(fileName, keys);
  }
  emit scanFinished();
}

void TFrmMain::RecordScanResult(const QString& fileName, const QString& keys) {
  SetScanProgress(0);
  // The caption of labDTMF, as the scan left it (the scan's own keys, also
  // when a new action has cleared the line meanwhile).
  const QString result = PlayerPanel()->SelectResult(keys);
  f_result_->AddResult(result, fileName);
  if (PlayerPanel()->ShowsResults()) {
    f_result_->show();
    f_result_->raise();
  }
  // The clipboard then holds this result only, also when it is empty.
  if (f_result_->CopiesToClipboard()) QGuiApplication::clipboard()->setText(result);
}

// ---- Loading ------------------------------------------------------------

void TFrmMain::ShowFileInfo() { PlayerPanel()->ShowFileInfo(wavePlayer_->Wave()); }

bool TFrmMain::btnLoadClick() {
  // A click during a load or a demonstration does not re-enter it.
  if (loadBusy_) return false;
  const QString folder =
      ReadPreference(kRoot, kPreferenceKey, QStringLiteral("InitDir"), QDir::currentPath());
  BeginLoad();
  const QString chosen = PromptOpenWave(this, QStringLiteral("Open Wave File"), folder);
  if (chosen.isEmpty()) {
    FinishLoad();
    return false;
  }
  WritePreference(kRoot, kPreferenceKey, QStringLiteral("InitDir"),
                  QFileInfo(chosen).absolutePath());
  PrepareChosen(chosen);
  return true;
}

bool TFrmMain::OpenFile(const QString& path) {
  if (loadBusy_) return false;
  if (!QFileInfo(path).isFile()) {
    ShowError(this, QStringLiteral("%1 cannot be opened: there is no such file.").arg(path));
    return false;
  }
  BeginLoad();
  PrepareChosen(QFileInfo(path).absoluteFilePath());
  return true;
}

void TFrmMain::BeginLoad() {
  loadBusy_ = true;
  // The file under a running scan is about to change: that scan ends, and
  // its result is recorded when it has.
  scan_->Cancel();
  CloseDevices();
  waveTimer_->stop();
  paused_ = false;
  looping_ = false;
  waveOut_->SetInput(wavePlayer_.get());
  connector1_->SetInput(waveOut_.get());
  ClearDtmfText();
}

void TFrmMain::PrepareChosen(const QString& chosen) {
  fCon_->Prepare(chosen, [this, chosen](const QString& name, const QString& error) {
    LoadPrepared(name, error, chosen);
  });
}

void TFrmMain::LoadPrepared(const QString& name, const QString& error, const QString& chosen) {
  if (!error.isEmpty()) {
    ShowError(this, QStringLiteral("%1 cannot be prepared for decoding:\n%2").arg(Bare(chosen), error));
  } else {
    try {
      wavePlayer_->Wave().SetFileName(name.toStdString());
    } catch (const std::exception& e) {
      ShowError(this, QString::fromStdString(PlainMessage(e.what())));
    }
    loading_ = true;
    labTriggerStartClick();
    loading_ = false;
    ShowFileInfo();
    setWindowTitle(QStringLiteral("Tonvista  - ") + Bare(name));
    PlayerPanel()->SetPosition(0);
  }
  FinishLoad();
}

void TFrmMain::FinishLoad() {
  const TMMWave& wave = wavePlayer_->Wave();
  const int length =
      wave.FileName().empty() ? 0 : static_cast<int>(std::min<int64_t>(wave.DataSize(), 100000000));
  PlayerPanel()->SetLoopEnd(length);
  fCon_->close();
  loadBusy_ = false;
}

// ---- The demonstrations ---------------------------------------------------

void TFrmMain::RunDemo(const QString& file, bool clearFirst) {
  if (loadBusy_) return;
  if (clearFirst) ClearDtmfText();
  // The file under a running scan is about to change: that scan ends first.
  scan_->Cancel();
  const QString path = QDir(DecodeDemosFolder()).filePath(file);
  // A demonstration drops every failure, as its menu entries always have: a
  // missing demo file simply gives nothing.
  loadBusy_ = true;
  try {
    wavePlayer_->Wave().SetFileName(path.toStdString());
  } catch (const std::exception&) {
    EndDemo();
    return;
  }
  ShowFileInfo();
  fCon_->Prepare(path, [this](const QString& name, const QString& error) {
    if (!error.isEmpty()) {
      EndDemo();  // dropped, as above
      return;
    }
    try {
      wavePlayer_->Wave().SetFileName(name.toStdString());
    } catch (const std::exception&) {
      EndDemo();  // dropped, as above
      return;
    }
    loading_ = true;
    labTriggerStartClick();
    loading_ = false;
    // The converter window stays a while, then the demonstration ends by
    // playing the file.
    QTimer::singleShot(demoPauseMs_, this, [this] { EndDemo(true); });
  });
}

void TFrmMain::EndDemo(bool play) {
  fCon_->close();
  loadBusy_ = false;
  emit demoFinished();
  if (play && isVisible() && !wavePlayer_->Wave().Empty()) btnStartClick();
}

void TFrmMain::Verygoodfile1Click() { RunDemo(QStringLiteral("5550147236dcba+#.wav"), true); }

void TFrmMain::Fastfile50ms1Click() { RunDemo(QStringLiteral("DTMF 50ms 5550147236.wav"), false); }

void TFrmMain::Badfile1Click() { RunDemo(QStringLiteral("dtmfbad_normalized.wav"), false); }

void TFrmMain::Verybadfile1Click() { RunDemo(QStringLiteral("dtmfgood.wav"), false); }

}  // namespace tv

namespace tv {

// ---- The live components ----------------------------------------------------

TMMSpectrum& TFrmMain::MMSpectrum1() const { return *spectrumArea_->Spectrum(); }
TMMLevel& TFrmMain::MMLevel1() const { return *levelStrip_->LeftMeter(); }
TMMLevel& TFrmMain::MMLevel2() const { return *levelStrip_->RightMeter(); }
TMMLevel& TFrmMain::MMLevel3() const { return *PlayerPanel()->LeftMeter(); }
TMMLevel& TFrmMain::MMLevel4() const { return *PlayerPanel()->RightMeter(); }
TMMOscope& TFrmMain::MMOscope1() const { return *funcPanel_->Generator()->Oscilloscope(); }

void TFrmMain::CreateLiveComponents() {
  waveIn_ = std::make_unique<TMMWaveIn>("MMWaveIn1");
  waveIn_->SetCallBackMode(cmThread);
  waveIn_->SetDeviceID(MapperId);
  waveIn_->SetMode(mStereo);
  waveIn_->SetBitLength(b16Bit);
  waveIn_->SetSampleRate(44100);
  waveIn_->SetBufferSize(8192);

  waveOut_ = std::make_unique<TMMWaveOut>("MMWaveOut1");
  waveOut_->SetCallBackMode(cmThread);
  waveOut_->SetDeviceID(MapperId);
  waveOut_->SetTimeFormat(tfMillisecond);
  waveOut_->SetBufferSize(6144);

  generator_ = std::make_unique<TMMGenerator>("MMGenerator1");
  generator_->SetSampleRate(44100);
  generator_->SetBitLength(b16Bit);
  generator_->SetFrequency(1000.0);
  generator_->SetAmplitude(8212);

  connector1_ = std::make_unique<TMMConnector>("MMConnector1");
  connector1_->SetTriggerMode(tmUpFlank);
  connector1_->SetLevel1(&MMLevel3().Calc());
  connector1_->SetLevel2(&MMLevel4().Calc());
  connector1_->SetOscope1(&MMOscope1().Calc());
  connector1_->SetSpectrum1(&MMSpectrum1().Display());
  connect2_ = std::make_unique<TMMConnector>("conect2");
  connect2_->SetLevel1(&MMLevel1().Calc());
  connect2_->SetLevel2(&MMLevel2().Calc());

  // The design's chain: live capture through the displays to the detector.
  waveIn_->SetOutput(connector1_.get());
  connector1_->SetOutput(connect2_.get());
  connect2_->SetOutput(peakDetect_.get());

  // The events reach the window on the user-interface thread.
  connector1_->OnTrigger = [this](TMMDSPComponent*) { MMConnector1Trigger(); };
  MMLevel1().Calc().OnGainOverflow = [this](TMMLevelCalc*) { LevelGainOverflow(0); };
  MMLevel1().Calc().OnPcmOverflow = [this](TMMLevelCalc*) { LevelGainOverflow(0); };
  MMLevel2().Calc().OnGainOverflow = [this](TMMLevelCalc*) { LevelGainOverflow(1); };
  MMLevel2().Calc().OnPcmOverflow = [this](TMMLevelCalc*) { LevelGainOverflow(1); };

  TPlayerPanel* player = PlayerPanel();
  waveOut_->OnStart = [player](TMMDSPComponent*) { player->StartButton()->SetPressed(true); };
  waveOut_->OnPause = [player](TMMDSPComponent*) {
    player->StartButton()->SetPressed(true);
    player->PauseButton()->SetPressed(true);
  };
  waveOut_->OnRestart = [player](TMMDSPComponent*) { player->PauseButton()->SetPressed(false); };
  // A device that fails while playing closes itself and reports why (the
  // program's error handler shows it); the transport then stands stopped.
  waveOut_->OnError = [this, player](TMMDSPComponent*) {
    waveTimer_->stop();
    paused_ = false;
    looping_ = false;
    for (TMMBitmapButton* b : {player->StartButton(), player->PauseButton(), player->LoopButton()})
      b->SetPressed(false);
  };
  waveOut_->OnStop = [this, player](TMMDSPComponent*) {
    player->StartButton()->SetPressed(false);
    // A file that went away meanwhile cannot be wound back; the next Start
    // opens it anew.
    try {
      wavePlayer_->Wave().SetPosition(0);
    } catch (const std::exception&) {
    }
  };

  waveTimer_ = new QTimer(this);
  waveTimer_->setInterval(150);
  connect(waveTimer_, &QTimer::timeout, this, &TFrmMain::WaveTimerTimer);
  timerOver_ = new QTimer(this);
  timerOver_->setInterval(1000);
  connect(timerOver_, &QTimer::timeout, this, &TFrmMain::TimerOverTimer);

  FFrozen.OnCloseInput = [this] { CloseQuietly(*waveIn_); };
  FFrozen.OnStartInput = [this] { StartWaveIn(); };
  FFrozen.OnShowEditor = [this] {
    frmSavBin_->show();
    frmSavBin_->raise();
  };
}

void TFrmMain::ConnectPanels() {
  connect(funcPanel_, &TFuncPanel::realTimeClicked, this, &TFrmMain::LabRealClick);
  connect(funcPanel_, &TFuncPanel::generatorClicked, this, &TFrmMain::btnGeneratClick);
  connect(funcPanel_, &TFuncPanel::analyzerClicked, this, &TFrmMain::LabAnalyerClick);

  TGeneratorPanel* g = funcPanel_->Generator();
  connect(g, &TGeneratorPanel::startClicked, this, &TFrmMain::MMLabel31Click);
  connect(g, &TGeneratorPanel::stopClicked, this, &TFrmMain::MMLabel23Click);
  connect(g, &TGeneratorPanel::waveFormChanged, this, &TFrmMain::MMSpinButton5Change);
  connect(g, &TGeneratorPanel::outputLevelChanged, this, &TFrmMain::MMLEDSpin18Change);
  connect(g, &TGeneratorPanel::frequencyChanged, this, &TFrmMain::SpinFreq1Change);
  connect(g, &TGeneratorPanel::timeBaseChanged, this, &TFrmMain::rgUSClick);

  TAnalyzerScalePanel* scale = funcPanel_->AnalyzerScale();
  connect(scale->FrequencyScale(), &TMMLEDSpin::upClick, this, &TFrmMain::LEDSpinYScaleUpClick);
  connect(scale->FrequencyScale(), &TMMLEDSpin::downClick, this,
          &TFrmMain::LEDSpinYScaleDownClick);
  connect(scale->Decay(), &TMMLEDSpin::valueChanged, this, &TFrmMain::MMLEDSpin55Change);
  connect(funcPanel_->AnalyzerGain()->Gain(), &TMMRadioGroup::clicked, this,
          &TFrmMain::rgGainClick);
  TAnalyzerFreezePanel* freeze = funcPanel_->AnalyzerFreeze();
  connect(freeze, &TAnalyzerFreezePanel::freezeClicked, this, &TFrmMain::MMLabel39Click);
  connect(freeze, &TAnalyzerFreezePanel::restartClicked, this, &TFrmMain::MMLabel42Click);
  connect(freeze->DisplayPeak(), &QCheckBox::clicked, this, &TFrmMain::CheckBox5Click);
  connect(freeze->DisplayGrid(), &QCheckBox::clicked, this, &TFrmMain::CheckBox6Click);
  connect(freeze->PeakHold(), &QCheckBox::clicked, this, &TFrmMain::CheckBox7Click);

  TPlayerPanel* p = PlayerPanel();
  connect(p, &TPlayerPanel::startClicked, this, &TFrmMain::btnStartClick);
  connect(p, &TPlayerPanel::pauseClicked, this, &TFrmMain::btnPauseClick);
  connect(p, &TPlayerPanel::stopClicked, this, &TFrmMain::btnStopClick);
  connect(p, &TPlayerPanel::forwardClicked, this, &TFrmMain::MMBitmapButton3Click);
  connect(p, &TPlayerPanel::rewindClicked, this, &TFrmMain::MMBitmapButton4Click);
  connect(p, &TPlayerPanel::loopClicked, this, &TFrmMain::bntloopClick);
  connect(p, &TPlayerPanel::trackEnded, this, &TFrmMain::TrackBarTrackEnd);
  // Recording needs the wave recorder component, which the program does
  // not have yet.
  p->RecordButton()->setEnabled(false);
}

void TFrmMain::CloseDevices() {
  if (waveIn_) CloseQuietly(*waveIn_);
  if (waveOut_) CloseQuietly(*waveOut_);
}

void TFrmMain::ShowDeviceProblem(const QString& what, const std::exception& e, bool& toldOnce) {
  if (toldOnce) return;
  toldOnce = true;
  ShowNotice(this,
             QStringLiteral("%1:\n%2").arg(what, QString::fromStdString(PlainMessage(e.what()))));
}

bool TFrmMain::StartWaveIn() {
  try {
    waveIn_->Start();
    inputProblemTold_ = false;
    return true;
  } catch (const std::exception& e) {
    CloseQuietly(*waveIn_);
    ShowDeviceProblem(QStringLiteral("Live capture cannot start"), e, inputProblemTold_);
    return false;
  }
}

bool TFrmMain::StartWaveOut() {
  try {
    waveOut_->Start();
    return true;
  } catch (const std::exception& e) {
    CloseQuietly(*waveOut_);
    ShowDeviceProblem(QStringLiteral("The sound output cannot start"), e, outputProblemTold_);
    return false;
  }
}

void TFrmMain::FitOutputBuffer(int32_t bytes) {
  // The spectrum takes whole frames of FFTLength samples from one buffer,
  // in the stream's format or in the 16-bit stereo its displays are given.
  const WAVEFORMATEX* f = waveOut_->Input() != nullptr ? waveOut_->Input()->PWaveFormat() : nullptr;
  const int32_t align = std::max<int32_t>(f != nullptr ? f->nBlockAlign : 0, 4);
  const int32_t frame = MMSpectrum1().Calc().FFTLength() * align;
  waveOut_->SetBufferSize(0);
  waveOut_->SetBufferSize(std::max(bytes, frame));
}

// ---- Analyzer modes ---------------------------------------------------------

bool TFrmMain::LiveCapture() const { return waveIn_->IsOpen(); }

void TFrmMain::LabRealClick() {
  CloseDevices();
  connector1_->SetInput(waveIn_.get());
  MMSpectrum1().Calc().SetEnabled(true);
  connect2_->SetInput(connector1_.get());
  // A scan under way keeps the detector to itself.
  if (!scan_->Busy()) connect2_->SetOutput(peakDetect_.get());
  StartWaveIn();
}

void TFrmMain::btnGeneratClick() { funcPanel_->ShowGenerator(); }

void TFrmMain::Frequ1Click() {
  funcPanel_->ShowGenerator();
  CloseDevices();
  connector1_->SetInput(waveOut_.get());
}

void TFrmMain::LabAnalyerClick() { funcPanel_->ShowAnalyzer(); }

void TFrmMain::ToggleLiveCapture() {
  if (!waveIn_->IsOpen()) {
    CloseDevices();
    connector1_->SetInput(waveIn_.get());
    MMSpectrum1().Calc().SetEnabled(true);
    StartWaveIn();
  } else {
    CloseQuietly(*waveIn_);
  }
}

bool TFrmMain::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress && watched->isWidgetType()) {
    auto* key = static_cast<QKeyEvent*>(event);
    auto* w = static_cast<QWidget*>(watched);
    // Space typed into an edit stays there.
    const bool typing = qobject_cast<QLineEdit*>(w) != nullptr ||
                        qobject_cast<QAbstractSpinBox*>(w) != nullptr;
    if (key->key() == Qt::Key_Space && key->modifiers() == Qt::NoModifier && !typing &&
        w->window() == this) {
      if (!key->isAutoRepeat()) ToggleLiveCapture();
      return true;
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

// ---- The Generator panel ------------------------------------------------------

void TFrmMain::MMLabel31Click() {
  CloseDevices();
  MMSpectrum1().Calc().SetFFTLength(2048);
  titleBar_->Label17Click();
  waveOut_->SetInput(generator_.get());
  connector1_->SetInput(waveOut_.get());
  FitOutputBuffer(4096);
  StartWaveOut();
}

void TFrmMain::MMLabel23Click() {
  CloseQuietly(*waveOut_);
  MMSpectrum1().Calc().SetFFTLength(1024);
  connector1_->SetInput(waveIn_.get());
}

void TFrmMain::MMSpinButton5Change(int form) {
  generator_->SetWaveForm(form == 0 ? wfSine : wfNoise);
}

void TFrmMain::MMLEDSpin18Change(int level) {
  generator_->SetAmplitude(level);
  funcPanel_->Generator()->SetLevelText(LevelToDbText(level, 16384, 2));
  titleBar_->Label17Click();
}

void TFrmMain::SpinFreq1Change(int hertz) { generator_->SetFrequency(hertz); }

void TFrmMain::rgUSClick(int index) {
  // Only a playing generator is restarted at its new rate; any other use
  // of the output (a file playing) is left alone.
  const bool generating = waveOut_->Input() == generator_.get();
  if (generating) CloseQuietly(*waveOut_);
  generator_->SetSampleRate(index == 0 ? 44100 : 22050);
  if (generating) {
    FitOutputBuffer(4096);
    StartWaveOut();
  }
}

// ---- The Analyzer panels ------------------------------------------------------

void TFrmMain::LEDSpinYScaleUpClick() {
  TMMSpectrumCalc& calc = MMSpectrum1().Calc();
  calc.SetFrequencyScale(calc.FrequencyScale() * 2);
  funcPanel_->AnalyzerScale()->FrequencyScale()->SetValue(calc.FrequencyScale());
}

void TFrmMain::LEDSpinYScaleDownClick() {
  TMMSpectrumCalc& calc = MMSpectrum1().Calc();
  calc.SetFrequencyScale(calc.FrequencyScale() / 2);
  funcPanel_->AnalyzerScale()->FrequencyScale()->SetValue(calc.FrequencyScale());
}

void TFrmMain::MMLEDSpin55Change(int decay) {
  MMSpectrum1().Calc().SetDecay(decay);
  for (TMMLevel* l : {&MMLevel1(), &MMLevel2(), &MMLevel3(), &MMLevel4()}) l->SetDecay(decay + 2);
}

void TFrmMain::rgGainClick() {
  const int index = funcPanel_->AnalyzerGain()->Gain()->ItemIndex();
  if (index < sgNone || index > sg12db) return;
  MMSpectrum1().Calc().SetGain(static_cast<TMMSpectrumGain>(index));
  specBack_->ReapplyBackground();
}

void TFrmMain::MMLabel39Click() { Freeze(*connector1_); }

void TFrmMain::MMLabel42Click() { Restart(*connector1_); }

void TFrmMain::CheckBox5Click() {
  MMSpectrum1().Calc().SetDisplayPeak(funcPanel_->AnalyzerFreeze()->DisplayPeak()->isChecked());
}

void TFrmMain::CheckBox6Click() {
  MMSpectrum1().SetDrawGrid(funcPanel_->AnalyzerFreeze()->DisplayGrid()->isChecked());
}

void TFrmMain::CheckBox7Click() {
  const int peaks = funcPanel_->AnalyzerFreeze()->PeakHold()->isChecked() ? 1 : 0;
  MMSpectrum1().Calc().SetNumPeaks(peaks);
  for (TMMLevel* l : {&MMLevel1(), &MMLevel2(), &MMLevel3(), &MMLevel4()}) l->SetNumPeaks(peaks);
}

// ---- Overload and peak hold -----------------------------------------------------

void TFrmMain::MMConnector1Trigger() {
  titleBar_->HoldPeak(0, MMLevel1().PeakValue());
  titleBar_->HoldPeak(1, MMLevel2().PeakValue());
}

void TFrmMain::LevelGainOverflow(int channel) {
  titleBar_->ShowOverload(channel);
  timerOver_->start();
}

void TFrmMain::TimerOverTimer() {
  titleBar_->TimerOverTimer();
  timerOver_->stop();
}

// ---- The Wave Player transport --------------------------------------------------

void TFrmMain::PrepareFilePlayback() {
  peakDetect_->SetEnabled(true);
  CloseDevices();
  MMSpectrum1().Calc().SetEnabled(true);
  funcPanel_->AnalyzerScale()->FrequencyScale()->SetValue(1);
  MMSpectrum1().Calc().SetFrequencyScale(1);
  waveOut_->SetInput(wavePlayer_.get());
  waveOut_->SetOutput(peakDetect_.get());
  connector1_->SetInput(peakDetect_.get());
}

void TFrmMain::btnStartClick() {
  TPlayerPanel* p = PlayerPanel();
  TMMWave& wave = wavePlayer_->Wave();
  if (wave.Empty()) {
    p->StartButton()->SetPressed(false);
    ShowMessage(this, kSelectWaveFile);
    return;
  }
  if (paused_) {
    try {
      waveOut_->Restart();
    } catch (const std::exception&) {
    }
    paused_ = false;
    waveTimer_->start();
    return;
  }
  if (scan_->Busy()) {
    // The scan reads the file through the detector; playback follows it.
    if (!startAfterScan_) {
      startAfterScan_ = true;
      connect(this, &TFrmMain::scanFinished, this, [this] {
        startAfterScan_ = false;
        btnStartClick();
      }, Qt::SingleShotConnection);
    }
    return;
  }
  CloseQuietly(*waveOut_);
  PrepareFilePlayback();
  const WAVEFORMATEX* f = wave.PWaveFormat();
  int32_t size = 4096;
  if (f != nullptr && f->nSamplesPerSec == 44100) {
    size = (f->wBitsPerSample == 16 && f->nChannels == 2) ? 6144 : 2048;
  }
  FitOutputBuffer(size);
  waveTimer_->start();
  if (!StartWaveOut()) p->StartButton()->SetPressed(false);
  paused_ = false;
}

void TFrmMain::btnPauseClick() {
  try {
    waveOut_->Pause();
  } catch (const std::exception&) {
  }
  paused_ = waveOut_->IsPaused();
  PlayerPanel()->PauseButton()->SetPressed(paused_);
}

void TFrmMain::btnStopClick() {
  TPlayerPanel* p = PlayerPanel();
  CloseQuietly(*waveOut_);
  p->SetPosition(static_cast<int>(std::min<int64_t>(wavePlayer_->Wave().Position(), INT32_MAX)));
  paused_ = false;
  looping_ = false;
  p->LoopButton()->SetPressed(false);
  p->StartButton()->SetPressed(false);
  p->PauseButton()->SetPressed(false);
  waveTimer_->stop();
}

void TFrmMain::MMBitmapButton3Click() {
  TMMWave& wave = wavePlayer_->Wave();
  wave.SetPosition(wave.Position() + wave.DataSize() / 10);
  PlayerPanel()->SetPosition(static_cast<int>(std::min<int64_t>(wave.Position(), INT32_MAX)));
}

void TFrmMain::MMBitmapButton4Click() {
  TMMWave& wave = wavePlayer_->Wave();
  wave.SetPosition(wave.Position() - wave.DataSize() / 10);
  PlayerPanel()->SetPosition(static_cast<int>(std::min<int64_t>(wave.Position(), INT32_MAX)));
}

void TFrmMain::LoopRangeError() {
  ShowError(this, QStringLiteral("The loop's start time must be below its end time."));
}

void TFrmMain::bntloopClick() {
  TPlayerPanel* p = PlayerPanel();
  waveTimer_->stop();
  try {
    waveOut_->Stop();
  } catch (const std::exception&) {
  }
  looping_ = false;
  p->LoopButton()->SetPressed(false);
  TMMWave& wave = wavePlayer_->Wave();
  if (wave.FileName().empty() || wave.Empty()) {
    ShowMessage(this, kSelectWaveFile);
    return;
  }
  const int start = p->LoopStartEdit()->Value();
  const int end = p->LoopEndEdit()->Value();
  if (start >= end) {
    LoopRangeError();
    return;
  }
  if (scan_->Busy()) scan_->Cancel();
  // The loop plays through the playback chain, as Start does.
  if (waveOut_->Input() != wavePlayer_.get() || !waveOut_->IsOpen()) {
    CloseQuietly(*waveOut_);
    PrepareFilePlayback();
    FitOutputBuffer(6144);
  }
  paused_ = false;
  wave.SetPosition(start);
  looping_ = true;
  p->LoopButton()->SetPressed(true);
  StartWaveOut();
  waveTimer_->start();
}

void TFrmMain::WaveTimerTimer() {
  TPlayerPanel* p = PlayerPanel();
  TMMWave& wave = wavePlayer_->Wave();
  const int64_t position = wave.Position();
  if (!p->Tracking()) p->SetPosition(static_cast<int>(std::min<int64_t>(position, INT32_MAX)));
  if (looping_ && position >= p->LoopEndEdit()->Value()) {
    try {
      waveOut_->Pause();
    } catch (const std::exception&) {
    }
    const int start = p->LoopStartEdit()->Value();
    if (start < p->LoopEndEdit()->Value()) {
      wave.SetPosition(start);
      try {
        waveOut_->Rewind();
        waveOut_->Restart();
      } catch (const std::exception&) {
      }
    } else {
      waveTimer_->stop();
      LoopRangeError();
    }
  }
}

void TFrmMain::TrackBarTrackEnd() { waveTimer_->stop(); }

}  // namespace tv
