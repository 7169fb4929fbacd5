#include "MMWaveIO.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <mutex>
#include <new>

#include "MMByteOrder.h"

namespace tv {

namespace {

std::mutex gDiskFreeLock;
TMMDiskFreeFunc gDiskFree;

}  // namespace

std::string ExpandFileName(const std::string& name) {
  if (name.empty()) return {};
  std::error_code ec;
  std::filesystem::path full = std::filesystem::absolute(name, ec);
  if (ec) return name;
  return full.lexically_normal().string();
}

std::filesystem::path FolderOfFile(const std::string& name) {
  std::filesystem::path dir = std::filesystem::path(name).parent_path();
  return dir.empty() ? std::filesystem::path(".") : dir;
}

void SetDiskFreeFunction(TMMDiskFreeFunc func) {
  std::lock_guard lock(gDiskFreeLock);
  gDiskFree = std::move(func);
}

int64_t DiskFree(const std::filesystem::path& path) {
  {
    std::lock_guard lock(gDiskFreeLock);
    if (gDiskFree) return gDiskFree(path);
  }
  std::error_code ec;
  const std::filesystem::space_info s = std::filesystem::space(path, ec);
  // A file system that cannot tell is not taken for a full one.
  if (ec) return std::numeric_limits<int64_t>::max();
  return static_cast<int64_t>(std::min<uintmax_t>(s.available, std::numeric_limits<int64_t>::max()));
}

std::string FourCCText(uint32_t id) {
  std::string s(4, ' ');
  for (int i = 0; i < 4; ++i) s[static_cast<size_t>(i)] = static_cast<char>((id >> (8 * i)) & 0xFF);
  return s;
}

TMMWaveIO::~TMMWaveIO() {
  // Whoever needs to know that the last bytes reached the disk closes the
  // file first and checks; here there is nobody left to tell.
  (void)Close();
}

bool TMMWaveIO::Open(const std::string& name, TOpenMode mode) {
  // A file still open here was given up by its user; only the new one counts.
  (void)Close();
  int flags = O_CLOEXEC;
  switch (mode) {
    case omRead: flags |= O_RDONLY; break;
    case omReadWrite: flags |= O_RDWR; break;
    case omCreate: flags |= O_RDWR | O_CREAT | O_EXCL; break;
  }
  const int fd = ::open(name.c_str(), flags, 0666);
  if (fd < 0) return false;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    errno = EINVAL;
    return false;
  }
  if (buffer_.empty()) {
    try {
      buffer_.resize(kDefaultBuffer);
    } catch (const std::bad_alloc&) {
      ::close(fd);
      return false;
    }
  }
  fd_ = fd;
  writable_ = mode != omRead;
  fileSize_ = st.st_size;
  bufStart_ = bufLen_ = dirtyLo_ = dirtyHi_ = 0;
  pos_ = 0;
  writeFailedAt_ = -1;
  return true;
}

bool TMMWaveIO::Close() {
  if (fd_ < 0) return true;
  const bool flushed = FlushBuffer();
  const bool closed = ::close(fd_) == 0;
  fd_ = -1;
  writable_ = false;
  bufLen_ = 0;
  return flushed && closed && writeFailedAt_ < 0;
}

