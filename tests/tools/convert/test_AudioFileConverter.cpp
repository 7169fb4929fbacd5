// The offline conversion of audio files into wave files, and the decoding
// of recordings in any readable format: DTMF keys come out of an MP3 and of
// mu-law, A-law and ADPCM copies of a demonstration recording.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "AudioFileConverter.h"
#include "DecodeInput.h"
#include "DtmfConverter.h"
#include "DtmfScanner.h"
#include "DtmfSynth.h"
#include "MMDispatch.h"
#include "MMMPEG.h"
#include "TMMTrigger.h"
#include "TMMWave.h"
#include "RunProcess.h"
#include "TestFiles.h"

namespace tv {
namespace {

using test::Bytes;

class ConvertTest : public ::testing::Test {
 protected:
  void SetUp() override { SetMainDispatcher(&loop); }
  void TearDown() override { SetMainDispatcher(nullptr); }

  void Run(const std::string& program, const std::vector<std::string>& args) {
    const test::ProcessResult r = test::RunProcess(program, args);
    ASSERT_EQ(r.exitCode, 0) << program << ": " << r.err;
  }

  // A second of tones as an MP3.
  std::string MakeMp3(const std::string& name, int rate, int channels) {
    std::vector<int16_t> s;
    for (int i = 0; i < rate; ++i) {
      for (int c = 0; c < channels; ++c) s.push_back(static_cast<int16_t>(8000 * std::sin(i * 0.05 * (c + 1))));
    }
    const std::string wav = dir.File(name + ".src.wav");
    test::WriteAll(wav, test::PcmWave(16, static_cast<uint16_t>(channels), static_cast<uint32_t>(rate), test::Le16(s)));
    Run("/usr/bin/lame", {"--quiet", "-b", "64", wav, dir.File(name)});
    return dir.File(name);
  }

  size_t FilesIn() const {
    return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(dir.Path()),
                                             std::filesystem::directory_iterator()));
  }

  LoopDispatcher loop;
  test::TempDir dir;
};

TEST_F(ConvertTest, Mp3BecomesSixteenBitWaveWithItsRateAndChannels) {
  const std::string mp3 = MakeMp3("song.mp3", 22050, 2);
  AudioFileConverter c;
  std::vector<int> progress;
  int started = 0, finished = 0;
  c.OnProgress = [&](int p) { progress.push_back(p); };
  c.OnStart = [&] { ++started; };
  c.OnFinish = [&] { ++finished; };
  c.Load(mp3);
  c.Convert(dir.File("song.wav"));
  EXPECT_EQ(started, 1);
  EXPECT_EQ(finished, 1);
  ASSERT_GE(progress.size(), 2u);
  EXPECT_EQ(progress.front(), 0);
  EXPECT_EQ(progress.back(), 100);
  EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
  TMMWave w;
  w.SetFileName(dir.File("song.wav"));
  ASSERT_NE(w.PWaveFormat(), nullptr);
  EXPECT_EQ(w.PWaveFormat()->wFormatTag, WAVE_FORMAT_PCM);
  EXPECT_EQ(w.PWaveFormat()->wBitsPerSample, 16);
  EXPECT_EQ(w.PWaveFormat()->nChannels, 2);
  EXPECT_EQ(w.PWaveFormat()->nSamplesPerSec, 22050u);
  EXPECT_NEAR(static_cast<double>(w.TotalSamples()), 22050.0, 1152.0);
  // mp3, its source and the result: no work files.
  EXPECT_EQ(FilesIn(), 3u);
}

TEST_F(ConvertTest, TheSourceIsNeverTheTarget) {
  const std::string mp3 = MakeMp3("a.mp3", 16000, 1);
  const Bytes before = test::ReadAll(mp3);
  AudioFileConverter c;
  c.Load(mp3);
  try {
    c.Convert(dir.File("./a.mp3"));
    FAIL();
  } catch (const EMMError& e) {
    EXPECT_EQ(std::string(e.what()), "The target file is the source file; choose another name");
  }
  EXPECT_EQ(test::ReadAll(mp3), before);
}

