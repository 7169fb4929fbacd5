// "Frequencies settings": the eight tone frequencies the decoder measures,
// either the standard DTMF set or a custom one, optionally shifted by an
// offset, and whether the strict tone check is used (by file scans, and to
// decode the live input in the Real Time mode). The choice is kept in the
// preference key "Quellfon\Tonvista".
#pragma once

#include <QDialog>
#include <array>

class QCheckBox;
class QLabel;
class QPushButton;

namespace tv {

class TMMLEDSpin;
class TMMNumberEdit;
class TMMRadioGroup;

class TfDtmf : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kMinFrequency = 0;
  static constexpr int kMaxFrequency = 22000;
  // n1..n8: the column frequencies, then the rows.
  static constexpr std::array<int, 8> kStandardFrequencies = {1209, 1336, 1477, 1633,
                                                              697,  770,  852,  941};

  explicit TfDtmf(QWidget* parent = nullptr);

  void FormShow();
  void FormClose();
  void rgCustomClick();
  void spFactChange();
  void Button1Click();

  // The edits in the order n1..n8.
  TMMNumberEdit* Edit(int index) const { return edits_.at(static_cast<size_t>(index)); }
  // "Strict tone check": wave file scans use the strict detector, and the
  // Real Time mode appends the keys it hears to labDTMF.
  bool StrictToneCheck() const;
  // The stored choice, for the program's start before the dialog is shown.
  static bool StoredStrictToneCheck();

 protected:
  void showEvent(QShowEvent* event) override;
  void done(int result) override;

 private:
  void SetStandardValues();

  TMMRadioGroup* customGroup_;
  TMMLEDSpin* offsetSpin_;
  QCheckBox* strictCheck_;
  std::array<TMMNumberEdit*, 8> edits_{};
};

}  // namespace tv
