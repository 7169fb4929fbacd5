// TMMWave, the wave file object: it loads a file's header, reads and writes
// sample data at a position given in a chosen time unit, creates new files
// and converts a file to another PCM format. All access streams through
// TMMWaveIO; no file is ever read whole.
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
#include "MMWaveRead.h"
#include "MMWaveRiff.h"

namespace tv {

TV_DECLARE_ERROR(EMMWaveError);

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
  // Finishes a written file and closes it. False when the file on disk does
  // not hold everything written to it or could not be finished: it must not
  // be taken for complete.
  [[nodiscard]] bool CloseFile();
  // Bytes read, 4 zero bytes once when the file ended early, -1 at the end.
  // A read error of the disk raises "Error reading wave file".
  int32_t ReadData(void* buffer, int32_t bytes);
  // True once a read found the file ending before its header said (that
  // read gave the 4 zero bytes); cleared when the position is set again.
  bool EndedEarly() const;
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
  bool endedEarly_ = false;
  std::vector<TMMWaveSegment> segments_;
  TMMObservable observable_;
};

}  // namespace tv
