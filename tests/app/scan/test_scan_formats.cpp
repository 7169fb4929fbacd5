// The load action given a recording that is not plain PCM: it is decoded
// first and scanned like any other.
#include <gtest/gtest.h>

#include <QFileInfo>
#include <QTest>

#include "../window/WindowTestEnv.h"
#include "DtmfSynth.h"
#include "RunProcess.h"
#include "TFrmMain.h"
#include "Tf_result.h"
#include "WaveDialogs.h"

namespace tv {
namespace {

class LoadFormatTest : public test::WindowTest {
 protected:
  void TearDown() override {
    SetOpenWavePrompt({});
    WindowTest::TearDown();
  }
};

TEST_F(LoadFormatTest, MuLawAndMp3RecordingsAreDecodedAndScanned) {
  DtmfSignalOptions o;
  WriteDtmfWave(dir_.File("call.wav"), "0123456789*#ABCD", o);
  ASSERT_EQ(test::RunProcess("/usr/bin/sox", {dir_.File("call.wav"), "-e", "u-law", dir_.File("ulaw.wav")}).exitCode, 0);
  ASSERT_EQ(test::RunProcess("/usr/bin/lame", {"--quiet", "-b", "32", dir_.File("call.wav"), dir_.File("call.mp3")}).exitCode, 0);
  TFrmMain w;
  w.show();
  for (const char* name : {"ulaw.wav", "call.mp3"}) {
    SCOPED_TRACE(name);
    const QString file = File(name);
    SetOpenWavePrompt([file](QWidget*, const QString&, const QString&) { return file; });
    const int before = static_cast<int>(w.f_result()->Lines().size());
    ASSERT_TRUE(w.btnLoadClick());
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.f_result()->Lines().size() > before && !w.Busy(); }, 60000));
    EXPECT_EQ(w.DtmfText(), QStringLiteral("0123456789*#ABCD"));
  }
  EXPECT_TRUE(messages_.empty());
  EXPECT_TRUE(QFileInfo::exists(File("ulaw_acm_norm.wav")));
  EXPECT_TRUE(QFileInfo::exists(File("call.mp3_acm_norm.wav")));
  w.close();
}

}  // namespace
}  // namespace tv
