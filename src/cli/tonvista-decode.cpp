// tonvista-decode: finds the DTMF keys in wave files from the command line,
// with the strict detector on the file as it is, or along the desktop
// program's own road: convert to 16-bit stereo 44100 Hz, normalise, scan.
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include <algorithm>
#include <deque>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "DecodeInput.h"
#include "DecodeWork.h"
#include "DtmfConverter.h"
#include "DtmfScanner.h"
#include "MMDispatch.h"
#include "MMErrors.h"
#include "TMMPeakDetect.h"
#include "TMMWave.h"
#include "WaveNames.h"
#include "TonvistaVersion.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

void Usage(FILE* out) {
  std::fprintf(out,
               "Usage: tonvista-decode [options] FILE...\n"
               "Finds the DTMF keys in wave files and prints \"FILE: KEYS\" for each.\n"
               "\n"
               "Two detectors:\n"
               "  strict     (the default) holds tones to the telephone receiver limits:\n"
               "             frequency, duration, pause, twist and signal-to-noise, and\n"
               "             ignores speech and music; reads each file as it is\n"
               "  described  the Tonvista desktop program's decoder, with its result:\n"
               "             each file is converted to 16-bit stereo PCM at 44100 Hz,\n"
               "             normalised to full scale and scanned\n"
               "\n"
               "Options:\n"
               "  --detector strict|described\n"
               "                 the detector (default strict)\n"
               "  --threshold N  the described detector's threshold, 50..525 (default 50,\n"
               "                 as the desktop program starts); higher values ignore\n"
               "                 weaker tones. Given alone it selects the described detector\n"
               "  --channel left|right|mix|each\n"
               "                 which channel of a stereo file to decode (default mix);\n"
               "                 each decodes every channel on its own and prints one line\n"
               "                 per channel, \"FILE (left): KEYS\", or labels every key in\n"
               "                 JSON\n"
               "  --json         JSON Lines: one object per file with the file, its keys,\n"
               "                 and for every key its position in milliseconds (the strict\n"
               "                 detector: the tone's start and end, channel, level in dBFS,\n"
               "                 twist and measured frequencies; the described one: the\n"
               "                 start of the scan buffer that reported it)\n"
               "  -j N, --jobs N decode N files at a time (default: the number of\n"
               "                 processors); the output keeps the order of the files\n"
               "  --files-from F read further file names from F, one a line (- reads\n"
               "                 standard input)\n"
               "  --keep         with the described detector, keep the converted (\"_acm\")\n"
               "                 and normalised (\"_norm\") files beside each source, as\n"
               "                 the desktop program does; without it they go to a private\n"
               "                 temporary folder that is removed\n"
               "  --help         show this help and exit\n"
               "  --version      show the version and exit\n"
               "\n"
               "Exit status: 0 when every file decoded, 1 when a file could not be\n"
               "decoded (the reason goes to standard error; the other files are still\n"
               "decoded), 2 for a usage error.\n");
}

