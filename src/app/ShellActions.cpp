#include "ShellActions.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

#include "THelpViewer.h"

namespace tv {

namespace {

TProgramStarter& Starter() {
  static TProgramStarter starter;
  return starter;
}

TUrlOpener& Opener() {
  static TUrlOpener opener;
  return opener;
}

const QString kHelpFile = QStringLiteral("help/index.html");

}  // namespace

QStringList MixerPrograms() {
  return {QStringLiteral("pavucontrol"),    QStringLiteral("pavucontrol-qt"),
          QStringLiteral("pwvucontrol"),    QStringLiteral("mate-volume-control"),
          QStringLiteral("xfce4-mixer"),    QStringLiteral("kmix"),
          QStringLiteral("gnome-alsamixer")};
}

bool SetupforInput1Click() {
  for (const QString& name : MixerPrograms()) {
    const QString program = QStandardPaths::findExecutable(name);
    if (program.isEmpty()) continue;
    return Starter() ? Starter()(program, {}) : QProcess::startDetached(program, {});
  }
  return false;
}

QString HelpFilePath() {
  QStringList candidates;
  const QString named = qEnvironmentVariable(kHelpDirVariable);
  if (!named.isEmpty()) candidates << QDir(named).filePath(QStringLiteral("index.html"));
  const QString exeFolder = QCoreApplication::applicationDirPath();
  if (!exeFolder.isEmpty()) {
    candidates << QDir(exeFolder).filePath(kHelpFile)
               << QDir::cleanPath(exeFolder + QStringLiteral("/../share/tonvista/") + kHelpFile);
  }
  for (const QString& data : QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation)) {
    candidates << QDir(data).filePath(QStringLiteral("tonvista/") + kHelpFile);
  }
  for (const QString& c : candidates) {
    if (QFileInfo(c).isFile()) return QFileInfo(c).absoluteFilePath();
  }
  return {};
}

void HelpFile1Click(QWidget* parent) {
  const QString file = HelpFilePath();
  if (file.isEmpty()) return;
  const QUrl url = QUrl::fromLocalFile(file);
  const bool opened = Opener() ? Opener()(url) : QDesktopServices::openUrl(url);
  if (opened) return;
  THelpViewer* viewer = THelpViewer::Instance(parent);
  viewer->Open(file);
  viewer->show();
  viewer->raise();
}

void SetProgramStarter(TProgramStarter starter) { Starter() = std::move(starter); }
void SetUrlOpener(TUrlOpener opener) { Opener() = std::move(opener); }

}  // namespace tv
