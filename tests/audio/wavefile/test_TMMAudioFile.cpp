// The audio file source: its reader register, the readers it asks, the
// internal chain it builds, and its end-of-data rules.
#include <gtest/gtest.h>

#include <string>

#include "ChainHelpers.h"
#include "MMACMCvt.h"
#include "TMMAudioFile.h"
#include "TestFiles.h"

namespace tv {
namespace {

using test::Buffer;
using test::Bytes;
using test::TempDir;
using test::TestDriver;

Bytes Pattern(size_t n) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(i * 29 + 3);
  return b;
}

// A reader for a made-up ".fak" type: a wave file in disguise, so the test
// sees which reader a name went to.
TMMAudioFileReader FakeReader(int order, int* asked) {
  TMMAudioFileReader r;
  r.ClassName = "FakeReader" + std::to_string(order);
  r.Order = order;
  r.FileType = ftVorbis;
  r.Masks = "*.fak";
  r.FileFilter = "Fake Files (*.fak)|*.fak";
  r.CanOpenFile = [asked](const std::string& name) {
    ++*asked;
    return name.size() > 4 && name.substr(name.size() - 4) == ".fak";
  };
  r.Create = [] { return std::make_unique<TMMWaveFile>("fake"); };
  return r;
}

TEST(AudioFileRegister, StartUpReadersAreRegisteredAndReadersSortByOrder) {
  // MPEG (1), wave (5) and the FLAC/Ogg reader (6) are there from the start.
  std::vector<TMMAudioFileReader> readers = AudioFileReaders();
  ASSERT_EQ(readers.size(), 3u);
  EXPECT_EQ(readers[0].ClassName, "TMMMPEGFile");
  EXPECT_EQ(readers[0].Order, 1);
  EXPECT_EQ(readers[1].ClassName, "TMMWaveFile");
  EXPECT_EQ(readers[1].Order, 5);
  EXPECT_EQ(readers[2].Order, 6);
  int asked = 0;
  RegisterAudioFileReader(FakeReader(7, &asked));
  RegisterAudioFileReader(FakeReader(2, &asked));
  readers = AudioFileReaders();
  ASSERT_EQ(readers.size(), 5u);
  EXPECT_EQ(readers[1].Order, 2);
  EXPECT_EQ(readers[4].Order, 7);
  const std::string filter = AudioFileFilter();
  EXPECT_EQ(filter.rfind("All Audio Files (*.mp2;*.mp3;*.atx;*.fak;*.wav;", 0), 0u) << filter;
  EXPECT_NE(filter.find(")|*.mp2;*.mp3;*.atx;*.fak;*.wav;"), std::string::npos) << filter;
  EXPECT_NE(filter.find("|Wave Files(*.wav)|*.wav|"), std::string::npos) << filter;
  EXPECT_TRUE(filter.ends_with("|Fake Files (*.fak)|*.fak")) << filter;
  UnregisterAudioFileReader("FakeReader7");
  UnregisterAudioFileReader("FakeReader2");
  EXPECT_EQ(AudioFileReaders().size(), 3u);
}

struct AudioChain {
  TempDir dir;
  TMMAudioFile audio{"AudioFile"};
  TestDriver driver;
  AudioChain() {
    driver.SetInput(&audio);
    driver.SetBufferSize(1024);
  }
};

TEST(AudioFile, ReadsAWaveFileUnchangedThroughItsInnerChain) {
  AudioChain c;
  const Bytes data = Pattern(3000);
  test::WriteAll(c.dir.File("a.wav"), test::PcmWave(16, 2, 22050, data));
  std::vector<std::string> events;
  c.audio.OnFileLoading = [&](TMMDSPComponent* s) {
    EXPECT_EQ(s, &c.audio);
    events.push_back("loading");
  };
  c.audio.OnFileLoaded = [&](TMMDSPComponent*) { events.push_back("loaded"); };
  c.audio.SetFileName(c.dir.File("a.wav"));
  EXPECT_EQ(events, (std::vector<std::string>{"loading", "loaded"}));
  EXPECT_EQ(c.audio.FileType(), ftWave);
  ASSERT_NE(c.audio.Reader(), nullptr);
  EXPECT_EQ(c.audio.FileLength(), 34);  // 750 frames at 22.05 kHz
  ASSERT_NE(c.driver.PWaveFormat(), nullptr);
  EXPECT_EQ(c.driver.PWaveFormat()->nSamplesPerSec, 22050u);

  c.driver.Open();
  c.driver.Start();
  Buffer b(4096);
  Bytes got;
  bool more = true;
  while (more) {
    more = c.driver.Pull(b);
    const Bytes d = b.Data();
    got.insert(got.end(), d.begin(), d.end());
  }
  EXPECT_EQ(got, data);
  EXPECT_EQ(c.audio.PositionMs(), 34);
  // A load after the end gets one block of four silent bytes, once.
  EXPECT_FALSE(c.driver.Pull(b));
  EXPECT_EQ(b.Data(), Bytes(4, 0));
  EXPECT_FALSE(c.driver.Pull(b));
  EXPECT_EQ(b.Header()->dwBytesRecorded, 0u);
  c.driver.Close();
}

TEST(AudioFile, LoopsAndSilenceFollowTheWaveReader) {
  AudioChain c;
  const Bytes data = Pattern(500);
  test::WriteAll(c.dir.File("l.wav"), test::PcmWave(8, 1, 8000, data));
  c.audio.SetFileName(c.dir.File("l.wav"));
  c.driver.Open();
  Buffer b(4096);
  EXPECT_TRUE(c.driver.Pull(b));  // not started: silence
  EXPECT_EQ(b.Data(), Bytes(1024, 128));
  c.driver.Start();
  c.audio.SetEnabled(false);
  EXPECT_TRUE(c.driver.Pull(b));
  EXPECT_EQ(b.Data(), Bytes(1024, 128));
  c.audio.SetEnabled(true);
  EXPECT_TRUE(c.driver.Pull(b, true, 1));
  EXPECT_EQ(b.Data(), data);
  EXPECT_EQ(b.Header()->LoopRestarted, -1);
  c.driver.Close();
}

TEST(AudioFile, NamesNoReaderAcceptsAreRefused) {
  AudioChain c;
  test::WriteAll(c.dir.File("x.wav"), Bytes(100, 'x'));
  for (const std::string& name : {c.dir.File("x.wav"), c.dir.File("missing.wav"), std::string("POINTER://12")}) {
    try {
      c.audio.SetFileName(name);
      FAIL() << name;
    } catch (const EMMAudioFileError& e) {
      EXPECT_EQ(std::string(e.what()), "This is not a valid Audiofile");
    }
    EXPECT_EQ(c.audio.Reader(), nullptr);
    EXPECT_EQ(c.audio.FileName(), "");
  }
}

TEST(AudioFile, TheReaderOfTheCurrentTypeIsAskedFirst) {
  AudioChain c;
  int asked = 0;
  RegisterAudioFileReader(FakeReader(9, &asked));
  test::WriteAll(c.dir.File("w.wav"), test::PcmWave(8, 1, 8000, Bytes(10, 1)));
  test::WriteAll(c.dir.File("f.fak"), test::PcmWave(8, 1, 8000, Bytes(10, 1)));
  c.audio.SetFileName(c.dir.File("w.wav"));
  EXPECT_EQ(asked, 0);  // the wave reader comes first and accepts
  c.audio.SetFileType(ftVorbis);
  c.audio.SetFileName(c.dir.File("f.fak"));
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(c.audio.FileType(), ftVorbis);
  EXPECT_EQ(c.audio.Reader()->Name(), "fake");
  UnregisterAudioFileReader("FakeReader9");
}

TEST(AudioFile, StreamsThatNeedDecodingNeedADecoder) {
  AudioChain c;
  test::WriteAll(c.dir.File("u.wav"), test::RiffBuilder()
                                          .Chunk("fmt ", test::FmtBody(7, 1, 8000, 8))
                                          .Chunk("data", Bytes(100, 0xFF))
                                          .Build());
  // The codec service decodes mu-law from the start; without a decoder
  // the file is refused.
  c.audio.SetFileName(c.dir.File("u.wav"));
  ASSERT_NE(c.audio.PWaveFormat(), nullptr);
  EXPECT_EQ(c.audio.PWaveFormat()->wFormatTag, WAVE_FORMAT_PCM);
  c.audio.SetFileName({});
  SetAudioFileDecoderFactory(nullptr);
  EXPECT_THROW(c.audio.SetFileName(c.dir.File("u.wav")), EMMAudioFileError);
  int made = 0;
  SetAudioFileDecoderFactory([&](const WAVEFORMATEX* f) -> std::unique_ptr<TMMDSPComponent> {
    EXPECT_EQ(f->wFormatTag, 7);
    ++made;
    return std::make_unique<TMMWaveFile>("decoder");
  });
  c.audio.SetFileName(c.dir.File("u.wav"));
  SetAudioFileDecoderFactory(CreateCodecDecoder);
  EXPECT_EQ(made, 1);
  EXPECT_NE(c.audio.Reader(), nullptr);
}

TEST(AudioFile, ReadErrorsGoToOnErrorWhichMayHandleThem) {
  AudioChain c;
  test::WriteAll(c.dir.File("e.wav"), test::PcmWave(16, 1, 8000, Pattern(400)));
  c.audio.SetFileName(c.dir.File("e.wav"));
  c.driver.Open();
  c.driver.Start();
  // A read that fails on its way up the inner chain.
  c.audio.OnBufferLoad = [](TMMDSPComponent*, PWaveHdr, bool&) {
    throw EMMWaveError("Error reading wave file");
  };
  Buffer b(4096);
  EXPECT_THROW(c.driver.Pull(b), EMMWaveError);
  bool handled = true;
  c.audio.OnError = [&](TMMDSPComponent* s, bool& h) {
    EXPECT_EQ(s, &c.audio);
    h = handled;
  };
  c.driver.Pull(b);
  EXPECT_EQ(b.Data(), Bytes(4, 0));
  c.driver.Close();
}

TEST(AudioFile, VolumeAndPanningScaleTheSamples) {
  AudioChain c;
  test::WriteAll(c.dir.File("v.wav"), test::PcmWave(16, 2, 8000, test::Le16({1000, -1000, 30000, 20000})));
  c.audio.SetFileName(c.dir.File("v.wav"));
  EXPECT_EQ(c.audio.Volume(), 16384);
  c.audio.SetVolume(8192);
  c.audio.SetPanning(8192);  // the left channel at half of that
  c.driver.Open();
  c.driver.Start();
  Buffer b(4096);
  c.driver.Pull(b);
  EXPECT_EQ(b.Data(), test::Le16({250, -500, 7500, 10000}));
  c.audio.SetVolume(1 << 20);  // limited to four times unity
  EXPECT_EQ(c.audio.Volume(), 65536);
  c.driver.Close();
}

TEST(AudioFile, ReleasingTheFileUnlinksTheInnerChain) {
  AudioChain c;
  test::WriteAll(c.dir.File("r.wav"), test::PcmWave(8, 1, 8000, Bytes(10, 1)));
  c.audio.SetFileName(c.dir.File("r.wav"));
  EXPECT_NE(c.audio.Input(), nullptr);
  c.audio.SetFileName("");
  EXPECT_EQ(c.audio.Input(), nullptr);
  EXPECT_EQ(c.driver.PWaveFormat(), nullptr);
  Buffer b(64);
  EXPECT_FALSE(c.driver.Pull(b));
  EXPECT_EQ(b.Header()->dwBytesRecorded, 0u);
}

}  // namespace
}  // namespace tv