std::string JsonString(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

// Why a file cannot be decoded, or nothing when it looks decodable. A wave
// file whose data stops short of its announced size (a recorder that
// crashed) is decoded as far as it goes: `truncated` then says how short.
std::optional<std::string> CheckInput(const std::string& file, std::string& truncated) {
  struct stat st {};
  if (stat(file.c_str(), &st) != 0) {
    return errno == ENOENT ? "no such file" : std::string("cannot be read: ") + std::strerror(errno);
  }
  if (S_ISDIR(st.st_mode)) return "is a folder, not a wave file";
  if (!S_ISREG(st.st_mode)) return "is not a regular file";
  if (access(file.c_str(), R_OK) != 0) {
    return std::string("cannot be read: ") + std::strerror(errno);
  }
  tv::WaveFileInfo info;
  const bool wave = tv::ScanWaveFile(file, info) == 0 && info.Format;
  if (auto why = tv::DecodableAudioProblem(file)) {
    if (!wave && tv::FileExtension(file).size() == 4 && strcasecmp(tv::FileExtension(file).c_str(), ".wav") == 0) {
      return "not a wave file";
    }
    const tv::WAVEFORMATEX* f = wave ? info.Format.get() : nullptr;
    if (f != nullptr && f->wFormatTag == tv::WAVE_FORMAT_PCM && !tv::PcmFormatSupported(f)) {
      return "unsupported PCM format (" + std::to_string(f->wBitsPerSample) + " bits, " +
             std::to_string(f->nChannels) + " channels, " + std::to_string(f->nSamplesPerSec) +
             " Hz); 8 or 16 bits, 1, 2 or 4 channels, 4000..100000 Hz are supported";
    }
    return why;
  }
  if (!wave) return std::nullopt;  // MP3, FLAC, Ogg: their readers judge them
  const int64_t claimed = info.ckData.cksize;
  const int64_t available = int64_t{st.st_size} - info.ckData.dwDataOffset;
  if (info.dwDataBytes <= 0) return "holds no audio data";
  // 0 and 0xFFFFFFFF are what unfinished or streaming writers leave.
  if (claimed != 0 && claimed != 0xFFFFFFFF && claimed > available) {
    truncated = "truncated: the data chunk announces " + std::to_string(claimed) +
                " bytes, the file holds " + std::to_string(available < 0 ? 0 : available) +
                "; decoded as far as it goes";
  }
  return std::nullopt;
}

struct Options {
  tv::DtmfDetectorKind detector = tv::DtmfDetectorKind::Strict;
  bool detectorGiven = false;
  int threshold = 50;
  bool thresholdGiven = false;
  tv::DtmfChannelChoice channel = tv::DtmfChannelChoice::Mix;
  int jobs = 0;  // 0: one per processor
  bool json = false;
  bool keep = false;
  std::vector<std::string> files;
};

// Reads file names, one a line, from `from` ("-": standard input).
bool ReadFileList(const std::string& from, std::vector<std::string>& files) {
  std::ifstream file;
  std::istream* in = &std::cin;
  if (from != "-") {
    file.open(from);
    if (!file) {
      std::fprintf(stderr, "tonvista-decode: cannot read the file list %s: %s\n", from.c_str(),
                   std::strerror(errno));
      return false;
    }
    in = &file;
  }
  std::string line;
  while (std::getline(*in, line)) {
    if (!line.empty()) files.push_back(line);
  }
  if (in->bad()) {
    std::fprintf(stderr, "tonvista-decode: the file list %s could not be read to its end\n", from.c_str());
    return false;
  }
  return true;
}

// Answers the exit status for a usage error, or -1 to go on.
int ParseArguments(int argc, char** argv, Options& o) {
  bool filesOnly = false;
  std::vector<std::string> lists;
  // The value of an option given as "--name value" or "--name=value".
  auto valueOf = [&](int& i, const std::string& a, const std::string& name, std::string& value) {
    if (a == name) {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "tonvista-decode: %s needs a value (try --help)\n", name.c_str());
        return false;
      }
      value = argv[++i];
    } else {
      value = a.substr(name.size() + 1);
    }
    return true;
  };
  auto is = [](const std::string& a, const std::string& name) {
    return a == name || a.rfind(name + "=", 0) == 0;
  };
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    std::string value;
    if (filesOnly || a.empty() || a[0] != '-' || a == "-") {
      o.files.push_back(a);
    } else if (a == "--") {
      filesOnly = true;
    } else if (a == "--help" || a == "-h") {
      Usage(stdout);
      return 0;
    } else if (a == "--version") {
      std::printf("tonvista-decode %s\n", TONVISTA_VERSION);
      return 0;
    } else if (a == "--json") {
      o.json = true;
    } else if (a == "--keep") {
      o.keep = true;
    } else if (is(a, "--threshold")) {
      if (!valueOf(i, a, "--threshold", value)) return 2;
      char* end = nullptr;
      errno = 0;
      const long n = std::strtol(value.c_str(), &end, 10);
      if (value.empty() || *end != '\0' || errno != 0 || n < 50 || n > 525) {
        std::fprintf(stderr, "tonvista-decode: threshold must be a whole number from 50 to 525, not \"%s\"\n",
                     value.c_str());
        return 2;
      }
      o.threshold = static_cast<int>(n);
      o.thresholdGiven = true;
    } else if (is(a, "--detector")) {
      if (!valueOf(i, a, "--detector", value)) return 2;
      if (!tv::ParseDtmfDetectorKind(value, o.detector)) {
        std::fprintf(stderr, "tonvista-decode: --detector takes strict or described, not \"%s\"\n",
                     value.c_str());
        return 2;
      }
      o.detectorGiven = true;
    } else if (is(a, "--channel")) {
      if (!valueOf(i, a, "--channel", value)) return 2;
      if (!tv::ParseDtmfChannelChoice(value, o.channel)) {
        std::fprintf(stderr, "tonvista-decode: --channel takes left, right, mix or each, not \"%s\"\n",
                     value.c_str());
        return 2;
      }
    } else if (a == "-j" || is(a, "--jobs") || (a.size() > 2 && a.rfind("-j", 0) == 0)) {
      if (a == "-j" || a == "--jobs") {
        if (i + 1 >= argc) {
          std::fprintf(stderr, "tonvista-decode: %s needs a number of jobs\n", a.c_str());
          return 2;
        }
        value = argv[++i];
      } else {
        value = a.rfind("--jobs=", 0) == 0 ? a.substr(7) : a.substr(2);
      }
      char* end = nullptr;
      errno = 0;
      const long n = std::strtol(value.c_str(), &end, 10);
      if (value.empty() || *end != '\0' || errno != 0 || n < 1 || n > 1024) {
        std::fprintf(stderr, "tonvista-decode: the number of jobs must be a whole number from 1 to 1024, not \"%s\"\n",
                     value.c_str());
        return 2;
      }
      o.jobs = static_cast<int>(n);
    } else if (is(a, "--files-from")) {
      if (!valueOf(i, a, "--files-from", value)) return 2;
      lists.push_back(value);
    } else {
      std::fprintf(stderr, "tonvista-decode: unknown option %s (try --help)\n", a.c_str());
      return 2;
    }
  }
  if (o.thresholdGiven) {
    if (o.detectorGiven && o.detector != tv::DtmfDetectorKind::Described) {
      std::fprintf(stderr, "tonvista-decode: --threshold belongs to --detector described\n");
      return 2;
    }
    o.detector = tv::DtmfDetectorKind::Described;
  }
  for (const std::string& list : lists) {
    if (!ReadFileList(list, o.files)) return 2;
  }
  if (o.files.empty()) {
    std::fprintf(stderr, "tonvista-decode: no wave file given (try --help)\n");
    return 2;
  }
  if (o.jobs == 0) o.jobs = static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 1024u));
  return -1;
}

