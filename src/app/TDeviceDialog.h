// The sound device dialogs: "Input Preferences" (TfDrvIn) and "Output
// Preferences" (TfDrvOut). Each lists the devices of its direction (the
// system's default first, then every device, real and virtual) and the
// callback method, and on "OK" hands back the choice.
#pragma once

#include <QDialog>

#include "TSettingsFiles.h"

class QComboBox;
class QRadioButton;

namespace tv {

class TMMWaveDevices;

class TDeviceDialog : public QDialog {
  Q_OBJECT

 public:
  enum class Direction { Input, Output };

  // `devices` is the device table listed (by default the program's).
  TDeviceDialog(Direction direction, TMMWaveDevices* devices, QWidget* parent);

  // Shows the choice, runs the dialog and, when confirmed, changes
  // `choice`. True when confirmed.
  bool Execute(TDeviceChoice& choice);

  // The steps of Execute, for tests and callers with their own loop.
  void FormShow(const TDeviceChoice& current);
  TDeviceChoice btnOkClick();
  void btnCancelClick();

  QComboBox* PlayCombo;
  QRadioButton* rbWindow;
  QRadioButton* rbThread;
  QRadioButton* rbInterrupt;

 private:
  Direction direction_;
  TMMWaveDevices* devices_;
};

class TfDrvIn : public TDeviceDialog {
  Q_OBJECT

 public:
  explicit TfDrvIn(QWidget* parent = nullptr, TMMWaveDevices* devices = nullptr)
      : TDeviceDialog(Direction::Input, devices, parent) {}
};

class TfDrvOut : public TDeviceDialog {
  Q_OBJECT

 public:
  explicit TfDrvOut(QWidget* parent = nullptr, TMMWaveDevices* devices = nullptr)
      : TDeviceDialog(Direction::Output, devices, parent) {}
};

// "&Input Device" and "&Output Device" of the Preferences menu, after the
// main window closed its devices: runs the dialog on `choice` and stores the
// choice in the preferences whether the dialog was confirmed or not.
// Returns whether it was confirmed.
bool InputDevice1Click(QWidget* parent, TDeviceChoice& choice);
bool OutputDevice1Click(QWidget* parent, TDeviceChoice& choice);

}  // namespace tv
