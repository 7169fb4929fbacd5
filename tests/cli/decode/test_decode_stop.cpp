// A parallel run stopped by a signal: the jobs it started end with it, and
// none leaves its private temporary folder behind.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "DecoderChild.h"
#include "TestFiles.h"

namespace tv {
namespace {

namespace fs = std::filesystem;
using test::TempDir;
using Clock = std::chrono::steady_clock;

// The state letter and parent of a process; false when it is gone.
bool ProcessState(pid_t pid, char& state, pid_t& parent) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(in, line)) return false;
  const size_t close = line.rfind(')');  // the command name may hold anything
  if (close == std::string::npos || close + 4 > line.size()) return false;
  state = line[close + 2];
  parent = static_cast<pid_t>(std::stol(line.substr(close + 4)));
  return true;
}

bool Alive(pid_t pid) {
  char state = 0;
  pid_t parent = 0;
  return ProcessState(pid, state, parent) && state != 'Z' && state != 'X';
}

std::set<pid_t> ChildrenOf(pid_t pid) {
  std::set<pid_t> children;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator("/proc", ec)) {
    const std::string name = e.path().filename().string();
    if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
    char state = 0;
    pid_t parent = 0;
    const auto child = static_cast<pid_t>(std::stol(name));
    if (ProcessState(child, state, parent) && parent == pid && state != 'Z') children.insert(child);
  }
  return children;
}

bool WaitUntil(const std::function<bool()>& done, std::chrono::seconds limit) {
  const auto end = Clock::now() + limit;
  while (!done()) {
    if (Clock::now() > end) return false;
    usleep(2000);  // polling another process's state: there is nothing to wait on
  }
  return true;
}

// What a folder holds at its top; files may go while it is read.
std::set<std::string> Entries(const fs::path& dir) {
  for (;;) {
    std::set<std::string> names;
    std::error_code ec;
    fs::directory_iterator it(dir, ec), end;
    for (; !ec && it != end; it.increment(ec)) names.insert(it->path().filename().string());
    if (!ec) return names;
  }
}

// Five minutes of mu-law: it goes through files in the job's private
// temporary folder, which takes a while.
void WriteLongMuLawRecording(const std::string& file) {
  test::Bytes data(8000 * 300);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(0xE0 + i % 32);
  test::WriteAll(file, test::RiffBuilder()
                           .Chunk("fmt ", test::FmtBody(7, 1, 8000, 8))
                           .Chunk("data", data)
                           .Build());
}

// Four of them, two at a time.
std::vector<std::string> LongRun(const TempDir& dir) {
  std::vector<std::string> args = {"-j", "2", "--detector", "described"};
  for (int i = 0; i < 4; ++i) {
    const std::string file = dir.File("call" + std::to_string(i) + ".wav");
    WriteLongMuLawRecording(file);
    args.push_back(file);
  }
  return args;
}

// Starts the run and waits until both its jobs are at work, each with its
// private folder made; answers the run, or 0 when that was not seen.
pid_t StartAtWork(const std::vector<std::string>& args, const TempDir& tmp, std::set<pid_t>& jobs) {
  const pid_t run = test::SpawnDecoder(args, {"TMPDIR=" + tmp.Path().string()});
  if (run <= 0) return 0;
  const bool working = WaitUntil(
      [&] {
        jobs = ChildrenOf(run);
        return jobs.size() == 2 && Entries(tmp.Path()).size() >= 2;
      },
      std::chrono::seconds(120));
  if (working) return run;
  kill(run, SIGKILL);
  waitpid(run, nullptr, 0);
  return 0;
}

// Whether `sig` waits to be delivered to the process.
bool SignalPending(pid_t pid, int sig) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  uint64_t pending = 0;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("SigPnd:", 0) == 0 || line.rfind("ShdPnd:", 0) == 0) {
      pending |= std::stoull(line.substr(7), nullptr, 16);
    }
  }
  return (pending >> (sig - 1) & 1) != 0;
}

bool Stopped(pid_t pid) {
  char state = 0;
  pid_t parent = 0;
  return ProcessState(pid, state, parent) && (state == 'T' || state == 't');
}

bool NoneAlive(const std::set<pid_t>& jobs) {
  for (pid_t j : jobs) {
    if (Alive(j)) return false;
  }
  return true;
}

// Leaves nothing running for the next case.
void EndAll(const std::set<pid_t>& jobs) {
  for (pid_t j : jobs) {
    if (Alive(j)) kill(j, SIGKILL);
  }
}

TEST(DecodeStop, ASignalToAParallelRunEndsEveryJobAndLeavesNoTemporaryFolder) {
  TempDir dir;
  const std::vector<std::string> args = LongRun(dir);
  for (int sig : {SIGTERM, SIGINT}) {
    SCOPED_TRACE("signal " + std::to_string(sig));
    TempDir tmp;
    std::set<pid_t> jobs;
    const pid_t run = StartAtWork(args, tmp, jobs);
    ASSERT_GT(run, 0) << "the jobs were not seen at work";
    // Held still, a job keeps what it is sent: so it can be seen that the
    // stop reached every job, and did not just leave them to end of their
    // own accord.
    for (pid_t j : jobs) kill(j, SIGSTOP);
    EXPECT_TRUE(WaitUntil(
        [&] {
          return std::all_of(jobs.begin(), jobs.end(), [](pid_t j) { return Stopped(j) || !Alive(j); });
        },
        std::chrono::seconds(10)));
    // A job that finished its file in the very moment is not asked about.
    std::erase_if(jobs, [](pid_t j) { return !Alive(j); });
    ASSERT_FALSE(jobs.empty());
    const auto sent = Clock::now();
    ASSERT_EQ(kill(run, sig), 0);
    int status = 0;
    const bool ended =
        WaitUntil([&] { return waitpid(run, &status, WNOHANG) == run; }, std::chrono::seconds(20));
    if (!ended) {
      kill(run, SIGKILL);
      waitpid(run, &status, 0);
    }
    ASSERT_TRUE(ended) << "the run went on after the signal";
    EXPECT_LT(Clock::now() - sent, std::chrono::seconds(5));
    EXPECT_TRUE(WIFSIGNALED(status) || (WIFEXITED(status) && WEXITSTATUS(status) != 0)) << status;
    for (pid_t j : jobs) {
      EXPECT_TRUE(SignalPending(j, SIGTERM)) << "job " << j;
      kill(j, SIGCONT);
    }
    // The jobs go at once, taking their folders with them.
    EXPECT_TRUE(WaitUntil([&] { return NoneAlive(jobs); }, std::chrono::seconds(5)));
    EndAll(jobs);
    EXPECT_EQ(Entries(tmp.Path()), std::set<std::string>{});
  }
}

TEST(DecodeStop, JobsOfARunKilledOutrightEndAtTheirNextWriteAndLeaveNoFolder) {
  TempDir dir;
  const std::vector<std::string> args = LongRun(dir);
  TempDir tmp;
  std::set<pid_t> jobs;
  const pid_t run = StartAtWork(args, tmp, jobs);
  ASSERT_GT(run, 0) << "the jobs were not seen at work";
  // Nothing can pass this on: each job learns of it when it writes its
  // result and finds no reader.
  ASSERT_EQ(kill(run, SIGKILL), 0);
  waitpid(run, nullptr, 0);
  EXPECT_TRUE(WaitUntil([&] { return NoneAlive(jobs); }, std::chrono::seconds(120)));
  EndAll(jobs);
  EXPECT_EQ(Entries(tmp.Path()), std::set<std::string>{});
}

}  // namespace
}  // namespace tv
