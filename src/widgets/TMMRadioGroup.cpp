#include "TMMRadioGroup.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QRadioButton>
#include <algorithm>

namespace tv {

TMMRadioGroup::TMMRadioGroup(const QString& caption, QWidget* parent)
    : QGroupBox(caption, parent), group_(new QButtonGroup(this)), grid_(new QGridLayout(this)) {
  group_->setExclusive(true);
  grid_->setContentsMargins(8, 4, 8, 4);
  grid_->setHorizontalSpacing(12);
  grid_->setVerticalSpacing(2);
  connect(group_, &QButtonGroup::idToggled, this, &TMMRadioGroup::ButtonToggled);
}

void TMMRadioGroup::SetItems(const QStringList& items) {
  index_ = -1;
  for (QRadioButton* b : buttons_) {
    group_->removeButton(b);
    delete b;  // child of this group box; removed from the layout with it
  }
  buttons_.clear();
  for (int i = 0; i < items.size(); ++i) {
    auto* b = new QRadioButton(items.at(i), this);
    group_->addButton(b, i);
    buttons_.append(b);
  }
  Relayout();
}

QStringList TMMRadioGroup::Items() const {
  QStringList items;
  for (const QRadioButton* b : buttons_) items.append(b->text());
  return items;
}

void TMMRadioGroup::SetColumns(int columns) {
  columns_ = std::max(1, columns);
  Relayout();
}

void TMMRadioGroup::Relayout() {
  for (QRadioButton* b : buttons_) grid_->removeWidget(b);
  // Items run down the first column, then the next, like the classic group.
  const int n = static_cast<int>(buttons_.size());
  const int rows = (n + columns_ - 1) / columns_;
  for (int i = 0; i < n; ++i) {
    grid_->addWidget(buttons_.at(i), rows > 0 ? i % rows : 0, rows > 0 ? i / rows : 0);
  }
}

void TMMRadioGroup::SetItemIndex(int index) {
  if (index < -1 || index >= Count()) return;
  if (index == index_) return;
  if (index == -1) {
    // An exclusive group cannot uncheck its last button; lift that briefly.
    index_ = -1;
    group_->setExclusive(false);
    for (QRadioButton* b : buttons_) b->setChecked(false);
    group_->setExclusive(true);
    return;
  }
  buttons_.at(index)->setChecked(true);  // ButtonToggled records it and fires
}

void TMMRadioGroup::ButtonToggled(int id, bool checked) {
  if (!checked || id == index_) return;
  index_ = id;
  emit clicked();
}

}  // namespace tv