std::string JsonNumber(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f", v);
  return buf;
}

// "FILE: KEYS" lines (one per channel for --channel each on a stereo file),
// or one JSON object.
std::string FormatResult(const std::string& file, const std::string& problem, const tv::ScanResult& result,
                         const Options& options, bool perChannel, bool truncated) {
  if (!problem.empty()) {
    return options.json ? "{\"file\": " + JsonString(file) + ", \"error\": " + JsonString(problem) + "}\n"
                        : std::string();
  }
  if (options.json) {
    std::string keys;
    for (size_t i = 0; i < result.events.size(); ++i) {
      const tv::ScanKey& k = result.events[i];
      if (i > 0) keys += ", ";
      keys += "{\"key\": " + JsonString(k.key) + ", \"ms\": " + std::to_string(k.positionMs);
      if (k.strict) {
        keys += ", \"end_ms\": " + std::to_string(std::llround(k.endMs)) +
                ", \"channel\": " + JsonString(k.channelName) + ", \"level_dbfs\": " + JsonNumber(k.levelDb) +
                ", \"twist_db\": " + JsonNumber(k.twistDb) + ", \"low_hz\": " + JsonNumber(k.lowHz) +
                ", \"high_hz\": " + JsonNumber(k.highHz);
      } else if (!k.channelName.empty()) {
        keys += ", \"channel\": " + JsonString(k.channelName);
      }
      keys += "}";
    }
    std::string line = "{\"file\": " + JsonString(file) + ", \"keys\": " + JsonString(result.keys) +
                       ", \"positions\": [" + keys + "]";
    if (truncated) line += ", \"truncated\": true";
    if (options.detector == tv::DtmfDetectorKind::Strict) line += ", \"detector\": \"strict\"";
    return line + "}\n";
  }
  if (!perChannel) return file + ": " + result.keys + "\n";
  std::string left, right;
  for (const tv::ScanKey& k : result.events) (k.channel == 1 ? right : left) += k.key;
  return file + " (left): " + left + "\n" + file + " (right): " + right + "\n";
}

