// The conversion step the desktop program's load action and the decoder
// share, given recordings that are not plain PCM, and its messages when a
// result cannot be written.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include "DtmfConverter.h"
#include "DtmfScanner.h"
#include "DtmfSynth.h"
#include "MMDispatch.h"
#include "MMErrors.h"
#include "MMPCMSup.h"
#include "RunProcess.h"
#include "TMMWave.h"
#include "TestFiles.h"

namespace tv {
namespace {

namespace fs = std::filesystem;

class DtmfConverterFormats : public ::testing::Test {
 protected:
  void SetUp() override { SetMainDispatcher(&loop_); }
  void TearDown() override { SetMainDispatcher(nullptr); }
  std::set<std::string> Names() const {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_.Path())) names.insert(e.path().filename().string());
    return names;
  }

  LoopDispatcher loop_;
  test::TempDir dir_;
};

TEST_F(DtmfConverterFormats, DecodesFirstAndLeavesOnlyTheResults) {
  DtmfSignalOptions o;
  WriteDtmfWave(dir_.File("src.wav"), "951", o);
  ASSERT_EQ(test::RunProcess("/usr/bin/sox", {dir_.File("src.wav"), "-e", "a-law", dir_.File("alaw.wav")}).exitCode, 0);
  ASSERT_EQ(test::RunProcess("/usr/bin/lame", {"--quiet", "-b", "32", dir_.File("src.wav"), dir_.File("src.mp3")}).exitCode, 0);
  DtmfScanner scanner;
  scanner.SetPaced(false);
  int last = -1;
  bool rising = true;
  for (const auto& [source, converted] : {std::pair{"alaw.wav", "alaw_acm.wav"}, std::pair{"src.mp3", "src.mp3_acm.wav"}}) {
    SCOPED_TRACE(source);
    DtmfConverter c;
    last = -1;
    c.OnConvertProgress = [&](int percent) {
      rising = rising && percent >= last;
      last = percent;
    };
    const std::string name = c.ConvertForDtmf(dir_.File(source));
    EXPECT_EQ(name, dir_.File(converted));
    EXPECT_TRUE(rising);
    EXPECT_EQ(last, 100);
    TMMWave wave;
    wave.SetFileName(name);
    ASSERT_NE(wave.PWaveFormat(), nullptr);
    EXPECT_EQ(wave.PWaveFormat()->wFormatTag, WAVE_FORMAT_PCM);
    EXPECT_EQ(wave.PWaveFormat()->nChannels, 2);
    EXPECT_EQ(wave.PWaveFormat()->nSamplesPerSec, 44100u);
    EXPECT_EQ(scanner.Scan(c.NormalizeFile(name)).keys, "951");
  }
  EXPECT_EQ(Names(), (std::set<std::string>{"src.wav", "alaw.wav", "src.mp3", "alaw_acm.wav", "alaw_acm_norm.wav",
                                             "src.mp3_acm.wav", "src.mp3_acm_norm.wav"}));
}

TEST_F(DtmfConverterFormats, AnOlderResultSurvivesAFailedRun) {
  if (geteuid() == 0) GTEST_SKIP() << "root writes into any folder";
  DtmfSignalOptions o;
  fs::create_directory(dir_.Path() / "out");
  WriteDtmfWave(dir_.File("x.wav"), "1", o);
  test::WriteAll(dir_.File("out/x_acm.wav"), test::Bytes{'o', 'l', 'd'});
  chmod(dir_.File("out").c_str(), 0555);
  DtmfConverter c;
  c.SetOutputFolder(dir_.File("out"));
  try {
    c.ConvertForDtmf(dir_.File("x.wav"));
    ADD_FAILURE() << "converted into a folder that cannot be written";
  } catch (const EMMWaveError& e) {
    EXPECT_NE(std::string(e.what()).find("the folder " + dir_.File("out") + " cannot be written (Permission denied)"),
              std::string::npos)
        << e.what();
  }
  chmod(dir_.File("out").c_str(), 0755);
  EXPECT_EQ(test::ReadAll(dir_.File("out/x_acm.wav")), (test::Bytes{'o', 'l', 'd'}));
}

}  // namespace
}  // namespace tv
