// The decoder's detector and channel choice, and its batch options: files
// decoded in parallel, names read from a list, JSON Lines.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "DtmfSynth.h"
#include "RunProcess.h"
#include "TestFiles.h"

namespace tv {
namespace {

using test::RunProcess;
using test::TempDir;

const std::string kDecoder = std::string(TONVISTA_BINARY_DIR) + "/bin/tonvista-decode";

// Left channel "12" from 300 ms, right channel "9" from 1000 ms, 8 kHz.
std::string WriteCall(const TempDir& dir, const std::string& name) {
  DtmfSignalOptions o;
  o.leadMs = 300;
  o.toneMs = 80;
  o.gapMs = 120;
  o.rampMs = 0;
  o.levelDb = -10;
  const std::vector<double> l = SynthesizeDtmf("12", o);
  o.leadMs = 1000;
  o.twistDb = -4;
  const std::vector<double> r = SynthesizeDtmf("9", o);
  const size_t n = std::max(l.size(), r.size());
  std::vector<double> both(2 * n, 0.0);
  for (size_t i = 0; i < l.size(); ++i) both[2 * i] = l[i];
  for (size_t i = 0; i < r.size(); ++i) both[2 * i + 1] = r[i];
  o.channels = 1;
  const std::string file = dir.File(name);
  test::WriteAll(file, test::PcmWave(16, 2, 8000, PcmBytes(both, o)));
  return file;
}

TEST(DecodeDetectors, StrictIsTheDefaultAndRejectsOffFrequencyTones) {
  TempDir dir;
  DtmfSignalOptions o;
  o.freqErrorPct = 3.5;  // a receiver must reject this
  WriteDtmfWave(dir.File("off.wav"), "147", o);
  auto r = RunProcess(kDecoder, {dir.File("off.wav")});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, dir.File("off.wav") + ": \n");
  // The desktop program's decoder takes the strongest bins, however far
  // off: it reports three keys, with --threshold alone too.
  r = RunProcess(kDecoder, {"--detector", "described", dir.File("off.wav")});
  EXPECT_EQ(r.out.size(), dir.File("off.wav").size() + 6) << r.out;
  const auto alone = RunProcess(kDecoder, {"--threshold", "50", dir.File("off.wav")});
  EXPECT_EQ(alone.out, r.out);
}

TEST(DecodeDetectors, ChannelChoiceWithBothDetectors) {
  TempDir dir;
  const std::string call = WriteCall(dir, "call.wav");
  for (const char* detector : {"strict", "described"}) {
    SCOPED_TRACE(detector);
    const std::string d = std::string("--detector=") + detector;
    EXPECT_EQ(RunProcess(kDecoder, {d, "--channel", "left", call}).out, call + ": 12\n");
    EXPECT_EQ(RunProcess(kDecoder, {d, "--channel=right", call}).out, call + ": 9\n");
    EXPECT_EQ(RunProcess(kDecoder, {d, call}).out, call + ": 129\n");
    const auto each = RunProcess(kDecoder, {d, "--channel", "each", call});
    EXPECT_EQ(each.exitCode, 0) << each.err;
    EXPECT_EQ(each.out, call + " (left): 12\n" + call + " (right): 9\n");
  }
}

TEST(DecodeDetectors, StrictJsonLabelsEveryKey) {
  TempDir dir;
  const std::string call = WriteCall(dir, "call.wav");
  const auto r = RunProcess(kDecoder, {"--json", "--channel", "each", call});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  // One line, one object.
  ASSERT_EQ(r.out.find('\n'), r.out.size() - 1) << r.out;
  const std::string prefix = "{\"file\": \"" + call + "\", \"keys\": \"129\", \"positions\": [";
  ASSERT_EQ(r.out.rfind(prefix, 0), 0u) << r.out;
  EXPECT_NE(r.out.find("], \"detector\": \"strict\"}"), std::string::npos) << r.out;
  const char* p = r.out.c_str() + prefix.size();
  const double starts[] = {300, 500, 1000};
  const char* channels[] = {"left", "left", "right"};
  const double twists[] = {0, 0, -4};
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    char key = 0;
    char channel[16] = {};
    int ms = 0, endMs = 0, consumed = 0;
    double level = 0, twist = 0, low = 0, high = 0;
    ASSERT_EQ(std::sscanf(p,
                          "{\"key\": \"%c\", \"ms\": %d, \"end_ms\": %d, \"channel\": \"%15[a-z]\", "
                          "\"level_dbfs\": %lf, \"twist_db\": %lf, \"low_hz\": %lf, \"high_hz\": %lf}%n",
                          &key, &ms, &endMs, channel, &level, &twist, &low, &high, &consumed),
              8)
        << p;
    EXPECT_EQ(key, "129"[i]);
    EXPECT_NEAR(ms, starts[i], 5);
    EXPECT_NEAR(endMs, starts[i] + 80, 5);
    EXPECT_STREQ(channel, channels[i]);
    EXPECT_NEAR(twist, twists[i], 0.5);
    EXPECT_LT(level, -5);
    EXPECT_GT(level, -12);
    p += consumed;
    if (i < 2) {
      ASSERT_EQ(std::string(p, 2), ", ");
      p += 2;
    }
  }
}

