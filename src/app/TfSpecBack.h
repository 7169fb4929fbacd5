// The background window: never shown, it holds a second spectrum
// (SpeckBack) that draws a stored spectrum with the main spectrum's scales.
// Its picture is laid behind the live display as the main spectrum's
// background picture, until cleared.
#pragma once

#include <QString>
#include <QWidget>

namespace tv {

class TMMSpectrum;

class TfSpecBack : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kWidth = 782;
  static constexpr int kHeight = 543;

  // `main` is the live display the background goes behind; it outlives
  // this window.
  explicit TfSpecBack(TMMSpectrum& main, QWidget* parent = nullptr);

  // "Load freezed Background": asks for a stored spectrum and lays it
  // behind the main spectrum. False when cancelled or refused (a message
  // says why; the main display keeps its previous background).
  bool LoadBackground();
  // Draws the background again with the main spectrum's present scales
  // (after its gain changed). Only a background that is shown is redrawn.
  void ReapplyBackground();
  // "Clear freezed Background".
  void ClearBackground();

  // The stored spectrum shown as background (empty before the first).
  QString BackgroundFile() const { return file_; }

  TMMSpectrum* SpeckBack;

 private:
  // Copies the main spectrum's axes, reads the file and lays its picture
  // behind the main spectrum; false after a message.
  bool Apply(const QString& file);

  TMMSpectrum& main_;
  QString file_;
};

}  // namespace tv
