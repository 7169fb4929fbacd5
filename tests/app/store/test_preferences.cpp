#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cstdlib>
#include <string>

#include "Preferences.h"
#include "TestFiles.h"

namespace tv {
namespace {

constexpr auto kUser = PreferenceRoot::CurrentUser;

class PreferenceStore : public ::testing::Test {
 protected:
  void SetUp() override { Use(dir_.Path().string()); }
  void TearDown() override { unsetenv(kConfigDirVariable); }
  static void Use(const std::string& folder) { setenv(kConfigDirVariable, folder.c_str(), 1); }
  QString StoreText() const {
    QFile f(PreferenceStorePath());
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
  }
  static void WriteStoreText(const QByteArray& text) {
    QFile f(PreferenceStorePath());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(text);
  }

  test::TempDir dir_;
};

TEST_F(PreferenceStore, LivesInTheFolderTheEnvironmentNames) {
  EXPECT_EQ(PreferenceFolder(), QString::fromStdString(dir_.Path().string()));
  WritePreference(kUser, kPreferenceKey, QStringLiteral("top"), 5);
  EXPECT_TRUE(QFileInfo::exists(PreferenceStorePath()));
  EXPECT_TRUE(PreferenceStorePath().startsWith(PreferenceFolder() + QLatin1Char('/')));
}

TEST_F(PreferenceStore, DefaultsToQuellfonBelowTheConfigHome) {
  unsetenv(kConfigDirVariable);
  const char* saved = std::getenv("XDG_CONFIG_HOME");
  const std::string keep = saved != nullptr ? saved : "";
  setenv("XDG_CONFIG_HOME", dir_.File("cfg").c_str(), 1);
  EXPECT_EQ(PreferenceFolder(),
            QString::fromStdString(dir_.File("cfg")) + QStringLiteral("/Quellfon"));
  if (saved != nullptr) {
    setenv("XDG_CONFIG_HOME", keep.c_str(), 1);
  } else {
    unsetenv("XDG_CONFIG_HOME");
  }
}

TEST_F(PreferenceStore, WithoutAStoreEveryReadGivesTheDefault) {
  EXPECT_EQ(ReadPreference(kUser, kPreferenceKey, QStringLiteral("top"), 129), 129);
  EXPECT_TRUE(ReadPreference(kUser, kPreferenceKey, QStringLiteral("show"), true));
  EXPECT_FALSE(ReadPreference(kUser, kPreferenceKey, QStringLiteral("show"), false));
  EXPECT_EQ(ReadPreference(kUser, kPreferenceKey, QStringLiteral("InitDir"), "/x"),
            QStringLiteral("/x"));
  EXPECT_EQ(ReadPreference(kUser, kPreferenceKey, QStringLiteral("Scale"), 2.5), 2.5);
  EXPECT_FALSE(QFileInfo::exists(PreferenceStorePath()));  // reading creates nothing
}

TEST_F(PreferenceStore, ValuesComeBackWithTheirTypes) {
  WritePreference(kUser, kPreferenceKey, QStringLiteral("DeviceID in"), -1);
  WritePreference(kUser, kPreferenceKey, QStringLiteral("big"), 2147483647);
  WritePreference(kUser, kPreferenceKey, QStringLiteral("show"), false);
  const QString path = QStringLiteral("/home/u/W\u00e4ve \"files\"\\n\ttab\nline");
  WritePreference(kUser, kPreferenceKey, QStringLiteral("InitDir"), path);
  WritePreference(kUser, kPreferenceKey, QStringLiteral("empty"), QString());
  WritePreference(kUser, kPreferenceKey, QStringLiteral("Scale"), -0.125);
  EXPECT_EQ(ReadPreference(kUser, kPreferenceKey, QStringLiteral("DeviceID in"), 7), -1);
  EXPECT_EQ(ReadPreference(kUser, kPreferenceKey, QStringLiteral("big"), 7), 2147483647);
  EXPECT_FALSE(ReadPreference(kUser, kPreferenceKey, QStringLiteral("show"), true));
  EXPECT_EQ(ReadPreference(kUser, kPreferenceKey, QStringLiteral("InitDir"), ""), path);
  EXPECT_EQ(ReadPreference(kUser, kPreferenceKey, QStringLiteral("empty"), "x"), QString());
  EXPECT_EQ(ReadPreference(kUser, kPreferenceKey, QStringLiteral("Scale"), 1.0), -0.125);
}

TEST_F(PreferenceStore, BooleansAreIntegersAndAnyNonZeroIntegerIsTrue) {
  WritePreference(kUser, kPreferenceKey, QStringLiteral("show"), true);
  EXPECT_EQ(ReadPreference(kUser, kPreferenceKey, QStringLiteral("show"), 0), 1);
  WritePreference(kUser, kPreferenceKey, QStringLiteral("show"), -7);
  EXPECT_TRUE(ReadPreference(kUser, kPreferenceKey, QStringLiteral("show"), false));
  WritePreference(kUser, kPreferenceKey, QStringLiteral("show"), 0);
  EXPECT_FALSE(ReadPreference(kUser, kPreferenceKey, QStringLiteral("show"), true));
}

TEST_F(PreferenceStore, AValueOfAnotherTypeReadsAsTheDefault) {
  WritePreference(kUser, kPreferenceKey, QStringLiteral("show"), "0");
  EXPECT_TRUE(ReadPreference(kUser, kPreferenceKey, QStringLiteral("show"), true));
  EXPECT_EQ(ReadPreference(kUser, kPreferenceKey, QStringLiteral("show"), 5), 5);
  WritePreference(kUser, kPreferenceKey, QStringLiteral("top"), 129);
  EXPECT_EQ(ReadPreference(kUser, kPreferenceKey, QStringLiteral("top"), "d"), QStringLiteral("d"));
  EXPECT_EQ(ReadPreference(kUser, kPreferenceKey, QStringLiteral("top"), 1.5), 1.5);
  WritePreference(kUser, kPreferenceKey, QStringLiteral("Scale"), 3.0);
  EXPECT_EQ(ReadPreference(kUser, kPreferenceKey, QStringLiteral("Scale"), 9), 9);
}

TEST_F(PreferenceStore, NamesCompareWithoutRegardToCase) {
  WritePreference(kUser, kPreferenceKey, QStringLiteral("left"), 501);
  EXPECT_EQ(ReadPreference(kUser, kPreferenceKey, QStringLiteral("Left"), 0), 501);
  WritePreference(kUser, kPreferenceKey, QStringLiteral("Left"), 12);
  EXPECT_EQ(ReadPreference(kUser, kPreferenceKey, QStringLiteral("LEFT"), 0), 12);
  // One value, under the spelling it was first stored with.
  EXPECT_EQ(StoreText().count(QStringLiteral("\"left\""), Qt::CaseInsensitive), 1);
  EXPECT_TRUE(StoreText().contains(QStringLiteral("\"left\"=")));
  // Key paths too, with either slash.
  EXPECT_EQ(
      ReadPreference(kUser, QStringLiteral("quellfon/TONVISTA 3.2"), QStringLiteral("left"), 0),
      12);
}

TEST_F(PreferenceStore, TheTwoKeysAreSeparate) {
  WritePreference(kUser, kPreferenceKey, QStringLiteral("Custom"), 1);
  EXPECT_EQ(ReadPreference(kUser, kDtmfPreferenceKey, QStringLiteral("Custom"), 0), 0);
  WritePreference(kUser, kDtmfPreferenceKey, QStringLiteral("Custom"), 2);
  EXPECT_EQ(ReadPreference(kUser, kPreferenceKey, QStringLiteral("Custom"), 0), 1);
  EXPECT_EQ(ReadPreference(kUser, kDtmfPreferenceKey, QStringLiteral("Custom"), 0), 2);
}

TEST_F(PreferenceStore, EveryReadSeesTheFileAsItIsNow) {
  WritePreference(kUser, kPreferenceKey, QStringLiteral("top"), 1);
  WriteStoreText(
      "; hand-edited\n[Quellfon\\Tonvista 3.2]\n\"top\"=dword:00000081\n\"left\"=dword:fffffff6\n"
      "\"InitDir\"=\"C:\\\\wav \\x41\"\n\"raw\"=hex:00,00,00,00,00,00,f8,3f\n");
  EXPECT_EQ(ReadPreference(kUser, kPreferenceKey, QStringLiteral("top"), 0), 129);
  EXPECT_EQ(ReadPreference(kUser, kPreferenceKey, QStringLiteral("left"), 0), -10);
  EXPECT_EQ(ReadPreference(kUser, kPreferenceKey, QStringLiteral("InitDir"), ""),
            QStringLiteral("C:\\wav A"));
  EXPECT_EQ(ReadPreference(kUser, kPreferenceKey, QStringLiteral("raw"), 0.0), 1.5);
}

TEST_F(PreferenceStore, DamagedLinesAreSkippedAndTheRestIsKept) {
  WriteStoreText(
      "garbage before any key\n[Quellfon\\Tonvista 3.2]\n\"top\"=dword:81\n\"hei\"=dword:000002fe\n"
      "\"wide\"=dword:zzzzzzzz\n\"open=\"no end\n\"InitDir\"=\"unterminated\n\"x\"=qword:1\n"
      "[Quellfon\\Tonvista]\n\"Factor\"=dword:0000000a\n");
  EXPECT_EQ(ReadPreference(kUser, kPreferenceKey, QStringLiteral("top"), 3), 3);
  EXPECT_EQ(ReadPreference(kUser, kPreferenceKey, QStringLiteral("wide"), 3), 3);
  EXPECT_EQ(ReadPreference(kUser, kPreferenceKey, QStringLiteral("InitDir"), "d"),
            QStringLiteral("d"));
  EXPECT_EQ(ReadPreference(kUser, kPreferenceKey, QStringLiteral("hei"), 0), 766);
  // A write keeps every value that could be read.
  WritePreference(kUser, kPreferenceKey, QStringLiteral("top"), 129);
  EXPECT_EQ(ReadPreference(kUser, kPreferenceKey, QStringLiteral("hei"), 0), 766);
  EXPECT_EQ(ReadPreference(kUser, kDtmfPreferenceKey, QStringLiteral("Factor"), 0), 10);
  EXPECT_EQ(ReadPreference(kUser, kPreferenceKey, QStringLiteral("top"), 0), 129);
}

TEST_F(PreferenceStore, WritesLeaveOnlyTheStoreBehind) {
  for (int i = 0; i < 20; ++i)
    WritePreference(kUser, kPreferenceKey, QStringLiteral("v%1").arg(i), i);
  const QStringList files = QDir(PreferenceFolder()).entryList(QDir::Files | QDir::Hidden);
  EXPECT_EQ(files, QStringList{QStringLiteral("Tonvista.prefs")});
  for (int i = 0; i < 20; ++i) {
    EXPECT_EQ(ReadPreference(kUser, kPreferenceKey, QStringLiteral("v%1").arg(i), -1), i);
  }
}

TEST_F(PreferenceStore, MissingFoldersAreCreatedOnWrite) {
  Use(dir_.File("a/b/c"));
  WritePreference(kUser, kPreferenceKey, QStringLiteral("top"), 9);
  EXPECT_EQ(ReadPreference(kUser, kPreferenceKey, QStringLiteral("top"), 0), 9);
}

TEST_F(PreferenceStore, AStoreThatCannotBeWrittenFailsSilently) {
  // The folder cannot exist: a file stands where it would be.
  test::WriteAll(dir_.File("blocker"), {'x'});
  Use(dir_.File("blocker") + "/Quellfon");
  WritePreference(kUser, kPreferenceKey, QStringLiteral("top"), 9);
  EXPECT_EQ(ReadPreference(kUser, kPreferenceKey, QStringLiteral("top"), 129), 129);
  EXPECT_EQ(test::ReadAll(dir_.File("blocker")).size(), 1u);
}

TEST_F(PreferenceStore, AStoreThatCannotBeReadIsNotOverwritten) {
  // A folder where the store file should be cannot be read as a store.
  ASSERT_TRUE(QDir().mkpath(PreferenceStorePath()));
  test::WriteAll(PreferenceStorePath().toStdString() + "/keep", {'k'});
  WritePreference(kUser, kPreferenceKey, QStringLiteral("top"), 9);
  EXPECT_EQ(ReadPreference(kUser, kPreferenceKey, QStringLiteral("top"), 129), 129);
  EXPECT_TRUE(QFileInfo(PreferenceStorePath()).isDir());
  EXPECT_TRUE(QFileInfo::exists(PreferenceStorePath() + QStringLiteral("/keep")));
}

}  // namespace
}  // namespace tv
