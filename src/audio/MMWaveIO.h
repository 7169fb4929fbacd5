// Buffered file access with RIFF chunk navigation: the layer every wave file
// read and write goes through. Offsets are 64-bit so that files of any size
// the RIFF format can describe (and larger ones, when scanning) work; only a
// window of IOBufferSize bytes is ever held in memory.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace tv {

constexpr uint32_t MakeFourCC(char a, char b, char c, char d) {
  return uint32_t{static_cast<uint8_t>(a)} | (uint32_t{static_cast<uint8_t>(b)} << 8) |
         (uint32_t{static_cast<uint8_t>(c)} << 16) | (uint32_t{static_cast<uint8_t>(d)} << 24);
}
constexpr uint32_t FourCC(const char (&s)[5]) { return MakeFourCC(s[0], s[1], s[2], s[3]); }
std::string FourCCText(uint32_t id);

inline constexpr uint32_t kFourCCRiff = FourCC("RIFF");
inline constexpr uint32_t kFourCCList = FourCC("LIST");
inline constexpr uint32_t kFourCCWave = FourCC("WAVE");

// One chunk: identifier, size, form type (RIFF and LIST only), the file
// offset of its data (just past the size field) and flags.
struct TMMChunkInfo {
  uint32_t ckid = 0;
  uint32_t cksize = 0;
  uint32_t fccType = 0;
  int64_t dwDataOffset = 0;
  uint32_t dwFlags = 0;
};

// Chunk flag: the chunk was created here and its size is fixed on Ascend.
inline constexpr uint32_t kChunkDirty = 0x10000000;

// Descend flags.
enum : uint32_t { kFindChunk = 0x10, kFindRiff = 0x20, kFindList = 0x40 };
// CreateChunk flags.
enum : uint32_t { kCreateRiff = 0x20, kCreateList = 0x40 };

// Results of the chunk operations.
enum TMMIOResult : int {
  ioOk = 0,
  ioChunkNotFound = 1,
  ioCannotSeek = 2,
  ioCannotRead = 3,
  ioCannotWrite = 4,
};

// The full, lexically normal form of a file name (the name itself when the
// current folder cannot be found).
std::string ExpandFileName(const std::string& name);
// The folder of a file name; "." for a bare name.
std::filesystem::path FolderOfFile(const std::string& name);

// Free bytes on the disk holding `path`. Replaceable so that tests can play
// a full disk; nullptr restores the file system's answer.
using TMMDiskFreeFunc = std::function<int64_t(const std::filesystem::path& path)>;
void SetDiskFreeFunction(TMMDiskFreeFunc func);
int64_t DiskFree(const std::filesystem::path& path);

class TMMWaveIO {
 public:
  enum TOpenMode { omRead, omReadWrite, omCreate };

  static constexpr int32_t kDefaultBuffer = 32768;

  TMMWaveIO() = default;
  ~TMMWaveIO();
  TMMWaveIO(const TMMWaveIO&) = delete;
  TMMWaveIO& operator=(const TMMWaveIO&) = delete;

  // omCreate makes a new file and fails if one of that name exists.
  [[nodiscard]] bool Open(const std::string& name, TOpenMode mode);
  // Flushes and closes; false when buffered data could not be written.
  [[nodiscard]] bool Close();
  bool IsOpen() const { return fd_ >= 0; }
  bool Writable() const { return writable_; }

  // Replaces the buffer (after flushing it); false when memory runs out.
  [[nodiscard]] bool SetBuffer(int32_t size);
  int32_t BufferSize() const { return static_cast<int32_t>(buffer_.size()); }

  // Bytes read (0 at the end of the file), or -1 on a read error.
  [[nodiscard]] int64_t Read(void* dest, int64_t count);
  // Bytes taken. Buffered bytes reach the disk later; a failure then is kept
  // in WriteFailedAt().
  [[nodiscard]] int64_t Write(const void* source, int64_t count);
  // New position, or -1 for a position before the start of the file.
  [[nodiscard]] int64_t Seek(int64_t offset, int origin);
  int64_t Tell() const { return pos_; }
  [[nodiscard]] bool Flush();
  // Size of the file including bytes still in the buffer.
  int64_t Size() const;
  [[nodiscard]] bool Truncate(int64_t size);
  // Offset of the first byte that could not be written; -1 while every
  // write has reached the disk.
  int64_t WriteFailedAt() const { return writeFailedAt_; }
  void ClearWriteError() { writeFailedAt_ = -1; }

  // Reads a chunk header at the current position (for kFindRiff/kFindList
  // the one of that form type, for kFindChunk the one with ck.ckid, skipping
  // others). With a parent the search stays inside it. Leaves the position
  // at the chunk's data (past the form type for RIFF and LIST).
  [[nodiscard]] int Descend(TMMChunkInfo& ck, const TMMChunkInfo* parent, uint32_t flags);
  // Moves past the chunk; a dirty chunk gets its size from the current
  // position, and its pad byte.
  [[nodiscard]] int Ascend(TMMChunkInfo& ck);
  // Writes a header at the current position and marks the chunk dirty.
  [[nodiscard]] int CreateChunk(TMMChunkInfo& ck, uint32_t flags);

 private:
  bool FlushBuffer();
  int64_t ReadAt(int64_t offset, void* dest, int64_t count);
  bool WriteAt(int64_t offset, const void* source, int64_t count);

  int fd_ = -1;
  bool writable_ = false;
  std::vector<uint8_t> buffer_;
  int64_t bufStart_ = 0;  // file offset of buffer_[0]
  int64_t bufLen_ = 0;    // valid bytes in the buffer
  int64_t dirtyLo_ = 0;   // buffer range not yet on disk
  int64_t dirtyHi_ = 0;
  int64_t pos_ = 0;
  int64_t fileSize_ = 0;  // bytes on disk
  int64_t writeFailedAt_ = -1;
};

}  // namespace tv
