// The main window with its sound devices: the analyzer modes' chains, the
// displays they feed, the overload and peak-hold indicators and the Wave
// Player transport, on virtual devices in a real (offscreen) window.
#include <gtest/gtest.h>

#include <QLabel>
#include <QLocale>
#include <QSlider>
#include <QTest>
#include <chrono>
#include <filesystem>
#include <cmath>
#include <functional>
#include <utility>
#include <vector>

#include <QCheckBox>

#include "FileRequest.h"
#include "TAnalyzerFreezePanel.h"
#include "TAnalyzerGainPanel.h"
#include "TAnalyzerScalePanel.h"
#include "TFrmMain.h"
#include "TMMRadioGroup.h"
#include "TFuncPanel.h"
#include "TGeneratorPanel.h"
#include "TMMBitmapButton.h"
#include "TMMConnector.h"
#include "TMMGenerator.h"
#include "TMMLEDSpin.h"
#include "TMMLed.h"
#include "TMMLevel.h"
#include "TMMNumberEdit.h"
#include "TMMOscope.h"
#include "TMMPeakDetect.h"
#include "TMMSpectrum.h"
#include "MMErrors.h"
#include "TMMVirtualDevices.h"
#include "TMMWave.h"
#include "TMMWaveFile.h"
#include "TMMWaveIn.h"
#include "TMMWaveOut.h"
#include "TMMWaveRecorder.h"
#include "TPlayerPanel.h"
#include "TTitleBar.h"
#include "TestFiles.h"
#include "LiveWindowTest.h"
#include "../window/WindowTestEnv.h"

namespace tv {
namespace {

using test::Find;
using test::WaitFor;

// A sine of `hz` in 16-bit PCM, the same on every channel.
test::Bytes Sine(double seconds, int rate, int channels, double hz, int16_t amplitude) {
  const auto frames = static_cast<size_t>(seconds * rate);
  std::vector<int16_t> samples;
  samples.reserve(frames * static_cast<size_t>(channels));
  for (size_t i = 0; i < frames; ++i) {
    const auto v = static_cast<int16_t>(amplitude * std::sin(2 * M_PI * hz * static_cast<double>(i) / rate));
    for (int c = 0; c < channels; ++c) samples.push_back(v);
  }
  return test::Le16(samples);
}

QString Db(double value) { return QLocale().toString(value, 'f', 2); }

class LiveWindow : public test::VirtualDevicesWindowTest {
 protected:
  // A 44100 Hz 16-bit stereo sine file of `seconds`.
  std::string SineFile(const char* name, double seconds, int16_t amplitude = 12000) {
    const std::string path = dir_.File(name);
    test::WriteAll(path, test::PcmWave(16, 2, 44100, Sine(seconds, 44100, 2, 1000, amplitude)));
    return path;
  }

  static void Show(TFrmMain& w) {
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
  }

  // The window with `file` in the player, as a load leaves it.
  static void LoadDirectly(TFrmMain& w, const std::string& file) {
    w.WavePlayer().Wave().SetFileName(file);
    w.ShowFileInfo();
    w.PlayerPanel()->SetLoopEnd(static_cast<int>(w.WavePlayer().Wave().DataSize()));
  }

