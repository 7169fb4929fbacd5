// "Bars preference": the colours and overload points of the main spectrum,
// its two level meters and the background spectrum. Shown without blocking
// the main window; every change reaches the displays at once (the
// background's shows when its picture is next drawn). A dialog, so that its
// spin boxes, named like some of the main window's, are never taken for the
// main window's own.
#pragma once

#include <QDialog>
#include <array>

#include "TAnalyzerSettings.h"

namespace tv {

class TMMColorButton;
class TMMLEDSpin;
class TMMLevel;
class TMMSpectrum;

class TfOutfitSpec : public QDialog {
  Q_OBJECT

 public:
  explicit TfOutfitSpec(QWidget* parent = nullptr);

  // The displays the choices go to; any may be null. They must outlive
  // this window or be set to null before they go. Setting them applies the
  // present choices.
  void SetTargets(TMMSpectrum* mainSpectrum, TMMLevel* level1, TMMLevel* level2,
                  TMMSpectrum* background);

  // Settings file values ("Color", "Bars"), handed to the controls as user
  // changes: overload points are clamped to 1..99, a value that is no
  // colour leaves the colour as it is.
  void ApplySettings(const TAnalyzerSettings& settings);
  void CollectSettings(TAnalyzerSettings& settings) const;

  // Main Spectrum: MMLEDSpin55 "Low OL Point", MMLEDSpin1 "High OL Point";
  // Background Spectrum: MMLEDSpin5, MMLEDSpin6.
  TMMLEDSpin* MMLEDSpin55;
  TMMLEDSpin* MMLEDSpin1;
  TMMLEDSpin* MMLEDSpin5;
  TMMLEDSpin* MMLEDSpin6;
  // MMColorButton[0] is MMColorButton1 .. MMColorButton[9] MMColorButton10.
  std::array<TMMColorButton*, 10> MMColorButton{};

  // "Done".
  void Button1Click();

 private:
  void MMLEDSpin55Change();
  void MMLEDSpin1Change();
  void MMLEDSpin5Change();
  void MMLEDSpin6Change();
  void ColorChange(int button);

  TMMSpectrum* main_ = nullptr;
  TMMLevel* level1_ = nullptr;
  TMMLevel* level2_ = nullptr;
  TMMSpectrum* background_ = nullptr;
};

}  // namespace tv
