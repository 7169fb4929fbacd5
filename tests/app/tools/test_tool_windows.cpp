// The split, swap and MP3 converter windows: what the user sees for good
// and bad files, with the dialogs answered by the test.
#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <filesystem>

#include "../window/WindowTestEnv.h"
#include "AudioDialogs.h"
#include "MMMPEG.h"
#include "TMMWave.h"
#include "RunProcess.h"
#include "TMMGauge.h"
#include "WaveDialogs.h"
#include "TfConvert.h"
#include "TfSplit.h"
#include "TfSwap.h"

namespace tv {
namespace {

class ToolWindowTest : public test::WindowTest {
 protected:
  void TearDown() override {
    SetOpenWavePrompt({});
    SetSaveWavePrompt({});
    SetOpenAudioPrompt({});
    WindowTest::TearDown();
  }

  void AnswerOpen(const QString& file) {
    SetOpenWavePrompt([this, file](QWidget*, const QString& title, const QString&) {
      titles_.push_back(title);
      return file;
    });
  }

  QString Text(QWidget& w, const char* name) {
    auto* label = w.findChild<QLabel*>(QString::fromUtf8(name));
    EXPECT_NE(label, nullptr) << name;
    return label != nullptr ? label->text() : QString();
  }

  std::vector<int16_t> Stereo(int frames) {
    std::vector<int16_t> s;
    for (int i = 0; i < frames; ++i) {
      s.push_back(static_cast<int16_t>(i));
      s.push_back(static_cast<int16_t>(-i));
    }
    return s;
  }

  std::vector<QString> titles_;
};

TEST_F(ToolWindowTest, SplitShowsBothResultsOrRefusesTheFile) {
  test::WriteAll(dir_.File("talk.wav"), test::PcmWave(16, 2, 8000, test::Le16(Stereo(10000))));
  test::WriteAll(dir_.File("mono.wav"), test::PcmWave(16, 1, 8000, test::Bytes(400, 0)));
  TfSplit w;
  EXPECT_EQ(w.windowTitle(), "Split Stereo Wave file in two Mono files");
  ASSERT_NE(w.findChild<QPushButton*>("Button1"), nullptr);
  EXPECT_EQ(w.Button1->text(), "Load and Split wave file");

  AnswerOpen(File("mono.wav"));
  w.Button1Click();
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0].first, "This is not a valid input file!");
  EXPECT_EQ(messages_[0].second, MessageKind::Error);
  EXPECT_FALSE(std::filesystem::exists(dir_.File("mono_L.wav")));

  AnswerOpen(File("talk.wav"));
  w.Button1Click();
  EXPECT_EQ(messages_.size(), 1u);
  EXPECT_EQ(titles_.back(), "Open Wave File");
  EXPECT_EQ(Text(w, "labSource"), "talk.wav");
  EXPECT_EQ(Text(w, "labdest"), "talk_L.wav  19 kb");  // 20000 bytes
  EXPECT_EQ(Text(w, "Label2"), "talk_R.wav  19 kb");
  EXPECT_TRUE(std::filesystem::exists(dir_.File("talk_R.wav")));
  EXPECT_TRUE(w.Button1->isEnabled());
  EXPECT_EQ(w.Gauge->Progress(), 0);

  // A cancelled dialog does nothing.
  AnswerOpen(QString());
  w.Button1Click();
  EXPECT_EQ(messages_.size(), 1u);
}

TEST_F(ToolWindowTest, SwapWritesTheCopyAndNamesIt) {
  test::WriteAll(dir_.File("call.wav"), test::PcmWave(16, 2, 8000, test::Le16(Stereo(2048))));
  test::WriteAll(dir_.File("eight.wav"), test::PcmWave(8, 2, 8000, test::Bytes(400, 128)));
  TfSwap w;
  EXPECT_EQ(w.windowTitle(), "Swap channels in a wave file");
  EXPECT_EQ(w.Button1->text(), "Load and swap left and right channel");
  AnswerOpen(File("call.wav"));
  w.Button1Click();
  EXPECT_TRUE(messages_.empty());
  EXPECT_EQ(Text(w, "labdest"), "call_Swap.wav  8 kb");
  AnswerOpen(File("eight.wav"));
  w.Button1Click();
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0].first, "This is not a valid input file!");
  EXPECT_FALSE(std::filesystem::exists(dir_.File("eight_Swap.wav")));
}

