#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <cstdlib>

#include "DataFolder.h"
#include "TestFiles.h"

namespace tv {
namespace {

class DataFolderTest : public ::testing::Test {
 protected:
  void SetUp() override { setenv(kDataDirVariable, dir_.File("data").c_str(), 1); }
  void TearDown() override { unsetenv(kDataDirVariable); }
  QString Data(const QString& name) const {
    return QString::fromStdString(dir_.File("data")) + QLatin1Char('/') + name;
  }

  test::TempDir dir_;
};

TEST_F(DataFolderTest, FoldersAreCreatedBelowTheDataFolder) {
  EXPECT_EQ(ProgramDataFolder(), QString::fromStdString(dir_.File("data")));
  EXPECT_EQ(AnalyzerProjectsFolder(), Data(QStringLiteral("Analyzer Projects")));
  EXPECT_EQ(PeakDataFolder(), Data(QStringLiteral("Analyzer Peak Data")));
  EXPECT_EQ(DecodeDemosFolder(), Data(QStringLiteral("Decode Demos")));
  for (const char* name : {"Analyzer Projects", "Analyzer Peak Data", "Decode Demos"}) {
    EXPECT_TRUE(QFileInfo(Data(QString::fromLatin1(name))).isDir()) << name;
  }
}

TEST_F(DataFolderTest, WithoutTheVariableAWritableProgramFolderIsUsed) {
  unsetenv(kDataDirVariable);
  // The test program lives in the build tree: a portable folder.
  ASSERT_TRUE(IsPortableFolder(QCoreApplication::applicationDirPath()));
  EXPECT_EQ(ProgramDataFolder(), QCoreApplication::applicationDirPath());
}

TEST_F(DataFolderTest, SystemAndInstalledFoldersAreNotPortable) {
  EXPECT_FALSE(IsPortableFolder(QStringLiteral("/usr/bin")));
  EXPECT_FALSE(IsPortableFolder(QString::fromStdString(dir_.File("missing"))));
  const QString prefix = QString::fromStdString(dir_.File("prefix"));
  ASSERT_TRUE(QDir().mkpath(prefix + QStringLiteral("/bin")));
  EXPECT_TRUE(IsPortableFolder(prefix + QStringLiteral("/bin")));
  ASSERT_TRUE(QDir().mkpath(prefix + QStringLiteral("/share/tonvista")));
  EXPECT_FALSE(IsPortableFolder(prefix + QStringLiteral("/bin")));
}

TEST_F(DataFolderTest, SeedingCopiesMissingDemosAndKeepsExistingOnes) {
  const std::string source = dir_.File("share");
  std::filesystem::create_directories(source);
  test::WriteAll(source + "/dtmfgood.wav", {1, 2, 3});
  test::WriteAll(source + "/dtmfbad_normalized.wav", {4, 5});
  test::WriteAll(DecodeDemosFolder().toStdString() + "/dtmfgood.wav", {9});

  EXPECT_EQ(SeedDecodeDemos(QString::fromStdString(source)), 1);
  EXPECT_EQ(test::ReadAll(DecodeDemosFolder().toStdString() + "/dtmfgood.wav"), test::Bytes{9});
  EXPECT_EQ(test::ReadAll(DecodeDemosFolder().toStdString() + "/dtmfbad_normalized.wav"),
            (test::Bytes{4, 5}));
  EXPECT_EQ(SeedDecodeDemos(QString::fromStdString(source)), 0);
  EXPECT_EQ(QDir(DecodeDemosFolder()).entryList(QDir::Files).size(), 2);
  EXPECT_EQ(SeedDecodeDemos(QString::fromStdString(dir_.File("nowhere"))), 0);
}

TEST_F(DataFolderTest, InstalledDemosAreLookedForBesideTheProgram) {
  const QString expected = QDir::cleanPath(QCoreApplication::applicationDirPath() +
                                           QStringLiteral("/../share/tonvista/Decode Demos"));
  ASSERT_FALSE(InstalledDemoFolders().isEmpty());
  EXPECT_EQ(InstalledDemoFolders().constFirst(), expected);
}

}  // namespace
}  // namespace tv
