// The command-line decoder, run as users run it: a real process on real files.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>

#include "DtmfSynth.h"
#include "RunProcess.h"
#include "TestFiles.h"

namespace tv {
namespace {

namespace fs = std::filesystem;
using test::Bytes;
using test::RunProcess;
using test::TempDir;

const std::string kDecoder = std::string(TONVISTA_BINARY_DIR) + "/bin/tonvista-decode";
const std::string kDemos = std::string(TONVISTA_BINARY_DIR) + "/bin/Decode Demos";
const std::string kDemoTable = std::string(TONVISTA_SOURCE_DIR) + "/data/demos/demos.tsv";

std::set<std::string> Listing(const fs::path& dir) {
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
  return names;
}

TEST(DecodeCli, AllSixteenKeysInEveryCommonFormat) {
  TempDir dir;
  const std::string keys = "0123456789*#ABCD";
  std::vector<std::string> files;
  for (int rate : {8000, 11025, 22050, 44100, 48000}) {
    for (int bits : {8, 16}) {
      for (int channels : {1, 2}) {
        DtmfSignalOptions o;
        o.rate = rate;
        o.bits = bits;
        o.channels = channels;
        o.toneMs = 90;
        o.gapMs = 90;
        o.noiseDb = -50;
        const std::string name = dir.File(std::to_string(rate) + "-" + std::to_string(bits) + "-" +
                                          std::to_string(channels) + ".wav");
        WriteDtmfWave(name, keys, o);
        files.push_back(name);
      }
    }
  }
  const auto r = RunProcess(kDecoder, files);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  std::string expected;
  for (const auto& f : files) expected += f + ": " + keys + "\n";
  EXPECT_EQ(r.out, expected);
  EXPECT_EQ(r.err, "");
  // Nothing was written beside the sources.
  EXPECT_EQ(Listing(dir.Path()).size(), files.size());
}

TEST(DecodeCli, TheCleanDemoDecodesExactly) {
  const auto table = ReadDemoTable(kDemoTable);
  ASSERT_EQ(table.size(), 4u);
  ASSERT_EQ(table[0].file, "5550147236dcba+#.wav");
  ASSERT_EQ(table[0].keys, "5550147236DCBA*#");
  const auto before = Listing(kDemos);
  const auto r = RunProcess(kDecoder, {table[0].file}, kDemos);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "5550147236dcba+#.wav: 5550147236DCBA*#\n");
  EXPECT_EQ(Listing(kDemos), before);
}

TEST(DecodeCli, EveryDemoDecodesWithoutError) {
  // The poorer recordings need not decode perfectly, but every one decodes.
  for (const DemoRecording& demo : ReadDemoTable(kDemoTable)) {
    const auto r = RunProcess(kDecoder, {demo.file}, kDemos);
    EXPECT_EQ(r.exitCode, 0) << demo.file << ": " << r.err;
    EXPECT_EQ(r.out.rfind(demo.file + ": ", 0), 0u) << r.out;
  }
}

TEST(DecodeCli, JsonGivesKeysWithPositions) {
  TempDir dir;
  DtmfSignalOptions o;
  o.leadMs = 500;
  o.toneMs = 100;
  o.gapMs = 400;
  WriteDtmfWave(dir.File("q\"uote.wav"), "19", o);
  const auto r = RunProcess(kDecoder, {"--detector", "described", "--json", dir.File("q\"uote.wav")});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  // Keys at 500 ms and 1000 ms, each reported from a buffer starting at
  // most one buffer (35 ms) after its tone ended.
  const std::string prefix = "{\"file\": \"" + dir.File("q\\\"uote.wav") + "\", \"keys\": \"19\", \"positions\": [";
  ASSERT_EQ(r.out.rfind(prefix, 0), 0u) << r.out;
  int ms1 = -1, ms9 = -1;
  ASSERT_EQ(std::sscanf(r.out.c_str() + prefix.size(), "{\"key\": \"1\", \"ms\": %d}, {\"key\": \"9\", \"ms\": %d}]}",
                        &ms1, &ms9),
            2)
      << r.out;
  EXPECT_GE(ms1, 500);
  EXPECT_LE(ms1, 640);
  EXPECT_GE(ms9, 1000);
  EXPECT_LE(ms9, 1140);
}

TEST(DecodeCli, KeepLeavesTheIntermediateFilesBesideTheSource) {
  TempDir dir;
  DtmfSignalOptions o;
  WriteDtmfWave(dir.File("call.wav"), "42", o);
  const auto r = RunProcess(kDecoder, {"--detector", "described", "--keep", dir.File("call.wav")});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, dir.File("call.wav") + ": 42\n");
  EXPECT_EQ(Listing(dir.Path()), (std::set<std::string>{"call.wav", "call_acm.wav", "call_acm_norm.wav"}));
}

TEST(DecodeCli, ThresholdOption) {
  // A full-scale click keeps the normalised tones weak.
  TempDir dir;
  DtmfSignalOptions o;
  o.levelDb = -20;
  std::vector<double> samples = SynthesizeDtmf("123", o);
  samples[100] = 1.0;
  test::WriteAll(dir.File("weak.wav"), test::PcmWave(16, 1, 8000, PcmBytes(samples, o)));
  auto r = RunProcess(kDecoder, {"--threshold", "50", dir.File("weak.wav")});
  EXPECT_EQ(r.out, dir.File("weak.wav") + ": 123\n") << r.err;
  r = RunProcess(kDecoder, {"--threshold=525", dir.File("weak.wav")});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, dir.File("weak.wav") + ": \n");
}