  static int64_t PlayPosition(TFrmMain& w) { return w.WavePlayer().Wave().Position(); }

};

TEST_F(LiveWindow, RealTimeRunsFromTheFirstShowWithEveryDisplayFed) {
  devices_.SetLineInFile(SineFile("line-in.wav", 2.0, 16000));
  TFrmMain w;
  Show(w);
  EXPECT_TRUE(w.MMWaveIn1().IsStarted());
  EXPECT_EQ(w.MMWaveIn1().Output(), &w.MMConnector1());
  EXPECT_EQ(w.MMConnector1().Output(), &w.conect2());
  EXPECT_EQ(w.conect2().Output(), &w.MMPeakDetect1());
  EXPECT_EQ(w.MMConnector1().Spectrum1(), &w.MMSpectrum1().Display());
  EXPECT_EQ(w.MMConnector1().Oscope1(), &w.MMOscope1().Calc());
  EXPECT_EQ(w.MMConnector1().Level1(), &w.MMLevel3().Calc());
  EXPECT_EQ(w.conect2().Level2(), &w.MMLevel2().Calc());
  EXPECT_TRUE(w.MMSpectrum1().Calc().LogFreq());
  EXPECT_TRUE(WaitFor([&] {
    return w.MMConnector1().Deliveries(dkSpectrum) > 2 && w.MMConnector1().Deliveries(dkOscope) > 2 &&
           w.MMConnector1().Deliveries(dkLevel) > 2 && w.conect2().Deliveries(dkLevel) > 2;
  }));
  // A loud line-in reaches the meters and lifts the peak-hold read-outs.
  EXPECT_TRUE(WaitFor([&] { return w.MMLevel1().PeakValue() > 0; }));
  EXPECT_TRUE(WaitFor([&] { return Find<QLabel>(w, "Label17")->text() != QStringLiteral("-inf"); }));
  EXPECT_TRUE(messages_.empty());
}

TEST_F(LiveWindow, SpaceTogglesLiveCaptureAndTakesOverFromThePlayingGenerator) {
  TFrmMain w;
  Show(w);
  ASSERT_TRUE(w.MMWaveIn1().IsStarted());
  QTest::keyClick(&w, Qt::Key_Space);
  EXPECT_FALSE(w.MMWaveIn1().IsOpen());
  QTest::keyClick(&w, Qt::Key_Space);
  EXPECT_TRUE(w.MMWaveIn1().IsStarted());

  w.MMLabel31Click();
  ASSERT_TRUE(w.MMWaveOut1().IsStarted());
  EXPECT_FALSE(w.MMWaveIn1().IsOpen());
  QTest::keyClick(&w, Qt::Key_Space);
  EXPECT_FALSE(w.MMWaveOut1().IsOpen());
  EXPECT_TRUE(w.MMWaveIn1().IsStarted());
  EXPECT_EQ(w.MMConnector1().Input(), &w.MMWaveIn1());
}

TEST_F(LiveWindow, GeneratorFeedsTheDisplaysAndItsControlsSetTheTone) {
  TFrmMain w;
  Show(w);
  QTest::mouseClick(Find<QLabel>(w, "MMLabel31"), Qt::LeftButton);
  ASSERT_TRUE(w.MMWaveOut1().IsStarted());
  EXPECT_EQ(w.MMWaveOut1().Input(), &w.MMGenerator1());
  EXPECT_EQ(w.MMConnector1().Input(), &w.MMWaveOut1());
  EXPECT_EQ(w.MMSpectrum1().Calc().FFTLength(), 2048);
  // Every output buffer holds a whole spectrum frame.
  EXPECT_GE(w.MMWaveOut1().BufferSize(), w.MMSpectrum1().Calc().FrameBytes());
  const int32_t spectra = w.MMConnector1().Deliveries(dkSpectrum);
  const int32_t scopes = w.MMConnector1().Deliveries(dkOscope);
  EXPECT_TRUE(WaitFor([&] {
    return w.MMConnector1().Deliveries(dkSpectrum) > spectra + 2 &&
           w.MMConnector1().Deliveries(dkOscope) > scopes + 2 && w.MMLevel1().PeakValue() > 0;
  }));

  TGeneratorPanel* g = w.FuncPanel()->Generator();
  g->LevelSpin()->SetValue(8100);
  g->LevelSpin()->SetValue(8212);
  EXPECT_EQ(w.MMGenerator1().Amplitude(), 8212);
  EXPECT_EQ(g->LevelText(), Db(20 * std::log10(8212.0 / 16384.0) + 2));
  EXPECT_EQ(g->LevelText(), Db(-4.0));
  g->FrequencySpin()->SetValue(2000);
  EXPECT_DOUBLE_EQ(w.MMGenerator1().Frequency(), 2000.0);
  w.MMSpinButton5Change(1);
  EXPECT_EQ(w.MMGenerator1().WaveForm(), wfNoise);

  QTest::mouseClick(Find<QLabel>(w, "MMLabel23"), Qt::LeftButton);
  EXPECT_FALSE(w.MMWaveOut1().IsOpen());
  EXPECT_EQ(w.MMSpectrum1().Calc().FFTLength(), 1024);
  EXPECT_EQ(w.MMConnector1().Input(), &w.MMWaveIn1());
  EXPECT_TRUE(messages_.empty());
}

TEST_F(LiveWindow, PeakHoldLabelsOnlyRiseAndFallBackByClickOrAfterAnOverload) {
  TFrmMain w;
  Show(w);
  w.ToggleLiveCapture();  // no live levels in between
  ASSERT_FALSE(w.LiveCapture());
  TTitleBar& t = *w.TitleBar();
  auto* left = Find<QLabel>(w, "Label17");
  t.HoldPeak(0, 16384);
  EXPECT_EQ(left->text(), Db(20 * std::log10(0.5) + 2));
  t.HoldPeak(0, 8192);
  EXPECT_EQ(left->text(), Db(20 * std::log10(0.5) + 2));
  t.HoldPeak(0, 32768);
  EXPECT_EQ(left->text(), Db(2.0));
  QTest::mouseClick(left, Qt::LeftButton);
  EXPECT_EQ(left->text(), QStringLiteral("-inf"));
  EXPECT_EQ(Find<QLabel>(w, "Label18")->text(), QStringLiteral("-inf"));
  t.HoldPeak(0, 8192);
  EXPECT_EQ(left->text(), Db(20 * std::log10(0.25) + 2));

  // An overload lights its lamp; 1000 ms later the lamps go out and the
  // maxima start again, so that a lower level shows.
  const auto overloadAt = std::chrono::steady_clock::now();
  w.LevelGainOverflow(0);
  EXPECT_TRUE(Find<TMMLed>(w, "LEDLeft")->Lit());
  EXPECT_TRUE(Find<QLabel>(w, "overl")->isVisibleTo(&w));
  t.HoldPeak(0, 4096);
  EXPECT_EQ(left->text(), Db(20 * std::log10(0.25) + 2));
  ASSERT_TRUE(WaitFor([&] { return !Find<TMMLed>(w, "LEDLeft")->Lit(); }, 3000));
  EXPECT_GE(std::chrono::steady_clock::now() - overloadAt, std::chrono::milliseconds(950));
  EXPECT_FALSE(w.TimerOver().isActive());
  EXPECT_FALSE(Find<QLabel>(w, "overl")->isVisibleTo(&w));
  t.HoldPeak(0, 4096);
  EXPECT_EQ(left->text(), Db(20 * std::log10(0.125) + 2));

  // A click on a lamp puts both out at once.
  w.LevelGainOverflow(1);
  ASSERT_TRUE(Find<TMMLed>(w, "LEDRight")->Lit());
  QTest::mouseClick(Find<TMMLed>(w, "LEDRight"), Qt::LeftButton);
  EXPECT_FALSE(Find<TMMLed>(w, "LEDRight")->Lit());
  EXPECT_FALSE(Find<QLabel>(w, "overr")->isVisibleTo(&w));
}

TEST_F(LiveWindow, PlaybackFeedsTheDisplaysPauseResumesAndStartWhilePlayingBeginsAgain) {
  TFrmMain w;
  Show(w);
  LoadDirectly(w, SineFile("play.wav", 8.0));
  TPlayerPanel* p = w.PlayerPanel();
  QTest::mouseClick(p->StartButton(), Qt::LeftButton);
  ASSERT_TRUE(w.MMWaveOut1().IsStarted());
  EXPECT_TRUE(p->StartButton()->Pressed());
  EXPECT_EQ(w.MMWaveOut1().Input(), &w.WavePlayer());
  EXPECT_EQ(w.MMWaveOut1().Output(), &w.MMPeakDetect1());
  EXPECT_EQ(w.MMConnector1().Input(), &w.MMPeakDetect1());
  EXPECT_FALSE(w.MMWaveIn1().IsOpen());
  const int32_t spectra = w.MMConnector1().Deliveries(dkSpectrum);
  EXPECT_TRUE(WaitFor([&] {
    return w.MMConnector1().Deliveries(dkSpectrum) > spectra + 2 && w.conect2().Deliveries(dkLevel) > 0;
  }));
  ASSERT_TRUE(WaitFor([&] { return PlayPosition(w) >= 1000; }));
  // The timer keeps the slider with the playback.
  EXPECT_TRUE(WaitFor([&] { return p->Position() >= 1000; }, 1000));

  QTest::mouseClick(p->PauseButton(), Qt::LeftButton);
  EXPECT_TRUE(w.Paused());
  EXPECT_TRUE(p->PauseButton()->Pressed());
  // The file is read ahead of what is heard: a buffer the playback thread
  // was filling when the pause came may still complete, and no more.
  const int64_t clickedAt = PlayPosition(w);
  int64_t pausedAt = clickedAt;
  ASSERT_TRUE(WaitFor([&] {
    QTest::qWait(100);
    const int64_t now = std::exchange(pausedAt, PlayPosition(w));
    return now == pausedAt;
  }, 2000));
  const int64_t bufferMs = (w.MMWaveOut1().BufferSize() * 1000 + 176399) / 176400;
  EXPECT_LE(pausedAt - clickedAt, bufferMs);
  QTest::qWait(300);
  EXPECT_EQ(PlayPosition(w), pausedAt);
  QTest::mouseClick(p->StartButton(), Qt::LeftButton);
  EXPECT_FALSE(w.Paused());
  EXPECT_TRUE(WaitFor([&] { return !p->PauseButton()->Pressed(); }, 1000));
  EXPECT_TRUE(WaitFor([&] { return PlayPosition(w) > pausedAt + 200; }));

  ASSERT_TRUE(WaitFor([&] { return PlayPosition(w) >= 2000; }));
  QTest::mouseClick(p->StartButton(), Qt::LeftButton);
  ASSERT_TRUE(w.MMWaveOut1().IsStarted());
  EXPECT_LT(PlayPosition(w), 1500);
  EXPECT_TRUE(p->StartButton()->Pressed());

  QTest::mouseClick(p->StopButton(), Qt::LeftButton);
  EXPECT_FALSE(w.MMWaveOut1().IsOpen());
  EXPECT_FALSE(p->StartButton()->Pressed());
  EXPECT_FALSE(w.WaveTimer().isActive());
  EXPECT_EQ(PlayPosition(w), 0);
  EXPECT_TRUE(messages_.empty());
}

TEST_F(LiveWindow, TheEndOfTheFileReleasesStartAndRewinds) {
  TFrmMain w;
  Show(w);
  LoadDirectly(w, SineFile("short.wav", 0.6));
  w.btnStartClick();
  ASSERT_TRUE(WaitFor([&] { return PlayPosition(w) > 0; }, 2000));
  EXPECT_TRUE(WaitFor([&] { return !w.PlayerPanel()->StartButton()->Pressed(); }, 4000));
  EXPECT_EQ(PlayPosition(w), 0);
}

TEST_F(LiveWindow, AFileCutShortOrAnOutputLostWhilePlayingEndsPlaybackCleanly) {
  TFrmMain w;
  Show(w);
  const std::string path = SineFile("cut.wav", 8.0);
  LoadDirectly(w, path);
  TPlayerPanel* p = w.PlayerPanel();
  w.btnStartClick();
  ASSERT_TRUE(WaitFor([&] { return PlayPosition(w) >= 600; }));
  // Half a second of sound is all that is left of the file.
  std::filesystem::resize_file(path, 44 + 44100 * 4 / 2);
  EXPECT_TRUE(WaitFor([&] { return !p->StartButton()->Pressed(); }, 5000));
  EXPECT_FALSE(w.MMWaveOut1().IsStarted());

  TMMVirtualFaults faults;
  faults.VanishAfterMs = 300;
  devices_.SetOutputFaults(faults);
  LoadDirectly(w, SineFile("lost.wav", 8.0));
  p->LoopStartEdit()->SetValue(0);
  p->LoopEndEdit()->SetValue(6000);
  w.bntloopClick();
  ASSERT_TRUE(w.Looping());
  EXPECT_TRUE(WaitFor([&] { return !w.MMWaveOut1().IsOpen(); }, 5000));
  EXPECT_FALSE(w.Looping());
  EXPECT_FALSE(w.WaveTimer().isActive());
  EXPECT_FALSE(p->LoopButton()->Pressed());
  EXPECT_FALSE(p->StartButton()->Pressed());
}

TEST_F(LiveWindow, SeekingByTenthsShowsWhereTheWaveIs) {
  TFrmMain w;
  Show(w);
  LoadDirectly(w, SineFile("seek.wav", 5.0));
  TPlayerPanel* p = w.PlayerPanel();
  const int64_t length = w.WavePlayer().Wave().DataSize();
  ASSERT_EQ(length, 5000);
  EXPECT_EQ(p->RemainingText(), TPlayerPanel::FormatTime(5000));
  // A wave that is not playing keeps the position it is given, even one
  // before its start; the slider shows the nearest it can.
  QTest::mouseClick(p->RewindButton(), Qt::LeftButton);
  EXPECT_EQ(PlayPosition(w), -500);
  EXPECT_EQ(p->Position(), 0);
  EXPECT_EQ(p->RemainingText(), TPlayerPanel::FormatTime(5000));
  w.WavePlayer().Wave().SetPosition(0);
  QTest::mouseClick(p->ForwardButton(), Qt::LeftButton);
  QTest::mouseClick(p->ForwardButton(), Qt::LeftButton);
  EXPECT_EQ(PlayPosition(w), 1000);
  EXPECT_EQ(p->Position(), 1000);
  EXPECT_EQ(p->ElapsedText(), TPlayerPanel::FormatTime(1000));
  EXPECT_EQ(p->RemainingText(), TPlayerPanel::FormatTime(4000));
  w.WavePlayer().Wave().SetPosition(4800);
  QTest::mouseClick(p->ForwardButton(), Qt::LeftButton);
  EXPECT_EQ(p->Position(), std::clamp<int64_t>(PlayPosition(w), 0, length));
  EXPECT_EQ(p->RemainingText(), TPlayerPanel::FormatTime(length - p->Position()));
}

TEST_F(LiveWindow, ALoopPlaysItsStretchAgainAndAnEmptyRangeIsRefused) {
  devices_.SetSpeed(2.0);
  TFrmMain w;
  Show(w);
  LoadDirectly(w, SineFile("loop.wav", 8.0));
  TPlayerPanel* p = w.PlayerPanel();
  p->LoopStartEdit()->SetValue(2000);
  p->LoopEndEdit()->SetValue(2000);
  QTest::mouseClick(p->LoopButton(), Qt::LeftButton);
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0].second, MessageKind::Error);
  EXPECT_FALSE(w.Looping());
  EXPECT_FALSE(p->LoopButton()->Pressed());
  EXPECT_FALSE(w.MMWaveOut1().IsStarted());

