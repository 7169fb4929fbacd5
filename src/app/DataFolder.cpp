#include "DataFolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace tv {

namespace {

const QString kShareSubfolder = QStringLiteral("tonvista/Decode Demos");

QString Below(const QString& name) {
  const QString folder = ProgramDataFolder() + QLatin1Char('/') + name;
  QDir().mkpath(folder);
  return folder;
}

}  // namespace

bool IsPortableFolder(const QString& folder) {
  const QFileInfo info(folder);
  if (!info.isDir() || !info.isWritable()) return false;
  const QString path = QDir::cleanPath(info.absoluteFilePath());
  // Even when writable (running as root), system folders are no place for
  // the user's projects.
  for (const char* system : {"/usr", "/bin", "/sbin", "/lib", "/etc", "/var"}) {
    const QString prefix = QString::fromLatin1(system);
    if (path == prefix || path.startsWith(prefix + QLatin1Char('/'))) return false;
  }
  // An installed layout keeps its shared files in ../share/tonvista.
  return !QFileInfo::exists(path + QStringLiteral("/../share/tonvista"));
}

QString ProgramDataFolder() {
  const QByteArray overridden = qgetenv(kDataDirVariable);
  QString folder;
  if (!overridden.isEmpty()) {
    folder = QDir::cleanPath(QString::fromLocal8Bit(overridden));
  } else {
    const QString exeFolder = QCoreApplication::applicationDirPath();
    if (!exeFolder.isEmpty() && IsPortableFolder(exeFolder)) {
      folder = exeFolder;
    } else {
      // Organization "Quellfon", application "Tonvista": honours XDG_DATA_HOME.
      folder = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
      if (folder.isEmpty()) {
        folder = QDir::homePath() + QStringLiteral("/.local/share/Quellfon/Tonvista");
      }
    }
  }
  QDir().mkpath(folder);
  return folder;
}

QString AnalyzerProjectsFolder() { return Below(QStringLiteral("Analyzer Projects")); }
QString PeakDataFolder() { return Below(QStringLiteral("Analyzer Peak Data")); }
QString DecodeDemosFolder() { return Below(QStringLiteral("Decode Demos")); }

QStringList InstalledDemoFolders() {
  QStringList folders;
  const QString exeFolder = QCoreApplication::applicationDirPath();
  if (!exeFolder.isEmpty()) {
    folders += QDir::cleanPath(exeFolder + QStringLiteral("/../share/") + kShareSubfolder);
  }
  for (const QString& data :
       QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation)) {
    const QString candidate = QDir::cleanPath(data + QLatin1Char('/') + kShareSubfolder);
    if (!folders.contains(candidate)) folders += candidate;
  }
  return folders;
}

int SeedDecodeDemos() {
  for (const QString& source : InstalledDemoFolders()) {
    if (QFileInfo(source).isDir()) return SeedDecodeDemos(source);
  }
  return 0;
}

int SeedDecodeDemos(const QString& source) {
  const QDir from(source);
  if (!from.exists()) return 0;
  const QString target = DecodeDemosFolder();
  if (QDir(target).canonicalPath() == from.canonicalPath()) return 0;
  int copied = 0;
  for (const QFileInfo& file : from.entryInfoList(QDir::Files | QDir::Readable, QDir::Name)) {
    const QString destination = target + QLatin1Char('/') + file.fileName();
    if (QFileInfo::exists(destination)) continue;
    // Copied under a temporary name first: an interrupted copy must not
    // leave a truncated recording that would never be replaced.
    const QString partial = destination + QStringLiteral(".part");
    QFile::remove(partial);
    if (!QFile::copy(file.absoluteFilePath(), partial)) continue;
    if (QFile::rename(partial, destination)) {
      ++copied;
    } else {
      QFile::remove(partial);
    }
  }
  return copied;
}

}  // namespace tv
