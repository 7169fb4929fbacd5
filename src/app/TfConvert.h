// "MP3 To Wave file": decodes an MP3 file into a 16-bit PCM wave file with
// the chain audio file source -> offline driver -> wave file writer.
#pragma once

#include <QDialog>

#include "AudioFileConverter.h"

class QLabel;
class QPushButton;

namespace tv {

class TMMGauge;

class TfConvert : public QDialog {
  Q_OBJECT

 public:
  explicit TfConvert(QWidget* parent = nullptr);

  void btnConvertClick();
  void Button2Click();
  // Converts `mp3` into `wave` as btnConvert does once both are chosen;
  // false when it failed (the user has been told why).
  bool ConvertFile(const QString& mp3, const QString& wave);

  QLabel* labSource;  // the MP3
  QLabel* labDec;     // the wave file
  QPushButton* btnConvert;  // "Select Mp3 file"
  QPushButton* btnCancel;   // shown while converting
  QPushButton* Button2;     // "Done"
  TMMGauge* Gauge;

  AudioFileConverter& Converter() { return converter_; }

 protected:
  void reject() override;

 private:
  bool Load(const QString& mp3);

  AudioFileConverter converter_;
};

}  // namespace tv
