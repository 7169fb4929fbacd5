// The main window: the title bar with the overload lamps, the spectrum with
// the level meter strip, the decoded-key LED line, and the control area with
// the mode panels and buttons; the menus from which every other window is
// opened. It owns the audio components; closing it ends the program.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <memory>

class QFrame;

namespace tv {

class DtmfDecision;
class TFrmInfo;
class TFuncPanel;
class TLevelStrip;
class TMMLEDLabel;
class TMMPeakDetect;
class TMMTrigger;
class TMMWaveFile;
class TMainMenu;
class TPlayerPanel;
class TScanController;
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

  // labDTMF: keys appended as the scan finds them (GUI thread).
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

 signals:
  // A scan has ended: its result is recorded, or what ended it was shown.
  void scanFinished();
  // A demonstration is through: its scan started (unless it dropped a
  // failure) and the converter window closed again.
  void demoFinished();

 protected:
  void showEvent(QShowEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildLayout();
  void ConnectMenus();
  void CreateForms();
  void CreateComponents();
  void LoadPrepared(const QString& name, const QString& error, const QString& chosen);
  void FinishLoad();
  // One demonstration: the steps the four demo entries share.
  void RunDemo(const QString& file, bool clearFirst);
  void EndDemo();

  TTitleBar* titleBar_;
  TSpectrumArea* spectrumArea_;
  TLevelStrip* levelStrip_;
  TMMLEDLabel* dtmfLine_;
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
  std::unique_ptr<TScanController> scan_;  // after the components: it goes first

  bool shown_ = false;
  bool paused_ = false;   // the player's pause and loop states
  bool looping_ = false;
  bool loadBusy_ = false;  // a load or a demonstration is under way
  bool loading_ = false;   // the load's own scan is being started
  int demoPauseMs_ = 5000;
};

}  // namespace tv
