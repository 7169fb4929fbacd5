// The offline conversion of an audio file (MP3, or anything else a
// registered reader opens) into a PCM wave file: the chain audio file source
// -> offline driver -> wave file writer, with progress and cancel. The
// result is written under a temporary name and renamed at the end.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace tv {

class TMMAudioFile;
class TMMTrigger;
class TMMWaveFile;

class AudioFileConverter {
 public:
  static constexpr int32_t kBufferSize = 32768;

  AudioFileConverter();
  ~AudioFileConverter();
  AudioFileConverter(const AudioFileConverter&) = delete;
  AudioFileConverter& operator=(const AudioFileConverter&) = delete;

  // Percent done, on the thread that runs Convert (the main thread).
  std::function<void(int percent)> OnProgress;
  // When the run starts and ends (the window disables its button).
  std::function<void()> OnStart, OnFinish;

  // Loads a file through the registered readers. Raises the reader's error,
  // or "This is not a valid Audiofile" when no reader takes it.
  void Load(const std::string& source);
  std::string Source() const;

  // Decodes the loaded file into a wave file of that name, running the
  // main dispatcher until done. Raises "Conversion aborted" after Cancel,
  // the reader's or writer's error otherwise; a target that names the
  // source is refused. Nothing is left under the target's name on failure.
  void Convert(const std::string& target);
  // Stops a running conversion (from the main thread, e.g. a button).
  void Cancel();
  bool Running() const { return running_.load(); }

  TMMAudioFile& AudioFile() { return *audioFile_; }
  TMMTrigger& Trigger() { return *trigger_; }
  TMMWaveFile& WaveFile() { return *waveFile_; }

 private:
  void Fail(const std::string& message);
  void RequestStop();

  std::unique_ptr<TMMAudioFile> audioFile_;
  std::unique_ptr<TMMTrigger> trigger_;
  std::unique_ptr<TMMWaveFile> waveFile_;
  std::atomic<bool> running_{false};
  std::atomic<bool> stopped_{false};
  std::atomic<bool> cancelled_{false};
  std::atomic<bool> stopRequested_{false};
  std::atomic<int> lastPercent_{-1};
  std::mutex lock_;
  std::string failure_;  // guarded by lock_
  // Posted calls check it, so that none runs after the converter is gone.
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

}  // namespace tv
