// The Analyzer Editor ("Load Keyboard short cut"): assigns a stored
// spectrum to each of the four load keys F9..F12. Each row shows its slot's
// file name, without folder, in upper case.
#pragma once

#include <QDialog>
#include <array>

class QLabel;
class QPushButton;

namespace tv {

class TFrozenSpectra;
class TMMLEDLabel;

class TFrmSavBin : public QDialog {
  Q_OBJECT

 public:
  explicit TFrmSavBin(TFrozenSpectra& frozen, QWidget* parent = nullptr);

  // The rows from the slots' file names (empty for an unset slot).
  void ShowSlotNames();
  // What a row shows for a file.
  static QString RowText(const QString& file);

  // The "Load" button of row 0..3.
  void LoadRow(int row);
  void SpeedButton7Click() { LoadRow(0); }
  void SpeedButton9Click() { LoadRow(1); }
  void SpeedButton11Click() { LoadRow(2); }
  void SpeedButton13Click() { LoadRow(3); }
  void Button1Click() { close(); }

  QLabel* Heading;
  std::array<QLabel*, 4> KeyLabels{};
  TMMLEDLabel* MMLEDLABEL11;
  TMMLEDLabel* MMLEDLABEL21;
  TMMLEDLabel* MMLEDLABEL31;
  TMMLEDLabel* MMLEDLABEL41;
  QPushButton* SpeedButton7;
  QPushButton* SpeedButton9;
  QPushButton* SpeedButton11;
  QPushButton* SpeedButton13;
  QPushButton* Button1;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  TMMLEDLabel* RowLabel(int row) const;

  TFrozenSpectra& slots_;
};

}  // namespace tv
