// What a save does to the rest of a hand-edited preferences file, and stored
// window geometry that no screen can hold.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QGuiApplication>
#include <QScreen>
#include <QFile>
#include <QStringList>
#include <cstdlib>

#include "DataFolder.h"
#include "Preferences.h"
#include "TFrmMain.h"
#include "TestFiles.h"

namespace tv {
namespace {

constexpr auto kUser = PreferenceRoot::CurrentUser;

class PreferenceFile : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv(kConfigDirVariable, dir_.File("config").c_str(), 1);
    setenv(kDataDirVariable, dir_.File("data").c_str(), 1);
  }
  void TearDown() override {
    unsetenv(kConfigDirVariable);
    unsetenv(kDataDirVariable);
  }
  static QStringList Lines() {
    QFile f(PreferenceStorePath());
    if (!f.open(QIODevice::ReadOnly)) return {};
    QStringList lines = QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
    return lines;
  }
  static void WriteLines(const QStringList& lines) {
    QDir().mkpath(PreferenceFolder());
    QFile f(PreferenceStorePath());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write((lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8());
  }

  test::TempDir dir_;
};

TEST_F(PreferenceFile, ASaveKeepsEveryLineItDoesNotChange) {
  const QStringList before = {
      QStringLiteral("# written by hand before any section"),
      QStringLiteral("; my notes: keep the window small"),
      QStringLiteral("[Quellfon\\Tonvista 3.2]"),
      QStringLiteral("; the place I like"),
      QStringLiteral("\"top\"=dword:00000010"),
      QStringLiteral("\"Colour\"=rgb(1,2,3)"),
      QStringLiteral("  something a newer version wrote"),
      QStringLiteral("\"left\"=dword:00000020"),
      QStringLiteral(""),
      QStringLiteral("[Another\\Program]"),
      QStringLiteral("\"x\"=\"y\""),
  };
  WriteLines(before);
  WritePreference(kUser, kPreferenceKey, QStringLiteral("TOP"), 5);      // an existing value
  WritePreference(kUser, kPreferenceKey, QStringLiteral("InitDir"), "/rec");  // a new one
  WritePreference(kUser, QStringLiteral("Quellfon\\Tonvista"), QStringLiteral("Low"), 697);

  const QStringList after = Lines();
  // Each old line is still there, in its order, but the one holding "top".
  qsizetype at = 0;
  for (const QString& line : before) {
    if (line.startsWith(QStringLiteral("\"top\""))) continue;
    const qsizetype found = after.indexOf(line, at);
    ASSERT_GE(found, 0) << line.toStdString() << "\n" << after.join(QLatin1Char('\n')).toStdString();
    at = found + 1;
  }
  // The changed value keeps its place and spelling; the new one joins its
  // own section, not the foreign one after it.
  EXPECT_EQ(after.indexOf(QStringLiteral("\"top\"=dword:00000005")), before.indexOf(QStringLiteral("\"top\"=dword:00000010")));
  const qsizetype initDir = after.indexOf(QStringLiteral("\"InitDir\"=\"/rec\""));
  ASSERT_GE(initDir, 0);
  EXPECT_LT(initDir, after.indexOf(QStringLiteral("[Another\\Program]")));
  EXPECT_GT(initDir, after.indexOf(QStringLiteral("\"left\"=dword:00000020")));
  EXPECT_EQ(ReadPreference(kUser, kPreferenceKey, QStringLiteral("top"), 0), 5);
  EXPECT_EQ(ReadPreference(kUser, kPreferenceKey, QStringLiteral("left"), 0), 32);
  EXPECT_EQ(ReadPreference(kUser, kPreferenceKey, QStringLiteral("InitDir"), ""), QStringLiteral("/rec"));
  EXPECT_EQ(ReadPreference(kUser, QStringLiteral("Quellfon\\Tonvista"), QStringLiteral("Low"), 0), 697);
  EXPECT_EQ(ReadPreference(kUser, QStringLiteral("Another\\Program"), QStringLiteral("x"), ""), QStringLiteral("y"));
}

TEST_F(PreferenceFile, AValueStoredTwiceChangesWhereReadingFindsIt) {
  WriteLines({QStringLiteral("[Quellfon\\Tonvista 3.2]"), QStringLiteral("\"hei\"=dword:00000001"),
              QStringLiteral("[quellfon/tonvista 3.2/]"), QStringLiteral("\"Hei\"=dword:00000002")});
  WritePreference(kUser, kPreferenceKey, QStringLiteral("hei"), 700);
  EXPECT_EQ(ReadPreference(kUser, kPreferenceKey, QStringLiteral("hei"), 0), 700);
  EXPECT_EQ(Lines().at(3), QStringLiteral("\"Hei\"=dword:000002bc"));
  EXPECT_EQ(Lines().size(), 4);
}

TEST(StoredGeometry, FitsTheScreenAreaItLandsOn) {
  const QSize design(1061, 766);
  const QList<QRect> one = {QRect(0, 0, 1920, 1080)};
  // Numbers no screen holds are cut to the area; nothing is below a pixel.
  EXPECT_EQ(FitToScreenAreas(10, 20, 0x7fffffff, 0x7fffffff, design, one), QRect(10, 20, 1920, 1080));
  EXPECT_EQ(FitToScreenAreas(10, 20, -5, 0, design, one), QRect(10, 20, 1, 1));
  EXPECT_EQ(FitToScreenAreas(0x7fffffff, -0x7fffffff - 1, 900, 700, design, one), QRect(1919, 0, 900, 700));
  // What fits stays as it was stored.
  EXPECT_EQ(FitToScreenAreas(60, 40, 900, 700, design, one), QRect(60, 40, 900, 700));
  // A small screen still gets the size the window was designed with.
  const QList<QRect> small = {QRect(0, 0, 800, 600)};
  EXPECT_EQ(FitToScreenAreas(501, 129, 1061, 766, design, small), QRect(501, 129, 1061, 766));
  EXPECT_EQ(FitToScreenAreas(501, 129, 5000, 5000, design, small), QRect(501, 129, 1061, 766));
  // Two screens: the one holding the corner bounds it, else the one it overlaps most.
  const QList<QRect> two = {QRect(0, 0, 1920, 1080), QRect(1920, 0, 2560, 1440)};
  EXPECT_EQ(FitToScreenAreas(2000, 100, 99999, 99999, design, two), QRect(2000, 100, 2560, 1440));
  EXPECT_EQ(FitToScreenAreas(1900, -50, 3000, 3000, design, two), QRect(1920, 0, 2560, 1440));
  // Without a screen the size still has a bound.
  EXPECT_LE(FitToScreenAreas(0, 0, 0x7fffffff, 0x7fffffff, design, {}).width(), 16384);
}

TEST_F(PreferenceFile, TheMainWindowNeverTakesAHugeStoredSize) {
  WritePreference(kUser, kPreferenceKey, QStringLiteral("wide"), 0x7fffffff);
  WritePreference(kUser, kPreferenceKey, QStringLiteral("hei"), 0x7fffffff);
  QSize limit(1061, 766);
  for (QScreen* s : QGuiApplication::screens()) limit = limit.expandedTo(s->availableGeometry().size());
  TFrmMain w;
  EXPECT_LE(w.width(), limit.width());
  EXPECT_LE(w.height(), limit.height());
  ASSERT_TRUE(w.close());
  // What goes back to the file is what was applied, so a start after it is sound.
  EXPECT_LE(ReadPreference(kUser, kPreferenceKey, QStringLiteral("wide"), 0), limit.width());
  EXPECT_LE(ReadPreference(kUser, kPreferenceKey, QStringLiteral("hei"), 0), limit.height());
}

}  // namespace
}  // namespace tv
