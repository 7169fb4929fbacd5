// The main window: title bar with the overload lamps, the spectrum with the
// level meter strip, the decoded-key LED line, and the control area with the
// mode buttons and the Wave Player panel; the menus from which every other
// window is opened. Closing it ends the program.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "DtmfDecision.h"
#include "MMDSPObj.h"

class QAction;
class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QSlider;

namespace tv {

class TFrmInfo;
class TLevelPlaceholder;
class TMMBitmapButton;
class TMMGauge;
class TMMLEDLabel;
class TMMLEDMode;
class TMMLEDPanel;
class TMMLed;
class TMMNumberEdit;
class TSpectrumPlaceholder;
class TfDtmf;
class Tf_result;
class TfCon;
class TfNormalize;
class TMMWaveFile;
class TMMTrigger;
class TMMPeakDetect;

class TFrmMain : public QMainWindow {
  Q_OBJECT

 public:
  // Design position and size, used when nothing is stored.
  static constexpr int kDesignLeft = 501;
  static constexpr int kDesignTop = 129;
  static constexpr int kDesignWidth = 1061;
  static constexpr int kDesignHeight = 766;
  static constexpr int kPanFuncWidth = 897;
  static constexpr int kPanFuncHeight = 217;
  static constexpr int kTitleHeight = 41;
  static constexpr int kLevelStripWidth = 109;
  static constexpr int kDtmfLineHeight = 26;
  static constexpr int kControlAreaHeight = 219;
  static constexpr int kThresholdMin = 50;
  static constexpr int kThresholdMax = 525;
  static constexpr int kPeakReset = -99;

  // `startupScreen` is the information window shown while the program
  // starts; it is closed once this window has been shown.
  explicit TFrmMain(TFrmInfo* startupScreen = nullptr, QWidget* parent = nullptr);
  ~TFrmMain() override;

  // ---- What the scan uses -------------------------------------------------

  // Appends a decoded key to labDTMF. Callable from any thread: keys from a
  // worker reach the label on the GUI thread in the order appended, none lost.
  void AppendDtmfKey(const QString& key);
  // Empties labDTMF, including keys still on their way (GUI thread).
  void ClearDtmfText();
  // The caption of labDTMF with every key appended so far (GUI thread).
  QString DtmfText();
  // Moves the progress gauge. Callable from any thread; from a worker only
  // changes of the percentage are handed on, so per-buffer calls are cheap.
  void SetScanProgress(int percent);
  // The position of tbThresh, the decision threshold. Any thread.
  int ThresholdPosition() const { return FThreshold.load(std::memory_order_relaxed); }
  // Scans the loaded file (the "Scan for DTMF Tones" label). Without a file
  // it runs the load action, which scans the chosen file itself.
  void labTriggerStartClick();
  // Builds the scan chain WavePlayer -> Trigger -> MMPeakDetect1.
  void PrepareFileScan();
  // The trigger's events: the decision per buffer (worker thread) and the
  // end of the scan (GUI thread).
  void TriggerBufferReady(TMMDSPComponent* sender, PWaveHdr lpWaveHdr);
  void TriggerStop(TMMDSPComponent* sender);
  // Ends a running scan; its result is recorded as at any other end.
  void CloseScan();

  // The load action of the Wave Player panel: the file dialog, conversion
  // and normalisation for decoding, then the scan. True when a file was
  // chosen.
  bool btnLoadClick();
  // Refreshes the panel's file displays from WavePlayer's wave.
  void ShowFileInfo();
  // "m:ss.mmm", "h:mm:ss.mmm" or "d:hh:mm:ss.mmm" for a time in milliseconds.
  static QString FormatTime(int64_t ms);

  // The "Decode Demos" entries.
  void Verygoodfile1Click();
  void Fastfile50ms1Click();
  void Badfile1Click();
  void Verybadfile1Click();
  // How long a demo waits after starting its scan, handling events.
  int DemoPauseMs = 5000;

  // The wave tools menu.
  void DtmfConverter1Click();
  void NormalizeWave1Click();

  // Records the finished scan of `fileName` (full path) in the results window
  // from labDTMF: gauge to 0, ed_result, the result lines, the window shown
  // if cb_result is checked, the clipboard if the results window asks for it.
  void RecordScanResult(const QString& fileName);

  // ---- Handlers --------------------------------------------------------

  void FormCreate();
  void FormShow();
  void FormResize();
  void FormClose();
  // Keeps Pan_func centred: left = (window width - panel width) / 2,
  // truncated toward zero (negative when the window is narrower).
  void CentrePanFunc();
  static int PanFuncLeft(int windowWidth) { return (windowWidth - kPanFuncWidth) / 2; }

  void tbThreshChange();
  void DTMFSettings1Click();
  void ApplyDtmfFrequencies();
  void N2Click();
  void Exit1Click();
  void About1Click();
  void LabPlayerClick();
  void LEDLeftClick();
  void Label17Click();

  TfDtmf* fDtmf() const { return fDtmf_; }
  Tf_result* f_result() const { return f_result_; }
  TfCon* fCon() const { return fCon_; }
  TfNormalize* fNormalize() const { return fNormalize_; }
  TFrmInfo* FrmInfo() const;

  // ---- Decoder state ---------------------------------------------------

  // The decision of every scan buffer: the eight frequencies (written on
  // the GUI thread, read by the scan's worker), the key characters, the key
  // sums and the release flag.
  DtmfDecision FDecision;

