// Loaded into a program under test with LD_PRELOAD, this makes the disk fail
// under it: reads of the file whose name ends with TONVISTA_FAIL_READ_SUFFIX
// fail with EIO from byte TONVISTA_FAIL_READ_FROM on.
#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

using PreadFunction = ssize_t (*)(int, void*, size_t, off_t);

bool Fails(int fd, size_t count, off_t offset) {
  const char* suffix = std::getenv("TONVISTA_FAIL_READ_SUFFIX");
  if (suffix == nullptr || *suffix == '\0') return false;
  const char* from = std::getenv("TONVISTA_FAIL_READ_FROM");
  const long long start = from != nullptr ? std::atoll(from) : 0;
  if (offset + static_cast<long long>(count) <= start) return false;
  char link[64];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  char path[4096];
  const ssize_t n = readlink(link, path, sizeof path - 1);
  if (n <= 0) return false;
  path[n] = '\0';
  const size_t length = std::strlen(suffix);
  return static_cast<size_t>(n) >= length &&
         std::strcmp(path + static_cast<size_t>(n) - length, suffix) == 0;
}

ssize_t Read(const char* name, int fd, void* buffer, size_t count, off_t offset) {
  if (Fails(fd, count, offset)) {
    errno = EIO;
    return -1;
  }
  auto next = reinterpret_cast<PreadFunction>(dlsym(RTLD_NEXT, name));
  return next(fd, buffer, count, offset);
}

}  // namespace

extern "C" ssize_t pread(int fd, void* buffer, size_t count, off_t offset) {
  return Read("pread", fd, buffer, count, offset);
}

extern "C" ssize_t pread64(int fd, void* buffer, size_t count, off_t offset) {
  return Read("pread64", fd, buffer, count, offset);
}
