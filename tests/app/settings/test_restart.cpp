// The program itself, started twice in a private home: what the first run
// (or the user between runs) left in "Default.prj" and in the preferences
// comes back and is written again at the next exit, nothing reset and
// nothing lost; and a program killed outright leaves a whole "Default.prj".
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QByteArray>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>
#include <cstdlib>

#include "DataFolder.h"
#include "Preferences.h"
#include "SettingsKeyList.h"
#include "TIniFile.h"
#include "TestFiles.h"

namespace tv {
namespace {

using test::SettingsKey;

const QString kProgram = QStringLiteral(TONVISTA_BINARY_DIR "/bin/tonvista");
constexpr int kRunDeadlineMs = 180000;  // a sanitizer build starts slowly

// A home of its own for the program: XDG folders, a runtime folder, and a
// screen large enough for the window's design size, so that no stored
// geometry is changed to fit.
class Home {
 public:
  Home() {
    for (const char* d : {"config", "data", "runtime"}) QDir().mkpath(Path(d));
    QFile::setPermissions(Path("runtime"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QFile screens(Path("screens.json"));
    if (screens.open(QIODevice::WriteOnly)) {
      screens.write(R"({"windowFrameMargins": false, "screens": [{"name": "bench", "x": 0, "y": 0,
                        "width": 1920, "height": 1080, "logicalDpi": 96, "logicalBaseDpi": 96,
                        "dpr": 1}]})");
    }
    // This process reads and writes the same store as the program.
    setenv(kConfigDirVariable, (Path("config") + QStringLiteral("/Quellfon")).toLocal8Bit().constData(), 1);
  }
  ~Home() { unsetenv(kConfigDirVariable); }

  QString Path(const char* name) const { return QString::fromStdString(dir_.File(name)); }
  QString DataFolder() const { return Path("data") + QStringLiteral("/Quellfon/Tonvista"); }
  QString DefaultPrj() const { return DataFolder() + QStringLiteral("/Analyzer Projects/Default.prj"); }
  QString Store() const { return Path("config") + QStringLiteral("/Quellfon/Tonvista.prefs"); }

  QProcessEnvironment Environment() const {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), Path("home"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), Path("config"));
    env.insert(QStringLiteral("XDG_DATA_HOME"), Path("data"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), Path("runtime"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"),
               QStringLiteral("offscreen:configfile=") + Path("screens.json"));
    env.insert(QStringLiteral("TONVISTA_AUDIO"), QStringLiteral("virtual-only"));
    // The preferences where an installed program keeps them.
    env.remove(QString::fromLatin1(kConfigDirVariable));
    // The build tree's program would keep its data beside itself; the
    // folder an installed one uses instead.
    env.insert(QString::fromLatin1(kDataDirVariable), DataFolder());
    return env;
  }

 private:
  test::TempDir dir_;
};

struct Outcome {
  bool finished = false;
  bool crashed = false;
  int exitCode = -1;
  QString err;
};

Outcome RunProgram(const Home& home, const QStringList& args) {
  QProcess p;
  p.setProcessEnvironment(home.Environment());
  p.setWorkingDirectory(home.Path("runtime"));
  p.start(kProgram, args);
  Outcome o;
  if (!p.waitForStarted(30000)) {
    o.err = p.errorString();
    return o;
  }
  o.finished = p.waitForFinished(kRunDeadlineMs);
  if (!o.finished) {
    p.kill();
    p.waitForFinished(30000);
  }
  o.crashed = p.exitStatus() == QProcess::CrashExit;
  o.exitCode = p.exitCode();
  o.err = QString::fromLocal8Bit(p.readAllStandardError());
  return o;
}

