// The main window of the desktop program.
#pragma once

#include <QMainWindow>

namespace tv {

class TFrmMain : public QMainWindow {
  Q_OBJECT

 public:
  explicit TFrmMain(QWidget* parent = nullptr);
};

}  // namespace tv
