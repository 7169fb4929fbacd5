// Decodes DTMF keys from a live stream with the strict detector, away from
// the thread that delivers the audio: Tap copies each buffer into a ring
// (no allocation, one short lock) and a worker thread of its own feeds the
// detector and reports the keys as they are heard.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "MMPCMSup.h"
#include "StrictDtmfDetector.h"

namespace tv {

class LiveKeyDecoder {
 public:
  // About six seconds of 44100 Hz 16-bit stereo: room for the worker to
  // fall well behind before anything is lost.
  static constexpr size_t kDefaultRingBytes = size_t{1} << 20;

  explicit LiveKeyDecoder(const StrictDtmfOptions& options = {},
                          size_t ringBytes = kDefaultRingBytes);
  // Stops the worker; keys still held back are not reported.
  ~LiveKeyDecoder();
  LiveKeyDecoder(const LiveKeyDecoder&) = delete;
  LiveKeyDecoder& operator=(const LiveKeyDecoder&) = delete;

  // Every key, in the order heard, on the worker thread. Set it before the
  // first Tap.
  std::function<void(LiveKeyDecoder* sender, const StrictDtmfKey& key)> OnKey;

  // Off drops what waits to be decoded and what the detector holds; on
  // begins a new stream with the next Tap. Any thread.
  bool Enabled() const;
  void SetEnabled(bool value);

  // A buffer of the live stream; any thread (the capture thread). Ignored
  // while disabled and for formats the detector cannot take (other than
  // 8- or 16-bit PCM, or a rate outside 4000..384000 Hz). A format other
  // than the last one begins a new stream. When the worker has fallen so
  // far behind that the buffer does not fit, what waits is dropped and the
  // stream begins anew, so no key is ever made of two distant pieces.
  void Tap(const WAVEFORMATEX* format, const void* data, int32_t bytes);
  // The stream stopped: once what was tapped before is decoded, the keys
  // the detector still holds are reported; the next Tap begins a new stream.
  void EndStream();

  // Waits until everything tapped so far has been decoded; false when
  // `timeout` passed first.
  bool WaitIdle(std::chrono::milliseconds timeout);
  // Times the ring overflowed.
  int64_t Overruns() const;

 private:
  struct Format {
    int rate = 0, channels = 0, bits = 0;
    bool operator==(const Format&) const = default;
  };
  void Run();
  // Under lock_: forgets the ring's content and the stream.
  void DropLocked();

  const StrictDtmfOptions options_;
  mutable std::mutex lock_;
  std::condition_variable wake_;
  std::condition_variable idle_;
  // Guarded by lock_.
  std::vector<uint8_t> ring_;
  size_t head_ = 0;         // next byte to read
  size_t used_ = 0;
  int64_t written_ = 0;     // bytes tapped since the ring was last emptied
  int64_t read_ = 0;        // of them, bytes the worker has taken
  int64_t endAt_ = -1;      // the stream ends after this many bytes
  bool restart_ = false;    // the detector forgets its stream before the next byte
  bool enabled_ = false;
  bool busy_ = false;       // the worker decodes a piece taken from the ring
  bool quit_ = false;
  Format format_;
  int64_t overruns_ = 0;

  // The worker's own.
  StrictDtmfDetector detector_;
  std::vector<uint8_t> piece_;
  std::thread worker_;
};

}  // namespace tv
