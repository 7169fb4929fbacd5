// The main window: the title bar with the overload lamps, the spectrum with
// the level meter strip, the decoded-key LED line, and the control area with
// the mode panels and buttons; the menus from which every other window is
// opened. It owns the audio components; closing it ends the program.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <cstdint>
#include <memory>
#include <mutex>

#include "LiveKeyDecoder.h"
#include "TFrozenSpectra.h"

class QFrame;
class QTimer;

namespace tv {

class DtmfDecision;
class TFrmInfo;
class TFrmSavBin;
class TMMConnector;
class TMMGenerator;
class TMMLevel;
class TMMOscope;
class TMMSpectrum;
class TMMWaveIn;
class TMMWaveOut;
class TfConvert;
class TfSetupPrint;
class TfSpecBack;
class TfSplit;
class TfSwap;
class TFuncPanel;
class TLevelStrip;
class TMMLEDLabel;
class TMMPeakDetect;
class TMMTrigger;
class TMMWaveFile;
class TMainMenu;
class TPlayerPanel;
class TScanController;
class TMMWaveRecorder;
class TSettingsFiles;
class TfOutfitSpec;
struct TDeviceChoice;
class TSpectrumArea;
class TTitleBar;
class TfCon;
class TfDtmf;
class TfNormalize;
class Tf_result;

class TFrmMain : public QMainWindow {
  Q_OBJECT

 public:
  // Design position and size, used when nothing is stored.
  static constexpr int kDesignLeft = 501;
  static constexpr int kDesignTop = 129;
  static constexpr int kDesignWidth = 1061;
  static constexpr int kDesignHeight = 766;
  static constexpr int kDtmfLineHeight = 26;
  static constexpr int kControlAreaHeight = 219;

  // `startupScreen` is the information window shown while the program
  // starts; it is closed once this window has been shown.
  explicit TFrmMain(TFrmInfo* startupScreen = nullptr, QWidget* parent = nullptr);
  ~TFrmMain() override;

  // ---- The scan --------------------------------------------------------

  // "Scan for DTMF Tones": scans the loaded file. Without a file it runs the
  // load action, which scans the chosen file itself. A scan under way ends
  // first, with its result recorded.
  void labTriggerStartClick();
  // Readies the chain and the displays for a scan, right before it starts.
  void PrepareFileScan();
  // The end of a scan: its result is recorded, or what ended it is shown.
  void TriggerStop(const QString& fileName, const QString& keys, const QString& error);
  // Records a finished scan of `fileName` (full path): gauge to 0, ed_result,
  // the result lines, the results window shown if cb_result is checked, the
  // clipboard if the results window asks for it.
  void RecordScanResult(const QString& fileName, const QString& keys);

  // labDTMF: keys appended as the scan finds them. From another thread
  // they are queued and shown in order by the GUI thread.
  void AppendDtmfKey(const QString& keys);
  // Empties labDTMF, including keys still on their way.
  void ClearDtmfText();
  // The caption of labDTMF with every key found so far.
  QString DtmfText();
  void SetScanProgress(int percent);
  // The position of tbThresh, the decision threshold.
  int ThresholdPosition() const;

  // ---- Loading and the demonstrations ------------------------------------

  // The load action of the Wave Player panel: the file dialog, then the
  // conversion and normalisation for decoding (while the converter window
  // shows their progress), then the scan. True when a file was chosen.
  bool btnLoadClick();
  // Refreshes the panel's file displays from WavePlayer's wave.
  void ShowFileInfo();

  void Verygoodfile1Click();
  void Fastfile50ms1Click();
  void Badfile1Click();
  void Verybadfile1Click();
  // How long a demonstration keeps the converter window after its scan
  // started, in milliseconds.
  int DemoPauseMs() const { return demoPauseMs_; }
  void SetDemoPauseMs(int ms) { demoPauseMs_ = ms; }

  // A load, a demonstration or a scan is under way.
  bool Busy() const;

  // Loads `path` as the load action does after its dialog: converted and
  // normalised for decoding, then scanned. False when nothing was loaded.
  bool OpenFile(const QString& path);

  // ---- Analyzer modes ----------------------------------------------------

  // "Real Time" and "&Real Time Scan": live capture through the displays.
  void LabRealClick();
  // "Generator" button: the Generator panel; the "&Generator" entry also
  // sends the output, not the input, to the displays.
  void btnGeneratClick();
  void Frequ1Click();
  void LabAnalyerClick();
  // The space bar: live capture on, or off.
  void ToggleLiveCapture();
  // Whether live capture runs.
  bool LiveCapture() const;