TEST(DecodeBatch, ParallelJobsKeepTheOrderOfTheFiles) {
  TempDir dir;
  std::vector<std::string> files;
  std::string expected;
  const char* keys[] = {"1", "23", "456", "7890", "*#", "ABCD", "5"};
  for (int i = 0; i < 7; ++i) {
    DtmfSignalOptions o;
    // Longer files first, so that later ones finish earlier.
    o.tailMs = 3000.0 - i * 400.0;
    const std::string f = dir.File("f" + std::to_string(i) + ".wav");
    WriteDtmfWave(f, keys[i], o);
    files.push_back(f);
    expected += f + ": " + keys[i] + "\n";
  }
  // A missing file in the middle fails alone (on standard error).
  files.insert(files.begin() + 3, dir.File("missing.wav"));

  std::vector<std::string> args = {"-j", "3"};
  args.insert(args.end(), files.begin(), files.end());
  const auto parallel = RunProcess(kDecoder, args);
  EXPECT_EQ(parallel.exitCode, 1);
  EXPECT_EQ(parallel.out, expected);
  EXPECT_EQ(parallel.err, "tonvista-decode: " + dir.File("missing.wav") + ": no such file\n");
  args[1] = "1";
  const auto serial = RunProcess(kDecoder, args);
  EXPECT_EQ(serial.out, parallel.out);
  EXPECT_EQ(serial.err, parallel.err);
  EXPECT_EQ(serial.exitCode, parallel.exitCode);

  // JSON Lines in the same order, one object per file.
  args = {"--json", "-j4", "--detector", "described"};
  args.insert(args.end(), files.begin(), files.end());
  const auto json = RunProcess(kDecoder, args);
  size_t line = 0;
  for (size_t at = 0; at < json.out.size(); ++line) {
    const size_t end = json.out.find('\n', at);
    ASSERT_NE(end, std::string::npos);
    const std::string object = json.out.substr(at, end - at);
    EXPECT_EQ(object.rfind("{\"file\": \"" + files[line] + "\", ", 0), 0u) << object;
    at = end + 1;
  }
  EXPECT_EQ(line, files.size());
}

TEST(DecodeBatch, FileNamesFromAListOrStandardInput) {
  TempDir dir;
  DtmfSignalOptions o;
  WriteDtmfWave(dir.File("a.wav"), "31", o);
  WriteDtmfWave(dir.File("b c.wav"), "D", o);
  {
    std::ofstream list(dir.File("list.txt"));
    list << dir.File("b c.wav") << "\n\n" << dir.File("a.wav") << "\n";
  }
  const std::string expected = dir.File("a.wav") + ": 31\n" + dir.File("b c.wav") + ": D\n" +
                               dir.File("a.wav") + ": 31\n";
  auto r = RunProcess(kDecoder, {dir.File("a.wav"), "--files-from", dir.File("list.txt")});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, expected);
  r = RunProcess("/bin/sh", {"-c", "\"$0\" -j 2 \"$1\" --files-from - < \"$2\"", kDecoder, dir.File("a.wav"),
                             dir.File("list.txt")});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, expected);
  r = RunProcess(kDecoder, {"--files-from", dir.File("nothing.txt")});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find("cannot read the file list " + dir.File("nothing.txt")), std::string::npos) << r.err;
}

TEST(DecodeBatch, UsageErrorsOfTheNewOptions) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--detector", "fast", "x.wav"},
        {"--detector", "strict", "--threshold", "100", "x.wav"},
        {"--channel", "centre", "x.wav"},
        {"-j", "0", "x.wav"},
        {"--jobs=many", "x.wav"},
        {"x.wav", "--files-from"},
        {"--detector"}}) {
    const auto r = RunProcess(kDecoder, args);
    EXPECT_EQ(r.exitCode, 2) << args[0];
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.rfind("tonvista-decode: ", 0), 0u) << r.err;
  }
}

TEST(DecodeBatch, AReadErrorDuringAStrictScanFailsThatFile) {
  TempDir dir;
  DtmfSignalOptions o;
  // Longer than the reader's buffer, so that the header is read whole.
  WriteDtmfWave(dir.File("call.wav"), "0123456789012345678901234567890123456789", o);
  const char* asan = std::getenv("ASAN_OPTIONS");
  const std::vector<std::string> env = {
      std::string("LD_PRELOAD=") + TONVISTA_FAILING_READ, "TONVISTA_FAIL_READ_SUFFIX=call.wav",
      "TONVISTA_FAIL_READ_FROM=100000",
      std::string("ASAN_OPTIONS=") + (asan != nullptr ? asan : "") + ":verify_asan_link_order=0"};
  const auto r = RunProcess(kDecoder, {dir.File("call.wav")}, {}, env);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "tonvista-decode: " + dir.File("call.wav") + ": Error reading wave file\n");
}

}  // namespace
}  // namespace tv
