#include "TMMDeviceStream.h"

#include <pthread.h>

#include <algorithm>
#include <cstring>

namespace tv {

TMMDeviceStream::TMMDeviceStream(Direction direction, HWAVE handle, const WAVEFORMATEX& format,
                                 TMMWaveCallback callback, void* instance, size_t capacity)
    : direction_(direction),
      handle_(handle),
      format_(format),
      callback_(callback),
      instance_(instance),
      blockAlign_(std::max<uint32_t>(format.nBlockAlign, 1)),
      silence_(SilenceByte(&format)),
      queue_(std::max<size_t>(capacity, 1)),
      done_(std::max<size_t>(capacity, 1)),
      running_(direction == Direction::Playback),
      batch_(std::max<size_t>(capacity, 1)) {
  notifier_ = std::thread([this] { NotifierLoop(); });
}

TMMDeviceStream::~TMMDeviceStream() { Shutdown(false); }

uint32_t TMMDeviceStream::OpenMessage() const {
  return direction_ == Direction::Capture ? MM_WIM_OPEN : MM_WOM_OPEN;
}
uint32_t TMMDeviceStream::CloseMessage() const {
  return direction_ == Direction::Capture ? MM_WIM_CLOSE : MM_WOM_CLOSE;
}
uint32_t TMMDeviceStream::DoneMessage() const {
  return direction_ == Direction::Capture ? MM_WIM_DATA : MM_WOM_DONE;
}
uint32_t TMMDeviceStream::ErrorMessage() const {
  return direction_ == Direction::Capture ? MM_WIM_ERROR : MM_WOM_ERROR;
}

void TMMDeviceStream::NotifyOpen(std::chrono::milliseconds delay) {
  if (delay.count() == 0) {
    if (callback_ != nullptr) callback_(handle_, OpenMessage(), instance_, nullptr, 0);
    return;
  }
  if (delay.count() < 0) return;
  {
    std::lock_guard lock(lock_);
    openPending_ = true;
    openDue_ = std::chrono::steady_clock::now() + delay;
  }
  wake_.notify_one();
}

void TMMDeviceStream::SetDeliveryDelay(std::chrono::milliseconds delay) {
  std::lock_guard lock(lock_);
  deliveryDelay_ = delay;
}

void TMMDeviceStream::SetPositionWrap(uint32_t samples) {
  std::lock_guard lock(lock_);
  positionWrap_ = samples;
}

MMRESULT TMMDeviceStream::Prepare(PWaveHdr header) {
  if (header == nullptr) return MMSYSERR_INVALPARAM;
  std::lock_guard lock(lock_);
  const uint32_t flags = HeaderFlags(header);
  if (flags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
  SetHeaderFlags(header, flags | WHDR_PREPARED);
  return MMSYSERR_NOERROR;
}

MMRESULT TMMDeviceStream::Unprepare(PWaveHdr header) {
  if (header == nullptr) return MMSYSERR_INVALPARAM;
  std::lock_guard lock(lock_);
  const uint32_t flags = HeaderFlags(header);
  if (flags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
  SetHeaderFlags(header, flags & ~WHDR_PREPARED);
  return MMSYSERR_NOERROR;
}

MMRESULT TMMDeviceStream::Add(PWaveHdr header) {
  if (header == nullptr || header->lpData == nullptr) return MMSYSERR_INVALPARAM;
  std::lock_guard lock(lock_);
  const uint32_t flags = HeaderFlags(header);
  if ((flags & WHDR_PREPARED) == 0) return WAVERR_UNPREPARED;
  if (flags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
  if (queueCount_ == queue_.size()) return MMSYSERR_NOMEM;
  if (direction_ == Direction::Capture) header->dwBytesRecorded = 0;
  SetHeaderFlags(header, (flags | WHDR_INQUEUE) & ~WHDR_DONE);
  queue_[(queueHead_ + queueCount_) % queue_.size()] = header;
  ++queueCount_;
  if (direction_ == Direction::Playback && starvedBytes_ > 0) {
    // The device played silence between two buffers: a gap the listener heard.
    if (playedAny_) {
      stats_.UnderrunBytes += starvedBytes_;
      ++stats_.Underruns;
    }
    starvedBytes_ = 0;
  }
  return MMSYSERR_NOERROR;
}

void TMMDeviceStream::SetRunning(bool running) {
  std::lock_guard lock(lock_);
  running_ = running;
}

bool TMMDeviceStream::Running() const {
  std::lock_guard lock(lock_);
  return running_;
}

void TMMDeviceStream::CompleteFront() {
  PWaveHdr h = queue_[queueHead_];
  queueHead_ = (queueHead_ + 1) % queue_.size();
  --queueCount_;
  frontOffset_ = 0;
  SetHeaderFlags(h, (HeaderFlags(h) & ~WHDR_INQUEUE) | WHDR_DONE);
  done_[(doneHead_ + doneCount_) % done_.size()] = h;
  ++doneCount_;
  ++stats_.BuffersDone;
}

void TMMDeviceStream::ReturnPartial() {
  bool wake = false;
  {
    std::lock_guard lock(lock_);
    running_ = false;
    if (direction_ == Direction::Capture && queueCount_ > 0 && frontOffset_ > 0) {
      CompleteFront();
      wake = true;
    }
  }
  if (wake) wake_.notify_one();
}

void TMMDeviceStream::Reset() {
  bool wake = false;
  {
    std::lock_guard lock(lock_);
    if (direction_ == Direction::Capture) running_ = false;
    while (queueCount_ > 0) {
      CompleteFront();
      wake = true;
    }
    positionBytes_ = 0;
    starvedBytes_ = 0;
    playedAny_ = false;
  }
  if (wake) wake_.notify_one();
}

uint32_t TMMDeviceStream::Position() const {
  std::lock_guard lock(lock_);
  const uint64_t samples = positionBytes_ / blockAlign_;
  if (positionWrap_ != 0) return static_cast<uint32_t>(samples % positionWrap_);
  return static_cast<uint32_t>(samples);
}

TMMDeviceStatistics TMMDeviceStream::Statistics() const {
  std::lock_guard lock(lock_);
  return stats_;
}

void TMMDeviceStream::NoteDeviceOverrun() {
  std::lock_guard lock(lock_);
  ++stats_.Overruns;
}

void TMMDeviceStream::Lost(MMRESULT code) {
  {
    std::lock_guard lock(lock_);
    MMRESULT none = 0;
    lostCode_.compare_exchange_strong(none, code == 0 ? MMSYSERR_DEVICELOST : code);
    running_ = false;
  }
  wake_.notify_one();
}

void TMMDeviceStream::Capture(const uint8_t* data, uint32_t bytes) {
  bool wake = false;
  {
    std::lock_guard lock(lock_);
    if (!running_ || lostCode_.load(std::memory_order_relaxed) != 0) return;
    positionBytes_ += bytes;
    while (bytes > 0) {
      if (queueCount_ == 0) {
        stats_.OverrunBytes += bytes;
        if (!inOverrun_) ++stats_.Overruns;
        inOverrun_ = true;
        break;
      }
      inOverrun_ = false;
      PWaveHdr h = queue_[queueHead_];
      const uint32_t room = h->dwBufferLength > frontOffset_ ? h->dwBufferLength - frontOffset_ : 0;
      const uint32_t n = std::min(room, bytes);
      if (n > 0) std::memcpy(h->lpData + frontOffset_, data, n);
      frontOffset_ += n;
      data += n;
      bytes -= n;
      h->dwBytesRecorded = frontOffset_;
      if (frontOffset_ >= h->dwBufferLength) {
        CompleteFront();
        wake = true;
      }
    }
  }
  if (wake) wake_.notify_one();
}

void TMMDeviceStream::Render(uint8_t* data, uint32_t bytes) {
  bool wake = false;
  {
    std::lock_guard lock(lock_);
    if (!running_ || lostCode_.load(std::memory_order_relaxed) != 0) {
      std::memset(data, silence_, bytes);
      return;
    }
    while (bytes > 0) {
      if (queueCount_ == 0) {
        std::memset(data, silence_, bytes);
        starvedBytes_ += bytes;
        break;
      }
      PWaveHdr h = queue_[queueHead_];
      const uint32_t room = h->dwBufferLength > frontOffset_ ? h->dwBufferLength - frontOffset_ : 0;
      const uint32_t n = std::min(room, bytes);
      if (n > 0) std::memcpy(data, h->lpData + frontOffset_, n);
      frontOffset_ += n;
      data += n;
      bytes -= n;
      positionBytes_ += n;
      playedAny_ = true;
      if (frontOffset_ >= h->dwBufferLength) {
        CompleteFront();
        wake = true;
      }
    }
  }
  if (wake) wake_.notify_one();
}

void TMMDeviceStream::NotifierLoop() {
  pthread_setname_np(pthread_self(), "tv-device");
  std::unique_lock lock(lock_);
  for (;;) {
    if (openPending_ && std::chrono::steady_clock::now() >= openDue_) {
      openPending_ = false;
      lock.unlock();
      if (callback_ != nullptr) callback_(handle_, OpenMessage(), instance_, nullptr, 0);
      lock.lock();
      continue;
    }
    if (doneCount_ > 0) {
      const size_t n = doneCount_;
      for (size_t i = 0; i < n; ++i) batch_[i] = done_[(doneHead_ + i) % done_.size()];
      doneHead_ = (doneHead_ + n) % done_.size();
      doneCount_ = 0;
      const auto delay = deliveryDelay_;
      lock.unlock();
      if (delay.count() > 0) std::this_thread::sleep_for(delay);
      for (size_t i = 0; i < n; ++i) {
        if (callback_ != nullptr) callback_(handle_, DoneMessage(), instance_, batch_[i], 0);
      }
      lock.lock();
      continue;
    }
    if (lostCode_.load() != 0 && !lostReported_) {
      lostReported_ = true;
      const MMRESULT code = lostCode_.load();
      lock.unlock();
      if (callback_ != nullptr) callback_(handle_, ErrorMessage(), instance_, nullptr, code);
      lock.lock();
      continue;
    }
    if (quit_) return;
    // Every change is made under the lock before a notify, so nothing is
    // missed between the checks above and the wait.
    if (openPending_) {
      wake_.wait_until(lock, openDue_);
    } else {
      wake_.wait(lock);
    }
  }
}

bool TMMDeviceStream::Shutdown(bool notifyClose) {
  if (notifier_.joinable() && notifier_.get_id() == std::this_thread::get_id()) return false;
  {
    std::lock_guard lock(lock_);
    quit_ = true;
    openPending_ = false;
  }
  wake_.notify_one();
  if (notifier_.joinable()) notifier_.join();
  if (notifyClose && callback_ != nullptr) {
    callback_(handle_, CloseMessage(), instance_, nullptr, 0);
  }
  return true;
}

// ---------------------------------------------------------------------------
// TMMDeviceMessageQueue

bool TMMDeviceMessageQueue::Post(HWAVE handle, PWaveHdr header) {
  {
    std::lock_guard lock(lock_);
    if (count_ == items_.size()) return false;
    items_[(head_ + count_) % items_.size()] = Item{handle, header};
    ++count_;
  }
  changed_.notify_one();
  return true;
}

TMMDeviceMessageQueue::Wake TMMDeviceMessageQueue::Wait(HWAVE& handle, PWaveHdr& header) {
  std::unique_lock lock(lock_);
  changed_.wait(lock, [this] { return quit_ || flush_ || count_ > 0; });
  if (quit_) return Wake::Quit;
  if (flush_) return Wake::Flush;
  handle = items_[head_].handle;
  header = items_[head_].header;
  head_ = (head_ + 1) % items_.size();
  --count_;
  return Wake::Message;
}

void TMMDeviceMessageQueue::RequestQuit() {
  {
    std::lock_guard lock(lock_);
    quit_ = true;
  }
  changed_.notify_all();
}

void TMMDeviceMessageQueue::RequestFlush() {
  {
    std::lock_guard lock(lock_);
    flush_ = true;
  }
  changed_.notify_all();
}

bool TMMDeviceMessageQueue::FlushRequested() const {
  std::lock_guard lock(lock_);
  return flush_;
}

void TMMDeviceMessageQueue::ConfirmFlush() {
  std::lock_guard lock(lock_);
  head_ = 0;
  count_ = 0;
  flush_ = false;
}

}  // namespace tv
