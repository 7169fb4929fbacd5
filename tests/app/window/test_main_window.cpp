#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>

#include "uMain.h"

namespace tv {
namespace {

TEST(MainWindow, ShowsUnderItsTitleAndCloses) {
  TFrmMain window;
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  EXPECT_EQ(window.windowTitle(), QStringLiteral("Tonvista"));
  EXPECT_TRUE(window.isVisible());
  EXPECT_TRUE(window.close());
  EXPECT_FALSE(window.isVisible());
}

}  // namespace
}  // namespace tv