class ConvertWindowTest : public ToolWindowTest {
 protected:
  QString MakeMp3() {
    std::vector<int16_t> s;
    for (int i = 0; i < 16000; ++i) s.push_back(static_cast<int16_t>((i % 40) * 500 - 10000));
    test::WriteAll(dir_.File("src.wav"), test::PcmWave(16, 1, 16000, test::Le16(s)));
    const test::ProcessResult r =
        test::RunProcess("/usr/bin/lame", {"--quiet", "-b", "32", dir_.File("src.wav"), dir_.File("tune.mp3")});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return File("tune.mp3");
  }
  void Answer(const QString& mp3, const QString& wave) {
    SetOpenAudioPrompt([this, mp3](QWidget*, const QString& title, const QString&) {
      titles_.push_back(title);
      return mp3;
    });
    SetSaveWavePrompt([wave](QWidget*, const QString&, const QString&) { return wave; });
  }
};

TEST_F(ConvertWindowTest, ConvertsTheChosenMp3IntoTheChosenWaveFile) {
  const QString mp3 = MakeMp3();
  TfConvert w;
  EXPECT_EQ(w.windowTitle(), "MP3 To Wave file");
  EXPECT_EQ(w.btnConvert->text(), "Select Mp3 file");
  std::vector<int> progress;
  auto shown = w.Converter().OnProgress;
  w.Converter().OnProgress = [&](int p) {
    progress.push_back(p);
    shown(p);
  };
  Answer(mp3, File("tune.wav"));
  w.btnConvertClick();
  EXPECT_TRUE(messages_.empty()) << messages_.front().first.toStdString();
  EXPECT_EQ(titles_.back(), "Load Mp3 file");
  EXPECT_EQ(Text(w, "labSource"), "tune.mp3");
  EXPECT_EQ(Text(w, "labDec"), "tune.wav");
  ASSERT_FALSE(progress.empty());
  EXPECT_EQ(progress.back(), 100);
  EXPECT_EQ(w.Gauge->Progress(), 0);
  EXPECT_TRUE(w.btnConvert->isEnabled());
  TMMWave wave;
  wave.SetFileName(dir_.File("tune.wav"));
  ASSERT_NE(wave.PWaveFormat(), nullptr);
  EXPECT_EQ(wave.PWaveFormat()->wBitsPerSample, 16);
  EXPECT_EQ(wave.PWaveFormat()->nChannels, 1);
  EXPECT_EQ(wave.PWaveFormat()->nSamplesPerSec, 16000u);

  // Cancelling the save dialog leaves the window idle with the MP3 loaded.
  std::filesystem::remove(dir_.File("tune.wav"));
  Answer(mp3, QString());
  w.btnConvertClick();
  EXPECT_EQ(w.Converter().Source(), mp3.toStdString());
  EXPECT_FALSE(std::filesystem::exists(dir_.File("tune.wav")));

  // The MP3 itself is not a target.
  Answer(mp3, mp3);
  w.btnConvertClick();
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0].first, "The target file is the source file; choose another name");
  EXPECT_GT(std::filesystem::file_size(mp3.toStdString()), 1000u);
}

TEST_F(ConvertWindowTest, WithoutTheDecoderLibraryItSaysWhichLibraryIsMissing) {
  const QString mp3 = MakeMp3();
  const std::string real = MpegLibraryName();
  SetMpegLibraryName("libtonvista-missing.so.0");
  TfConvert w;
  Answer(mp3, File("x.wav"));
  w.btnConvertClick();
  SetMpegLibraryName(real);
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0].first, "Unable to load libtonvista-missing.so.0");
  EXPECT_EQ(messages_[0].second, MessageKind::Error);
  EXPECT_TRUE(titles_.empty());
  EXPECT_FALSE(std::filesystem::exists(dir_.File("x.wav")));
}

}  // namespace
}  // namespace tv