  p->LoopStartEdit()->SetValue(1000);
  p->LoopEndEdit()->SetValue(3000);
  QTest::mouseClick(p->LoopButton(), Qt::LeftButton);
  ASSERT_TRUE(w.Looping());
  EXPECT_TRUE(p->LoopButton()->Pressed());
  ASSERT_TRUE(w.MMWaveOut1().IsStarted());
  // Twice through the stretch: up to its end, back to its start.
  for (int round = 0; round < 2; ++round) {
    ASSERT_TRUE(WaitFor([&] { return PlayPosition(w) >= 2500; }, 5000)) << round;
    ASSERT_TRUE(WaitFor([&] { return PlayPosition(w) < 2000; }, 5000)) << round;
    EXPECT_GE(PlayPosition(w), 1000) << round;
  }
  EXPECT_TRUE(w.Looping());
  EXPECT_EQ(messages_.size(), 1u);
  w.btnStopClick();
  EXPECT_FALSE(w.Looping());
  EXPECT_FALSE(p->LoopButton()->Pressed());
}

TEST_F(LiveWindow, StartWithoutAFileAsksForOne) {
  TFrmMain w;
  Show(w);
  w.btnStartClick();
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0].first, QStringLiteral("Please select a Wave File !"));
  EXPECT_FALSE(w.MMWaveOut1().IsOpen());
  EXPECT_TRUE(w.PlayerPanel()->RecordButton()->isEnabled());
}

