// The desktop program itself, started as a user starts it: in a real X
// window (a virtual X server), decoding a demonstration from its menu.
#include <gtest/gtest.h>

#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QString>
#include <cstdlib>
#include <string>

#include "RunProcess.h"
#include "TestFiles.h"

namespace tv {
namespace {

bool OnPath(const char* program) {
  const std::string path = std::getenv("PATH") != nullptr ? std::getenv("PATH") : "";
  size_t start = 0;
  while (start <= path.size()) {
    const size_t end = path.find(':', start);
    const std::string dir = path.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (!dir.empty() && access((dir + "/" + program).c_str(), X_OK) == 0) return true;
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return false;
}

TEST(Program, DecodesADemoInARealWindowAndQuitsCleanly) {
  if (!OnPath("xvfb-run")) GTEST_SKIP() << "xvfb-run is not installed";
  test::TempDir dir;
  const QString data = QString::fromStdString(dir.File("data"));
  QDir().mkpath(data + QStringLiteral("/Decode Demos"));
  const QString demo = QStringLiteral("5550147236dcba+#.wav");
  ASSERT_TRUE(QFile::copy(QStringLiteral(TONVISTA_BINARY_DIR "/bin/Decode Demos/") + demo,
                          data + QStringLiteral("/Decode Demos/") + demo));
  QDir().mkpath(QString::fromStdString(dir.File("runtime")));
  const std::string env = "TONVISTA_CONFIG_DIR=" + dir.File("config") +
                          " TONVISTA_DATA_DIR=" + data.toStdString() +
                          " XDG_RUNTIME_DIR=" + dir.File("runtime") + " QT_QPA_PLATFORM=xcb ASAN_OPTIONS=${ASAN_OPTIONS}:strict_string_checks=0";
  const auto r = test::RunProcess(
      "/bin/sh", {"-c", "chmod 700 \"$1\" && exec env " + env +
                            " xvfb-run -a \"$0\" --demo 1 --quit",
                  TONVISTA_BINARY_DIR "/bin/tonvista", dir.File("runtime")});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "5550147236DCBA*#\n") << r.err;
  // The window stored its place on the way out.
  EXPECT_TRUE(QFile::exists(QString::fromStdString(dir.File("config"))));
}

}  // namespace
}  // namespace tv
