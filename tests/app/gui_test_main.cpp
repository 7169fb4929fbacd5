// GUI tests run headless on Qt's offscreen platform unless told otherwise.
// Programs that link the desktop program's windows get its main-thread
// dispatcher bound to Qt's event loop, as the program itself has.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

#if __has_include("QtDispatcher.h")
#include "QtDispatcher.h"
#define TONVISTA_TEST_QT_DISPATCHER 1
#endif

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  // Windows that start live capture find the virtual devices, not a sound
  // card the test machine may lack; the sound system is not started at all
  // (its plug-ins keep memory that the leak checker would report).
  setenv("TONVISTA_AUDIO", "virtual-only", 0);
  QApplication app(argc, argv);
  QApplication::setOrganizationName(QStringLiteral("Quellfon"));
  QApplication::setApplicationName(QStringLiteral("Tonvista"));
#ifdef TONVISTA_TEST_QT_DISPATCHER
  tv::ScopedQtDispatcher dispatcher;
#endif
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