TEST_F(LiveWindow, RecordNamesAFileThenRecordsTheInputAndStopMakesItTheLoadedFile) {
  devices_.SetLineInFile(SineFile("line-in.wav", 2.0, 16000));
  const std::string target = dir_.File("take.wav");
  int asked = 0;
  SetFileRequestPrompt([&](QWidget*, const TFileRequest& request) {
    ++asked;
    EXPECT_TRUE(request.save);
    return QString::fromStdString(target);
  });
  struct RestorePrompt {
    ~RestorePrompt() { SetFileRequestPrompt({}); }
  } restore;
  TFrmMain w;
  Show(w);
  TPlayerPanel* p = w.PlayerPanel();
  // The first press only names the file.
  QTest::mouseClick(p->RecordButton(), Qt::LeftButton);
  EXPECT_EQ(asked, 1);
  EXPECT_FALSE(w.wavRecorder().Recording());
  EXPECT_EQ(w.wavRecorder().FileName(), target);
  EXPECT_FALSE(std::filesystem::exists(target));

  // The second records, and the displays show what is recorded.
  QTest::mouseClick(p->RecordButton(), Qt::LeftButton);
  EXPECT_EQ(asked, 1);
  ASSERT_TRUE(w.wavRecorder().Recording());
  EXPECT_TRUE(p->RecordButton()->Pressed());
  EXPECT_FALSE(w.MMWaveIn1().IsOpen());
  EXPECT_EQ(w.MMSpectrum1().Calc().FFTLength(), 1024);
  EXPECT_EQ(Find<QLabel>(w, "labRec")->text(), QStringLiteral("take.wav"));
  const int32_t spectra = w.MMConnector1().Deliveries(dkSpectrum);
  EXPECT_TRUE(WaitFor([&] { return w.MMConnector1().Deliveries(dkSpectrum) > spectra + 2; }));
  ASSERT_TRUE(WaitFor([&] { return w.wavRecorder().Position() >= 500; }));
  EXPECT_TRUE(WaitFor([&] { return p->ElapsedText() != TPlayerPanel::FormatTime(0); }, 1000));

  // Stop ends the recording: the file is complete and becomes the loaded one.
  QTest::mouseClick(p->StopButton(), Qt::LeftButton);
  EXPECT_FALSE(w.wavRecorder().Recording());
  EXPECT_FALSE(p->RecordButton()->Pressed());
  EXPECT_TRUE(w.wavRecorder().FileName().empty());
  EXPECT_EQ(Find<QLabel>(w, "labRec")->text(), QStringLiteral("No record File selected"));
  EXPECT_EQ(w.WavePlayer().Wave().FileName(), target);
  // At least what was recorded before the last buffer, which may still have
  // been filling when the position was read.
  EXPECT_GE(w.WavePlayer().Wave().DataSize(), 400);
  EXPECT_EQ(w.MMWaveOut1().Input(), &w.WavePlayer());
  EXPECT_EQ(w.MMConnector1().Input(), &w.MMPeakDetect1());
  EXPECT_TRUE(messages_.empty());
}