TEST(DecodeCli, BadInputFailsWithAClearMessageAndTheRestStillDecodes) {
  TempDir dir;
  DtmfSignalOptions o;
  WriteDtmfWave(dir.File("good.wav"), "7", o);
  test::WriteAll(dir.File("text.wav"), Bytes(200, 'x'));
  test::WriteAll(dir.File("gsm.wav"), test::RiffBuilder()
                                          .Chunk("fmt ", test::FmtBody(0x31, 1, 8000, 0, 1625, 65))
                                          .Chunk("data", Bytes(650, 0x55))
                                          .Build());
  test::WriteAll(dir.File("empty.wav"), test::PcmWave(16, 1, 8000, {}));
  test::WriteAll(dir.File("slow.wav"), test::PcmWave(16, 1, 2000, Bytes(300, 1)));
  fs::create_directory(dir.File("folder.wav"));

  struct Case {
    std::string file;
    std::string message;
  };
  const std::vector<Case> cases = {
      {dir.File("missing.wav"), "no such file"},
      {dir.File("folder.wav"), "is a folder, not a wave file"},
      {dir.File("text.wav"), "not a wave file"},
      {dir.File("gsm.wav"), "not a format we can decode (GSM 6.10)"},
      {dir.File("empty.wav"), "holds no audio data"},
      {dir.File("slow.wav"),
       "unsupported PCM format (16 bits, 1 channels, 2000 Hz); 8 or 16 bits, 1, 2 or 4 channels, "
       "4000..100000 Hz are supported"},
  };
  const auto before = Listing(dir.Path());
  for (const Case& c : cases) {
    const auto r = RunProcess(kDecoder, {c.file, dir.File("good.wav")});
    EXPECT_EQ(r.exitCode, 1) << c.file;
    EXPECT_EQ(r.err, "tonvista-decode: " + c.file + ": " + c.message + "\n");
    EXPECT_EQ(r.out, dir.File("good.wav") + ": 7\n");
  }
  EXPECT_EQ(Listing(dir.Path()), before);
  const auto json = RunProcess(kDecoder, {"--json", dir.File("missing.wav")});
  EXPECT_EQ(json.out, "{\"file\": \"" + dir.File("missing.wav") + "\", \"error\": \"no such file\"}\n");
}

// The disk fails while a file is being scanned: that file is reported as not
// decoded, with the reason, instead of its partial keys passing for a result;
// the next file is still decoded.
TEST(DecodeCli, AReadErrorDuringTheScanFailsThatFile) {
  TempDir dir;
  DtmfSignalOptions o;
  WriteDtmfWave(dir.File("call.wav"), "0123456789", o);
  WriteDtmfWave(dir.File("good.wav"), "7", o);
  const char* asan = std::getenv("ASAN_OPTIONS");
  const std::vector<std::string> env = {
      std::string("LD_PRELOAD=") + TONVISTA_FAILING_READ,
      "TONVISTA_FAIL_READ_SUFFIX=call_acm_norm.wav",
      "TONVISTA_FAIL_READ_FROM=100000",
      // The sanitizer runtime need not come first when a library is preloaded.
      std::string("ASAN_OPTIONS=") + (asan != nullptr ? asan : "") + ":verify_asan_link_order=0"};
  auto r = RunProcess(kDecoder, {"--detector=described", "--keep", dir.File("call.wav"), dir.File("good.wav")}, {},
                      env);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, "tonvista-decode: " + dir.File("call.wav") + ": Error reading wave file\n");
  EXPECT_EQ(r.out, dir.File("good.wav") + ": 7\n");
  r = RunProcess(kDecoder, {"--detector=described", "--keep", "--json", dir.File("call.wav")}, {}, env);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "{\"file\": \"" + dir.File("call.wav") + "\", \"error\": \"Error reading wave file\"}\n");
  // Without the failing disk the same file decodes.
  r = RunProcess(kDecoder, {dir.File("call.wav")});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, dir.File("call.wav") + ": 0123456789\n");
}

TEST(DecodeCli, UnreadableFile) {
  if (geteuid() == 0) GTEST_SKIP() << "root reads every file";
  TempDir dir;
  DtmfSignalOptions o;
  WriteDtmfWave(dir.File("locked.wav"), "1", o);
  chmod(dir.File("locked.wav").c_str(), 0);
  const auto r = RunProcess(kDecoder, {dir.File("locked.wav")});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, "tonvista-decode: " + dir.File("locked.wav") + ": cannot be read: Permission denied\n");
}

TEST(DecodeCli, UsageErrorsAndInformation) {
  EXPECT_EQ(RunProcess(kDecoder, {}).exitCode, 2);
  for (const auto& bad : std::vector<std::vector<std::string>>{
           {"--threshold", "49", "x.wav"},
           {"--threshold", "526", "x.wav"},
           {"--threshold", "abc", "x.wav"},
           {"x.wav", "--threshold"},
           {"--loud", "x.wav"}}) {
    const auto r = RunProcess(kDecoder, bad);
    EXPECT_EQ(r.exitCode, 2) << bad[0];
    EXPECT_NE(r.err, "");
    EXPECT_EQ(r.out, "");
  }
  const auto help = RunProcess(kDecoder, {"--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.out.find("Usage: tonvista-decode [options] FILE..."), std::string::npos);
  const auto version = RunProcess(kDecoder, {"--version"});
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.out.rfind("tonvista-decode ", 0), 0u);
}

}  // namespace
}  // namespace tv
