// TMMAudioFile: a chain source that reads several file types through
// registered reader components and delivers PCM. Readers register with an
// order number and are asked in that order whether they can open a name;
// the first that can becomes the inner source of a small internal chain
// (reader -> decoding stage -> PCM stage -> the audio file itself).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "MMDSPObj.h"
#include "MMErrors.h"
#include "TMMWaveFile.h"

namespace tv {

TV_DECLARE_ERROR(EMMAudioFileError);

// A reader class as the audio file source sees it.
struct TMMAudioFileReader {
  std::string ClassName;  // unique; registering a name again replaces it
  int Order = 0;          // lower numbers are asked first
  TMMAudioFileType FileType = ftNone;
  std::string Masks;       // "*.wav" or "*.mp2;*.mp3;*.atx"
  std::string FileFilter;  // dialog filter text, "Description|masks[|...]"
  std::function<bool(const std::string& name)> CanOpenFile;
  std::function<std::unique_ptr<TMMCustomFile>()> Create;
};

// The register starts with the wave reader (order 5). Safe to call from
// any thread, typically once at program start.
void RegisterAudioFileReader(TMMAudioFileReader reader);
void UnregisterAudioFileReader(const std::string& className);
// The registered readers, sorted by order number.
std::vector<TMMAudioFileReader> AudioFileReaders();
// The open-dialog filter for every registered reader.
std::string AudioFileFilter();

// Supplies the decoding stage for a reader whose stream is not PCM (the
// codec service installs one); answering nullptr refuses the file.
using TMMAudioDecoderFactory =
    std::function<std::unique_ptr<TMMDSPComponent>(const WAVEFORMATEX* source)>;
void SetAudioFileDecoderFactory(TMMAudioDecoderFactory factory);

class TMMAudioFile : public TMMDSPComponent {
 public:
  static constexpr int32_t kUnityVolume = 16384;

  explicit TMMAudioFile(std::string name = {});
  ~TMMAudioFile() override;

  std::span<const LinkProperty> LinkProperties() const override { return kPublishOutput; }

  TNotifyEvent OnFileLoading;
  TNotifyEvent OnFileLoaded;
  TNotifyEvent OnChange;
  TMMErrorEvent OnError;

  std::string FileName() const { return fileName_; }
  void SetFileName(const std::string& value);
  bool Enabled() const { return enabled_.load(); }
  void SetEnabled(bool value);
  int32_t MpegTrailingHeader() const { return trailingHeader_; }
  void SetMpegTrailingHeader(int32_t value);
  TMMAudioFileType FileType() const { return fileType_; }
  void SetFileType(TMMAudioFileType value) { fileType_ = value; }
  // 16384 is unity gain; Panning runs from -16384 (left only) to 16384.
  int32_t Volume() const { return volume_.load(); }
  void SetVolume(int32_t value);
  int32_t Panning() const { return panning_.load(); }
  void SetPanning(int32_t value);

  std::string FileFilter() const { return AudioFileFilter(); }
  // The reader that opened the current file, or none.
  TMMCustomFile* Reader() const { return reader_.get(); }
  // Length of the file in milliseconds, remembered when it was loaded.
  int64_t FileLength() const { return fileLength_; }
  int64_t PositionMs() const;
  void SetPositionMs(int64_t value);

  void Open() override;
  void BufferLoad(PWaveHdr buffer, bool& moreBuffers) override;

 private:
  void Release();
  void Load(const TMMAudioFileReader& reader, const std::string& name);

  std::string fileName_;
  std::atomic<bool> enabled_{true};
  int32_t trailingHeader_ = 0;
  TMMAudioFileType fileType_ = ftNone;
  std::atomic<int32_t> volume_{kUnityVolume};
  std::atomic<int32_t> panning_{0};
  int64_t fileLength_ = 0;
  std::atomic<bool> endDelivered_{false};
  std::unique_ptr<TMMCustomFile> reader_;
  std::unique_ptr<TMMDSPComponent> decoder_;
  std::unique_ptr<TMMDSPComponent> pcm_;
};

}  // namespace tv
