// The Real Time mode as a line monitor: with "Strict tone check" on, the
// keys heard on the live input (here the virtual "wave file as line-in")
// are appended to labDTMF; with it off nothing is; switched on while
// capture runs, it takes effect at once.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QTest>
#include <atomic>
#include <chrono>
#include <functional>
#include <string>

#include "DtmfSynth.h"
#include "Preferences.h"
#include "TFrmMain.h"
#include "TMMConnector.h"
#include "TMMPeakDetect.h"
#include "TMMVirtualDevices.h"
#include "TMMWaveIn.h"
#include "TfDtmf.h"
#include "TestFiles.h"
#include "LiveWindowTest.h"
#include "../window/WindowTestEnv.h"

namespace tv {
namespace {

using test::Find;
using test::WaitFor;

constexpr int kRate = 44100;
constexpr int kFrameBytes = 4;  // 16-bit stereo
const std::string kKeys = "147*0#9D";

class LiveKeys : public test::VirtualDevicesWindowTest {
 protected:
  // The keys after a short lead, then `tailMs` of line noise; the line-in
  // device plays it round and round. Answers the length of one round in
  // bytes, and where the keys end.
  int64_t UseLine(double tailMs) {
    DtmfSignalOptions o;
    o.rate = kRate;
    o.channels = 2;
    o.toneMs = 60;
    o.gapMs = 70;
    o.leadMs = 200;
    o.tailMs = tailMs;
    o.levelDb = -14;
    o.twistDb = 2;
    o.noiseDb = -45;
    const std::string path = dir_.File("line.wav");
    WriteDtmfWave(path, kKeys, o);
    const double keysMs = o.leadMs + static_cast<double>(kKeys.size()) * (o.toneMs + o.gapMs);
    keysEnd_ = static_cast<int64_t>(keysMs * kRate / 1000) * kFrameBytes;
    round_ = static_cast<int64_t>(SynthesizeDtmf(kKeys, o).size()) * kFrameBytes;
    devices_.SetLineInFile(path);
    return round_;
  }

  // Counts what the live input delivers; conect2 sees every buffer of it.
  void CountInput(TFrmMain& w) {
    w.conect2().OnBufferReady = [this](TMMDSPComponent*, PWaveHdr h) {
      heard_.fetch_add(h->dwBytesRecorded);
    };
  }

  static void Show(TFrmMain& w) {
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
  }

  std::atomic<int64_t> heard_{0};
  int64_t keysEnd_ = 0;
  int64_t round_ = 0;
};

TEST_F(LiveKeys, WithTheStoredChoiceOnTheKeysHeardAreAppendedExactly) {
  WritePreference(PreferenceRoot::CurrentUser, kDtmfPreferenceKey, QStringLiteral("Strict"), true);
  UseLine(20000);
  TFrmMain w;
  Show(w);
  ASSERT_TRUE(w.MMWaveIn1().IsStarted());
  // Exactly the keys: a key too many or a wrong one never meets the wait.
  EXPECT_TRUE(WaitFor([&] { return w.DtmfText().toStdString() == kKeys; }, 20000))
      << w.DtmfText().toStdString();
  // The space bar ends capture; what it left is still the keys.
  w.ToggleLiveCapture();
  EXPECT_FALSE(w.LiveCapture());
  QCoreApplication::processEvents();
  EXPECT_EQ(w.DtmfText().toStdString(), kKeys);
  // The chain is the Real Time chain as ever.
  EXPECT_EQ(w.conect2().Output(), &w.MMPeakDetect1());
}

TEST_F(LiveKeys, OffNothingIsAppendedAndSwitchedOnWhileCapturingKeysFollow) {
  const int64_t round = UseLine(2500);
  TFrmMain w;
  CountInput(w);
  Show(w);
  ASSERT_TRUE(w.MMWaveIn1().IsStarted());
  const QString caption = w.DtmfText();
  // A whole round and then the keys once more have passed the input.
  const int64_t halfSecond = kRate * kFrameBytes / 2;
  ASSERT_TRUE(WaitFor([&] { return heard_.load() > round + keysEnd_ + halfSecond; }, 20000));
  QCoreApplication::processEvents();
  EXPECT_EQ(w.DtmfText(), caption);

  // On, in the quiet after the keys, through the dialog's box while capture
  // runs: the next round's keys take the start-up caption's place, exactly.
  ASSERT_TRUE(WaitFor(
      [&] {
        const int64_t at = heard_.load() % round;
        return at > keysEnd_ + kRate * kFrameBytes / 4 && at < round - kRate * kFrameBytes;
      },
      20000));
  auto* strict = Find<QCheckBox>(*w.fDtmf(), "cbStrict");
  ASSERT_NE(strict, nullptr);
  strict->setChecked(true);
  EXPECT_TRUE(WaitFor([&] { return w.DtmfText().toStdString() == kKeys; }, 20000))
      << w.DtmfText().toStdString();

  // Off again: the next round leaves labDTMF as it is.
  strict->setChecked(false);
  const int64_t from = heard_.load();
  ASSERT_TRUE(WaitFor([&] { return heard_.load() > from + round + halfSecond; }, 20000));
  QCoreApplication::processEvents();
  EXPECT_EQ(w.DtmfText().toStdString(), kKeys);
}

}  // namespace
}  // namespace tv