  // ---- The Generator panel -------------------------------------------------

  void MMLabel31Click();  // Start
  void MMLabel23Click();  // Stop
  void MMSpinButton5Change(int form);
  void MMLEDSpin18Change(int level);
  void SpinFreq1Change(int hertz);
  void rgUSClick(int index);

  // ---- The Analyzer panels -------------------------------------------------

  void LEDSpinYScaleUpClick();
  void LEDSpinYScaleDownClick();
  void MMLEDSpin55Change(int decay);
  void rgGainClick();
  void MMLabel39Click();  // Freeze
  void MMLabel42Click();  // Restart
  void CheckBox5Click();
  void CheckBox6Click();
  void CheckBox7Click();

  // ---- Overload and peak hold ----------------------------------------------

  void MMConnector1Trigger();
  void LevelGainOverflow(int channel);
  void TimerOverTimer();

  // ---- The Wave Player transport ---------------------------------------------

  void btnStartClick();
  void btnPauseClick();
  void btnStopClick();
  void MMBitmapButton3Click();  // 10 % Forward
  void MMBitmapButton4Click();  // 10 % Rewind
  void bntloopClick();
  void WaveTimerTimer();
  void TrackBarTrackEnd();
  // Links the playback chain: WavePlayer -> MMWaveOut1 -> MMPeakDetect1 ->
  // MMConnector1 -> conect2.
  void PrepareFilePlayback();
  bool Paused() const { return paused_; }
  bool Looping() const { return looping_; }
  QTimer& WaveTimer() const { return *waveTimer_; }
  QTimer& TimerOver() const { return *timerOver_; }

  // ---- Handlers --------------------------------------------------------

  void FormCreate();
  void FormShow();
  void FormResize();
  void FormClose();
  // Keeps Pan_func centred: left = (window width - panel width) / 2,
  // truncated toward zero (negative when the window is narrower).
  void CentrePanFunc();
  static int PanFuncLeft(int windowWidth);

  void DTMFSettings1Click();
  void ApplyDtmfFrequencies();
  void N2Click();
  void Exit1Click();
  void About1Click();
  void LabPlayerClick();
  void DtmfConverter1Click();
  void NormalizeWave1Click();

  // ---- Parts -------------------------------------------------------------

  TTitleBar* TitleBar() const { return titleBar_; }
  TSpectrumArea* SpectrumArea() const { return spectrumArea_; }
  TLevelStrip* LevelStrip() const { return levelStrip_; }
  TMMLEDLabel* DtmfLine() const { return dtmfLine_; }
  QFrame* ControlArea() const { return controlArea_; }
  TFuncPanel* FuncPanel() const { return funcPanel_; }
  TPlayerPanel* PlayerPanel() const;
  TMainMenu& Menus() const { return *menus_; }

  TfDtmf* fDtmf() const { return fDtmf_; }
  Tf_result* f_result() const { return f_result_; }
  TfCon* fCon() const { return fCon_; }
  TfNormalize* fNormalize() const { return fNormalize_; }
  TFrmInfo* FrmInfo() const;

  // The decision of every scan buffer: the eight frequencies, the key
  // characters, the key sums and the release flag.
  DtmfDecision& Decision() const;
  TMMWaveFile& WavePlayer() const { return *wavePlayer_; }
  TMMPeakDetect& MMPeakDetect1() const { return *peakDetect_; }
  TMMTrigger& Trigger() const;
  TMMWaveIn& MMWaveIn1() const { return *waveIn_; }
  TMMWaveOut& MMWaveOut1() const { return *waveOut_; }
  TMMWaveRecorder& wavRecorder() const { return *recorder_; }
  TMMGenerator& MMGenerator1() const { return *generator_; }
  TMMConnector& MMConnector1() const { return *connector1_; }
  TMMConnector& conect2() const { return *connect2_; }
  TMMSpectrum& MMSpectrum1() const;
  TMMLevel& MMLevel1() const;
  TMMLevel& MMLevel2() const;
  TMMLevel& MMLevel3() const;
  TMMLevel& MMLevel4() const;
  TMMOscope& MMOscope1() const;
  TFrozenSpectra FFrozen;
  TFrmSavBin* FrmSavBin() const { return frmSavBin_; }
  TfSetupPrint* fSetupPrint() const { return setupPrint_; }
  TfSpecBack* fSpecBack() const { return specBack_; }

