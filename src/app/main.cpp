// The desktop program. Besides the windows it knows a few options, for
// documentation, demonstrations and checks:
//   --demo N                decode demonstration N (1..4) from the "Decode
//                           Demos" menu once the window is up;
//   --quit                  close the program when that is done;
//   --screenshot FILE       save a picture of the main window as FILE (PNG)
//                           once it is drawn (after the demonstration, if
//                           one was asked for), and quit;
//   --screenshot-dir DIR    the same for every window of the program, as
//                           tonvista-<window>.png in DIR.
#include <QAction>
#include <QApplication>
#include <QCommandLineParser>
#include <QScreen>
#include <QTimer>
#include <QWindow>
#include <cstdio>

#include "Appearance.h"
#include "DataFolder.h"
#include "QtDispatcher.h"
#include "TfDtmf.h"
#include "TFrmInfo.h"
#include "TFrmMain.h"
#include "Tf_result.h"

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
  const QCommandLineOption demo(QStringLiteral("demo"),
                                QStringLiteral("Decode demonstration N (1-4) at start."),
                                QStringLiteral("N"));
  options.addOption(demo);
  const QCommandLineOption quit(QStringLiteral("quit"),
                                QStringLiteral("Quit once the demonstration is done."));
  options.addOption(quit);
  options.process(app);
  int demoNumber = 0;
  if (options.isSet(demo)) {
    bool ok = false;
    demoNumber = options.value(demo).toInt(&ok);
    if (!ok || demoNumber < 1 || demoNumber > 4) {
      std::fprintf(stderr, "tonvista: --demo takes a number from 1 to 4\n");
      return 2;
    }
  }

  tv::ApplyAppearance(app);
  tv::ScopedQtDispatcher dispatcher;

  // The start-up screen, drawn before anything else is built.
  tv::TFrmInfo info;
  info.ShowNow();

  QApplication::setApplicationDisplayName(QStringLiteral("Tonvista"));
  tv::SeedDecodeDemos();

  tv::TFrmMain main(&info);
  main.show();

  const bool pictures = options.isSet(screenshot) || options.isSet(screenshotDir);
  if (pictures || demoNumber > 0) {
    const QString file = options.value(screenshot);
    const QString folder = options.value(screenshotDir);
    const bool quitAfter = pictures || options.isSet(quit);
    // Give the window system time to map and draw the window.
    QTimer::singleShot(700, &main, [&main, file, folder, demoNumber, pictures, quitAfter] {
      if (demoNumber > 0) {
        QAction* entries[] = {main.Verygoodfile1, main.Fastfile50ms1, main.Badfile1,
                              main.Verybadfile1};
        entries[demoNumber - 1]->trigger();
        // Let the results window and the label settle before the picture.
        for (int i = 0; i < 10; ++i) QApplication::processEvents(QEventLoop::AllEvents, 20);
        std::printf("%s\n", main.DtmfText().toUtf8().constData());
        std::fflush(stdout);
      }
      if (pictures && !SaveWindows(main, file, folder)) {
        std::fprintf(stderr, "tonvista: cannot write the screenshots\n");
        QApplication::exit(1);
        return;
      }
      if (quitAfter) main.close();
    });
  }
  return QApplication::exec();
}
