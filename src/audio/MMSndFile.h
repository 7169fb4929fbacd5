// The reader for FLAC and Ogg (Vorbis, Opus) recordings, on libsndfile: a
// chain source that delivers the file as 16-bit PCM, registered with the
// audio file source after the wave reader.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "TMMAudioFile.h"
#include "MMErrors.h"
#include "TMMWaveFile.h"

namespace tv {

TV_DECLARE_ERROR(EMMSndFileError);

class TMMSndFile : public TMMCustomFile {
 public:
  static constexpr const char* kFileFilter =
      "FLAC and Ogg Files (*.flac;*.ogg;*.oga;*.opus)|*.flac;*.ogg;*.oga;*.opus";
  static constexpr const char* kExtensions = "*.flac;*.ogg;*.oga;*.opus";

  explicit TMMSndFile(std::string name = {});
  ~TMMSndFile() override;

  std::span<const LinkProperty> LinkProperties() const override { return kPublishOutput; }

  TMMErrorEvent OnError;

  static bool CanOpenSndFile(const std::string& name);
  bool CanOpenFile(const std::string& name) const override { return CanOpenSndFile(name); }
  bool GetFileInfo(const std::string& name, TMMFileInfo& info) const override;
  std::string FileFilter() const override { return kFileFilter; }
  std::string DefaultExtension() const override { return "*.flac"; }
  int32_t BlockAlign() const override;
  bool Empty() const override { return frames_ <= 0; }
  int64_t Time() const override;
  std::string FileName() const override { return fileName_; }
  // Reads the file's header; a file libsndfile cannot read raises
  // EMMSndFileError with its text.
  void SetFileName(const std::string& value) override;
  // In sample frames.
  int64_t Position() const override { return position_.load(); }
  void SetPosition(int64_t value) override;
  int64_t PositionMs() const override;
  void SetPositionMs(int64_t value) override;

  void Open() override;
  void Close() override;
  void Start() override;
  void Stop() override;
  void BufferLoad(PWaveHdr buffer, bool& moreBuffers) override;

 private:
  struct File;
  std::unique_ptr<File> file_;  // while open in the chain
  std::string fileName_;
  int64_t frames_ = 0;
  int32_t rate_ = 0;
  int32_t channels_ = 0;
  std::atomic<int64_t> position_{0};
  std::atomic<bool> started_{false};
};

// The register entry of the FLAC/Ogg reader (order 6, after the wave reader).
TMMAudioFileReader SndFileReader();

}  // namespace tv
