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
#include <QThread>
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
#include "TMMWaveRecorder.h"
#include "TMainMenu.h"
#include "TPlayerPanel.h"
#include "ShellActions.h"
#include "TDeviceDialog.h"
#include "TScanController.h"
#include "TSettingsFiles.h"
#include "TSpectrumArea.h"
#include "TTitleBar.h"
#include "TfCon.h"
#include "TfConvert.h"
#include "TfDtmf.h"
#include "TfNormalize.h"
#include "TfOutfitSpec.h"
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
  CreateLiveKeyDecoder();
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
  recorder_.reset();
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
  act("SetupforInput1", [] { SetupforInput1Click(); });
  act("HelpFile1", [this] { HelpFile1Click(this); });
  act("LoadPrject1", [this] { settings_->LoadPrject1Click(); });
  act("SaveProject1", [this] { settings_->SaveProject1Click(); });
  act("SaveasDefault1", [this] { settings_->SaveasDefault1Click(); });
  const auto showBars = [this] {
    fOutfitSpec_->show();
    fOutfitSpec_->raise();
  };
  act("Spectrum1", showBars);
  act("CheckBackgroundcolors2", showBars);
  on("InputDevice1", &TFrmMain::InputDevice1Click);
  on("OutputDevice1", &TFrmMain::OutputDevice1Click);
}

void TFrmMain::CreateForms() {
  // The program's windows in their start-up order after the main window,
  // of those the program has.
  setupPrint_ = new TfSetupPrint(&MMSpectrum1(), this);
  frmSavBin_ = new TFrmSavBin(FFrozen, this);
  specBack_ = new TfSpecBack(MMSpectrum1(), this);
  fOutfitSpec_ = new TfOutfitSpec(this);
  fOutfitSpec_->SetTargets(&MMSpectrum1(), &MMLevel1(), &MMLevel2(), specBack_->SpeckBack);
  TSettingsFiles::Host host;
  host.Window = this;
  host.Bars = fOutfitSpec_;
  host.InputDevice = [this] { return TDeviceChoice{waveIn_->DeviceID(), waveIn_->CallBackMode()}; };
  host.OutputDevice = [this] { return TDeviceChoice{waveOut_->DeviceID(), waveOut_->CallBackMode()}; };
  host.SetDevices = [this](const TDeviceChoice& input, const TDeviceChoice& output) {
    UseDevices(input, output);
  };
  settings_ = std::make_unique<TSettingsFiles>(std::move(host));
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
  // A position stored on a monitor that is gone would hide the window. The
  // stored numbers may be anything: bounded first, so the rectangle's
  // corners stay within int.
  constexpr int kBound = 1 << 20;
  const QRect wanted(QPoint(std::clamp(left, -kBound, kBound), std::clamp(top, -kBound, kBound)),
                     QSize(std::clamp(wide, 1, kBound), std::clamp(hei, 1, kBound)));
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
  settings_->LoadDefault();
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
  settings_->SaveDefault();
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

void TFrmMain::AppendDtmfKey(const QString& keys) {
  if (QThread::currentThread() != thread()) {
    {
      std::lock_guard lock(keysLock_);
      keysOnTheirWay_ += keys;
    }
    QMetaObject::invokeMethod(this, [this] { ShowKeysOnTheirWay(); }, Qt::QueuedConnection);
    return;
  }
  // Keys still on their way came first.
  ShowKeysOnTheirWay();
  dtmfLine_->Append(keys);
}

void TFrmMain::ShowKeysOnTheirWay() {
  QString keys;
  {
    std::lock_guard lock(keysLock_);
    keys.swap(keysOnTheirWay_);
  }
  dtmfLine_->Append(keys);
}

void TFrmMain::ClearDtmfText() {
  scan_->TakePendingKeys();
  {
    std::lock_guard lock(keysLock_);
    keysOnTheirWay_.clear();
  }
  dtmfLine_->Clear();
}

QString TFrmMain::DtmfText() {
  ShowKeysOnTheirWay();
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