// The samples of a 16-bit wave file's data chunk.
std::vector<int16_t> WaveSamples(const std::string& file) {
  const test::Bytes b = test::ReadAll(file);
  size_t at = 12;
  while (at + 8 <= b.size()) {
    const uint32_t size = test::Get32(b, at + 4);
    if (std::equal(b.begin() + static_cast<long>(at), b.begin() + static_cast<long>(at + 4), "data")) {
      std::vector<int16_t> samples;
      for (size_t i = at + 8; i + 1 < std::min<size_t>(b.size(), at + 8 + size); i += 2) {
        samples.push_back(static_cast<int16_t>(test::Get16(b, i)));
      }
      return samples;
    }
    at += 8 + size + (size & 1);
  }
  return {};
}

// The generator plays into the loopback while the recorder records from it:
// the file holds the generator's 1000 Hz sine at its level.
TEST_F(LiveWindow, RecordingTheLoopbackWhileTheGeneratorPlaysStoresTheTone) {
  const std::string target = dir_.File("generator.wav");
  SetFileRequestPrompt([&](QWidget*, const TFileRequest&) { return QString::fromStdString(target); });
  struct RestorePrompt {
    ~RestorePrompt() { SetFileRequestPrompt({}); }
  } restore;
  TFrmMain w;
  Show(w);
  w.MMLabel31Click();
  ASSERT_TRUE(w.MMWaveOut1().IsStarted());
  TPlayerPanel* p = w.PlayerPanel();
  QTest::mouseClick(p->RecordButton(), Qt::LeftButton);
  QTest::mouseClick(p->RecordButton(), Qt::LeftButton);
  ASSERT_TRUE(w.wavRecorder().Recording());
  ASSERT_TRUE(WaitFor([&] { return w.wavRecorder().Position() >= 1500; }));
  QTest::mouseClick(p->StopButton(), Qt::LeftButton);
  EXPECT_FALSE(w.wavRecorder().Recording());
  EXPECT_FALSE(w.MMWaveOut1().IsOpen());
  ASSERT_EQ(w.WavePlayer().Wave().FileName(), target);

  const std::vector<int16_t> s = WaveSamples(target);
  ASSERT_GE(s.size(), 2u * 44100);
  // Leave out the silence before the first sound reached the loopback.
  size_t first = 0;
  while (first < s.size() && std::abs(s[first]) < 100) ++first;
  first -= first % 2;
  ASSERT_LT(first + 2 * 44100, s.size());
  // Full scale 32767 times Amplitude 8212 / 16384; the table's steps of
  // 2267.57 entries land within 0.25 % of the crest.
  const int crest = 32767 * 8212 / 16384;
  int peak = 0;
  // The period from the rising zero crossings; a busy machine may starve
  // the loopback for a moment, so periods broken by such a gap are left out.
  size_t lastRise = 0;
  size_t periodFrames = 0;
  int periods = 0;
  for (size_t i = first; i + 2 < s.size(); i += 2) {
    peak = std::max({peak, std::abs(static_cast<int>(s[i])), std::abs(static_cast<int>(s[i + 1]))});
    EXPECT_EQ(s[i], s[i + 1]) << "frame " << i / 2;
    if (s[i] < 0 && s[i + 2] >= 0) {
      const size_t frames = (i - lastRise) / 2;
      if (lastRise > 0 && frames >= 40 && frames <= 48) {
        periodFrames += frames;
        ++periods;
      }
      lastRise = i;
    }
    if (::testing::Test::HasFailure()) break;
  }
  EXPECT_LE(peak, crest);
  EXPECT_GE(peak, crest * 9975 / 10000);
  ASSERT_GT(periods, 1000);
  EXPECT_NEAR(44100.0 * periods / static_cast<double>(periodFrames), 1000.0, 0.5);
  EXPECT_TRUE(messages_.empty());
}

