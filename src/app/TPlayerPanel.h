// The Wave Player panel: the transport buttons, the position slider with the
// elapsed and remaining times, the loaded file's name and format, the
// recording's name, the loop range, the panel's two level meters, and the
// scan controls (the scan label, its progress, the decision threshold and
// the results check box).
#pragma once

#include <QFrame>
#include <QString>
#include <cstdint>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;

namespace tv {

class TMMBitmapButton;
class TMMGauge;
class TMMLEDMode;
class TMMLEDPanel;
class TMMLevel;
class TMMNumberEdit;
class TMMWave;

class TPlayerPanel : public QFrame {
  Q_OBJECT

 public:
  static constexpr int kThresholdMin = 50;
  static constexpr int kThresholdMax = 525;

  explicit TPlayerPanel(QWidget* parent = nullptr);

  // "m:ss.mmm", "h:mm:ss.mmm" or "d:hh:mm:ss.mmm" for a time in milliseconds.
  static QString FormatTime(int64_t ms);

  // The file displays for a wave: slider range, remaining time, bits, rate,
  // channels, size in kilobytes and the file's name.
  void ShowFileInfo(const TMMWave& wave);
  // The slider's position in milliseconds.
  void SetPosition(int ms);
  int Position() const;
  // The loop's end edit: its maximum and value.
  void SetLoopEnd(int ms);
  // edts1 and edte1, the loop range in milliseconds.
  TMMNumberEdit* LoopStartEdit() const { return loopStartEdit_; }
  TMMNumberEdit* LoopEndEdit() const { return loopEndEdit_; }
  // Label10 and labLeft.
  QString ElapsedText() const;
  QString RemainingText() const;
  void SetElapsedText(const QString& text);
  // labRec, the recording's file name.
  void SetRecordName(const QString& name);
  // The slider is being dragged.
  bool Tracking() const { return tracking_; }

  TMMBitmapButton* StartButton() const { return startButton_; }
  TMMBitmapButton* PauseButton() const { return pauseButton_; }
  TMMBitmapButton* StopButton() const { return stopButton_; }
  TMMBitmapButton* RewindButton() const { return rewindButton_; }
  TMMBitmapButton* ForwardButton() const { return forwardButton_; }
  TMMBitmapButton* LoopButton() const { return loopButton_; }
  TMMBitmapButton* RecordButton() const { return recordButton_; }
  QSlider* TrackBar() const { return positionSlider_; }
  TMMLevel* LeftMeter() const { return leftMeter_; }
  TMMLevel* RightMeter() const { return rightMeter_; }

  int ScanProgress() const;
  void SetScanProgress(int percent);
  // The position of tbThresh.
  int Threshold() const;
  // cb_result: whether the results window shows after each scan.
  bool ShowsResults() const;
  void SetShowsResults(bool on);
  // Puts a result into the hidden edit it is copied from and answers the
  // selected text.
  QString SelectResult(const QString& text);

  void tbThreshChange();

 signals:
  void loadClicked();
  void scanClicked();
  void thresholdChanged(int position);
  void startClicked();
  void pauseClicked();
  void stopClicked();
  void rewindClicked();
  void forwardClicked();
  void loopClicked();
  void recordClicked();
  // The end of a slider drag.
  void trackEnded();

 private:
  void BuildTransport();
  void BuildFileDisplays();
  void BuildScanSection();
  void TrackBarChange();

  TMMBitmapButton* loadButton_;
  QSlider* positionSlider_;
  QLabel* elapsedLabel_;
  QLabel* remainingLabel_;
  QLabel* fileLabel_;
  TMMLEDPanel* rateDisplay_;
  TMMLEDPanel* bitsDisplay_;
  TMMLEDPanel* sizeDisplay_;
  TMMLEDMode* channelDisplay_;
  TMMNumberEdit* loopStartEdit_;
  TMMNumberEdit* loopEndEdit_;
  TMMBitmapButton* startButton_;
  TMMBitmapButton* pauseButton_;
  TMMBitmapButton* stopButton_;
  TMMBitmapButton* rewindButton_;
  TMMBitmapButton* forwardButton_;
  TMMBitmapButton* loopButton_;
  TMMBitmapButton* recordButton_;
  TMMLevel* leftMeter_;
  TMMLevel* rightMeter_;
  QLabel* recordLabel_;
  bool tracking_ = false;
  int transportEnd_ = 0;  // x just past the transport buttons

  QPushButton* scanButton_;
  TMMGauge* scanGauge_;
  QLabel* thresholdLabel_;
  QSlider* thresholdSlider_;
  QCheckBox* showResultsBox_;
  QLineEdit* resultEdit_;
};

}  // namespace tv
