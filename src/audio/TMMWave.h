// RIFF WAVE files and TMMWave, the wave file object: it parses a file's
// header, reads and writes sample data at a position given in a chosen time
// unit, creates new files and converts a file to another PCM format. All
// access streams through TMMWaveIO; no file is ever read whole.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "MMErrors.h"
#include "MMObsrv.h"
#include "MMPCMSup.h"
#include "MMTypes.h"
#include "MMWaveIO.h"

namespace tv {

TV_DECLARE_ERROR(EMMWaveError);

// Results of the open-file routines.
enum TMMWaveResult : int {
  wrOk = 0,
  wrMissingList = 2,
  wrListReadError = 3,
  wrListOutOfMemory = 4,
  wrInvalidWave = 101,
  wrMissingArgument = 104,
  wrCannotOpen = 106,
  wrOutOfMemory = 107,
};

// The standard INFO identifiers, in the order they are written.
extern const std::array<uint32_t, 23> kInfoChunkIds;

// A display chunk: its type (1 text, 8 picture, ...) and its bytes; text
// is held without its terminating zero.
struct TMMDispEntry {
  uint32_t Type = 0;
  std::vector<uint8_t> Data;
};

struct TMMWaveSegment {
  int64_t StartSample = 0;
  int64_t StartByte = 0;
  int64_t Samples = 0;
  int64_t Bytes = 0;
};

// The record of one opened or created file.
struct WaveFileInfo {
  uint32_t dwInfoSize = 0;       // bytes of the record including the format
  uint32_t dwOpenFlags = 0;      // kOpenPlainFile: the only kind this system uses
  std::unique_ptr<TMMWaveIO> hmmio;  // none while closed between scan and OpenFile
  TMMChunkInfo ckRIFF;
  TMMChunkInfo ckData;           // dwFlags carries kChunkDirty once data was written
  int64_t dwFileSize = 0;
  int64_t dwDataBytes = 0;       // whole frames
  int64_t dwDataOffset = 0;      // file position of the first sample byte
  int64_t dwDataSamples = 0;
  int64_t dwStartSample = 0;
  int64_t dwEndSample = 0;
  // The read position and the bytes left live in the TMMWave that owns it.
  std::string FileName;
  std::vector<TMMDispEntry> Disp;
  std::array<std::string, 23> Info;  // by index in kInfoChunkIds
  WaveFormatPtr Format;
  // Where the scan found a "fact" chunk (its data offset), or -1; and
  // whether "fmt " came after the data, so that appending keeps both.
  int64_t FactOffset = -1;
  bool FmtAfterData = false;
  // Display entries (the first DispInPlace) and an INFO list found before
  // the data stay where they are when data is appended.
  size_t DispInPlace = 0;
  bool InfoInPlace = false;
};
inline constexpr uint32_t kOpenPlainFile = 0;

// Parses a wave file's header (the file is closed again afterwards).
int ScanWaveFile(const std::string& name, WaveFileInfo& info);

// Free bytes on the disk holding `path`. Replaceable so that tests can play
// a full disk; nullptr restores the file system's answer.
using TMMDiskFreeFunc = std::function<int64_t(const std::filesystem::path& path)>;
void SetDiskFreeFunction(TMMDiskFreeFunc func);
int64_t DiskFree(const std::filesystem::path& path);

class TMMWave;
using TMMWaveProgress =
    std::function<void(TMMWave* Sender, int64_t CurByte, int64_t NumBytes, bool& Cancel)>;

class TMMWave {
 public:
  static constexpr int32_t kDefaultIOBufferSize = 32768;
  static constexpr int32_t kMinIOBufferSize = 8192;

  TMMWave();
  ~TMMWave();
  TMMWave(const TMMWave&) = delete;
  TMMWave& operator=(const TMMWave&) = delete;

  TMMWaveProgress OnProgress;

  TMMTimeFormats TimeFormat() const;
  void SetTimeFormat(TMMTimeFormats value);
  bool FileMustExist() const;
  void SetFileMustExist(bool value);
  std::string FileName() const;
  // Loads (and parses) the file; an empty name clears the wave.
  void SetFileName(const std::string& value);
  uint16_t BitLength() const;
  TMMMode Mode() const;
  uint16_t FormatTag() const;
  std::string FormatString() const;
  int32_t SampleRate() const;
  int64_t FileSize() const;
  // Length of the data in TimeFormat units.
  int64_t DataSize() const;
  int32_t IOBufferSize() const;
  void SetIOBufferSize(int32_t value);

  const WAVEFORMATEX* PWaveFormat() const;
  bool Empty() const;

  void CreateFile(const std::string& name, const WAVEFORMATEX* format);
  void OpenFile();
  void CloseFile();
  // Bytes read, 4 zero bytes once when the file ended early, -1 at the end.
  int32_t ReadData(void* buffer, int32_t bytes);
  // Bytes written at the current write position, -1 without a file.
  int32_t WriteData(const void* buffer, int32_t bytes);
  // In TimeFormat units; -1 without a file.
  int64_t Position() const;
  void SetPosition(int64_t pos);
  int64_t BytesLeft() const;
  void ConvertFile(const std::string& name, const WAVEFORMATEX* format);
  void Assign(const TMMWave& other);

  // Notified (with this wave as data) when a file is loaded, created or
  // the wave is cleared.
  TMMObservable& Observable() { return observable_; }

  // Helpers for the components built on the wave.
  int64_t TotalSamples() const;
  int64_t SamplePosition() const;
  int64_t TimeToSamples(int64_t value) const;
  int64_t SamplesToTime(int64_t samples) const;
  int64_t SamplesToMs(int64_t samples) const;
  int64_t MsToSamples(int64_t ms) const;
  bool IsOpen() const;
  // Moves the read/write position to the end of the data (appending).
  void SeekToEnd();

  std::string Info(uint32_t id) const;
  void SetInfo(uint32_t id, const std::string& text);
  std::vector<TMMDispEntry> DispEntries() const;
  void SetDispEntries(std::vector<TMMDispEntry> entries);

 private:
  void ClearLocked();
  // False when the file could not be finalised completely.
  bool CloseFileLocked();
  bool Finalise();
  void SetPositionLocked(int64_t samples);
  int32_t ReadLocked(void* buffer, int32_t bytes);
  void RebuildSegments();
  int64_t MaxDataBytes() const;
  void Notify();

  mutable std::recursive_mutex lock_;
  std::unique_ptr<WaveFileInfo> info_;
  std::string fileName_;
  TMMTimeFormats timeFormat_ = tfSample;
  bool fileMustExist_ = true;
  int32_t ioBufferSize_ = kDefaultIOBufferSize;
  int64_t position_ = 0;  // samples
  int64_t bytesLeft_ = 0;
  bool reading_ = false;
  std::vector<TMMWaveSegment> segments_;
  TMMObservable observable_;
};

}  // namespace tv
