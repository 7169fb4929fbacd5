// A radio group: a framed, captioned set of radio items in one or more
// columns, addressed by item index. Setting the index from code behaves like
// a click: `clicked` fires when an item becomes selected, not when the index
// stays the same, and index -1 merely clears the selection.
#pragma once

#include <QGroupBox>
#include <QList>
#include <QStringList>

class QButtonGroup;
class QGridLayout;
class QRadioButton;

namespace tv {

class TMMRadioGroup : public QGroupBox {
  Q_OBJECT

 public:
  explicit TMMRadioGroup(const QString& caption, QWidget* parent = nullptr);

  void SetItems(const QStringList& items);
  QStringList Items() const;
  int Count() const { return static_cast<int>(buttons_.size()); }

  void SetColumns(int columns);
  int Columns() const { return columns_; }

  // -1 when no item is selected.
  int ItemIndex() const { return index_; }
  // Out-of-range indices (other than -1) are ignored.
  void SetItemIndex(int index);

  QRadioButton* Button(int index) const { return buttons_.value(index); }

 signals:
  void clicked();

 private:
  void Relayout();
  void ButtonToggled(int id, bool checked);

  QButtonGroup* group_;
  QGridLayout* grid_;
  QList<QRadioButton*> buttons_;
  int columns_ = 1;
  int index_ = -1;
};

}  // namespace tv