// The described scan of a file, converted and normalised in memory, or of
// the converted file (`converted`); --channel each scans it once per
// channel.
tv::ScanResult ScanDescribed(tv::DtmfScanner& scanner, const std::string& file, const Options& options,
                             bool perChannel, bool converted) {
  auto scanChannel = [&](tv::TMMChannel channel) {
    scanner.PeakDetect().SetChannel(channel);
    return converted ? scanner.Scan(file) : scanner.ScanConvertedInMemory(file);
  };
  switch (options.channel) {
    case tv::DtmfChannelChoice::Left: return scanChannel(tv::chLeft);
    case tv::DtmfChannelChoice::Right: return scanChannel(tv::chRight);
    case tv::DtmfChannelChoice::Mix: return scanChannel(tv::chBoth);
    case tv::DtmfChannelChoice::Each: break;
  }
  if (!perChannel) return scanChannel(tv::chBoth);
  tv::ScanResult both = scanChannel(tv::chLeft);
  for (auto& k : both.events) k.channelName = "left";
  tv::ScanResult right = scanChannel(tv::chRight);
  for (auto& k : right.events) {
    k.channel = 1;
    k.channelName = "right";
  }
  both.events.insert(both.events.end(), right.events.begin(), right.events.end());
  std::stable_sort(both.events.begin(), both.events.end(),
                   [](const tv::ScanKey& a, const tv::ScanKey& b) { return a.positionMs < b.positionMs; });
  both.keys.clear();
  for (const auto& k : both.events) both.keys += k.key;
  return both;
}

// True when --channel each has two channels of the source to tell apart.
bool DecodesEachChannel(const std::string& file, const Options& options) {
  if (options.channel != tv::DtmfChannelChoice::Each) return false;
  tv::WaveFileInfo info;
  return tv::ScanWaveFile(file, info) == 0 && info.Format && info.Format->nChannels == 2;
}

// The jobs running, so that a signal that ends this run ends them too
// (each removes its own temporary files).
constexpr size_t kMaxJobs = 1024;
volatile pid_t gJobs[kMaxJobs] = {};

void OnParallelSignal(int sig) {
  for (auto& pid : gJobs) {
    if (pid > 0) kill(pid, SIGTERM);
  }
  std::signal(sig, SIG_DFL);
  std::raise(sig);
}

