#include "TMainMenu.h"

#include <QAction>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>

namespace tv {

namespace {

QAction* Entry(QMenu* menu, const char* name, const QString& caption, bool enabled,
               const QKeySequence& shortcut = {}) {
  QAction* a = menu->addAction(caption);
  a->setObjectName(QString::fromLatin1(name));
  a->setEnabled(enabled);
  if (!shortcut.isEmpty()) a->setShortcut(shortcut);
  return a;
}

QMenu* SubMenu(QMenuBar* bar, const char* name, const QString& caption) {
  QMenu* m = bar->addMenu(caption);
  m->setObjectName(QString::fromLatin1(name));
  return m;
}

QMenu* SubMenu(QMenu* parent, const char* name, const QString& caption) {
  QMenu* m = parent->addMenu(caption);
  m->setObjectName(QString::fromLatin1(name));
  return m;
}

}  // namespace

TMainMenu::TMainMenu(QMenuBar* bar) : bar_(bar) {
  QMenu* file = SubMenu(bar, "File1", QStringLiteral("&File"));
  Entry(file, "LoadPrject1", QStringLiteral("&Load Analyzer Setting"), true);
  Entry(file, "SaveProject1", QStringLiteral("&Save Analyzer Setting"), true);
  Entry(file, "SaveasDefault1", QStringLiteral("Save Settings as Default"), true);
  file->addSeparator();
  Entry(file, "N2", QStringLiteral("Show Results Window"), true);
  file->addSeparator();
  Entry(file, "Exit1", QStringLiteral("Exit"), true);

  QMenu* demos = SubMenu(bar, "DecodeDemos1", QStringLiteral("Decode D&emos"));
  Entry(demos, "Verygoodfile1", QStringLiteral("Very good file"), true);
  Entry(demos, "Fastfile50ms1", QStringLiteral("Fast file 50 ms"), true);
  Entry(demos, "Badfile1", QStringLiteral("Bad quality"), true);
  Entry(demos, "Verybadfile1", QStringLiteral("Very bad quality"), true);

  QAction* dtmf = bar->addAction(QStringLiteral("D&TMF Tone Setup"));
  dtmf->setObjectName(QStringLiteral("DTMFSettings1"));

  QMenu* input = SubMenu(bar, "AnalyzerInput1", QStringLiteral("&Analyzer Input"));
  Entry(input, "WavePlayer1", QStringLiteral("&Wave Player"), true);
  QAction* lineIn = Entry(input, "LineIn1", QStringLiteral("&Real Time Scan"), true);
  lineIn->setToolTip(QStringLiteral("The one you choose by recording Input !"));
  lineIn->setStatusTip(lineIn->toolTip());
  Entry(input, "Frequ1", QStringLiteral("&Generator"), true);
  input->setToolTipsVisible(true);

  QMenu* data = SubMenu(bar, "DataValue1", QStringLiteral("Tonvista &Data Value"));
  for (int i = 0; i < 4; ++i) {
    const QByteArray name = "StoreSpectrum" + QByteArray::number(i + 1);
    Entry(data, name.constData(), QStringLiteral("Store freezed Spectrum %1").arg(i + 1), true,
          QKeySequence(Qt::Key_F5 + i));
  }
  data->addSeparator();
  for (int i = 0; i < 4; ++i) {
    const QByteArray name = "LoadSpectrum" + QByteArray::number(i + 1);
    Entry(data, name.constData(), QStringLiteral("Load freezed Spectrum %1").arg(i + 1), true,
          QKeySequence(Qt::Key_F9 + i));
  }
  data->addSeparator();
  Entry(data, "AnalyzerEditor1", QStringLiteral("Analyzer &Editor"), true);

  QMenu* preferences = SubMenu(bar, "Preferences1", QStringLiteral("Preferen&ces"));
  Entry(preferences, "SetupforInput1", QStringLiteral("Standard &Mixer Win95/98/00/NT"), true);
  Entry(preferences, "InputDevice1", QStringLiteral("&Input Device"), true);
  Entry(preferences, "OutputDevice1", QStringLiteral("&Output Device"), true);
  Entry(preferences, "Spectrum1", QStringLiteral("Spectrum &controls"), true);

  QMenu* tools = SubMenu(bar, "Tools1", QStringLiteral("Mp&3/wav tools"));
  Entry(tools, "DtmfConverter1", QStringLiteral("DTMF normalize && converter"), true);
  Entry(tools, "Mp3ToWav1", QStringLiteral("Convert Mp3 to Wav"), true);
  Entry(tools, "NormalizeWave1", QStringLiteral("Normalize wave files"), true);
  Entry(tools, "SplitStereo1", QStringLiteral("Split Stereo into 2 mono files"), true);
  Entry(tools, "SwapChannels1", QStringLiteral("Swap left with right channel"), true);

  QMenu* module = SubMenu(bar, "Module1", QStringLiteral("&Module"));
  QMenu* print = SubMenu(module, "PrintModule1", QStringLiteral("&Print Module"));
  Entry(print, "PrintSpectrumSetup1", QStringLiteral("Print Spectrum Setup"), true);
  Entry(print, "PrinterSetup1", QStringLiteral("Printer Setup"), true);
  QMenu* background = SubMenu(module, "BackgroundModule1", QStringLiteral("Background Module"));
  Entry(background, "LoadBackground1", QStringLiteral("Load freezed Background"), true);
  Entry(background, "ClearBackground1", QStringLiteral("Clear freezed Background"), true);
  Entry(background, "CheckBackgroundcolors2", QStringLiteral("Check Background colors"), true);

  QMenu* info = SubMenu(bar, "Info1", QStringLiteral("&Info"));
  Entry(info, "About1", QStringLiteral("About"), true);
  Entry(info, "HelpFile1", QStringLiteral("&Help-File"), true, QKeySequence(Qt::Key_F1));
}

QAction* TMainMenu::Action(const char* name) const {
  return bar_->findChild<QAction*>(QString::fromLatin1(name));
}

QMenu* TMainMenu::Menu(const char* name) const {
  return bar_->findChild<QMenu*>(QString::fromLatin1(name));
}

}  // namespace tv
