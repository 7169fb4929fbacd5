// The control area's panel Pan_func: the mode panels at its left (Wave
// Player, Generator, the three Analyzer panels; one mode's panels show at a
// time) and the five large mode buttons at its right.
#pragma once

#include <QFrame>

class QPushButton;

namespace tv {

class TAnalyzerFreezePanel;
class TAnalyzerGainPanel;
class TAnalyzerScalePanel;
class TGeneratorPanel;
class TPlayerPanel;

class TFuncPanel : public QFrame {
  Q_OBJECT

 public:
  static constexpr int kWidth = 897;
  static constexpr int kHeight = 217;

  explicit TFuncPanel(QWidget* parent = nullptr);

  TPlayerPanel* Player() const { return player_; }
  TGeneratorPanel* Generator() const { return generator_; }
  TAnalyzerScalePanel* AnalyzerScale() const { return analyzerScale_; }
  TAnalyzerGainPanel* AnalyzerGain() const { return analyzerGain_; }
  TAnalyzerFreezePanel* AnalyzerFreeze() const { return analyzerFreeze_; }

  // Each shows the panels of its mode and hides the others.
  void ShowPlayer();
  void ShowGenerator();
  void ShowAnalyzer();

 signals:
  void realTimeClicked();
  void generatorClicked();
  void analyzerClicked();
  void playerClicked();
  void exitClicked();

 private:
  void ShowOnly(std::initializer_list<QWidget*> panels);

  TPlayerPanel* player_;
  TGeneratorPanel* generator_;
  TAnalyzerScalePanel* analyzerScale_;
  TAnalyzerGainPanel* analyzerGain_;
  TAnalyzerFreezePanel* analyzerFreeze_;
};

}  // namespace tv
