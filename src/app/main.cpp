// The desktop program. Besides the windows it knows one option, for
// documentation and checks:
//   --screenshot FILE       show the main window, save a picture of it as
//                           FILE (PNG) once it is drawn, and quit;
//   --screenshot-dir DIR    the same for every window of the program, as
//                           tonvista-<window>.png in DIR.
#include <QApplication>
#include <QCommandLineParser>
#include <QScreen>
#include <QTimer>
#include <QWindow>
#include <cstdio>

#include "Appearance.h"
#include "DataFolder.h"
#include "QtDispatcher.h"
#include "uDtmf.h"
#include "uInfo.h"
#include "uMain.h"
#include "u_results.h"

namespace {

// A picture of a window: the window system's own pixels where it has them,
// else the window drawn off-screen.
QPixmap Picture(QWidget& window) {
  QPixmap picture;
  if (QGuiApplication::platformName() != QStringLiteral("offscreen")) {
    if (QScreen* screen = window.screen()) picture = screen->grabWindow(window.winId());
  }
  if (picture.isNull() || picture.size() != window.size() * picture.devicePixelRatio()) {
    picture = window.grab();
  }
  return picture;
}

bool SaveWindows(tv::TFrmMain& main, const QString& file, const QString& folder) {
  if (!file.isEmpty() && !Picture(main).save(file, "PNG")) return false;
  if (folder.isEmpty()) return true;
  const auto save = [&folder](QWidget& w, const char* name) {
    w.show();
    w.raise();
    // Wait until the window system has drawn the window.
    for (int i = 0; i < 30; ++i) QApplication::processEvents(QEventLoop::AllEvents, 20);
    const bool ok = Picture(w).save(
        folder + QStringLiteral("/tonvista-%1.png").arg(QLatin1String(name)), "PNG");
    w.hide();
    return ok;
  };
  bool ok = Picture(main).save(folder + QStringLiteral("/tonvista-main.png"), "PNG");
  tv::TFrmInfo info;
  ok = save(info, "info") && ok;
  ok = save(*main.fDtmf(), "frequencies") && ok;
  ok = save(*main.f_result(), "results") && ok;
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setOrganizationName(QStringLiteral("Quellfon"));
  QApplication::setApplicationName(QStringLiteral("Tonvista"));
  QApplication::setApplicationVersion(QStringLiteral("3.2"));

  QCommandLineParser options;
  options.setApplicationDescription(
      QStringLiteral("Tonvista, DTMF tone detector and audio analyzer"));
  options.addHelpOption();
  options.addVersionOption();
  const QCommandLineOption screenshot(QStringLiteral("screenshot"),
                                      QStringLiteral("Save a picture of the main window and quit."),
                                      QStringLiteral("file"));
  options.addOption(screenshot);
  const QCommandLineOption screenshotDir(QStringLiteral("screenshot-dir"),
                                         QStringLiteral("Save pictures of all windows and quit."),
                                         QStringLiteral("folder"));
  options.addOption(screenshotDir);
  options.process(app);

  tv::ApplyAppearance(app);
  tv::ScopedQtDispatcher dispatcher;

  // The start-up screen, drawn before anything else is built.
  tv::TFrmInfo info;
  info.ShowNow();

  QApplication::setApplicationDisplayName(QStringLiteral("Tonvista"));
  tv::SeedDecodeDemos();

  tv::TFrmMain main(&info);
  main.show();

  if (options.isSet(screenshot) || options.isSet(screenshotDir)) {
    const QString file = options.value(screenshot);
    const QString folder = options.value(screenshotDir);
    // Give the window system time to map and draw the window.
    QTimer::singleShot(700, &main, [&main, file, folder] {
      if (!SaveWindows(main, file, folder)) {
        std::fprintf(stderr, "tonvista: cannot write the screenshots\n");
        QApplication::exit(1);
        return;
      }
      main.close();
    });
  }
  return QApplication::exec();
}