// The input device is lost a moment into a recording: the recording ends
// with a message, the Record button comes up, and what was recorded is kept
// as a valid file that becomes the loaded one.
TEST_F(LiveWindow, AnInputLostWhileRecordingEndsItAndKeepsWhatWasRecorded) {
  devices_.SetLineInFile(SineFile("line-in.wav", 4.0, 16000));
  const std::string target = dir_.File("lost.wav");
  SetFileRequestPrompt([&](QWidget*, const TFileRequest&) { return QString::fromStdString(target); });
  struct RestorePrompt {
    ~RestorePrompt() { SetFileRequestPrompt({}); }
  } restore;
  // The program tells such failures through its error handler, in a box.
  std::vector<std::string> told;
  SetApplicationErrorHandler([&](const std::string& message) { told.push_back(message); });
  struct RestoreHandler {
    ~RestoreHandler() { SetApplicationErrorHandler({}); }
  } restoreHandler;
  TFrmMain w;
  Show(w);
  TPlayerPanel* p = w.PlayerPanel();
  QTest::mouseClick(p->RecordButton(), Qt::LeftButton);
  TMMVirtualFaults faults;
  faults.VanishAfterMs = 700;
  devices_.SetInputFaults(faults);
  QTest::mouseClick(p->RecordButton(), Qt::LeftButton);
  ASSERT_TRUE(w.wavRecorder().Recording());
  ASSERT_TRUE(WaitFor([&] { return !p->RecordButton()->Pressed(); }, 5000));
  EXPECT_FALSE(w.wavRecorder().Recording());
  EXPECT_TRUE(w.wavRecorder().FileName().empty());
  EXPECT_EQ(Find<QLabel>(w, "labRec")->text(), QStringLiteral("No record File selected"));
  ASSERT_EQ(told.size(), 1u);
  EXPECT_NE(told[0].find("stopped working"), std::string::npos) << told[0];
  ASSERT_TRUE(std::filesystem::exists(target));
  EXPECT_EQ(w.WavePlayer().Wave().FileName(), target);
  // Whole frames only, and about what was captured before the loss.
  const std::vector<int16_t> s = WaveSamples(target);
  EXPECT_EQ(s.size() % 2, 0u);
  EXPECT_GT(s.size(), 2u * 44100 / 5);
  EXPECT_LT(s.size(), 2u * 44100 * 3);
  // The player can play it.
  w.btnStartClick();
  EXPECT_TRUE(WaitFor([&] { return w.MMWaveOut1().IsStarted(); }, 2000));
  w.btnStopClick();
}

