#include "TDeviceDialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include "TMMWaveDevices.h"

namespace tv {

TDeviceDialog::TDeviceDialog(Direction direction, TMMWaveDevices* devices, QWidget* parent)
    : QDialog(parent), direction_(direction), devices_(devices) {
  const bool in = direction == Direction::Input;
  setObjectName(in ? QStringLiteral("TfDrvIn") : QStringLiteral("TfDrvOut"));
  setWindowTitle(in ? QStringLiteral("Input Preferences") : QStringLiteral("Output Preferences"));

  auto* tabs = new QTabWidget(this);
  auto* page = new QWidget(tabs);
  tabs->addTab(page, QStringLiteral("Audio"));

  auto* deviceBox = new QGroupBox(in ? QStringLiteral(" Input Device ") : QStringLiteral(" Playback Device "), page);
  auto* deviceLayout = new QVBoxLayout(deviceBox);
  deviceLayout->addWidget(new QLabel(in ? QStringLiteral("Select audio device to use for input ")
                                        : QStringLiteral("Select audio device to use for playback "),
                                     deviceBox));
  PlayCombo = new QComboBox(deviceBox);
  PlayCombo->setObjectName(QStringLiteral("PlayCombo"));
  PlayCombo->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  deviceLayout->addWidget(PlayCombo);

  auto* modeBox = new QGroupBox(in ? QStringLiteral(" Input Callback ") : QStringLiteral(" Playback Callback "), page);
  auto* modeLayout = new QVBoxLayout(modeBox);
  modeLayout->addWidget(new QLabel(QStringLiteral("Select the callback method to be used"), modeBox));
  rbWindow = new QRadioButton(QStringLiteral("Window"), modeBox);
  rbThread = new QRadioButton(QStringLiteral("Thread"), modeBox);
  rbInterrupt = new QRadioButton(QStringLiteral("Interrupt"), modeBox);
  rbWindow->setObjectName(QStringLiteral("rbWindow"));
  rbThread->setObjectName(QStringLiteral("rbThread"));
  rbInterrupt->setObjectName(QStringLiteral("rbInterrupt"));
  modeLayout->addWidget(rbWindow);
  modeLayout->addWidget(rbThread);
  modeLayout->addWidget(rbInterrupt);
  modeLayout->addWidget(new QLabel(QStringLiteral("Changing this may improve stability of playback"), modeBox));

  auto* pageLayout = new QVBoxLayout(page);
  pageLayout->addWidget(deviceBox);
  pageLayout->addWidget(modeBox);

  auto* buttons = new QDialogButtonBox(this);
  auto* ok = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
  auto* cancel = buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
  ok->setObjectName(QStringLiteral("btnOk"));
  cancel->setObjectName(QStringLiteral("btnCancel"));
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(tabs);
  layout->addWidget(buttons);
  setFixedSize(sizeHint());
}

void TDeviceDialog::FormShow(const TDeviceChoice& current) {
  TMMWaveDevices& devices = devices_ ? *devices_ : SystemWaveDevices();
  const bool in = direction_ == Direction::Input;
  PlayCombo->clear();
  const auto count = static_cast<TMMDeviceId>(in ? devices.waveInGetNumDevs() : devices.waveOutGetNumDevs());
  if (count > 0) {
    for (TMMDeviceId id = MapperId; id < count; ++id) {
      TMMWaveCaps caps;
      const MMRESULT r = in ? devices.waveInGetDevCapsA(id, caps) : devices.waveOutGetDevCapsA(id, caps);
      QString name = QString::fromStdString(caps.ProductName);
      if (r != MMSYSERR_NOERROR || name.isEmpty()) {
        name = id == MapperId ? tr("Default device") : tr("Device %1").arg(id);
      }
      PlayCombo->addItem(name);
    }
    // Entry 0 is the default device (-1), entry n device n - 1.
    PlayCombo->setCurrentIndex(current.DeviceID + 1 < PlayCombo->count() ? current.DeviceID + 1 : -1);
  }
  // Interrupt-time callbacks exist on no platform we run on; a stored choice
  // of them still shows.
  rbInterrupt->setEnabled(InterruptCallbacksSupported());
  rbWindow->setChecked(current.CallBackMode == cmWindow);
  rbInterrupt->setChecked(current.CallBackMode == cmCallback);
  rbThread->setChecked(current.CallBackMode == cmThread);
}

TDeviceChoice TDeviceDialog::btnOkClick() {
  TDeviceChoice c;
  c.DeviceID = PlayCombo->currentIndex() - 1;  // nothing selected: -2, no device
  c.CallBackMode = rbWindow->isChecked() ? cmWindow : rbThread->isChecked() ? cmThread : cmCallback;
  accept();
  return c;
}

void TDeviceDialog::btnCancelClick() { reject(); }

bool TDeviceDialog::Execute(TDeviceChoice& choice) {
  FormShow(choice);
  if (exec() != QDialog::Accepted) return false;
  choice = btnOkClick();
  return true;
}

bool InputDevice1Click(QWidget* parent, TDeviceChoice& choice) {
  TfDrvIn dialog(parent);
  const bool ok = dialog.Execute(choice);
  WriteInputDeviceChoice(choice);
  return ok;
}

bool OutputDevice1Click(QWidget* parent, TDeviceChoice& choice) {
  TfDrvOut dialog(parent);
  const bool ok = dialog.Execute(choice);
  WriteOutputDeviceChoice(choice);
  return ok;
}

}  // namespace tv
