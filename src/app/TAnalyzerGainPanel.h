// The second Analyzer panel: the spectrum's gain and the analyzer bandwidth.
#pragma once

#include <QFrame>

namespace tv {

class TMMRadioGroup;

class TAnalyzerGainPanel : public QFrame {
  Q_OBJECT

 public:
  explicit TAnalyzerGainPanel(QWidget* parent = nullptr);

  // rgGain: none, +3, +6, +9, +12 dB.
  TMMRadioGroup* Gain() const { return gainGroup_; }
  // rgSample: 22050 down to 1000 Hz; kept with the settings only.
  TMMRadioGroup* Bandwidth() const { return bandwidthGroup_; }

 private:
  TMMRadioGroup* gainGroup_;
  TMMRadioGroup* bandwidthGroup_;
};

}  // namespace tv
