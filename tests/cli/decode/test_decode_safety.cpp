// The decoder and the user's files: interrupted runs, odd temporary folders,
// names that meet, a disk that fills, runs side by side, and recordings in
// every format a telephone recorder leaves.
#include <fcntl.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "DtmfSynth.h"
#include "RunProcess.h"
#include "DecoderChild.h"
#include "TestFiles.h"

namespace tv {
namespace {

namespace fs = std::filesystem;
using test::Bytes;
using test::RunProcess;
using test::TempDir;

using test::kDecoder;

// Every file below `root`, relative, as a sorted list.
std::set<std::string> Tree(const fs::path& root) {
  for (;;) {
    std::set<std::string> names;
    std::error_code ec;
    fs::recursive_directory_iterator it(root, ec), end;
    for (; !ec && it != end; it.increment(ec)) names.insert(fs::relative(it->path(), root, ec).string());
    if (!ec) return names;  // else a file went while we looked: look again
  }
}

bool Any(const std::set<std::string>& names, const std::function<bool(const std::string&)>& test) {
  for (const auto& n : names) {
    if (test(fs::path(n).filename().string())) return true;
  }
  return false;
}

bool EndsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// Five minutes of a quiet ramp: long enough that every stage can be caught,
// quiet enough that the normaliser writes a file.
void WriteLongRecording(const std::string& file) {
  std::vector<int16_t> samples(8000 * 300);
  for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<int16_t>(static_cast<int>(i % 200) - 100);
  test::WriteAll(file, test::PcmWave(16, 1, 8000, test::Le16(samples)));
}

// The same length in mu-law. A plain PCM recording is converted in memory
// when nothing is kept; this one goes through files in the temporary folder.
void WriteLongMuLawRecording(const std::string& file) {
  Bytes data(8000 * 300);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(0xE0 + i % 32);
  test::WriteAll(file, test::RiffBuilder().Chunk("fmt ", test::FmtBody(7, 1, 8000, 8)).Chunk("data", data).Build());
}

struct Stage {
  const char* name;
  std::function<bool(const std::set<std::string>&)> reached;
};

const std::vector<Stage> kStages = {
    {"converting", [](const auto& t) { return Any(t, [](const std::string& n) { return EndsWith(n, ".tmp"); }); }},
    {"normalising", [](const auto& t) { return Any(t, [](const std::string& n) { return EndsWith(n, ".part"); }); }},
    {"scanning",
     [](const auto& t) {
       return Any(t, [](const std::string& n) { return EndsWith(n, "_acm_norm.wav"); }) &&
              !Any(t, [](const std::string& n) { return EndsWith(n, ".part"); });
     }},
};

// Starts a decode, waits for a stage (its files below `watch`), and sends
// the signal. Answers false when the run ended before the stage came.
bool InterruptAt(const Stage& stage, int sig, const std::vector<std::string>& args,
                 const std::vector<std::string>& env, const fs::path& watch) {
  const pid_t pid = test::SpawnDecoder(args, env);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  bool reached = false;
  int status = 0;
  while (std::chrono::steady_clock::now() < deadline) {
    if (waitpid(pid, &status, WNOHANG) == pid) return false;
    if (stage.reached(Tree(watch))) {
      reached = true;
      kill(pid, sig);
      break;
    }
  }
  if (!reached) kill(pid, SIGKILL);
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << stage.name << " status " << status;
  return reached;
}

// Empties a folder but for one file, so that one failure does not spill
// into the next case.
void KeepOnly(const fs::path& dir, const std::string& name) {
  for (const auto& e : fs::directory_iterator(dir)) {
    if (e.path().filename() != name) fs::remove_all(e.path());
  }
}

TEST(DecodeSafety, AnInterruptedRunLeavesNothingBehind) {
  TempDir dir, tmp, coded;
  const std::string source = dir.File("long.wav");
  WriteLongRecording(source);
  const std::string muLaw = coded.File("long.wav");
  WriteLongMuLawRecording(muLaw);
  for (const Stage& stage : kStages) {
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
      SCOPED_TRACE(std::string(stage.name) + ", signal " + std::to_string(sig));
      // Into the temporary folder...
      if (InterruptAt(stage, sig, {"--detector", "described", muLaw}, {"TMPDIR=" + tmp.Path().string()},
                      tmp.Path())) {
        EXPECT_EQ(Tree(tmp.Path()), std::set<std::string>{});
      } else {
        ADD_FAILURE() << "the run ended before the stage was seen";
      }
      KeepOnly(tmp.Path(), "");
      // ... and with --keep beside the source: no partial result either.
      if (InterruptAt(stage, sig, {"--detector", "described", "--keep", source}, {}, dir.Path())) {
        EXPECT_EQ(Tree(dir.Path()), std::set<std::string>{"long.wav"});
      } else {
        ADD_FAILURE() << "the --keep run ended before the stage was seen";
      }
      KeepOnly(dir.Path(), "long.wav");
    }
  }
}

TEST(DecodeSafety, TemporaryFolderFromTheEnvironment) {
  TempDir dir;
  DtmfSignalOptions o;
  WriteDtmfWave(dir.File("call.wav"), "159", o);
  test::WriteAll(dir.File("plain"), Bytes(10, 1));
  // Empty means the default, as mktemp takes it.
  auto r = RunProcess(kDecoder, {dir.File("call.wav")}, {}, {"TMPDIR="});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, dir.File("call.wav") + ": 159\n");
  // One that cannot hold a folder: exit 1 and one line that says why.
  for (const auto& [tmpdir, cause] : std::vector<std::pair<std::string, std::string>>{
           {dir.File("missing"), "No such file or directory"}, {dir.File("plain"), "Not a directory"}}) {
    r = RunProcess(kDecoder, {dir.File("call.wav")}, {}, {"TMPDIR=" + tmpdir});
    EXPECT_EQ(r.exitCode, 1) << tmpdir;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "tonvista-decode: no temporary folder: cannot create a folder in " + tmpdir + ": " + cause +
                         " (named by TMPDIR)\n");
  }
  // --keep needs no temporary folder at all.
  r = RunProcess(kDecoder, {"--detector", "described", "--keep", dir.File("call.wav")}, {}, {"TMPDIR=" + dir.File("missing")});
  EXPECT_EQ(r.exitCode, 0) << r.err;
}