TEST_F(ConvertTest, CancelledOrFailedRunsLeaveNoTargetAndKeepAnOlderOne) {
  const std::string mp3 = MakeMp3("b.mp3", 44100, 2);
  test::WriteAll(dir.File("b.wav"), Bytes(5, 9));
  AudioFileConverter c;
  c.Trigger().SetBufferSize(4096);  // many buffers, so that the cancel lands mid-way
  c.OnProgress = [&](int p) {
    if (p > 0) c.Cancel();
  };
  c.Load(mp3);
  try {
    c.Convert(dir.File("b.wav"));
    FAIL();
  } catch (const EMMError& e) {
    EXPECT_EQ(std::string(e.what()), "Conversion aborted");
  }
  EXPECT_EQ(test::ReadAll(dir.File("b.wav")), Bytes(5, 9));
  EXPECT_FALSE(c.Running());
  const size_t files = FilesIn();

  // A folder that does not exist: the writer cannot create the file.
  c.OnProgress = nullptr;
  EXPECT_THROW(c.Convert(dir.File("missing/b.wav")), EMMError);
  EXPECT_EQ(FilesIn(), files);
  // A full disk ends the writer early: a short file is no result.
  SetDiskFreeFunction([](const std::filesystem::path&) { return int64_t{1000}; });
  EXPECT_THROW(c.Convert(dir.File("c.wav")), EMMError);
  SetDiskFreeFunction(nullptr);
  EXPECT_EQ(FilesIn(), files);
  // And the converter is ready for the next run.
  c.Convert(dir.File("c.wav"));
  EXPECT_TRUE(std::filesystem::exists(dir.File("c.wav")));
}

TEST_F(ConvertTest, FilesNoReaderTakesAreRefused) {
  test::WriteAll(dir.File("x.mp3"), Bytes(3000, 'x'));
  AudioFileConverter c;
  EXPECT_THROW(c.Load(dir.File("x.mp3")), EMMAudioFileError);
  EXPECT_EQ(DecodableAudioProblem(dir.File("x.mp3")), "not a wave, MP3, FLAC or Ogg file we can read");
  test::WriteAll(dir.File("gsm.wav"), test::RiffBuilder()
                                          .Chunk("fmt ", test::FmtBody(0x31, 1, 8000, 0, 1625, 65))
                                          .Chunk("data", Bytes(650, 1))
                                          .Build());
  EXPECT_EQ(DecodableAudioProblem(dir.File("gsm.wav")), "not a format we can decode (GSM 6.10)");
  EXPECT_THROW(PrepareForDecoding(dir.File("gsm.wav")), EMMError);

  const std::string mp3 = MakeMp3("ok.mp3", 8000, 1);
  EXPECT_EQ(DecodableAudioProblem(mp3), std::nullopt);
  const std::string real = MpegLibraryName();
  SetMpegLibraryName("libtonvista-missing.so.0");
  EXPECT_EQ(DecodableAudioProblem(mp3), "MP3 files need the decoder library: Unable to load libtonvista-missing.so.0");
  SetMpegLibraryName(real);
}

TEST_F(ConvertTest, KeysOfADemoRecordingSurviveEveryFormatWeRead) {
  const std::vector<DemoRecording> demos = ReadDemoTable(std::string(TONVISTA_SOURCE_DIR) + "/data/demos/demos.tsv");
  ASSERT_FALSE(demos.empty());
  const DemoRecording& demo = demos.front();
  const std::string source = dir.File("demo.wav");
  WriteDtmfWave(source, demo.keys, demo.options);
  Run("/usr/bin/lame", {"--quiet", "-b", "32", source, dir.File("demo.mp3")});
  Run("/usr/bin/sox", {source, "-e", "u-law", dir.File("demo_ulaw.wav")});
  Run("/usr/bin/sox", {source, "-e", "a-law", dir.File("demo_alaw.wav")});
  Run("/usr/bin/sox", {source, "-e", "ima-adpcm", dir.File("demo_ima.wav")});
  Run("/usr/bin/sox", {source, "-e", "ms-adpcm", dir.File("demo_ms.wav")});
  Run("/usr/bin/sox", {source, "-e", "floating-point", "-b", "32", dir.File("demo_float.wav")});
  Run("/usr/bin/sox", {source, "-b", "24", dir.File("demo_24.wav")});
  Run("/usr/bin/sox", {source, dir.File("demo.flac")});
  Run("/usr/bin/sox", {source, dir.File("demo.ogg")});

  DtmfScanner scanner;
  scanner.SetPaced(false);
  for (const char* name : {"demo.mp3", "demo_ulaw.wav", "demo_alaw.wav", "demo_ima.wav", "demo_ms.wav",
                           "demo_float.wav", "demo_24.wav", "demo.flac", "demo.ogg"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(DecodableAudioProblem(dir.File(name)), std::nullopt);
    EXPECT_FALSE(IsPlainPcmWave(dir.File(name)));
    const std::string pcm = PrepareForDecoding(dir.File(name), dir.File(""));
    EXPECT_TRUE(IsPlainPcmWave(pcm));
    DtmfConverter converter;
    const std::string ready = converter.NormalizeFile(converter.ConvertForDtmf(pcm));
    EXPECT_EQ(scanner.Scan(ready).keys, demo.keys);
  }
  // Plain PCM goes to the converter as it is.
  EXPECT_EQ(PrepareForDecoding(source), source);
}

}  // namespace
}  // namespace tv
