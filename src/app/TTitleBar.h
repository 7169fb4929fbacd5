// The title bar of the main window: the product name, and at its right for
// each channel the overload LED, its hidden "over" label and the peak-hold
// read-out, which a click resets.
#pragma once

#include <QFrame>
#include <QString>
#include <cstdint>

class QLabel;

namespace tv {

class TMMLed;

// The decibel text of the level labels: "-Inf" for 0, else
// 20 * log10(|value| / max(reference, 1)) + offset with two decimals, in the
// locale's number format.
QString LevelToDbText(int64_t value, int64_t reference, int offset);

class TTitleBar : public QFrame {
  Q_OBJECT

 public:
  static constexpr int kHeight = 41;
  static constexpr int32_t kPeakReset = -99;

  explicit TTitleBar(QWidget* parent = nullptr);

  // A click on an LED or an "over" label: both LEDs off, both labels hidden.
  void LEDLeftClick();
  // A click on a peak-hold label: both read "-inf", both maxima reset.
  void Label17Click();
  // Lights a channel's LED and shows its "over" label (0 left, 1 right).
  void ShowOverload(int channel);
  // A channel's current peak (0 left, 1 right): its label follows it only
  // upwards, so that it holds the highest level since the last reset.
  void HoldPeak(int channel, int32_t peak);
  // The overload timer ran out: lamps off, "over" labels hidden, and the
  // maxima start again (their labels keep their text until a higher level).
  void TimerOverTimer();
  bool OverloadShown() const;
  QString PeakText(int channel) const;

  // The peak-hold maxima of the two channels.
  int32_t PeakLeft() const { return peakLeft_; }
  void SetPeakLeft(int32_t value) { peakLeft_ = value; }
  int32_t PeakRight() const { return peakRight_; }
  void SetPeakRight(int32_t value) { peakRight_ = value; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  struct Channel {
    TMMLed* led = nullptr;
    QLabel* over = nullptr;
    QLabel* peak = nullptr;
  };
  void AddChannel(const QString& caption, Channel& channel, const char* ledName,
                  const char* overName, const char* peakName);

  Channel left_;
  Channel right_;
  int32_t peakLeft_ = kPeakReset;
  int32_t peakRight_ = kPeakReset;
};

}  // namespace tv