// Decodes the files N at a time, each in a child run of this program with
// -j 1, and prints what each printed in the order of the files.
int RunParallel(const Options& options, const char* self) {
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) std::signal(sig, OnParallelSignal);
  // A reader that goes away ends the run here, not as a write error.
  std::signal(SIGPIPE, SIG_DFL);
  std::vector<std::string> common = {self};
  common.push_back(std::string("--detector=") + tv::DtmfDetectorKindName(options.detector));
  common.push_back(std::string("--channel=") + tv::DtmfChannelChoiceName(options.channel));
  if (options.detector == tv::DtmfDetectorKind::Described) {
    common.push_back("--threshold=" + std::to_string(options.threshold));
  }
  if (options.json) common.push_back("--json");
  if (options.keep) common.push_back("--keep");
  common.push_back("-j1");
  common.push_back("--");

  struct Job {
    size_t index = 0;
    pid_t pid = -1;
    int out = -1, err = -1;
    std::string outText, errText;
    int status = 0;
    bool done = false;
  };
  std::deque<Job> jobs;  // started and not yet printed, in file order
  size_t next = 0;
  int status = 0;
  auto launch = [&](size_t index) {
    int outPipe[2], errPipe[2];
    Job job;
    job.index = index;
    if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0) {
      job.errText = std::string("tonvista-decode: cannot start a job: ") + std::strerror(errno) + "\n";
      job.status = 1;
      job.done = true;
      jobs.push_back(std::move(job));
      return;
    }
    std::vector<std::string> args = common;
    args.push_back(options.files[index]);
    std::vector<char*> argvv;
    for (auto& a : args) argvv.push_back(a.data());
    argvv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    // A stop signal waits until the new job is on the list, so that the
    // handler ends it too; the job itself starts with the usual mask.
    sigset_t stops, before;
    sigemptyset(&stops);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&stops, sig);
    sigprocmask(SIG_BLOCK, &stops, &before);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setsigmask(&attributes, &before);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
    const int rc = posix_spawn(&job.pid, "/proc/self/exe", &actions, &attributes, argvv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (rc == 0) {
      for (auto& slot : gJobs) {
        if (slot == 0) {
          slot = job.pid;
          break;
        }
      }
    }
    sigprocmask(SIG_SETMASK, &before, nullptr);
    close(outPipe[1]);
    close(errPipe[1]);
    if (rc != 0) {
      close(outPipe[0]);
      close(errPipe[0]);
      job.errText = std::string("tonvista-decode: cannot start a job: ") + std::strerror(rc) + "\n";
      job.status = 1;
      job.done = true;
    } else {
      job.out = outPipe[0];
      job.err = errPipe[0];
    }
    jobs.push_back(std::move(job));
  };
  auto running = [&] {
    return static_cast<int>(std::count_if(jobs.begin(), jobs.end(), [](const Job& j) { return !j.done; }));
  };
  while (next < options.files.size() || !jobs.empty()) {
    while (next < options.files.size() && running() < options.jobs) launch(next++);
    // Print every finished job whose predecessors are printed.
    while (!jobs.empty() && jobs.front().done) {
      Job& j = jobs.front();
      std::fwrite(j.outText.data(), 1, j.outText.size(), stdout);
      std::fflush(stdout);
      std::fwrite(j.errText.data(), 1, j.errText.size(), stderr);
      status = std::max(status, j.status);
      jobs.pop_front();
    }
    if (running() == 0) continue;
    std::vector<pollfd> fds;
    std::vector<std::pair<Job*, bool>> owners;  // the job, and whether the fd is its stdout
    for (Job& j : jobs) {
      if (j.out >= 0) {
        fds.push_back({j.out, POLLIN, 0});
        owners.emplace_back(&j, true);
      }
      if (j.err >= 0) {
        fds.push_back({j.err, POLLIN, 0});
        owners.emplace_back(&j, false);
      }
    }
    if (poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR) break;
    for (size_t f = 0; f < fds.size(); ++f) {
      if (fds[f].revents == 0) continue;
      auto [job, isOut] = owners[f];
      char buf[65536];
      const ssize_t n = read(fds[f].fd, buf, sizeof buf);
      if (n > 0) {
        (isOut ? job->outText : job->errText).append(buf, static_cast<size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        close(fds[f].fd);
        (isOut ? job->out : job->err) = -1;
      }
    }
    for (Job& j : jobs) {
      if (j.done || j.out >= 0 || j.err >= 0) continue;
      // Off the list before it is reaped: a signal handler must never
      // reach a number that the system may give to another process.
      for (auto& slot : gJobs) {
        if (slot == j.pid) slot = 0;
      }
      int ws = 0;
      while (waitpid(j.pid, &ws, 0) < 0 && errno == EINTR) {
      }
      if (WIFEXITED(ws)) {
        j.status = WEXITSTATUS(ws);
      } else {
        j.status = 1;
        j.errText += "tonvista-decode: " + options.files[j.index] + ": stopped by signal " +
                     std::to_string(WIFSIGNALED(ws) ? WTERMSIG(ws) : 0) + "\n";
      }
      j.done = true;
    }
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (const int status = ParseArguments(argc, argv, options); status >= 0) return status;
  if (options.jobs > 1 && options.files.size() > 1) return RunParallel(options, argv[0]);

  tv::LoopDispatcher loop;
  tv::SetMainDispatcher(&loop);
  tv::SetApplicationErrorHandler([](const std::string& message) {
    std::fprintf(stderr, "tonvista-decode: %s\n", tv::OneLineMessage(message).c_str());
  });

  tv::RemoveWorkFoldersOnSignal();
  std::unique_ptr<tv::WorkFolder> tempDir;
  if (!options.keep) {
    try {
      tempDir = std::make_unique<tv::WorkFolder>(tv::TemporaryFolder(), "tonvista-decode-");
    } catch (const std::exception& e) {
      const char* set = std::getenv("TMPDIR");
      std::fprintf(stderr, "tonvista-decode: no temporary folder: %s%s\n", e.what(),
                   set != nullptr && set[0] != '\0' ? " (named by TMPDIR)" : "");
      return 1;
    }
  }

  int status = 0;
  tv::DtmfScanner scanner;
  scanner.SetThreshold(options.threshold);
  scanner.SetPaced(false);
  scanner.SetDetector(options.detector);
  scanner.SetDecisionBinsOnly(true);
  tv::StrictDtmfOptions strict;
  strict.channel = options.channel;
  scanner.SetStrictOptions(strict);
  for (const std::string& file : options.files) {
    std::string problem;
    std::string truncated;
    tv::ScanResult result;
    const bool perChannel = DecodesEachChannel(file, options);
    if (auto why = CheckInput(file, truncated)) {
      problem = *why;
    } else {
      if (!truncated.empty()) {
        std::fprintf(stderr, "tonvista-decode: %s: warning: %s\n", file.c_str(), truncated.c_str());
      }
      try {
        const bool plain = tv::IsPlainPcmWave(file);
        if (options.detector == tv::DtmfDetectorKind::Strict && plain) {
          // Any rate and width as it is: nothing to convert.
          result = scanner.Scan(file);
        } else if (options.detector == tv::DtmfDetectorKind::Described && !options.keep && plain) {
          // No file needs to be written: the conversion runs in memory.
          result = ScanDescribed(scanner, file, options, perChannel, false);
        } else {
          tv::DtmfConverter converter;
          tv::DecodeWork work(file, options.keep, tempDir.get());
          // Other codecs, and --keep, go through files in a private work folder.
          const std::string prepared = work.Prepare(converter);
          result = options.detector == tv::DtmfDetectorKind::Strict
                       ? scanner.Scan(prepared)
                       : ScanDescribed(scanner, prepared, options, perChannel, true);
          if (!result.error) work.Keep();
        }
      } catch (const std::exception& e) {
        problem = tv::OneLineMessage(e.what());
      }
    }
    if (!problem.empty()) {
      status = 1;
      std::fprintf(stderr, "tonvista-decode: %s: %s\n", file.c_str(), problem.c_str());
    }
    const std::string text = FormatResult(file, problem, result, options, perChannel, !truncated.empty());
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
  }
  tempDir.reset();
  tv::SetMainDispatcher(nullptr);
  return status;
}