TEST(DecodeSafety, KeptFilesStayInTheSourceFolderUnderTheirOwnNames) {
  TempDir dir;
  DtmfSignalOptions o;
  fs::create_directories(dir.Path() / "names" / "calls.wav.d");
  const std::string a = dir.File("names/calls.wav.d/a.wav");
  const std::string b = dir.File("names/calls.wav.d/b.wav");
  WriteDtmfWave(a, "12", o);
  WriteDtmfWave(b, "34", o);
  WriteDtmfWave(dir.File("names/calls.wav.d/c.wav"), "56", o);
  WriteDtmfWave(dir.File("names/calls.wav.d/c.wav.wav"), "78", o);
  // A file of the user's with the name the old rule would have written.
  test::WriteAll(dir.File("names/calls_acm.wav"), Bytes{'m', 'i', 'n', 'e'});
  const std::string c = dir.File("names/calls.wav.d/c.wav"), cc = dir.File("names/calls.wav.d/c.wav.wav");
  const auto r = RunProcess(kDecoder, {"--detector", "described", "--keep", a, b, c, cc});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, a + ": 12\n" + b + ": 34\n" + c + ": 56\n" + cc + ": 78\n");
  EXPECT_EQ(test::ReadAll(dir.File("names/calls_acm.wav")), (Bytes{'m', 'i', 'n', 'e'}));
  EXPECT_EQ(Tree(dir.Path() / "names"),
            (std::set<std::string>{"calls_acm.wav", "calls.wav.d", "calls.wav.d/a.wav", "calls.wav.d/b.wav",
                                   "calls.wav.d/c.wav", "calls.wav.d/c.wav.wav", "calls.wav.d/a_acm.wav",
                                   "calls.wav.d/a_acm_norm.wav", "calls.wav.d/b_acm.wav",
                                   "calls.wav.d/b_acm_norm.wav", "calls.wav.d/c_acm.wav",
                                   "calls.wav.d/c_acm_norm.wav", "calls.wav.d/c.wav_acm.wav",
                                   "calls.wav.d/c.wav_acm_norm.wav"}));
  // Each kept file holds its own source's keys.
  const auto kept = RunProcess(kDecoder, {dir.File("names/calls.wav.d/c_acm_norm.wav"),
                                          dir.File("names/calls.wav.d/c.wav_acm_norm.wav")});
  EXPECT_EQ(kept.out, dir.File("names/calls.wav.d/c_acm_norm.wav") + ": 56\n" +
                          dir.File("names/calls.wav.d/c.wav_acm_norm.wav") + ": 78\n");
}

TEST(DecodeSafety, RunsSideBySideNeverReportWrongKeys) {
  TempDir dir;
  DtmfSignalOptions o;
  o.gapMs = 2500;  // long enough that one run's scan meets another's writing
  const std::string keys = "12345678";
  WriteDtmfWave(dir.File("x.wav"), keys, o);
  for (int stagger : {0, 40, 120, 250}) {
    SCOPED_TRACE("runs started " + std::to_string(stagger) + " ms apart");
    std::vector<test::ProcessResult> results(4);
    std::vector<std::thread> runs;
    for (size_t i = 0; i < results.size(); ++i) {
      runs.emplace_back([&results, &dir, i, stagger] {
        std::this_thread::sleep_for(std::chrono::milliseconds(stagger * static_cast<int>(i)));
        results[i] = RunProcess(kDecoder, {"--detector", "described", "--keep", dir.File("x.wav")});
      });
    }
    for (auto& t : runs) t.join();
    for (const auto& result : results) {
      if (result.exitCode == 0) {
        EXPECT_EQ(result.out, dir.File("x.wav") + ": " + keys + "\n");
      } else {
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_NE(result.err, "");
      }
    }
  }
  EXPECT_EQ(Tree(dir.Path()), (std::set<std::string>{"x.wav", "x_acm.wav", "x_acm_norm.wav"}));
  const auto r = RunProcess(kDecoder, {dir.File("x_acm_norm.wav")});
  EXPECT_EQ(r.out, dir.File("x_acm_norm.wav") + ": " + keys + "\n");
}

