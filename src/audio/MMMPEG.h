// The MPEG audio reader: TMMMpeg drives one instance of the decoder
// library (libmpg123, loaded at run time and bound by name, so that the
// program runs without it), and TMMMPEGFile is the chain source that the
// audio file source creates for MP3 files. The decoded stream is 16-bit PCM.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>

#include "TMMAudioFile.h"
#include "MMErrors.h"
#include "TMMWaveFile.h"

namespace tv {

TV_DECLARE_ERROR(EMMMpegError);

enum TMpegVersion { v2LSF = 0, v1 };
enum TSampleMode { smStereo = 0, smJointStereo, smDualChannel, smSingleChannel };
enum TChannelMode { cmLeft = 0, cmRight, cmBoth, cmDownMix };

// The decoder library's file name ("libmpg123.so.0"). Setting another name
// (tests play a missing library this way) applies to the next load and
// unloads nothing that is in use.
std::string MpegLibraryName();
void SetMpegLibraryName(const std::string& name);
// Loads the library on first use. False when it cannot be loaded or lacks
// a function we need; MpegLoadError then says which ("Unable to load ...").
bool MpegDecoderAvailable();
std::string MpegLoadError();

// The stream information of a loaded file.
struct TMpegInfo {
  TMpegVersion Version = v1;
  int32_t Layer = 0;
  int32_t SampleRate = 0;
  int32_t BitRate = 0;  // kbit/s; 0 for a free-format stream
  TSampleMode Mode = smStereo;
  int64_t Frames = 0;
  int64_t TimeMs = 0;
  double FrameMs = 0;  // duration of one frame
  int32_t Channels = 0;  // of the decoded stream
};

// One decoder instance.
class TMMMpeg {
 public:
  // Raises EMMMpegError "Unable to load <library>" without the library.
  TMMMpeg();
  ~TMMMpeg();
  TMMMpeg(const TMMMpeg&) = delete;
  TMMMpeg& operator=(const TMMMpeg&) = delete;

  // Called when a new stream was loaded (or the stream was cleared).
  std::function<void()> OnFileChanged;

  // Loads the stream information of a file; an empty name clears. A file
  // the decoder cannot read raises EMMMpegError with its text.
  void SetFileName(const std::string& name);
  const std::string& FileName() const { return fileName_; }
  // True without a stream holding at least one frame.
  bool Empty() const { return empty_; }
  const TMpegInfo& Info() const { return info_; }
  // 16 bits, the stream's rate, its channels (one unless ChannelMode is cmBoth).
  const WAVEFORMATEX* PcmFormat() const { return format_.get(); }

  void OpenFile();
  void CloseFile();
  bool FileOpen() const { return open_; }
  // Back to the first frame.
  void ResetFile();
  // Decoded bytes (whole frames of the output format) up to `bytes`; 0 at
  // the end. Raises EMMMpegError on a decoder error.
  int32_t ReadDataBytes(void* buffer, int32_t bytes);
  bool Done() const { return done_; }
  // Position in frames of the MPEG stream.
  int64_t Position() const;
  void SetPosition(int64_t frame);
  // Reads the whole file to learn its exact length; false when it failed.
  bool Scan();
  // ID3 texts: title, artist and album (30 characters), year (4), comment
  // (28), blank-trimmed, and the genre's name.
  void ReadTags(TMMFileInfo& info);

  TChannelMode ChannelMode() const { return channelMode_; }
  // Cannot change while a file is open.
  void SetChannelMode(TChannelMode value);
  int32_t TrailingHeader = 0;
  bool ExactPosition = true;

 private:
  void Configure(void* handle) const;
  void Refresh(void* handle);

  void* handle_ = nullptr;  // decoding handle while open
  std::string fileName_;
  bool empty_ = true;
  bool open_ = false;
  bool done_ = false;
  TChannelMode channelMode_ = cmBoth;
  TMpegInfo info_;
  WaveFormatPtr format_;
};

// The chain source for MPEG files.
class TMMMPEGFile : public TMMCustomFile {
 public:
  static constexpr const char* kFileFilter =
      "MPEG Files (*.mp?;*.atx)|*.mp2;*.mp3;*.atx|Antex Files (*.atx)|*.atx";
  static constexpr const char* kExtensions = "*.mp2;*.mp3;*.atx";

  explicit TMMMPEGFile(std::string name = {});
  ~TMMMPEGFile() override;

  std::span<const LinkProperty> LinkProperties() const override { return kPublishOutput; }

  TMMErrorEvent OnError;

  // The reader contract of the audio file source.
  static bool CanOpenMpegFile(const std::string& name);
  bool CanOpenFile(const std::string& name) const override { return CanOpenMpegFile(name); }
  bool GetFileInfo(const std::string& name, TMMFileInfo& info) const override;
  // With `scan`, a stream without a bit rate is read through for its length.
  static bool GetMpegFileInfo(const std::string& name, bool scan, TMMFileInfo& info);
  std::string FileFilter() const override { return kFileFilter; }
  std::string DefaultExtension() const override { return "*.mp3"; }
  int32_t BlockAlign() const override;
  bool Empty() const override { return mpeg_->Empty(); }
  int64_t Time() const override { return mpeg_->Info().TimeMs; }
  std::string FileName() const override { return mpeg_->FileName(); }
  void SetFileName(const std::string& value) override;
  // In frames.
  int64_t Position() const override { return mpeg_->Position(); }
  void SetPosition(int64_t value) override;
  int64_t PositionMs() const override;
  void SetPositionMs(int64_t value) override;
  int32_t BitRate() const override { return mpeg_->Info().BitRate * 1000; }
  void SetTrailingHeader(int32_t value) override { mpeg_->TrailingHeader = value; }

  TMpegVersion Version() const { return mpeg_->Info().Version; }
  int32_t Layer() const { return mpeg_->Info().Layer; }
  TSampleMode Mode() const { return mpeg_->Info().Mode; }
  int64_t Frames() const { return mpeg_->Info().Frames; }
  TChannelMode ChannelMode() const { return mpeg_->ChannelMode(); }
  // "Change to property while device was open" while the file is open.
  void SetChannelMode(TChannelMode value);
  TMMMpeg& Mpeg() { return *mpeg_; }

  void Open() override;
  void Close() override;
  void Start() override;
  void Stop() override;
  void BufferLoad(PWaveHdr buffer, bool& moreBuffers) override;

 private:
  void Changed();

  std::unique_ptr<TMMMpeg> mpeg_;
  std::atomic<bool> fileOpen_{false};
  std::atomic<bool> started_{false};
  int64_t startPosition_ = 0;
};

// The register entry of the MPEG reader (order 1).
TMMAudioFileReader MpegFileReader();

}  // namespace tv