QByteArray ReadFile(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void WriteFile(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
  ASSERT_EQ(f.write(bytes), bytes.size());
}

// Every key of the settings file with the value `pick` takes; -9 stands
// for a key the file lacks.
template <class Pick>
void ExpectSettings(const QString& path, Pick pick, const char* when) {
  const TIniFile file(QFile::encodeName(path).toStdString());
  for (const SettingsKey& k : test::kSettingsKeys) {
    EXPECT_EQ(file.ReadInteger(k.section, k.key, -9), pick(k)) << when << ": " << k.key;
  }
}

// A settings file as the user might have left it: every key changed, a
// comment, a section and a key the program does not know.
QByteArray ChangedSettingsText() {
  QByteArray text = "; bench 3, changed by hand\n";
  const char* section = "";
  for (const SettingsKey& k : test::kSettingsKeys) {
    if (qstrcmp(section, k.section) != 0) {
      section = k.section;
      text += QByteArray("[") + section + "]\n";
      if (qstrcmp(section, "TCheckBox") == 0) text += "Checked7=1\n";
    }
    text += QByteArray(k.key) + "=" + QByteArray::number(k.changed) + "\n";
  }
  text += "[Notes]\nowner=lab 3\n";
  return text;
}

int ReadInt(const QString& key, const char* name) {
  return ReadPreference(PreferenceRoot::CurrentUser, key, QString::fromLatin1(name), -9999);
}
QString ReadText(const QString& key, const char* name) {
  return ReadPreference(PreferenceRoot::CurrentUser, key, QString::fromLatin1(name),
                        QStringLiteral("<none>"));
}

// Preference values changed between runs, each to another valid value (the
// devices run in thread mode by design; the window mode is the other mode
// this platform has).
struct IntPreference {
  const QString* key;
  const char* name;
  int32_t value;
};
const IntPreference kChangedInts[] = {
    {&kPreferenceKey, "top", 45},          {&kPreferenceKey, "left", 37},
    {&kPreferenceKey, "wide", 1300},       {&kPreferenceKey, "hei", 900},
    {&kPreferenceKey, "show", 0},          {&kPreferenceKey, "DeviceID in", 1},  // silence
    {&kPreferenceKey, "CBMode in", 0},     {&kPreferenceKey, "DeviceID out", 1},  // null output
    {&kPreferenceKey, "CBMode out", 0},    {&kDtmfPreferenceKey, "Custom", 1},
    {&kDtmfPreferenceKey, "Factor", -20},  {&kDtmfPreferenceKey, "N1", 1200},
    {&kDtmfPreferenceKey, "N2", 1330},     {&kDtmfPreferenceKey, "N3", 1470},
    {&kDtmfPreferenceKey, "N4", 1630},     {&kDtmfPreferenceKey, "N5", 700},
    {&kDtmfPreferenceKey, "N6", 770},      {&kDtmfPreferenceKey, "N7", 850},
    {&kDtmfPreferenceKey, "N8", 940},
};
struct TextPreference {
  const char* name;
  const char* value;
};
const TextPreference kChangedTexts[] = {
    {"BinData0", "/srv/spectra/one.sav"}, {"BinData1", "/srv/spectra/zwei \"2\".sav"},
    {"BinData2", ""},                     {"BinData3", "/srv/spectra/vier.sav"},
    {"InitDir", "/srv/calls"},            {"Rec InitDir", "/srv/recordings"},
};

TEST(Restart, WhatTheLastRunOrTheUserLeftComesBackAndIsWrittenAgain) {
  Home home;
  const Outcome first = RunProgram(home, {QStringLiteral("--quit-after"), QStringLiteral("1500")});
  ASSERT_TRUE(first.finished && !first.crashed) << first.err.toStdString();
  ASSERT_EQ(first.exitCode, 0) << first.err.toStdString();

  // The first exit wrote the design state.
  ExpectSettings(home.DefaultPrj(), [](const SettingsKey& k) { return k.design; }, "first exit");
  EXPECT_EQ(ReadInt(kPreferenceKey, "top"), 129);
  EXPECT_EQ(ReadInt(kPreferenceKey, "left"), 501);
  EXPECT_EQ(ReadInt(kPreferenceKey, "wide"), 1061);
  EXPECT_EQ(ReadInt(kPreferenceKey, "hei"), 766);
  EXPECT_EQ(ReadInt(kPreferenceKey, "show"), 1);
  for (const char* device : {"DeviceID in", "CBMode in", "DeviceID out", "CBMode out"}) {
    EXPECT_NE(ReadInt(kPreferenceKey, device), -9999) << device;
  }

  // Changed between the runs, as an earlier run or the user would have.
  const QByteArray settings = ChangedSettingsText();
  WriteFile(home.DefaultPrj(), settings);
  for (const IntPreference& p : kChangedInts) {
    WritePreference(PreferenceRoot::CurrentUser, *p.key, QString::fromLatin1(p.name), p.value);
  }
  for (const TextPreference& p : kChangedTexts) {
    WritePreference(PreferenceRoot::CurrentUser, kPreferenceKey, QString::fromLatin1(p.name),
                    QString::fromUtf8(p.value));
  }
  WritePreference(PreferenceRoot::CurrentUser, kPreferenceKey, QStringLiteral("Not ours"), 77);
  const QByteArray foreign = "; kept by hand\n[Quellfon\\Other Program]\n\"Mine\"=\"yes\"\n";
  {
    QFile store(home.Store());
    ASSERT_TRUE(store.open(QIODevice::Append));
    store.write(foreign);
  }

  const Outcome second = RunProgram(home, {QStringLiteral("--mode"), QStringLiteral("generator"),
                                    QStringLiteral("--quit-after"), QStringLiteral("1500")});
  ASSERT_TRUE(second.finished && !second.crashed) << second.err.toStdString();
  ASSERT_EQ(second.exitCode, 0) << second.err.toStdString();

  ExpectSettings(home.DefaultPrj(), [](const SettingsKey& k) { return k.changed; }, "second exit");
  // Written over with the same values: the rest of the file as it was.
  EXPECT_EQ(ReadFile(home.DefaultPrj()), settings);
  for (const IntPreference& p : kChangedInts) EXPECT_EQ(ReadInt(*p.key, p.name), p.value) << p.name;
  for (const TextPreference& p : kChangedTexts) {
    EXPECT_EQ(ReadText(kPreferenceKey, p.name), QString::fromUtf8(p.value)) << p.name;
  }
  EXPECT_EQ(ReadInt(kPreferenceKey, "Not ours"), 77);
  EXPECT_TRUE(ReadFile(home.Store()).contains(foreign));
}

struct FileIdentity {
  bool exists = false;
  ino_t inode = 0;
  timespec modified{};
  off_t size = 0;
  bool operator==(const FileIdentity& o) const {
    return exists == o.exists && inode == o.inode && modified.tv_sec == o.modified.tv_sec &&
           modified.tv_nsec == o.modified.tv_nsec && size == o.size;
  }
};

FileIdentity IdentityOf(const QString& path) {
  struct stat st {};
  if (::stat(QFile::encodeName(path).constData(), &st) != 0) return {};
  return {true, st.st_ino, st.st_mtim, st.st_size};
}

// Starts the program and kills it (SIGKILL) the moment "Default.prj" is
// no longer what it was at the start, or when it has ended by itself.
bool KillWhenDefaultChanges(const Home& home, const QStringList& args, QString& err) {
  const FileIdentity before = IdentityOf(home.DefaultPrj());
  QProcess p;
  p.setProcessEnvironment(home.Environment());
  p.setWorkingDirectory(home.Path("runtime"));
  p.start(kProgram, args);
  if (!p.waitForStarted(30000)) return false;
  const QDeadlineTimer deadline(kRunDeadlineMs);
  bool changed = false;
  while (!deadline.hasExpired()) {
    if (!(IdentityOf(home.DefaultPrj()) == before)) {
      changed = true;
      break;
    }
    if (p.waitForFinished(2)) break;
  }
  p.kill();
  p.waitForFinished(30000);
  err = QString::fromLocal8Bit(p.readAllStandardError());
  return changed || p.state() == QProcess::NotRunning;
}

TEST(Restart, AProgramKilledWhileItWritesLeavesAWholeDefaultPrj) {
  Home home;
  QString err;
  // The first start writes the file before it reads it.
  ASSERT_TRUE(KillWhenDefaultChanges(home, {QStringLiteral("--quit-after"), QStringLiteral("60000")}, err))
      << err.toStdString();
  ExpectSettings(home.DefaultPrj(), [](const SettingsKey& k) { return k.design; }, "killed at start");

  // Killed while the exit writes it: the old or the new file, whole.
  const QByteArray settings = ChangedSettingsText();
  for (const char* after : {"200", "600", "1200"}) {
    WriteFile(home.DefaultPrj(), settings);
    ASSERT_TRUE(KillWhenDefaultChanges(home, {QStringLiteral("--quit-after"), QString::fromLatin1(after)}, err))
        << err.toStdString();
    ExpectSettings(home.DefaultPrj(), [](const SettingsKey& k) { return k.changed; }, after);
    EXPECT_EQ(ReadFile(home.DefaultPrj()), settings) << after;
  }
}

}  // namespace
}  // namespace tv