TEST_F(LiveWindow, DraggingTheSliderFreezesTheTimesWhilePlaybackGoesOn) {
  TFrmMain w;
  Show(w);
  LoadDirectly(w, SineFile("drag.wav", 6.0));
  TPlayerPanel* p = w.PlayerPanel();
  w.btnStartClick();
  ASSERT_TRUE(WaitFor([&] { return PlayPosition(w) >= 500; }));
  QSlider* slider = p->TrackBar();
  slider->setSliderDown(true);
  slider->setValue(4000);
  slider->setSliderDown(false);
  EXPECT_FALSE(w.WaveTimer().isActive());
  const int64_t before = PlayPosition(w);
  QTest::qWait(400);
  EXPECT_GT(PlayPosition(w), before);  // playback went on
  EXPECT_EQ(p->ElapsedText(), TPlayerPanel::FormatTime(4000));
  EXPECT_EQ(p->RemainingText(), TPlayerPanel::FormatTime(2000));
  EXPECT_EQ(p->Position(), 4000);
}

TEST_F(LiveWindow, TheRemainingTimeOfALongFileAfterLoading) {
  TFrmMain w;
  // 3 minutes 5.25 seconds of 8-bit mono at 8000 Hz.
  const std::string path = dir_.File("long.wav");
  test::WriteAll(path, test::PcmWave(8, 1, 8000, test::Bytes(185250 * 8, 0x80)));
  LoadDirectly(w, path);
  EXPECT_EQ(w.PlayerPanel()->RemainingText(), QStringLiteral("3:05.250"));
}

