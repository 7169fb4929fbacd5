// The Generator panel: the oscilloscope MMOscope1 with the test-tone
// generator's controls: start and stop, the frequency with its step, the
// wave form, the output level in decibels and the oscilloscope's time base.
#pragma once

#include <QFrame>

class QLabel;

namespace tv {

class TMMLEDLabel;
class TMMLEDSpin;
class TMMOscope;
class TMMRadioGroup;

class TGeneratorPanel : public QFrame {
  Q_OBJECT

 public:
  explicit TGeneratorPanel(QWidget* parent = nullptr);

  TMMOscope* Oscilloscope() const { return oscilloscope_; }
  // 0 sine, 1 white noise.
  int WaveForm() const;
  int OutputLevel() const;
  int Frequency() const;
  TMMLEDSpin* FrequencySpin() const { return frequencySpin_; }
  TMMLEDSpin* LevelSpin() const { return levelSpin_; }
  TMMRadioGroup* TimeBase() const { return timeBaseGroup_; }
  // labDB, the output level in decibels.
  QString LevelText() const;
  void SetLevelText(const QString& text);

  // The wave-form spin: LEDWave1 names the chosen form.
  void MMSpinButton5Change();
  // The step of the frequency, which the output level spin takes too.
  void RadioGroup2Click();

 signals:
  void startClicked();
  void stopClicked();
  void waveFormChanged(int form);
  void outputLevelChanged(int level);
  void frequencyChanged(int hertz);
  void timeBaseChanged(int index);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  TMMOscope* oscilloscope_;
  TMMLEDLabel* waveFormLabel_;
  TMMLEDSpin* waveFormSpin_;
  TMMLEDSpin* frequencySpin_;
  TMMLEDSpin* levelSpin_;
  QLabel* levelLabel_;
  TMMRadioGroup* stepGroup_;
  TMMRadioGroup* timeBaseGroup_;
  QLabel* startLabel_;
  QLabel* stopLabel_;
};

}  // namespace tv