 signals:
  // A scan has ended: its result is recorded, or what ended it was shown.
  void scanFinished();
  // A demonstration is through: its scan started (unless it dropped a
  // failure) and the converter window closed again.
  void demoFinished();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildLayout();
  void ConnectMenus();
  void CreateForms();
  void CreateComponents();
  void BeginLoad();
  void PrepareChosen(const QString& chosen);
  void LoadPrepared(const QString& name, const QString& error, const QString& chosen);
  void FinishLoad();
  // One demonstration: the steps the four demo entries share.
  void RunDemo(const QString& file, bool clearFirst);
  void EndDemo(bool play = false);
  void CreateLiveComponents();
  void ConnectPanels();
  // Closes the live input and the output; failures there are only reported.
  void CloseDevices();
  // Record: without a file the dialog names one (a second press starts);
  // with one the live input is recorded into it and shown by the displays.
  void bntRecClick();
  // Stop's first step while recording: the recording becomes the loaded file.
  void EndRecording();
  // The recorder stopped by itself (device lost, disk full; it has said why):
  // what it stored becomes the loaded file, as after Stop.
  void RecordingFailed();
  // The window's side of a finished recording: the playback chain back in
  // place, the file loaded, the Record button released.
  void FinishRecording();
  // Closes the wave input and output and gives them the chosen devices.
  void UseDevices(const TDeviceChoice& input, const TDeviceChoice& output);
  // The device menu entries: the dialog, then the choice in use.
  void InputDevice1Click();
  void OutputDevice1Click();
  // Starts live capture; a failure is told to the user (once for a device
  // that is missing altogether) and answered false.
  bool StartWaveIn();
  // Starts the output; its failures do not stop the action that asked for
  // it, but the first is told so that a missing device does not go unnoticed.
  bool StartWaveOut();
  void ShowDeviceProblem(const QString& what, const std::exception& e, bool& toldOnce);
  // The output's buffer holds at least one spectrum frame of the stream
  // that flows through it, so that the spectrum is fed from every buffer.
  void FitOutputBuffer(int32_t bytes);
  void LoopRangeError();

  TTitleBar* titleBar_;
  TSpectrumArea* spectrumArea_;
  TLevelStrip* levelStrip_;
  TMMLEDLabel* dtmfLine_;
  // Keys appended from other threads that the GUI thread has not shown yet.
  std::mutex keysLock_;
  QString keysOnTheirWay_;
  void ShowKeysOnTheirWay();
  // With the strict tone check on, the keys heard on the live input go to
  // labDTMF. Declared before the devices, so that it outlives their
  // capture thread.
  std::unique_ptr<LiveKeyDecoder> liveKeys_;
  void CreateLiveKeyDecoder();
  QFrame* controlArea_;
  TFuncPanel* funcPanel_;
  std::unique_ptr<TMainMenu> menus_;

  QPointer<TFrmInfo> frmInfo_;
  TfDtmf* fDtmf_ = nullptr;
  Tf_result* f_result_ = nullptr;
  TfCon* fCon_ = nullptr;
  TfNormalize* fNormalize_ = nullptr;

  std::unique_ptr<TMMWaveFile> wavePlayer_;
  std::unique_ptr<TMMPeakDetect> peakDetect_;
  std::unique_ptr<TMMWaveIn> waveIn_;
  std::unique_ptr<TMMWaveOut> waveOut_;
  std::unique_ptr<TMMWaveRecorder> recorder_;
  std::unique_ptr<TMMGenerator> generator_;
  // After the devices: the connectors go first, the displays (widgets) last.
  std::unique_ptr<TMMConnector> connect2_;
  std::unique_ptr<TMMConnector> connector1_;
  TFrmSavBin* frmSavBin_ = nullptr;
  TfSetupPrint* setupPrint_ = nullptr;
  TfSpecBack* specBack_ = nullptr;
  TfOutfitSpec* fOutfitSpec_ = nullptr;
  std::unique_ptr<TSettingsFiles> settings_;
  TfConvert* fConvert_ = nullptr;
  TfSplit* fSplit_ = nullptr;
  TfSwap* fSwap_ = nullptr;
  QTimer* waveTimer_ = nullptr;
  QTimer* timerOver_ = nullptr;
  std::unique_ptr<TScanController> scan_;  // after the components: it goes first

  bool shown_ = false;
  bool paused_ = false;   // the player's pause and loop states
  bool looping_ = false;
  bool loadBusy_ = false;  // a load or a demonstration is under way
  bool loading_ = false;   // the load's own scan is being started
  int demoPauseMs_ = 5000;
  bool inputProblemTold_ = false;
  bool outputProblemTold_ = false;
  bool startAfterScan_ = false;  // Start was pressed while a scan ran
};

}  // namespace tv
