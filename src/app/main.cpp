#include <QApplication>

#include "uMain.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setOrganizationName(QStringLiteral("Quellfon"));
  QApplication::setApplicationName(QStringLiteral("Tonvista"));
  QApplication::setApplicationDisplayName(QStringLiteral("Tonvista"));
  tv::TFrmMain main;
  main.show();
  return QApplication::exec();
}
