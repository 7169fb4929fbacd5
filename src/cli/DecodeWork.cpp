#include "DecodeWork.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <stdexcept>

#include "DtmfConverter.h"
#include "MMErrors.h"

namespace tv {

namespace fs = std::filesystem;

namespace {

// Live work folders, for the signal handler: fixed storage it can read
// without taking a lock or allocating.
constexpr int kSlots = 64;
constexpr size_t kPathMax = 4096;
char gFolders[kSlots][kPathMax];
std::atomic<int> gUsed[kSlots];

int Claim(const std::string& path) {
  if (path.size() >= kPathMax) return -1;
  for (int i = 0; i < kSlots; ++i) {
    int expected = 0;
    if (gUsed[i].compare_exchange_strong(expected, 1)) {
      std::memcpy(gFolders[i], path.c_str(), path.size() + 1);
      gUsed[i].store(2);
      return i;
    }
  }
  return -1;
}

void Release(int slot) {
  if (slot >= 0) gUsed[slot].store(0);
}

// Only async-signal-safe calls: it runs in the signal handler too.
void EmptyFolder(const char* path) {
  const int fd = open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  alignas(8) char buf[8192];
  for (;;) {
    const long n = syscall(SYS_getdents64, fd, buf, sizeof buf);
    if (n <= 0) break;
    bool removed = false;
    for (long at = 0; at < n;) {
      struct Entry {
        uint64_t ino;
        int64_t off;
        unsigned short reclen;
        unsigned char type;
        char name[1];
      };
      const auto* e = reinterpret_cast<const Entry*>(buf + at);
      const char* name = buf + at + offsetof(Entry, name);
      if (!(name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))) {
        if (unlinkat(fd, name, 0) == 0) removed = true;
      }
      at += e->reclen;
    }
    // Removing entries while reading may skip some: read again from the start.
    if (removed) lseek(fd, 0, SEEK_SET);
  }
  close(fd);
}

void OnSignal(int sig) {
  // The interrupted code may still read errno when the signal is deferred.
  const int savedErrno = errno;
  // A file's work folder sits in the run's: two rounds remove both, in
  // whichever order they were listed.
  for (int round = 0; round < 2; ++round) {
    for (int i = 0; i < kSlots; ++i) {
      if (gUsed[i].load() == 2) {
        EmptyFolder(gFolders[i]);
        rmdir(gFolders[i]);
      }
    }
  }
  std::signal(sig, SIG_DFL);
  errno = savedErrno;
  raise(sig);
}

}  // namespace

std::string TemporaryFolder() {
  const char* dir = std::getenv("TMPDIR");
  return dir != nullptr && dir[0] != '\0' ? std::string(dir) : std::string("/tmp");
}

void RemoveWorkFoldersOnSignal() {
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  // The handler must not run twice at once.
  sigaddset(&sa.sa_mask, SIGINT);
  sigaddset(&sa.sa_mask, SIGTERM);
  sigaddset(&sa.sa_mask, SIGHUP);
  sigaddset(&sa.sa_mask, SIGPIPE);
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &sa, nullptr);
  // A reader that went away (a pipe closed early, or the parallel run that
  // started this job killed outright) ends the run at its next write;
  // unless whoever started it asked for write errors instead.
  struct sigaction current {};
  if (sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler != SIG_IGN) {
    sigaction(SIGPIPE, &sa, nullptr);
  }
}

WorkFolder::WorkFolder(const std::string& parent, const std::string& prefix) {
  std::string pattern = (fs::path(parent.empty() ? "." : parent) / (prefix + "XXXXXX")).string();
  // Blocked while the folder is made and listed, so that a signal in
  // between cannot leave it behind.
  sigset_t block, old;
  sigemptyset(&block);
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) sigaddset(&block, sig);
  pthread_sigmask(SIG_BLOCK, &block, &old);
  const bool made = mkdtemp(pattern.data()) != nullptr;
  const int cause = errno;
  if (made) slot_ = Claim(pattern);
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  if (!made) {
    throw std::runtime_error("cannot create a folder in " + parent + ": " + std::strerror(cause));
  }
  path_ = pattern;
}

WorkFolder::~WorkFolder() {
  Empty();
  rmdir(path_.c_str());
  Release(slot_);
}

void WorkFolder::Empty() { EmptyFolder(path_.c_str()); }

DecodeWork::DecodeWork(std::string source, bool keep, const WorkFolder* shared)
    : source_(std::move(source)), keep_(keep), shared_(shared) {}

DecodeWork::~DecodeWork() = default;

std::string DecodeWork::Prepare(DtmfConverter& converter) {
  std::string parent;
  if (keep_ || shared_ == nullptr) {
    const fs::path dir = fs::path(source_).parent_path();
    parent = dir.empty() ? std::string(".") : dir.string();
  } else {
    parent = shared_->Path();
  }
  try {
    own_ = std::make_unique<WorkFolder>(parent, keep_ ? ".tonvista-decode-" : "f");
  } catch (const std::runtime_error&) {
    const std::string why = WriteProblem((fs::path(parent) / "x").string(), 0);
    if (keep_ && !why.empty()) throw std::runtime_error("cannot keep the converted files: " + why);
    throw;
  }
  converter.SetOutputFolder(own_->Path());
  try {
    converted_ = converter.ConvertForDtmf(source_);
    if (converted_.empty()) throw std::runtime_error("not a format we can decode");
    normalized_ = converter.NormalizeFile(converted_);
  } catch (const std::exception& e) {
    // The work folder is ours: a message names the folder the user knows.
    std::string message = e.what();
    for (size_t at; (at = message.find(own_->Path())) != std::string::npos;) {
      message.replace(at, own_->Path().size(), parent);
    }
    throw std::runtime_error(message);
  }
  if (normalized_ == converted_) normalized_.clear();
  return normalized_.empty() ? converted_ : normalized_;
}

void DecodeWork::Keep() {
  if (!keep_ || own_ == nullptr) return;
  // The converter named them as they are to be named beside the source.
  const fs::path dir = fs::path(source_).parent_path();
  const std::string finalConverted = (dir / fs::path(converted_).filename()).string();
  const std::string finalNormalized =
      normalized_.empty() ? std::string() : (dir / fs::path(normalized_).filename()).string();
  // rename replaces an older result in one step; a run beside us that
  // finished first is replaced by an equal file.
  const std::pair<const std::string*, const std::string*> moves[] = {
      {&converted_, &finalConverted}, {&normalized_, &finalNormalized}};
  for (const auto& [from, to] : moves) {
    if (from->empty()) continue;
    std::error_code ec;
    fs::rename(*from, *to, ec);
    if (ec) throw std::runtime_error("cannot write " + *to + ": " + ec.message());
  }
}

}  // namespace tv