TEST_F(LiveWindow, AnalyzerPanelsSetTheSpectrumMetersAndConnector) {
  TFrmMain w;
  Show(w);
  TMMSpectrumCalc& spectrum = w.MMSpectrum1().Calc();
  TAnalyzerScalePanel* scale = w.FuncPanel()->AnalyzerScale();
  for (int expected : {2, 4, 8, 16, 16}) {
    emit scale->FrequencyScale()->upClick();
    EXPECT_EQ(spectrum.FrequencyScale(), expected);
    EXPECT_EQ(scale->FrequencyScale()->Value(), expected);
  }
  emit scale->FrequencyScale()->downClick();
  EXPECT_EQ(scale->FrequencyScale()->Value(), 8);

  scale->Decay()->SetValue(6);
  EXPECT_EQ(spectrum.Decay(), 6);
  for (TMMLevel* l : {&w.MMLevel1(), &w.MMLevel2(), &w.MMLevel3(), &w.MMLevel4()}) EXPECT_EQ(l->Decay(), 8);

  TAnalyzerGainPanel* gain = w.FuncPanel()->AnalyzerGain();
  gain->Gain()->SetItemIndex(3);
  w.rgGainClick();
  EXPECT_EQ(spectrum.Gain(), sg9db);

  TAnalyzerFreezePanel* freeze = w.FuncPanel()->AnalyzerFreeze();
  QTest::mouseClick(freeze->PeakHold(), Qt::LeftButton);
  EXPECT_EQ(spectrum.NumPeaks(), 1);
  for (TMMLevel* l : {&w.MMLevel1(), &w.MMLevel2(), &w.MMLevel3(), &w.MMLevel4()}) EXPECT_EQ(l->NumPeaks(), 1);
  QTest::mouseClick(freeze->PeakHold(), Qt::LeftButton);
  EXPECT_EQ(spectrum.NumPeaks(), 0);
  QTest::mouseClick(freeze->DisplayGrid(), Qt::LeftButton);
  EXPECT_EQ(w.MMSpectrum1().DrawGrid(), freeze->DisplayGrid()->isChecked());

  w.MMLabel39Click();
  EXPECT_FALSE(w.MMConnector1().AutoTrigger());
  EXPECT_FALSE(w.MMConnector1().RefreshOnStop());
  w.MMLabel42Click();
  EXPECT_TRUE(w.MMConnector1().AutoTrigger());
  EXPECT_TRUE(w.MMConnector1().RefreshOnStop());
}

TEST_F(LiveWindow, AMissingInputIsToldOnceAndTheRestStillWorks) {
  TMMVirtualFaults faults;
  faults.FailOpen = true;
  devices_.SetInputFaults(faults);
  TFrmMain w;
  Show(w);
  EXPECT_FALSE(w.MMWaveIn1().IsOpen());
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0].second, MessageKind::Error);
  QTest::keyClick(&w, Qt::Key_Space);
  EXPECT_FALSE(w.MMWaveIn1().IsOpen());
  EXPECT_EQ(messages_.size(), 1u);
  w.MMLabel31Click();
  EXPECT_TRUE(w.MMWaveOut1().IsStarted());
  EXPECT_EQ(messages_.size(), 1u);
}

}  // namespace
}  // namespace tv
