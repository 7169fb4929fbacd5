#include "TFrozenSpectra.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <exception>
#include <vector>

#include "DataFolder.h"
#include "FileRequest.h"
#include "FrozenSpectrumFile.h"
#include "Messages.h"
#include "Preferences.h"
#include "TMMConnector.h"
#include "TMMSpectrum.h"

namespace tv {

namespace {

QString SlotValueName(int slot) { return QStringLiteral("BinData%1").arg(slot); }

bool ValidSlot(int slot) { return slot >= 0 && slot < TFrozenSpectra::kSlots; }

// The hourglass while files are written or read.
class WaitCursor {
 public:
  WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~WaitCursor() { QApplication::restoreOverrideCursor(); }
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;
};

}  // namespace

void Freeze(TMMConnector& connector) {
  connector.SetRefreshOnStop(false);
  connector.SetAutoTrigger(false);
}

void Restart(TMMConnector& connector) {
  connector.SetRefreshOnStop(true);
  connector.SetAutoTrigger(true);
}

void TFrozenSpectra::ReadSlotNames() {
  for (int i = 0; i < kSlots; ++i) {
    FFrozenFile[static_cast<size_t>(i)] = ReadPreference(
        PreferenceRoot::CurrentUser, kPreferenceKey, SlotValueName(i), QString());
  }
}

void TFrozenSpectra::WriteSlotNames() const {
  for (int i = 0; i < kSlots; ++i) {
    WritePreference(PreferenceRoot::CurrentUser, kPreferenceKey, SlotValueName(i),
                    FFrozenFile[static_cast<size_t>(i)]);
  }
}

QString TFrozenSpectra::ScratchFile() {
  return PeakDataFolder() + QStringLiteral("/default.sav");
}

bool TFrozenSpectra::StoreSlot(int slot, const TMMSpectrumCalc& spectrum, QWidget* parent) {
  if (!ValidSlot(slot)) return false;
  const QString scratch = ScratchFile();
  // Written before the dialog: the file holds the spectrum of the moment
  // the key was pressed, whatever the display shows meanwhile.
  try {
    const WaitCursor wait;
    spectrum.SaveLevels(QFile::encodeName(scratch).toStdString());
  } catch (const std::exception& e) {
    ShowError(parent, QStringLiteral("The spectrum could not be stored.\n\n%1")
                          .arg(QString::fromLocal8Bit(e.what())));
    return false;
  }
  TFileRequest request;
  request.title = QStringLiteral("Save Tonvista Peak Data");
  request.filter = NameFilter(QStringLiteral("Tonvista Peak Data "), QStringLiteral("*.sav"));
  request.defaultSuffix = QStringLiteral("sav");
  request.folder = QFileInfo(scratch).absolutePath();
  request.save = true;
  QString chosen = PromptFile(parent, request);
  if (chosen.isEmpty()) return false;
  chosen = QFileInfo(chosen).absoluteFilePath();
  if (QFileInfo(chosen) == QFileInfo(scratch)) {
    FFrozenFile[static_cast<size_t>(slot)] = chosen;
    return true;
  }
  QString why;
  if (!MoveFileReplacing(scratch, chosen, &why)) {
    const bool earlier = QFileInfo::exists(chosen);
    ShowError(parent,
              QStringLiteral("The spectrum could not be stored as\n%1\n\n%2%3")
                  .arg(QDir::toNativeSeparators(chosen), why,
                       earlier ? QStringLiteral("\n\nThe file of that name is unchanged.")
                               : QString()));
    return false;
  }
  FFrozenFile[static_cast<size_t>(slot)] = chosen;
  return true;
}

TFrozenSpectra::TLoadResult TFrozenSpectra::LoadSlot(int slot, TMMSpectrum& spectrum,
                                                     QWidget* parent) {
  if (!ValidSlot(slot)) return TLoadResult::Failed;
  const QString file = FFrozenFile[static_cast<size_t>(slot)];
  TMMSpectrumCalc& calc = spectrum.Calc();
  if (file.isEmpty()) {
    if (OnCloseInput) OnCloseInput();
    calc.SetEnabled(true);
    if (OnShowEditor) OnShowEditor();
    if (OnStartInput) OnStartInput();
    calc.SetEnabled(true);
    return TLoadResult::Unset;
  }
  std::vector<int32_t> levels;
  QString why;
  {
    const WaitCursor wait;
    if (ReadFrozenLevels(file, levels, &why)) {
      const auto shown = static_cast<size_t>(calc.FFTLength() / 2);
      if (levels.size() != shown) {
        why = QStringLiteral("It holds %1 levels; the display shows %2 (a %3-point spectrum).")
                  .arg(levels.size())
                  .arg(shown)
                  .arg(calc.FFTLength());
      }
    }
    if (why.isEmpty()) {
      // No capture may write the levels while they are replaced.
      if (OnCloseInput) OnCloseInput();
      calc.SetEnabled(false);
      std::copy(levels.begin(), levels.end(), calc.BinLevels().begin());
      spectrum.ComposeFrame();
      spectrum.update();
      return TLoadResult::Loaded;
    }
  }
  ShowError(parent, QStringLiteral("The stored spectrum\n%1\ncannot be loaded.\n\n%2")
                        .arg(QDir::toNativeSeparators(file), why));
  return TLoadResult::Failed;
}

}  // namespace tv
