// The desktop program. Besides the windows it knows a few options, for
// documentation, demonstrations and checks:
//   --demo N                decode demonstration N (1..4) from the "Decode
//                           Demos" menu once the window is up;
//   --quit                  close the program when that is done;
//   --screenshot FILE       save a picture of the main window as FILE (PNG)
//                           once it is drawn (after the demonstration, if
//                           one was asked for), and quit;
//   --screenshot-dir DIR    the same for every window of the program, as
//                           tonvista-<window>.png in DIR;
//   --input-file FILE       the virtual "wave file as line-in" device plays
//                           FILE as the sound input;
//   --mode MODE             realtime, generator (the tone starts), analyzer
//                           or player (a FILE given plays after its scan);
//   --quit-after MS         close the program MS milliseconds after start;
//                           the screenshots are then taken just before;
//   --print-result          print the decoded keys (labDTMF) at exit.
// A FILE argument is loaded (converted, normalised and scanned) at start.
// "tonvista --print FILE.sav --pdf OUT.pdf" prints a stored spectrum
// without a window.
#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QThread>
#include <QCommandLineParser>
#include <QScreen>
#include <QTimer>
#include <QWindow>
#include <cstdio>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "Appearance.h"
#include "DataFolder.h"
#include "MMErrors.h"
#include "Messages.h"
#include "QtDispatcher.h"
#include "TMMCodecConversionProvider.h"
#include "TMMPcmConversion.h"
#include "TMMWaveDevices.h"
#include "TfPrint.h"
#include "TonvistaVersion.h"
#include "TfDtmf.h"
#include "TFrmInfo.h"
#include "TFrmMain.h"
#include "TMainMenu.h"
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

// Saves pictures of the main window and, with a folder, of every other
// window, one after the other: each window is shown, given time to be drawn,
// saved and hidden again. `done` runs with the outcome.
class TScreenshots : public QObject {
 public:
  TScreenshots(tv::TFrmMain& main, QString file, QString folder, std::function<void(bool)> done)
      : QObject(&main), main_(main), file_(std::move(file)), folder_(std::move(folder)),
        done_(std::move(done)) {}

  void Run() {
    if (!file_.isEmpty()) ok_ = Picture(main_).save(file_, "PNG") && ok_;
    if (folder_.isEmpty()) {
      done_(ok_);
      return;
    }
    ok_ = Picture(main_).save(folder_ + QStringLiteral("/tonvista-main.png"), "PNG") && ok_;
    info_ = new tv::TFrmInfo(&main_);
    windows_ = {{info_, "info"}, {main_.fDtmf(), "frequencies"}, {main_.f_result(), "results"}};
    Next();
  }

 private:
  void Next() {
    if (windows_.empty()) {
      done_(ok_);
      return;
    }
    QWidget* w = windows_.front().first;
    w->show();
    w->raise();
    // Time for the window system to map and draw the window.
    QTimer::singleShot(600, this, [this] {
      const auto [shown, name] = windows_.front();
      windows_.erase(windows_.begin());
      ok_ = Picture(*shown).save(
                folder_ + QStringLiteral("/tonvista-%1.png").arg(QLatin1String(name)), "PNG") &&
            ok_;
      shown->hide();
      Next();
    });
  }

  tv::TFrmMain& main_;
  QString file_;
  QString folder_;
  std::function<void(bool)> done_;
  tv::TFrmInfo* info_ = nullptr;
  std::vector<std::pair<QWidget*, const char*>> windows_;
  bool ok_ = true;
};

}  // namespace

