// The main window's live half: the audio components and their chains, the
// analyzer modes, the Generator and Analyzer panels, overload and peak hold,
// and the Wave Player transport.
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
#include <filesystem>

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
#include "TDeviceDialog.h"
#include "TScanController.h"
#include "TSettingsFiles.h"
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
#include "FileRequest.h"
#include "Tf_result.h"
#include "WaveDialogs.h"

namespace tv {

namespace {

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

  recorder_ = std::make_unique<TMMWaveRecorder>("wavRecorder");
  recorder_->SetMode(mStereo);
  recorder_->SetBitLength(b16Bit);
  recorder_->SetSampleRate(44100);
  recorder_->SetBufferSize(4096);
  recorder_->SetNumBuffers(10);
  recorder_->SetDeviceID(MapperId);
  recorder_->SetCallBackMode(cmWindow);
  recorder_->SetTimeFormat(tfMillisecond);
  recorder_->SetMaxRecordTime(-1);
  recorder_->SetOverwriteExisting(true);

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

  // The recorder reports on the thread that found the fault; the window
  // takes it up on its own.
  recorder_->OnError = [this](TMMDSPComponent*) {
    QMetaObject::invokeMethod(this, [this] { RecordingFailed(); }, Qt::QueuedConnection);
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
  connect(p, &TPlayerPanel::recordClicked, this, &TFrmMain::bntRecClick);
}

void TFrmMain::CloseDevices() {
  // A recording under way is finished, so the file is complete.
  if (recorder_ && recorder_->Recording()) {
    try {
      recorder_->Stop();
    } catch (const std::exception&) {
      // The file stays valid up to the last whole frame whatever failed;
      // the window is closing, so there is nobody left to tell.
    }
  }
  if (waveIn_) CloseQuietly(*waveIn_);
  if (waveOut_) CloseQuietly(*waveOut_);
}

void TFrmMain::ShowDeviceProblem(const QString& what, const std::exception& e, bool& toldOnce) {
  if (toldOnce) return;
  toldOnce = true;
  ShowNotice(this,
             QStringLiteral("%1:\n%2").arg(what, QString::fromStdString(PlainMessage(e.what()))));
}

void TFrmMain::UseDevices(const TDeviceChoice& input, const TDeviceChoice& output) {
  CloseQuietly(*waveOut_);
  CloseQuietly(*waveIn_);
  try {
    waveOut_->SetDeviceID(output.DeviceID);
    waveOut_->SetCallBackMode(output.CallBackMode);
    waveIn_->SetDeviceID(input.DeviceID);
    waveIn_->SetCallBackMode(input.CallBackMode);
    if (!recorder_->Recording()) recorder_->SetDeviceID(input.DeviceID);
  } catch (const std::exception& e) {
    ShowError(this, QString::fromStdString(e.what()));
  }
}

void TFrmMain::InputDevice1Click() {
  const bool live = LiveCapture();
  TDeviceChoice choice{waveIn_->DeviceID(), waveIn_->CallBackMode()};
  if (!tv::InputDevice1Click(this, choice)) return;
  UseDevices(choice, TDeviceChoice{waveOut_->DeviceID(), waveOut_->CallBackMode()});
  if (live) StartWaveIn();
}

void TFrmMain::OutputDevice1Click() {
  TDeviceChoice choice{waveOut_->DeviceID(), waveOut_->CallBackMode()};
  if (!tv::OutputDevice1Click(this, choice)) return;
  const bool live = LiveCapture();
  UseDevices(TDeviceChoice{waveIn_->DeviceID(), waveIn_->CallBackMode()}, choice);
  if (live) StartWaveIn();
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

void TFrmMain::bntRecClick() {
  TPlayerPanel* p = PlayerPanel();
  if (recorder_->Recording()) return;
  if (!recorder_->FileName().empty()) {
    // The recorder has its own input device.
    CloseQuietly(*waveIn_);
    waveTimer_->start();
    MMSpectrum1().Calc().SetFFTLength(1024);
    p->SetRecordName(QFileInfo(QString::fromStdString(recorder_->FileName())).fileName());
    recorder_->SetOutput(connector1_.get());
    p->RecordButton()->SetPressed(true);
    try {
      recorder_->Record();
    } catch (const std::exception& e) {
      p->RecordButton()->SetPressed(false);
      ShowError(this, QString::fromStdString(PlainMessage(e.what())));
    }
    return;
  }
  TFileRequest request;
  request.title = QStringLiteral("Record into");
  request.filter = NameFilter(QStringLiteral("Wave files"), QStringLiteral("*.wav"));
  request.defaultSuffix = QStringLiteral("wav");
  request.folder = ReadPreference(PreferenceRoot::CurrentUser, kPreferenceKey, QStringLiteral("Rec InitDir"),
                                  QString());
  request.save = true;
  const QString chosen = PromptFile(this, request);
  if (chosen.isEmpty()) return;
  recorder_->SetFileName(chosen.toStdString());
  WritePreference(PreferenceRoot::CurrentUser, kPreferenceKey, QStringLiteral("Rec InitDir"),
                  QFileInfo(chosen).absolutePath());
}

void TFrmMain::EndRecording() {
  try {
    recorder_->Stop();
  } catch (const std::exception& e) {
    ShowError(this, QString::fromStdString(PlainMessage(e.what())));
  }
  FinishRecording();
}

void TFrmMain::RecordingFailed() {
  // Stop came first and has finished the recording already.
  if (recorder_->FileName().empty()) return;
  try {
    recorder_->Stop();
  } catch (const std::exception&) {
    // The recorder has told the user why it stopped; once is enough.
  }
  FinishRecording();
}

void TFrmMain::FinishRecording() {
  TPlayerPanel* p = PlayerPanel();
  recorder_->SetOutput(nullptr);
  // An output still playing (the generator, when the recording failed by
  // itself) keeps its chain; Start puts the player's chain in place anyway.
  if (!waveOut_->IsOpen()) {
    waveOut_->SetInput(wavePlayer_.get());
    waveOut_->SetOutput(peakDetect_.get());
    connector1_->SetInput(peakDetect_.get());
  }
  // A recording that stored nothing made no file: the loaded one stays.
  const std::string recorded = recorder_->FileName();
  if (!recorded.empty() && std::filesystem::exists(recorded)) {
    try {
      wavePlayer_->Wave().SetFileName(recorded);
    } catch (const std::exception& e) {
      ShowError(this, QString::fromStdString(PlainMessage(e.what())));
    }
    ShowFileInfo();
  }
  recorder_->SetFileName(std::string());
  p->SetRecordName(QString());
  p->RecordButton()->SetPressed(false);
}

void TFrmMain::btnStopClick() {
  TPlayerPanel* p = PlayerPanel();
  CloseQuietly(*waveOut_);
  if (recorder_->Recording()) EndRecording();
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
  if (recorder_->Recording()) p->SetElapsedText(TPlayerPanel::FormatTime(recorder_->Position()));
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
