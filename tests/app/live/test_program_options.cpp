// The desktop program started by a script: a file to open, a mode, a timed
// run with a picture of its last moment, and the decoded keys printed.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QString>
#include <string>

#include "RunProcess.h"
#include "TestFiles.h"

namespace tv {
namespace {

std::vector<std::string> Environment(const test::TempDir& dir) {
  return {"TONVISTA_CONFIG_DIR=" + dir.File("config"), "TONVISTA_DATA_DIR=" + dir.File("data"),
          "TONVISTA_AUDIO=virtual-only", "QT_QPA_PLATFORM=offscreen",
          "XDG_RUNTIME_DIR=" + dir.File("runtime")};
}

TEST(ProgramOptions, AFileGivenIsScannedThenPlayedAndTheResultPrintedAtTheSetTime) {
  test::TempDir dir;
  QDir().mkpath(QString::fromStdString(dir.File("runtime")));
  QFile::setPermissions(QString::fromStdString(dir.File("runtime")),
                        QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  const std::string file = dir.File("call.wav");
  ASSERT_TRUE(QFile::copy(QStringLiteral(TONVISTA_BINARY_DIR "/bin/Decode Demos/5550147236dcba+#.wav"),
                          QString::fromStdString(file)));
  const std::string shot = dir.File("player.png");
  const auto r = test::RunProcess(TONVISTA_BINARY_DIR "/bin/tonvista",
                                  {"--mode", "player", "--quit-after", "9000", "--print-result",
                                   "--screenshot", shot, file},
                                  dir.Path().string(), Environment(dir));
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "5550147236DCBA*#\n") << r.err;
  const QImage picture(QString::fromStdString(shot));
  EXPECT_FALSE(picture.isNull());
}

TEST(ProgramOptions, BadOptionsAreRefusedBeforeAnyWindow) {
  test::TempDir dir;
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--mode", "radio"}, {"--quit-after", "soon"},
        {"--input-file", dir.File("missing.wav")}}) {
    const auto r = test::RunProcess(TONVISTA_BINARY_DIR "/bin/tonvista", args, dir.Path().string(),
                                    Environment(dir));
    EXPECT_EQ(r.exitCode, 2) << args[0];
    EXPECT_NE(r.err.find("tonvista:"), std::string::npos) << r.err;
  }
}

}  // namespace
}  // namespace tv