int main(int argc, char** argv) {
  if (tv::IsBatchPrint(argc, argv)) return tv::BatchPrintMain(argc, argv);
  QApplication app(argc, argv);
  QApplication::setOrganizationName(QStringLiteral("Quellfon"));
  QApplication::setApplicationName(QStringLiteral("Tonvista"));
  QApplication::setApplicationVersion(QStringLiteral(TONVISTA_VERSION));

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
  const QCommandLineOption inputFile(QStringLiteral("input-file"),
                                     QStringLiteral("Use a wave file as the sound input."),
                                     QStringLiteral("file"));
  options.addOption(inputFile);
  const QCommandLineOption modeOption(
      QStringLiteral("mode"), QStringLiteral("Start in realtime, generator, analyzer or player mode."),
      QStringLiteral("mode"));
  options.addOption(modeOption);
  const QCommandLineOption quitAfterOption(
      QStringLiteral("quit-after"), QStringLiteral("Close the program after MS milliseconds."),
      QStringLiteral("MS"));
  options.addOption(quitAfterOption);
  const QCommandLineOption printResult(QStringLiteral("print-result"),
                                       QStringLiteral("Print the decoded keys at exit."));
  options.addOption(printResult);
  options.addPositionalArgument(QStringLiteral("file"),
                                QStringLiteral("A sound file to load and scan at start."),
                                QStringLiteral("[file]"));
  options.process(app);
  const QStringList positional = options.positionalArguments();
  if (positional.size() > 1) {
    std::fprintf(stderr, "tonvista: one file at a time, please\n");
    return 2;
  }
  const QString openFile = positional.isEmpty() ? QString() : positional.front();
  const QString mode = options.value(modeOption);
  if (!mode.isEmpty() && mode != QStringLiteral("realtime") && mode != QStringLiteral("generator") &&
      mode != QStringLiteral("analyzer") && mode != QStringLiteral("player")) {
    std::fprintf(stderr, "tonvista: --mode takes realtime, generator, analyzer or player\n");
    return 2;
  }
  int quitAfterMs = -1;
  if (options.isSet(quitAfterOption)) {
    bool ok = false;
    quitAfterMs = options.value(quitAfterOption).toInt(&ok);
    if (!ok || quitAfterMs < 0) {
      std::fprintf(stderr, "tonvista: --quit-after takes a number of milliseconds\n");
      return 2;
    }
  }
  if (options.isSet(inputFile)) {
    // Chosen before any device component exists: they bind when created.
    try {
      tv::UseLineInFile(options.value(inputFile).toStdString());
    } catch (const std::exception& e) {
      std::fprintf(stderr, "tonvista: %s cannot be used as the input:\n%s\n",
                   options.value(inputFile).toLocal8Bit().constData(),
                   tv::PlainMessage(e.what()).c_str());
      return 2;
    }
  }
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
  // Failures no caller can take (a sound device lost while it plays or
  // records) are told in a box that does not stop the program.
  tv::SetApplicationErrorHandler([](const std::string& message) {
    const QString text = QString::fromStdString(tv::PlainMessage(message));
    QMetaObject::invokeMethod(
        qApp, [text] { tv::ShowNotice(QApplication::activeWindow(), text); }, Qt::QueuedConnection);
  });
  // Streams that are not PCM are converted on their way to the displays.
  tv::SetPcmConversionProvider(&tv::CodecConversionProvider());
  tv::SetWaitCursorHook([](bool busy) {
    const auto show = [busy] {
      if (busy) {
        QApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
      } else if (QApplication::overrideCursor() != nullptr) {
        QApplication::restoreOverrideCursor();
      }
    };
    if (QThread::currentThread() == qApp->thread()) {
      show();
    } else {
      QMetaObject::invokeMethod(qApp, show, Qt::QueuedConnection);
    }
  });

  // The start-up screen comes first; the main window is built once it is on
  // the screen (or after a second, should the window system never say so).
  tv::TFrmInfo info;
  std::unique_ptr<tv::TFrmMain> window;
  const bool pictures = options.isSet(screenshot) || options.isSet(screenshotDir);
  const bool quitAfter = pictures || options.isSet(quit) || quitAfterMs >= 0;
  const bool printAtExit = options.isSet(printResult);
  const QString file = options.value(screenshot);
  const QString folder = options.value(screenshotDir);

  bool finishing = false;
  const auto finish = [&](tv::TFrmMain& main) {
    if (finishing) return;
    finishing = true;
    if (!pictures) {
      if (quitAfter) main.close();
      return;
    }
    auto* shots = new TScreenshots(main, file, folder, [&main](bool ok) {
      if (!ok) {
        std::fprintf(stderr, "tonvista: cannot write the screenshots\n");
        QApplication::exit(1);
        return;
      }
      main.close();
    });
    shots->Run();
  };
  const auto start = [&] {
    if (window) return;
    QApplication::setApplicationDisplayName(QStringLiteral("Tonvista"));
    tv::SeedDecodeDemos();
    window = std::make_unique<tv::TFrmMain>(&info);
    window->show();
    tv::TFrmMain& main = *window;
    if (mode == QStringLiteral("generator")) {
      main.btnGeneratClick();
      main.MMLabel31Click();
    } else if (mode == QStringLiteral("analyzer")) {
      main.LabAnalyerClick();
    } else if (mode == QStringLiteral("player")) {
      main.LabPlayerClick();
    }
    if (!openFile.isEmpty()) {
      if (mode == QStringLiteral("player")) {
        // The file plays once its scan has recorded the result.
        QObject::connect(&main, &tv::TFrmMain::scanFinished, &main,
                         [&main] { main.btnStartClick(); }, Qt::SingleShotConnection);
      }
      main.OpenFile(openFile);
    }
    // With a set time the program quits then, and the pictures show the
    // live state of that moment.
    const bool timed = quitAfterMs >= 0;
    if (timed) QTimer::singleShot(quitAfterMs, &main, [&main, &finish] { finish(main); });
    if (!pictures && demoNumber == 0) return;
    // Give the window system time to map and draw the window.
    QTimer::singleShot(700, &main, [&main, &finish, demoNumber, timed, printAtExit] {
      if (demoNumber == 0) {
        if (!timed) finish(main);
        return;
      }
      // The demonstration's result, once recorded, is printed.
      QObject::connect(&main, &tv::TFrmMain::demoFinished, &main, [&main, &finish, printAtExit,
                                                                    timed] {
        const auto report = [&main, &finish, printAtExit, timed] {
          if (!printAtExit) {
            std::printf("%s\n", main.DtmfText().toUtf8().constData());
            std::fflush(stdout);
          }
          if (!timed) finish(main);
        };
        if (main.Busy()) {
          QObject::connect(&main, &tv::TFrmMain::scanFinished, &main, report,
                           Qt::SingleShotConnection);
          return;
        }
        report();
      }, Qt::SingleShotConnection);
      const char* entries[] = {"Verygoodfile1", "Fastfile50ms1", "Badfile1", "Verybadfile1"};
      main.Menus().Action(entries[demoNumber - 1])->trigger();
    });
  };
  QObject::connect(&info, &tv::TFrmInfo::painted, &app, start, Qt::QueuedConnection);
  QTimer::singleShot(1000, &app, start);
  info.ShowNow();
  const int status = QApplication::exec();
  if (printAtExit && window) {
    std::printf("%s\n", window->DtmfText().toUtf8().constData());
    std::fflush(stdout);
  }
  window.reset();
  tv::SetApplicationErrorHandler({});
  return status;
}
