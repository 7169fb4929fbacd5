#include "TFrmMain.h"

#include <QAction>
#include <QClipboard>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QMenuBar>
#include <QScreen>
#include <QShowEvent>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <array>

#include "DataFolder.h"
#include "DtmfScanner.h"
#include "Messages.h"
#include "PanelStyle.h"
#include "Preferences.h"
#include "TFrmInfo.h"
#include "TFuncPanel.h"
#include "TLevelStrip.h"
#include "TMMLEDLabel.h"
#include "TMMNumberEdit.h"
#include "TMMPeakDetect.h"
#include "TMMWave.h"
#include "TMMWaveFile.h"
#include "TMainMenu.h"
#include "TPlayerPanel.h"
#include "TScanController.h"
#include "TSpectrumArea.h"
#include "TTitleBar.h"
#include "TfCon.h"
#include "TfDtmf.h"
#include "TfNormalize.h"
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
  ConnectMenus();
  FormCreate();
  CreateForms();
}

TFrmMain::~TFrmMain() {
  // The scan ends before the window's parts go; its worker must find
  // nothing of the window any more.
  scan_.reset();
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
}

void TFrmMain::CreateForms() {
  // The program's windows in their start-up order after the main window,
  // of those the program has.
  fNormalize_ = new TfNormalize(this);
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
  if (frmInfo_ != nullptr) frmInfo_->close();
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
  loadBusy_ = true;
  // The file under a running scan is about to change: that scan ends, and
  // its result is recorded when it has.
  scan_->Cancel();
  ClearDtmfText();
  const QString folder =
      ReadPreference(kRoot, kPreferenceKey, QStringLiteral("InitDir"), QDir::currentPath());
  const QString chosen = PromptOpenWave(this, QStringLiteral("Open Wave File"), folder);
  if (chosen.isEmpty()) {
    FinishLoad();
    return false;
  }
  WritePreference(kRoot, kPreferenceKey, QStringLiteral("InitDir"),
                  QFileInfo(chosen).absolutePath());
  fCon_->Prepare(chosen, [this, chosen](const QString& name, const QString& error) {
    LoadPrepared(name, error, chosen);
  });
  return true;
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
    // The converter window stays a while, then the demonstration ends.
    QTimer::singleShot(demoPauseMs_, this, &TFrmMain::EndDemo);
  });
}

void TFrmMain::EndDemo() {
  fCon_->close();
  loadBusy_ = false;
  emit demoFinished();
}

void TFrmMain::Verygoodfile1Click() { RunDemo(QStringLiteral("5550147236dcba+#.wav"), true); }

void TFrmMain::Fastfile50ms1Click() { RunDemo(QStringLiteral("DTMF 50ms 5550147236.wav"), false); }

void TFrmMain::Badfile1Click() { RunDemo(QStringLiteral("dtmfbad_normalized.wav"), false); }

void TFrmMain::Verybadfile1Click() { RunDemo(QStringLiteral("dtmfgood.wav"), false); }

}  // namespace tv
