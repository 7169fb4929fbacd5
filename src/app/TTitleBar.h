// The title bar of the main window: the product name, and at its right for
// each channel the overload LED, its hidden "over" label and the peak-hold
// read-out, which a click resets.
#pragma once

#include <QFrame>
#include <cstdint>

class QLabel;

namespace tv {

class TMMLed;

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
