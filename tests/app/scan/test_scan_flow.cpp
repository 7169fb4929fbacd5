// How the window's actions follow one another while a demonstration or a
// scan runs: a click never re-enters the load action, a cancelled scan
// leaves nothing behind in the key line, and an error that ends a scan
// reaches the user instead of passing for a result.
#include <gtest/gtest.h>

#include <QAction>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTest>
#include <atomic>
#include <string>

#include "../window/WindowTestEnv.h"
#include "DtmfSynth.h"
#include "TFrmMain.h"
#include "TMMBitmapButton.h"
#include "TMMGauge.h"
#include "TMMRadioGroup.h"
#include "TMMTrigger.h"
#include "TMMWave.h"
#include "TMainMenu.h"
#include "Tf_result.h"
#include "WaveDialogs.h"

namespace tv {
namespace {

using test::Find;

class ScanFlow : public test::WindowTest {
 protected:
  void TearDown() override {
    SetOpenWavePrompt({});
    WindowTest::TearDown();
  }
  void CopyDemos() {
    const QString demos = File("data") + QStringLiteral("/Decode Demos");
    QDir().mkpath(demos);
    const QDir bundled(QStringLiteral(TONVISTA_BINARY_DIR "/bin/Decode Demos"));
    for (const QString& name : bundled.entryList({QStringLiteral("*.wav")}, QDir::Files)) {
      ASSERT_TRUE(QFile::copy(bundled.filePath(name), demos + QLatin1Char('/') + name));
    }
  }
  QString Recording(const char* name, const std::string& keys, DtmfSignalOptions o = {}) {
    const std::string file = dir_.File(name);
    WriteDtmfWave(file, keys, o);
    return QString::fromStdString(file);
  }
  static bool WaitUntilIdle(TFrmMain& w, int ms = 60000) {
    return QTest::qWaitFor([&] { return !w.Busy(); }, ms);
  }
};

TEST_F(ScanFlow, AClickDuringADemoOrAScanDoesNotReEnterTheLoadAction) {
  CopyDemos();
  TFrmMain w;
  w.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
  w.SetDemoPauseMs(400);
  Find<TMMRadioGroup>(*w.f_result(), "rg_text")->SetItemIndex(1);
  int prompts = 0;
  int depth = 0;
  int deepest = 0;
  std::function<void()> whileAsked;
  SetOpenWavePrompt([&](QWidget*, const QString&, const QString&) {
    ++prompts;
    deepest = std::max(deepest, ++depth);
    if (whileAsked) whileAsked();
    --depth;
    return QString();
  });

  // During a demonstration the converter window holds the input: neither a
  // click on the load button nor the load action itself starts a load, and
  // neither does another demonstration or a scan.
  w.Menus().Action("Verygoodfile1")->trigger();
  ASSERT_TRUE(w.Busy());
  QTest::mouseClick(Find<TMMBitmapButton>(w, "btnLoad"), Qt::LeftButton);
  EXPECT_FALSE(w.btnLoadClick());
  Find<QPushButton>(w, "labTriggerStart")->click();
  w.Menus().Action("Fastfile50ms1")->trigger();
  ASSERT_TRUE(WaitUntilIdle(w));
  EXPECT_EQ(prompts, 0);
  EXPECT_EQ(w.f_result()->Lines(), QStringList{QStringLiteral("5550147236DCBA*#")});

  // During a scan the load action runs once: clicks that arrive while its
  // dialog is up do not start it again.
  w.labTriggerStartClick();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !w.DtmfText().isEmpty(); }, 60000));
  whileAsked = [&] {
    EXPECT_FALSE(w.btnLoadClick());
    Find<QPushButton>(w, "labTriggerStart")->click();
    w.Menus().Action("Badfile1")->trigger();
  };
  EXPECT_FALSE(w.btnLoadClick());  // the dialog was cancelled
  EXPECT_EQ(prompts, 1);
  EXPECT_EQ(deepest, 1);
  ASSERT_TRUE(WaitUntilIdle(w));
  // The scan the load ended is recorded with what it found; none of its keys
  // comes back into the line the load cleared.
  ASSERT_EQ(w.f_result()->Lines().size(), 2);
  const QString partial = w.f_result()->Lines()[1];
  EXPECT_FALSE(partial.isEmpty());
  EXPECT_TRUE(QStringLiteral("5550147236DCBA*#").startsWith(partial)) << partial.toStdString();
  QTest::qWait(100);
  EXPECT_TRUE(w.DtmfText().isEmpty());
  EXPECT_TRUE(messages_.empty());
  w.close();
}

TEST_F(ScanFlow, AnErrorThatEndsAScanIsShownAndRecordsNoResult) {
  TFrmMain w;
  w.show();
  Find<TMMRadioGroup>(*w.f_result(), "rg_text")->SetItemIndex(1);
  const QString file = Recording("fails.wav", "0123456789");
  SetOpenWavePrompt([&](QWidget*, const QString&, const QString&) { return file; });
  // A handler that fails half way through the file, on the scan's worker.
  std::atomic<int> loads{0};
  w.Trigger().OnBufferFilled = [&](TMMDSPComponent*, PWaveHdr) {
    if (loads.fetch_add(1) == 20) throw EMMWaveError("Error reading wave file");
  };
  EXPECT_TRUE(w.btnLoadClick());
  ASSERT_TRUE(QTest::qWaitFor([&] { return !messages_.empty(); }, 60000));
  ASSERT_TRUE(WaitUntilIdle(w));
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0].first,
            QStringLiteral("fails_acm_norm.wav could not be scanned:\nError reading wave file"));
  EXPECT_EQ(messages_[0].second, MessageKind::Error);
  EXPECT_TRUE(w.f_result()->Lines().isEmpty());
  EXPECT_EQ(Find<TMMGauge>(w, "Gauge")->Progress(), 0);
  EXPECT_FALSE(w.Trigger().IsOpen());

  // The next scan of the same file runs to its end.
  w.Trigger().OnBufferFilled = nullptr;
  w.labTriggerStartClick();
  ASSERT_TRUE(QTest::qWaitFor([&] { return w.f_result()->Lines().size() == 1; }, 60000));
  EXPECT_EQ(w.f_result()->Lines()[0], QStringLiteral("0123456789"));
  w.close();
}

}  // namespace
}  // namespace tv
