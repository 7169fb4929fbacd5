#include "uMain.h"

namespace tv {

TFrmMain::TFrmMain(QWidget* parent) : QMainWindow(parent) {
  setObjectName(QStringLiteral("FrmMain"));
  setWindowTitle(QStringLiteral("Tonvista"));
  setGeometry(501, 129, 1061, 766);
}

}  // namespace tv
