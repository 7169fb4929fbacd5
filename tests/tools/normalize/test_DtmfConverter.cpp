#include "DtmfConverter.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "TMMWave.h"
#include "TestFiles.h"
#include "WaveNames.h"

namespace tv {
namespace {

using test::Bytes;
using test::Le16;
using test::PcmWave;
using test::TempDir;
using test::WriteAll;

TEST(WaveNames, OnlyTheExtensionAtTheEndIsReplaced) {
  EXPECT_EQ(DerivedFileName("call.wav", "_acm"), "call_acm.wav");
  EXPECT_EQ(DerivedFileName("/rec/call_acm.wav", "_norm"), "/rec/call_acm_norm.wav");
  // Never outside the source's folder, never onto a sibling's name.
  EXPECT_EQ(DerivedFileName("/d/data.wav.old/talk.wav", "_L"), "/d/data.wav.old/talk_L.wav");
  EXPECT_EQ(DerivedFileName("names/calls.wav.d/a.wav", "_acm"), "names/calls.wav.d/a_acm.wav");
  EXPECT_EQ(DerivedFileName("/d/a.wav.wav", "_acm"), "/d/a.wav_acm.wav");
  EXPECT_NE(DerivedFileName("/d/a.wav.wav", "_acm"), DerivedFileName("/d/a.wav", "_acm"));
  EXPECT_EQ(DerivedFileName("/d/talk.WAV", "_R"), "/d/talk_R.WAV");
  EXPECT_EQ(DerivedFileName("/d/talk.wav", "_Swap"), "/d/talk_Swap.wav");
  EXPECT_EQ(FileExtension("/a.b/c"), "");
  // No extension: the whole name is the base (never a bare "_acm").
  EXPECT_EQ(DerivedFileName("/a.b/c", "_acm"), "/a.b/c_acm");
}

TEST(DtmfConvert, MonoEightKilohertzBecomesStereoCdRateThenNormalised) {
  TempDir dir;
  std::vector<int16_t> ramp;
  for (int i = 0; i < 8000; ++i) ramp.push_back(static_cast<int16_t>((i % 200) * 40 - 4000));
  WriteAll(dir.File("a.wav"), PcmWave(16, 1, 8000, Le16(ramp)));
  DtmfConverter c;
  std::vector<int> progress;
  c.OnConvertProgress = [&](int p) { progress.push_back(p); };
  const std::string converted = c.ConvertForDtmf(dir.File("a.wav"));
  EXPECT_EQ(converted, dir.File("a_acm.wav"));
  ASSERT_FALSE(progress.empty());
  EXPECT_EQ(progress.back(), 100);

  TMMWave w;
  w.SetTimeFormat(tfByte);
  w.SetFileName(converted);
  ASSERT_NE(w.PWaveFormat(), nullptr);
  EXPECT_EQ(w.PWaveFormat()->nSamplesPerSec, 44100u);
  EXPECT_EQ(w.PWaveFormat()->nChannels, 2);
  EXPECT_EQ(w.PWaveFormat()->wBitsPerSample, 16);
  // One second: each frame held about 5.5 times.
  EXPECT_EQ(w.DataSize() % 4, 0);
  EXPECT_NEAR(static_cast<double>(w.DataSize()) / 4, 44100.0, 5.0);

  const std::string normalized = c.NormalizeFile(converted);
  EXPECT_EQ(normalized, dir.File("a_acm_norm.wav"));
  EXPECT_EQ(c.LastNormalize().peak, -4000);
  EXPECT_TRUE(std::filesystem::exists(normalized));
}

TEST(DtmfConvert, CdFormatIsCopiedUnchanged) {
  TempDir dir;
  Bytes data = Le16({1, -2, 300, -400, 5000, -6000, 7, 8});
  WriteAll(dir.File("cd.wav"), PcmWave(16, 2, 44100, data));
  DtmfConverter c;
  const std::string converted = c.ConvertForDtmf(dir.File("cd.wav"));
  TMMWave w;
  w.SetTimeFormat(tfByte);
  w.SetFileName(converted);
  w.OpenFile();
  Bytes out(data.size());
  EXPECT_EQ(w.ReadData(out.data(), static_cast<int32_t>(out.size())), static_cast<int32_t>(out.size()));
  EXPECT_EQ(out, data);
}

TEST(DtmfConvert, NoGainAnswersTheGivenName) {
  TempDir dir;
  WriteAll(dir.File("loud.wav"), PcmWave(16, 2, 44100, Le16({32767, 0, -5, 9})));
  DtmfConverter c;
  EXPECT_EQ(c.NormalizeFile(dir.File("loud.wav")), dir.File("loud.wav"));
  EXPECT_FALSE(std::filesystem::exists(dir.File("loud_norm.wav")));
  WriteAll(dir.File("quiet.wav"), PcmWave(16, 2, 44100, Le16({0, 0, 0, 0})));
  EXPECT_EQ(c.NormalizeFile(dir.File("quiet.wav")), dir.File("quiet.wav"));
  EXPECT_EQ(c.NormalizeFile(""), "");
}

TEST(DtmfConvert, NonPcmProducesNothing) {
  TempDir dir;
  WriteAll(dir.File("m.wav"), test::RiffBuilder()
                                  .Chunk("fmt ", test::FmtBody(0x55, 2, 44100, 0, 16000, 1))
                                  .Chunk("data", Bytes(500, 0xAA))
                                  .Build());
  DtmfConverter c;
  EXPECT_EQ(c.ConvertForDtmf(dir.File("m.wav")), "");
  EXPECT_EQ(c.NormalizeFile(dir.File("m.wav")), "");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);
}

TEST(DtmfConvert, OutputFolderKeepsTheSourceFolderClean) {
  TempDir src, out;
  WriteAll(src.File("k.wav"), PcmWave(8, 1, 11025, Bytes(11025, 100)));
  DtmfConverter c;
  c.SetOutputFolder(out.Path().string());
  const std::string converted = c.ConvertForDtmf(src.File("k.wav"));
  EXPECT_EQ(converted, out.File("k_acm.wav"));
  const std::string normalized = c.NormalizeFile(converted);
  EXPECT_EQ(normalized, out.File("k_acm_norm.wav"));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(src.Path()), {}), 1);
}

}  // namespace
}  // namespace tv
