// The file components: a wave file in a chain. Without an Input the wave
// file is a source that delivers the file's samples; with an Input it is a
// writer that stores everything passing through it into a new file (or
// appends to an existing one).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>

#include "MMDSPObj.h"
#include "MMObsrv.h"
#include "TMMWave.h"

namespace tv {

enum TMMAudioFileType { ftNone = 0, ftWave, ftMpeg, ftWMA, ftVorbis, ftCDA };

// What a reader tells about a file without opening it in a chain.
struct TMMFileInfo {
  TMMAudioFileType FileType = ftNone;
  int64_t Length = 0;  // milliseconds
  std::string FileName;  // without its folder
  int32_t SampleRate = 0;
  int32_t Channels = 0;
  int32_t BitsPerSample = 0;
  int32_t BitRate = 0;  // bits per second
  std::string Title, Artist, Album, Year, Comment, Genre;
};

// Base of the components that read or write files in a chain.
class TMMCustomFile : public TMMDSPComponent {
 public:
  using TMMDSPComponent::TMMDSPComponent;

  virtual bool FileTypeSupported() const { return true; }
  virtual bool CanOpenFile(const std::string& name) const = 0;
  virtual bool GetFileInfo(const std::string& name, TMMFileInfo& info) const = 0;
  virtual std::string FileFilter() const = 0;
  virtual std::string DefaultExtension() const = 0;
  virtual int32_t BlockAlign() const = 0;
  virtual bool Empty() const = 0;
  // Length of the data in milliseconds.
  virtual int64_t Time() const = 0;
  virtual std::string FileName() const = 0;
  virtual void SetFileName(const std::string& value) = 0;
  virtual bool Enabled() const { return enabled_.load(); }
  virtual void SetEnabled(bool value) { enabled_.store(value); }
  virtual int64_t Position() const = 0;
  virtual void SetPosition(int64_t value) = 0;
  virtual int64_t PositionMs() const = 0;
  virtual void SetPositionMs(int64_t value) = 0;
  virtual int32_t SampleRate() const;
  virtual int32_t Channels() const;
  virtual int32_t BitRate() const;
  // Readers of compressed streams take the trailing-header setting of the
  // audio file source; wave files have none.
  virtual void SetTrailingHeader(int32_t) {}

  TNotifyEvent OnChange;

 private:
  std::atomic<bool> enabled_{true};
};

// A file component that owns a TMMWave and follows its changes.
class TMMCustomWaveFile : public TMMCustomFile {
 public:
  explicit TMMCustomWaveFile(std::string name = {});
  ~TMMCustomWaveFile() override;

  TMMWave& Wave() { return *wave_; }
  const TMMWave& Wave() const { return *wave_; }
  // Takes over the other wave's file and settings (TMMWave::Assign).
  void SetWave(const TMMWave& value) { wave_->Assign(value); }

  // Parses the file: the test the audio file source asks first.
  static bool CanOpenWaveFile(const std::string& name);

  bool CanOpenFile(const std::string& name) const override { return CanOpenWaveFile(name); }
  bool GetFileInfo(const std::string& name, TMMFileInfo& info) const override;
  std::string FileFilter() const override;
  std::string DefaultExtension() const override { return "*.wav"; }
  int32_t BlockAlign() const override;
  bool Empty() const override { return wave_->Empty(); }
  int64_t Time() const override;
  std::string FileName() const override { return wave_->FileName(); }
  void SetFileName(const std::string& value) override { wave_->SetFileName(value); }
  int64_t Position() const override { return wave_->Position(); }
  void SetPosition(int64_t value) override { wave_->SetPosition(value); }
  int64_t PositionMs() const override;
  void SetPositionMs(int64_t value) override;

 protected:
  virtual void WaveChanged() {}

 private:
  std::unique_ptr<TMMWave> wave_;
  TMMObserver observer_;
};

class TMMWaveFile : public TMMCustomWaveFile {
 public:
  explicit TMMWaveFile(std::string name = {});
  ~TMMWaveFile() override;

  std::span<const LinkProperty> LinkProperties() const override { return kPublishInputOutput; }

  TNotifyEvent OnChanged;
  TNotifyEvent OnOpen;
  TNotifyEvent OnClose;
  TNotifyEvent OnLooping;

  bool OverwriteExisting() const { return overwriteExisting_.load(); }
  void SetOverwriteExisting(bool value) { overwriteExisting_.store(value); }
  // Whether a name given to the Wave must name an existing file; a writer
  // sets it false so that it can be given the name of a file to come.
  bool FileMustExist() const { return Wave().FileMustExist(); }
  void SetFileMustExist(bool value) { Wave().SetFileMustExist(value); }
  bool FileOpen() const { return fileOpen_.load(); }
  // Why the writer ended early or could not finish its file (a full disk, a
  // failed write); empty after a clean close. Cleared by Open.
  std::string WriteError() const;

  void SetPWaveFormat(const WAVEFORMATEX* value) override;
  void Open() override;
  void Close() override;
  void Start() override;
  void Stop() override;
  void BufferReady(PWaveHdr buffer) override;
  void BufferLoad(PWaveHdr buffer, bool& moreBuffers) override;

 protected:
  void WaveChanged() override;

 private:
  bool Writer() const { return Input() != nullptr; }
  void CreateForWriting(const std::string& name, const WAVEFORMATEX* format);
  void Store(PWaveHdr buffer);
  // Closes the file; false when a written file could not be finished.
  bool CloseWave();
  // Puts the finished recording in place of the target; false when it
  // could not, with the target left as it was. A recording that stored
  // nothing leaves an existing target as it was.
  bool Commit(bool finished);
  void SetWriteError(const std::string& text);
  void FireSynchronized(const TNotifyEvent& event);
  // The writer's own creating and reloading of its wave is no change of
  // the wave for those watching the component.
  struct OwnChange;

  std::atomic<bool> overwriteExisting_{true};
  std::atomic<bool> fileOpen_{false};
  std::atomic<bool> fileStarted_{false};
  std::atomic<uint8_t> silence_{0};
  int64_t startPosition_ = 0;
  bool writing_ = false;
  std::atomic<bool> stored_{false};
  std::atomic<std::thread::id> ownChangeThread_{};
  // A new file is written beside its target and renamed over it once it is
  // finished, so that a failed recording never costs the file it replaces.
  std::string target_;
  std::string partial_;
  mutable std::mutex errorLock_;
  std::string writeError_;
};

}  // namespace tv
