// The buffer queue of one open device, shared by the backends: the buffers
// a component queued, the device thread's data calls (Capture, Render) that
// fill or drain them, and a notifier thread that reports finished buffers
// to the component in order. The data calls take one short lock, allocate
// nothing and never call the component, so they are fit for a sound
// server's real-time callback.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "MMPCMSup.h"
#include "TMMWaveDevices.h"

namespace tv {

class TMMDeviceStream {
 public:
  enum class Direction { Capture, Playback };

  // `capacity` bounds the number of buffers queued at once.
  TMMDeviceStream(Direction direction, HWAVE handle, const WAVEFORMATEX& format,
                  TMMWaveCallback callback, void* instance, size_t capacity);
  ~TMMDeviceStream();
  TMMDeviceStream(const TMMDeviceStream&) = delete;
  TMMDeviceStream& operator=(const TMMDeviceStream&) = delete;

  HWAVE Handle() const { return handle_; }
  const WAVEFORMATEX& Format() const { return format_; }
  Direction GetDirection() const { return direction_; }

  // Sends the open notification: at once on the calling thread (delay 0),
  // later from the notifier thread, or never (delay < 0).
  void NotifyOpen(std::chrono::milliseconds delay);
  // Every finished buffer is reported this much later (a slow device).
  void SetDeliveryDelay(std::chrono::milliseconds delay);
  // The position counter wraps at this many samples (0: at 2^32).
  void SetPositionWrap(uint32_t samples);

  MMRESULT Prepare(PWaveHdr header);
  MMRESULT Unprepare(PWaveHdr header);
  MMRESULT Add(PWaveHdr header);
  // Capture: recording on/off. Playback: playing (true) or paused.
  void SetRunning(bool running);
  bool Running() const;
  // Capture stop: the buffer being filled comes back if it holds data.
  void ReturnPartial();
  // Every queued buffer comes back; the position goes to 0. Capture stops.
  void Reset();
  // Samples recorded or played since open or the last reset.
  uint32_t Position() const;
  TMMDeviceStatistics Statistics() const;

  // The device itself dropped input (its own buffer overflowed).
  void NoteDeviceOverrun();
  // The device failed; reported once, after the buffers finished before it.
  void Lost(MMRESULT code);
  bool IsLost() const { return lostCode_.load() != 0; }

  // Reports what is pending, ends the notifier thread and, when asked,
  // sends the close notification on the calling thread. No call of the
  // callback follows. Answers false (and does nothing) on the notifier
  // thread itself.
  bool Shutdown(bool notifyClose);

  // Data calls of the device thread; byte counts are whole frames.
  void Capture(const uint8_t* data, uint32_t bytes);
  void Render(uint8_t* data, uint32_t bytes);

 private:
  void CompleteFront();  // under lock_
  void NotifierLoop();
  uint32_t OpenMessage() const;
  uint32_t CloseMessage() const;
  uint32_t DoneMessage() const;
  uint32_t ErrorMessage() const;

  const Direction direction_;
  const HWAVE handle_;
  const WAVEFORMATEX format_;
  const TMMWaveCallback callback_;
  void* const instance_;
  const uint32_t blockAlign_;
  const uint8_t silence_;

  mutable std::mutex lock_;
  std::condition_variable wake_;
  // Buffers queued at the device, oldest first.
  std::vector<PWaveHdr> queue_;
  size_t queueHead_ = 0;
  size_t queueCount_ = 0;
  uint32_t frontOffset_ = 0;
  // Finished buffers not yet reported.
  std::vector<PWaveHdr> done_;
  size_t doneHead_ = 0;
  size_t doneCount_ = 0;
  bool running_;
  uint64_t positionBytes_ = 0;
  uint32_t positionWrap_ = 0;
  // Playback: silence played since the queue ran dry.
  uint64_t starvedBytes_ = 0;
  bool playedAny_ = false;
  bool inOverrun_ = false;
  TMMDeviceStatistics stats_;
  std::chrono::milliseconds deliveryDelay_{0};
  bool openPending_ = false;
  std::chrono::steady_clock::time_point openDue_;
  bool quit_ = false;

  std::atomic<MMRESULT> lostCode_{0};
  bool lostReported_ = false;  // notifier thread only

  std::vector<PWaveHdr> batch_;  // notifier thread only
  std::thread notifier_;
};

// The finished buffers the device reported, waiting for a worker thread;
// a fixed ring, so that reporting never allocates.
class TMMDeviceMessageQueue {
 public:
  explicit TMMDeviceMessageQueue(size_t capacity) : items_(capacity) {}
  // False when the ring is full (the buffer is then lost to the ring).
  bool Post(HWAVE handle, PWaveHdr header);
  enum class Wake { Message, Quit, Flush };
  // Waits for a message, a quit or a flush request.
  Wake Wait(HWAVE& handle, PWaveHdr& header);
  void RequestQuit();
  // Asks the worker to drop every queued message; it confirms by clearing
  // the request (ConfirmFlush), which FlushRequested then shows.
  void RequestFlush();
  bool FlushRequested() const;
  void ConfirmFlush();

 private:
  struct Item {
    HWAVE handle;
    PWaveHdr header;
  };
  mutable std::mutex lock_;
  std::condition_variable changed_;
  std::vector<Item> items_;
  size_t head_ = 0;
  size_t count_ = 0;
  bool quit_ = false;
  bool flush_ = false;
};

}  // namespace tv