// A small filesystem of our own: needs root (and a kernel that lets us).
class SmallDisk {
 public:
  explicit SmallDisk(const fs::path& where, const std::string& size) : path_(where) {
    fs::create_directories(path_);
    if (geteuid() != 0) {
      why_ = "mounting a small filesystem needs root";
      return;
    }
    const std::string options = "size=" + size;
    if (mount("tonvista-test", path_.c_str(), "tmpfs", 0, options.c_str()) != 0) {
      why_ = std::string("cannot mount a tmpfs here: ") + std::strerror(errno);
      return;
    }
    mounted_ = true;
  }
  ~SmallDisk() {
    if (mounted_) umount2(path_.c_str(), MNT_DETACH);
  }
  bool ReadOnly() { return mount(nullptr, path_.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0; }
  const std::string& Why() const { return why_; }
  bool Mounted() const { return mounted_; }

 private:
  fs::path path_;
  bool mounted_ = false;
  std::string why_;
};

TEST(DecodeSafety, AFullDiskKeepsTheOlderResultAndSaysSo) {
  TempDir dir;
  SmallDisk disk(dir.Path() / "disk", "2000k");
  if (!disk.Mounted()) GTEST_SKIP() << disk.Why();
  // About 7 s at 8 kHz: 115 kB; converted 1.25 MB; a second 1.25 MB does not fit.
  DtmfSignalOptions o;
  o.levelDb = -12;
  o.gapMs = 2000;
  const std::string source = (dir.Path() / "disk" / "x.wav").string();
  WriteDtmfWave(source, "2580", o);
  const std::string older = (dir.Path() / "disk" / "x_acm_norm.wav").string();
  test::WriteAll(older, Bytes{'o', 'l', 'd'});
  auto r = RunProcess(kDecoder, {"--detector", "described", "--keep", source});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("full"), std::string::npos) << r.err;
  EXPECT_EQ(test::ReadAll(older), (Bytes{'o', 'l', 'd'}));
  EXPECT_EQ(Tree(dir.Path() / "disk"), (std::set<std::string>{"x.wav", "x_acm_norm.wav"}));
}

TEST(DecodeSafety, MessagesNameTheCause) {
  TempDir dir;
  // A valid 7.5-hour 8 kHz recording (sparse: it takes no room) would pass
  // the 4 GB a wave file can hold once converted.
  const std::string longest = dir.File("night.wav");
  const uint32_t nightBytes = 8000u * 3600u * 15u / 2u;
  test::WriteAll(longest, test::RiffBuilder()
                              .Chunk("fmt ", test::FmtBody(1, 1, 8000, 8))
                              .Chunk("data", {}, nightBytes)
                              .Build());
  fs::resize_file(longest, fs::file_size(longest) + nightBytes);
  auto r = RunProcess(kDecoder, {"--detector", "described", "--keep", longest});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("more than the 4 GB a wave file can hold"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "one line";

  // A recorder that crashed: the data stops short of the size it announced.
  DtmfSignalOptions o;
  WriteDtmfWave(dir.File("whole.wav"), "3690", o);
  Bytes cut = test::ReadAll(dir.File("whole.wav"));
  const std::string text(cut.begin(), cut.end());
  const size_t data = text.find("data");
  ASSERT_NE(data, std::string::npos);
  const uint32_t announced = test::Get32(cut, data + 4);
  ASSERT_EQ(data + 8 + announced, cut.size());
  cut.resize(cut.size() - 400);
  test::WriteAll(dir.File("crashed.wav"), cut);
  r = RunProcess(kDecoder, {"--json", dir.File("crashed.wav")});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("\"keys\": \"3690\""), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"truncated\": true"), std::string::npos) << r.out;
  EXPECT_EQ(r.err, "tonvista-decode: " + dir.File("crashed.wav") + ": warning: truncated: the data chunk announces " +
                       std::to_string(announced) + " bytes, the file holds " + std::to_string(announced - 400) +
                       "; decoded as far as it goes\n");
  r = RunProcess(kDecoder, {"--json", dir.File("whole.wav")});
  EXPECT_EQ(r.out.find("truncated"), std::string::npos);

  // A folder that cannot be written, with --keep.
  SmallDisk disk(dir.Path() / "ro", "1m");
  if (!disk.Mounted()) GTEST_SKIP() << disk.Why();
  const std::string source = (dir.Path() / "ro" / "call.wav").string();
  WriteDtmfWave(source, "1", o);
  ASSERT_TRUE(disk.ReadOnly());
  r = RunProcess(kDecoder, {"--detector", "described", "--keep", source});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, "tonvista-decode: " + source + ": cannot keep the converted files: the folder " +
                       (dir.Path() / "ro").string() + " cannot be written (Read-only file system)\n");
}

}  // namespace
}  // namespace tv