bool TMMWaveIO::SetBuffer(int32_t size) {
  if (size <= 0) return false;
  if (!FlushBuffer()) return false;
  bufLen_ = 0;
  try {
    std::vector<uint8_t> fresh(static_cast<size_t>(size));
    buffer_.swap(fresh);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

int64_t TMMWaveIO::ReadAt(int64_t offset, void* dest, int64_t count) {
  auto* out = static_cast<uint8_t*>(dest);
  int64_t done = 0;
  while (done < count) {
    const ssize_t n = ::pread(fd_, out + done, static_cast<size_t>(count - done), offset + done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return done > 0 ? done : -1;
    }
    if (n == 0) break;
    done += n;
  }
  return done;
}

bool TMMWaveIO::WriteAt(int64_t offset, const void* source, int64_t count) {
  const auto* in = static_cast<const uint8_t*>(source);
  int64_t done = 0;
  while (done < count) {
    const ssize_t n = ::pwrite(fd_, in + done, static_cast<size_t>(count - done), offset + done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int64_t failed = offset + done;
      if (writeFailedAt_ < 0 || failed < writeFailedAt_) writeFailedAt_ = failed;
      fileSize_ = std::max(fileSize_, failed);
      return false;
    }
    done += n;
  }
  fileSize_ = std::max(fileSize_, offset + count);
  return true;
}

bool TMMWaveIO::FlushBuffer() {
  if (fd_ < 0 || dirtyHi_ <= dirtyLo_) return true;
  const bool ok = WriteAt(bufStart_ + dirtyLo_, buffer_.data() + dirtyLo_, dirtyHi_ - dirtyLo_);
  dirtyLo_ = dirtyHi_ = 0;
  // Bytes that did not reach the disk must not be read back from here.
  if (!ok) bufLen_ = 0;
  return ok;
}

bool TMMWaveIO::Flush() { return FlushBuffer() && writeFailedAt_ < 0; }

int64_t TMMWaveIO::Read(void* dest, int64_t count) {
  if (fd_ < 0 || count < 0) return -1;
  auto* out = static_cast<uint8_t*>(dest);
  const int64_t cap = static_cast<int64_t>(buffer_.size());
  int64_t done = 0;
  while (done < count) {
    if (pos_ >= bufStart_ && pos_ < bufStart_ + bufLen_) {
      const int64_t at = pos_ - bufStart_;
      const int64_t n = std::min(count - done, bufLen_ - at);
      std::memcpy(out + done, buffer_.data() + at, static_cast<size_t>(n));
      done += n;
      pos_ += n;
      continue;
    }
    if (!FlushBuffer()) return done > 0 ? done : -1;
    if (count - done >= cap) {
      // Large requests bypass the buffer.
      const int64_t n = ReadAt(pos_, out + done, count - done);
      if (n < 0) return done > 0 ? done : -1;
      done += n;
      pos_ += n;
      break;
    }
    bufStart_ = pos_;
    bufLen_ = 0;
    const int64_t n = ReadAt(pos_, buffer_.data(), cap);
    if (n < 0) return done > 0 ? done : -1;
    if (n == 0) break;
    bufLen_ = n;
  }
  return done;
}

int64_t TMMWaveIO::Write(const void* source, int64_t count) {
  if (fd_ < 0 || !writable_ || count < 0) return -1;
  const auto* in = static_cast<const uint8_t*>(source);
  const int64_t cap = static_cast<int64_t>(buffer_.size());
  int64_t done = 0;
  while (done < count) {
    // Append to the buffer when the position is inside it or just past its
    // valid bytes; anything else starts a fresh window.
    if (pos_ >= bufStart_ && pos_ <= bufStart_ + bufLen_ && pos_ < bufStart_ + cap) {
      const int64_t at = pos_ - bufStart_;
      const int64_t n = std::min(count - done, cap - at);
      std::memcpy(buffer_.data() + at, in + done, static_cast<size_t>(n));
      if (dirtyHi_ <= dirtyLo_) {
        dirtyLo_ = at;
        dirtyHi_ = at + n;
      } else {
        dirtyLo_ = std::min(dirtyLo_, at);
        dirtyHi_ = std::max(dirtyHi_, at + n);
      }
      bufLen_ = std::max(bufLen_, at + n);
      done += n;
      pos_ += n;
      continue;
    }
    if (!FlushBuffer()) return done;
    if (count - done >= cap) {
      if (!WriteAt(pos_, in + done, count - done)) return done;
      pos_ += count - done;
      done = count;
      bufLen_ = 0;
      break;
    }
    bufStart_ = pos_;
    bufLen_ = 0;
  }
  return done;
}

int64_t TMMWaveIO::Seek(int64_t offset, int origin) {
  if (fd_ < 0) return -1;
  int64_t base = 0;
  if (origin == SEEK_CUR) base = pos_;
  if (origin == SEEK_END) base = Size();
  if (offset < 0 && base < -offset) return -1;
  pos_ = base + offset;
  return pos_;
}

int64_t TMMWaveIO::Size() const {
  int64_t size = fileSize_;
  if (dirtyHi_ > dirtyLo_) size = std::max(size, bufStart_ + dirtyHi_);
  return size;
}

bool TMMWaveIO::Truncate(int64_t size) {
  if (fd_ < 0 || !writable_ || size < 0) return false;
  if (!FlushBuffer()) return false;
  if (bufStart_ + bufLen_ > size) bufLen_ = std::max<int64_t>(0, size - bufStart_);
  if (::ftruncate(fd_, size) != 0) return false;
  fileSize_ = size;
  return true;
}

int TMMWaveIO::Descend(TMMChunkInfo& ck, const TMMChunkInfo* parent, uint32_t flags) {
  if (fd_ < 0) return ioCannotRead;
  const uint32_t wantedId = ck.ckid;
  const uint32_t wantedType = ck.fccType;
  int64_t limit = Size();
  if (parent != nullptr) limit = std::min(limit, parent->dwDataOffset + int64_t{parent->cksize});
  for (;;) {
    const int64_t at = Tell();
    if (at + 8 > limit) return ioChunkNotFound;
    uint8_t head[12];
    if (Read(head, 8) != 8) return ioChunkNotFound;
    ck.ckid = LoadLE32(head);
    ck.cksize = LoadLE32(head + 4);
    ck.dwDataOffset = at + 8;
    ck.dwFlags = 0;
    ck.fccType = 0;
    const bool form = ck.ckid == kFourCCRiff || ck.ckid == kFourCCList;
    if (form) {
      if (Read(head + 8, 4) != 4) return ioChunkNotFound;
      ck.fccType = LoadLE32(head + 8);
    }
    bool match = true;
    if ((flags & kFindRiff) != 0) match = ck.ckid == kFourCCRiff && ck.fccType == wantedType;
    if ((flags & kFindList) != 0) match = ck.ckid == kFourCCList && ck.fccType == wantedType;
    if ((flags & kFindChunk) != 0) match = ck.ckid == wantedId;
    if (match) return ioOk;
    // Skip this chunk and look at the next one.
    const int64_t next = ck.dwDataOffset + int64_t{ck.cksize} + (ck.cksize & 1);
    if (next > limit || Seek(next, SEEK_SET) < 0) return ioChunkNotFound;
  }
}

int TMMWaveIO::Ascend(TMMChunkInfo& ck) {
  if (fd_ < 0) return ioCannotSeek;
  if ((ck.dwFlags & kChunkDirty) != 0) {
    const int64_t size = Tell() - ck.dwDataOffset;
    if (size < 0 || size > int64_t{0xFFFFFFFF}) return ioCannotWrite;
    ck.cksize = static_cast<uint32_t>(size);
    if ((ck.cksize & 1) != 0) {
      const uint8_t pad = 0;
      if (Write(&pad, 1) != 1) return ioCannotWrite;
    }
    const int64_t end = Tell();
    uint8_t field[4];
    StoreLE32(field, ck.cksize);
    if (Seek(ck.dwDataOffset - 4, SEEK_SET) < 0 || Write(field, 4) != 4) return ioCannotWrite;
    if (Seek(end, SEEK_SET) < 0) return ioCannotSeek;
    ck.dwFlags &= ~kChunkDirty;
    return ioOk;
  }
  const int64_t next = ck.dwDataOffset + int64_t{ck.cksize} + (ck.cksize & 1);
  if (next > Size() || Seek(next, SEEK_SET) < 0) return ioCannotSeek;
  return ioOk;
}

int TMMWaveIO::CreateChunk(TMMChunkInfo& ck, uint32_t flags) {
  if (fd_ < 0 || !writable_) return ioCannotWrite;
  const bool form = (flags & (kCreateRiff | kCreateList)) != 0;
  if ((flags & kCreateRiff) != 0) ck.ckid = kFourCCRiff;
  if ((flags & kCreateList) != 0) ck.ckid = kFourCCList;
  uint8_t head[12];
  StoreLE32(head, ck.ckid);
  StoreLE32(head + 4, ck.cksize);
  StoreLE32(head + 8, ck.fccType);
  const int64_t at = Tell();
  const int64_t n = form ? 12 : 8;
  if (Write(head, n) != n) return ioCannotWrite;
  ck.dwDataOffset = at + 8;
  ck.dwFlags = kChunkDirty;
  return ioOk;
}

}  // namespace tv
