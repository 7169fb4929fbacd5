// Stand-ins for display controls the program does not have: the spectrum
// (an idle black display), the level meters (empty wells) and the
// oscilloscope (an empty screen with its grid). They hold the place, the
// size and the object name of their display, and show nothing they do not
// measure.
#pragma once

#include <QWidget>

namespace tv {

class TSpectrumPlaceholder : public QWidget {
  Q_OBJECT

 public:
  explicit TSpectrumPlaceholder(QWidget* parent = nullptr);

 protected:
  void paintEvent(QPaintEvent* event) override;
};

// One empty meter well, vertical or horizontal.
class TLevelPlaceholder : public QWidget {
  Q_OBJECT

 public:
  explicit TLevelPlaceholder(Qt::Orientation orientation, QWidget* parent = nullptr);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  Qt::Orientation orientation_;
};

class TOscopePlaceholder : public QWidget {
  Q_OBJECT

 public:
  explicit TOscopePlaceholder(QWidget* parent = nullptr);

 protected:
  void paintEvent(QPaintEvent* event) override;
};

}  // namespace tv
