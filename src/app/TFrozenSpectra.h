// The frozen spectra of the main window: freezing the live display, and the
// four quick slots that store the spectrum (F5..F8) and load it again
// (F9..F12). Each slot remembers a ".sav" file; the Analyzer Editor assigns
// files to them, and their names live in the preference store between runs
// ("BinData0".."BinData3").
#pragma once

#include <QString>
#include <array>
#include <functional>

class QWidget;

namespace tv {

class TMMConnector;
class TMMSpectrum;
class TMMSpectrumCalc;

// "Freeze": the connector stops serving its displays, which keep their last
// picture. "Restart": it serves them again.
void Freeze(TMMConnector& connector);
void Restart(TMMConnector& connector);

class TFrozenSpectra {
 public:
  static constexpr int kSlots = 4;

  enum class TLoadResult {
    Loaded,  // the spectrum is frozen and shows the slot's file
    Unset,   // no file: the editor was asked for, live capture restarted
    Failed,  // the file was refused with a message; nothing changed
  };

  // Full paths of the files of slots 0..3 (empty when unset).
  std::array<QString, kSlots> FFrozenFile;

  // What loading a slot does to the rest of the window: close and start
  // MMWaveIn1, show the Analyzer Editor.
  std::function<void()> OnCloseInput;
  std::function<void()> OnStartInput;
  std::function<void()> OnShowEditor;

  // "BinData0".."BinData3" of the program's preference key.
  void ReadSlotNames();
  void WriteSlotNames() const;

  // "default.sav" in "Analyzer Peak Data": every store is written there
  // first, then moved to the name the user gives.
  static QString ScratchFile();

  // "Store freezed Spectrum N" (slot 0..3). Writes the levels to the scratch
  // file, asks for a name and moves the file there; the slot then names it.
  // Returns false when nothing was stored: cancelled (the scratch file
  // stays), or a file that could not be written, which is said in a message
  // and leaves an earlier file of that name as it was.
  bool StoreSlot(int slot, const TMMSpectrumCalc& spectrum, QWidget* parent);

  // "Load freezed Spectrum N" (slot 0..3). The file is checked in full, and
  // must have as many levels as the display shows, before live capture is
  // closed and the display frozen with the file's levels.
  TLoadResult LoadSlot(int slot, TMMSpectrum& spectrum, QWidget* parent);
};

}  // namespace tv