  // ---- Audio components ------------------------------------------------

  std::unique_ptr<TMMWaveFile> WavePlayer;
  std::unique_ptr<TMMPeakDetect> MMPeakDetect1;
  std::unique_ptr<TMMTrigger> Trigger;  // last: it goes first

  // Transport and meter state of the panels.
  bool FPaused = false;
  bool FLooping = false;
  bool FTracking = false;
  int32_t FPeakLeft = kPeakReset;
  int32_t FPeakRight = kPeakReset;

  // ---- Controls --------------------------------------------------------

  QFrame* PanTitle;
  QLabel* LabTitle;
  TMMLed* LEDLeft;
  TMMLed* LEDRight;
  QLabel* overl;
  QLabel* overr;
  QLabel* Label17;
  QLabel* Label18;

  TSpectrumPlaceholder* MMSpectrum1;
  QFrame* PanLevel;
  TLevelPlaceholder* MMLevel1;
  TLevelPlaceholder* MMLevel2;

  TMMLEDLabel* labDTMF;

  QFrame* PanControl;
  QFrame* Pan_func;
  QPushButton* LabReal;
  QPushButton* btnGenerat;
  QPushButton* LabAnalyer;
  QPushButton* LabPlayer;
  QPushButton* LabTrigger;

  QFrame* PanPlayer;
  TMMBitmapButton* btnLoad;
  TMMBitmapButton* btnStart;
  TMMBitmapButton* btnPause;
  TMMBitmapButton* btnStop;
  TMMBitmapButton* MMBitmapButton3;  // 10 % forward
  TMMBitmapButton* MMBitmapButton4;  // 10 % rewind
  TMMBitmapButton* bntRec;
  TMMBitmapButton* bntloop1;
  QSlider* TrackBar;
  QLabel* Label10;
  QLabel* labLeft;
  QLabel* LabFile;
  QLabel* labRec;
  TMMLEDPanel* MMLEDPanel6;  // sample rate
  TMMLEDPanel* MMLEDPanel7;  // bits per sample
  TMMLEDPanel* MMLEDPanel1;  // file size in kb
  TMMLEDMode* MMLEDMode2;
  TMMNumberEdit* edts1;
  TMMNumberEdit* edte1;
  TLevelPlaceholder* MMLevel3;
  TLevelPlaceholder* MMLevel4;

  QPushButton* labTriggerStart;
  TMMGauge* Gauge;
  QLabel* Label8;
  QSlider* tbThresh;
  QLabel* LabThreshLow;
  QLabel* LabThreshHigh;
  QCheckBox* cb_result;
  QLineEdit* ed_result;

  // ---- Menus -----------------------------------------------------------

  QMenu* File1;
  QAction* LoadPrject1;
  QAction* SaveProject1;
  QAction* SaveasDefault1;
  QAction* N2;  // "Show Results Window"
  QAction* Exit1;
  QMenu* DecodeDemos1;
  QAction* Verygoodfile1;
  QAction* Fastfile50ms1;
  QAction* Badfile1;
  QAction* Verybadfile1;
  QAction* DTMFSettings1;
  QMenu* AnalyzerInput1;
  QAction* WavePlayer1;
  QAction* LineIn1;
  QAction* Frequ1;
  QMenu* DataValue1;
  std::array<QAction*, 4> StoreSpectrum{};
  std::array<QAction*, 4> LoadSpectrum{};
  QAction* AnalyzerEditor1;
  QMenu* Preferences1;
  QAction* SetupforInput1;
  QAction* InputDevice1;
  QAction* OutputDevice1;
  QAction* Spectrum1;
  QMenu* Tools1;
  QAction* DtmfConverter1;
  QAction* Mp3ToWav1;
  QAction* NormalizeWave1;
  QAction* SplitStereo1;
  QAction* SwapChannels1;
  QMenu* Module1;
  QMenu* PrintModule1;
  QAction* PrintSpectrumSetup1;
  QAction* PrinterSetup1;
  QMenu* BackgroundModule1;
  QAction* LoadBackground1;
  QAction* ClearBackground1;
  QAction* CheckBackgroundcolors2;
  QMenu* Info1;
  QAction* About1;
  QAction* HelpFile1;

 protected:
  void showEvent(QShowEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildMenus();
  void BuildTitlePanel(QWidget* parent);
  void BuildPlayerPanel();
  void BuildFuncPanel();
  void CreateForms();
  void CreateComponents();
  void FlushDtmfKeys();
  // One demonstration scan: steps shared by the four demo entries.
  void RunDemo(const QString& file, bool clearFirst);

  QPointer<TFrmInfo> FrmInfo_;
  TfDtmf* fDtmf_ = nullptr;
  Tf_result* f_result_ = nullptr;
  TfCon* fCon_ = nullptr;
  TfNormalize* fNormalize_ = nullptr;
  bool shown_ = false;
  bool loading_ = false;       // a load action is under way
  bool shuttingDown_ = false;  // the window is closing

  std::atomic<int> FThreshold{kThresholdMin};

  // Keys appended by a worker wait here until the GUI thread takes them.
  std::mutex keyLock_;
  QString pendingKeys_;
  bool flushPosted_ = false;

  std::atomic<int> scanProgress_{0};
  std::atomic<bool> progressPosted_{false};
};

}  // namespace tv
