#include "TMMWaveOut.h"

#include <pthread.h>

#include <algorithm>
#include <chrono>
#include <system_error>
#include <thread>

#include "MMDispatch.h"
#include "MMNotice.h"
#include "MMUtils.h"

namespace tv {

namespace {

using namespace std::chrono_literals;
constexpr auto kThreadTimeout = 5000ms;

}  // namespace

// ---------------------------------------------------------------------------
// Playback thread

TMMWaveOutThread::TMMWaveOutThread(TMMWaveOut* owner) : TMMDSPThread(owner), owner_(owner) {}

TMMWaveOutThread::~TMMWaveOutThread() {
  Terminate();
  Messages.RequestQuit();
  WaitFor();
}

void TMMWaveOutThread::Execute() {
  pthread_setname_np(pthread_self(), "tv-waveout");
  KernelId.store(CurrentThreadKernelId());
  ApplyThreadPriority(KernelId.load(), owner_->Priority());
  Ready.Set();
  try {
    for (;;) {
      HWAVE handle = 0;
      PWaveHdr header = nullptr;
      const auto wake = Messages.Wait(handle, header);
      if (wake == TMMDeviceMessageQueue::Wake::Quit) break;
      if (wake == TMMDeviceMessageQueue::Wake::Flush) {
        Messages.ConfirmFlush();
        continue;
      }
      if (handle == owner_->handle_.load()) owner_->HandlePlayed(header);
    }
  } catch (...) {
    Failed.store(true);
    owner_->PostThreadFailure(std::current_exception());
    Finished.store(true);
    return;
  }
  Ready.Set();
  Finished.store(true);
}

// ---------------------------------------------------------------------------
// Construction

TMMWaveOut::TMMWaveOut(std::string name) : TMMWaveOut(std::move(name), SystemWaveDevices()) {}

TMMWaveOut::TMMWaveOut(std::string name, TMMWaveDevices& devices)
    : TMMCustomWaveOutComponent(std::move(name)), devices_(&devices) {
  // The thread that creates the components is the main thread.
  MainDispatcher();
  productName_ = LoadResString(SNoPlayingDevice);
  numDevs_ = static_cast<int>(devices_->waveOutGetNumDevs());
  deviceId_ = InvalidId;
  SetDeviceID(0);
}

TMMWaveOut::~TMMWaveOut() {
  MarkDestroying();
  try {
    Close();
  } catch (...) {
  }
  if (IsOpen()) {
    const auto deadline = std::chrono::steady_clock::now() + kThreadTimeout;
    while (depth_.load() > 0 && std::chrono::steady_clock::now() < deadline) {
      MainDispatcher().ProcessMessages();
      std::this_thread::sleep_for(1ms);
    }
    depth_.store(0);
    stopPending_.store(false);
    closePending_.store(false);
    closing_.store(false);
    try {
      Close();
    } catch (...) {
    }
  }
  alive_.reset();
  if (thread_) {
    thread_->Terminate();
    thread_->Messages.RequestQuit();
    abandoned_.push_back(std::move(thread_));
  }
  for (auto& worker : abandoned_) {
    worker->Messages.RequestQuit();
    while (!worker->Finished.load()) {
      MainDispatcher().ProcessMessages();
      std::this_thread::sleep_for(1ms);
    }
  }
  abandoned_.clear();
  ReleaseBlocks();
  allocator_.FreeAll();
  Unlink();
}

int TMMWaveOut::DeviceCount() { return static_cast<int>(SystemWaveDevices().waveOutGetNumDevs()); }

std::string TMMWaveOut::DeviceName(TMMDeviceId id) {
  TMMWaveDevices& devices = SystemWaveDevices();
  if (id < -1 || id >= static_cast<TMMDeviceId>(devices.waveOutGetNumDevs())) return {};
  TMMWaveCaps caps;
  if (devices.waveOutGetDevCapsA(id, caps) != MMSYSERR_NOERROR) return {};
  return caps.ProductName;
}

// ---------------------------------------------------------------------------
// Errors and events

void TMMWaveOut::Fire(const TNotifyEvent& event) {
  if (!event) return;
  if (MainDispatcher().IsMainThread()) {
    event(this);
    return;
  }
  std::weak_ptr<int> alive = alive_;
  MainDispatcher().Post([this, alive, event] {
    if (!alive.expired()) event(this);
  });
}

void TMMWaveOut::RaiseError(const std::string& message) {
  Fire(OnError);
  throw EMMWaveOutError(message, true);
}

void TMMWaveOut::ReportError(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const EMMWaveOutError& e) {
    if (e.Reported) return;
  } catch (...) {
  }
  Fire(OnError);
}

std::string TMMWaveOut::ErrorText(MMRESULT code) {
  std::string text;
  if (devices_->waveOutGetErrorTextA(code, text) != MMSYSERR_NOERROR) {
    return LoadResString(SUnknownError);
  }
  if (text.size() > 254) text.resize(254);
  return text;
}

void TMMWaveOut::DeviceError(const char* prefix, MMRESULT code) {
  RaiseError(std::string(prefix) + kLFCR + ErrorText(code));
}

void TMMWaveOut::CheckClosed() {
  if (IsOpen()) RaiseError(LoadResString(SPropertyWhileOpen));
}

// ---------------------------------------------------------------------------
// Properties

void TMMWaveOut::SetDeviceID(TMMDeviceId value) {
  CheckClosed();
  productName_ = LoadResString(SNoPlayingDevice);
  if (numDevs_ > 0 && value >= -1 && value < numDevs_) {
    TMMWaveCaps caps;
    if (devices_->waveOutGetDevCapsA(value, caps) == MMSYSERR_NOERROR) {
      productName_ = caps.ProductName;
      driverVersion_ = caps.DriverVersion;
      caps_ = caps;
    }
  }
  deviceId_ = (value < -1 || value >= numDevs_) ? InvalidId : value;
}

void TMMWaveOut::SetNumBuffers(int value) {
  CheckClosed();
  if (value <= 1 || value == numBuffers_) return;
  numBuffers_ = std::min(value, kMaxBuffers);
}

void TMMWaveOut::SetBufferSize(int32_t value) {
  CheckClosed();
  allocator_.FreeAll();
  TMMDSPComponent::SetBufferSize(Max(value, 32));
}

void TMMWaveOut::SetCallBackMode(TMMCBMode value) {
  CheckClosed();
  if (value == callBackMode_) return;
  if (value == cmCallback && !InterruptCallbacksSupported()) {
    ShowInformation("TMMWaveOut", kCallbackModeNotice);
    return;
  }
  callBackMode_ = value;
}

void TMMWaveOut::SetLooping(bool value) {
  looping_.store(value);
  loopsLeft_.store(loopCount_.load());
}

void TMMWaveOut::SetLoopCount(uint16_t value) {
  loopCount_.store(value);
  loopsLeft_.store(value);
}

void TMMWaveOut::SetPriority(TThreadPriority value) {
  priority_.store(value);
  if (thread_ && thread_->KernelId.load() != 0) ApplyThreadPriority(thread_->KernelId.load(), value);
}

void TMMWaveOut::SetPWaveFormat(const WAVEFORMATEX* value) {
  Close();
  TMMDSPComponent::SetPWaveFormat(value);
}

// ---------------------------------------------------------------------------
// Position

uint32_t TMMWaveOut::DevicePosition() {
  const WAVEFORMATEX* f = PWaveFormat();
  const HWAVE h = handle_.load();
  if (!IsOpen() || f == nullptr || h == 0) return 0;
  TMMTime t;
  t.wType = TIME_SAMPLES;
  if (devices_->waveOutGetPosition(h, t) == MMSYSERR_NOERROR && t.wType == TIME_SAMPLES) {
    return t.value;
  }
  t.wType = TIME_BYTES;
  Check("WaveOutGetPosition:", devices_->waveOutGetPosition(h, t));
  if (t.wType == TIME_SAMPLES) return t.value;
  if (t.wType == TIME_BYTES && f->nAvgBytesPerSec > 0) {
    return static_cast<uint32_t>(uint64_t{t.value} * f->nSamplesPerSec / f->nAvgBytesPerSec);
  }
  return 0;
}

int64_t TMMWaveOut::Position() const {
  const WAVEFORMATEX* f = PWaveFormat();
  if (!IsOpen() || f == nullptr || closePending_.load() || f->nSamplesPerSec == 0) return 0;
  const int64_t samples = static_cast<int64_t>(const_cast<TMMWaveOut*>(this)->DevicePosition()) +
                          positionOffset_.load() +
                          static_cast<int64_t>(wrapCount_.load()) * wrapBase_.load() -
                          loopRestartPosition_.load();
  switch (timeFormat_) {
    case tfMillisecond: return samples * 1000 / f->nSamplesPerSec;
    case tfByte: {
      const int64_t bytes = samples * f->nAvgBytesPerSec / f->nSamplesPerSec;
      const int64_t align = std::max<int64_t>(f->nBlockAlign, 1);
      return (bytes + align - 1) / align * align;
    }
    case tfSample: break;
  }
  return samples;
}

TMMDeviceStatistics TMMWaveOut::DeviceStatistics() const {
  TMMDeviceStatistics stats;
  const HWAVE h = handle_.load();
  if (h != 0) devices_->GetStatistics(h, stats);
  return stats;
}

// ---------------------------------------------------------------------------
// Playback thread control

void TMMWaveOut::StartThread() {
  std::erase_if(abandoned_, [](const std::unique_ptr<TMMWaveOutThread>& w) {
    if (!w->Finished.load()) return false;
    w->WaitFor();
    return true;
  });
  try {
    thread_ = std::make_unique<TMMWaveOutThread>(this);
    thread_->Resume();
  } catch (const std::system_error&) {
    thread_.reset();
    RaiseError(PrefixedMessage("WaveOut:", SCouldNotCreateThread));
  }
  if (!thread_->Ready.WaitFor(kThreadTimeout)) {
    thread_->Terminate();
    thread_->Messages.RequestQuit();
    abandoned_.push_back(std::move(thread_));
    RaiseError(PrefixedMessage("WaveOut:", SCouldNotCreateThread));
  }
}

void TMMWaveOut::EndThread() {
  if (!thread_) return;
  thread_->Terminate();
  thread_->Messages.RequestQuit();
  if (!thread_->Failed.load()) {
    const auto deadline = std::chrono::steady_clock::now() + kThreadTimeout;
    while (!thread_->Ready.WaitFor(10ms)) {
      MainDispatcher().ProcessMessages();
      if (std::chrono::steady_clock::now() >= deadline) {
        abandoned_.push_back(std::move(thread_));
        return;
      }
    }
  }
  if (thread_->Finished.load() || !thread_->Failed.load()) {
    thread_->WaitFor();
    thread_.reset();
  } else {
    abandoned_.push_back(std::move(thread_));
  }
}

void TMMWaveOut::Flush() {
  {
    std::lock_guard lock(lock_);
    generation_.fetch_add(1);
    pendingDone_ = 0;
  }
  if (callBackMode_ != cmThread || !thread_ || thread_->Failed.load()) return;
  if (thread_->ThreadId() == std::this_thread::get_id()) {
    thread_->Messages.ConfirmFlush();
    return;
  }
  // The playback thread confirms once it is done with the buffer it may be
  // handling, so nothing of the old run is handled after this.
  thread_->Messages.RequestFlush();
  const auto deadline = std::chrono::steady_clock::now() + kThreadTimeout;
  while (thread_->Messages.FlushRequested()) {
    if (std::chrono::steady_clock::now() >= deadline) {
      thread_->Messages.ConfirmFlush();
      break;
    }
    MainDispatcher().ProcessMessages();
    std::this_thread::yield();
  }
}

// ---------------------------------------------------------------------------
// Notifications from the device

void TMMWaveOut::DeviceCallback(HWAVE handle, uint32_t message, void* instance, PWaveHdr header,
                                MMRESULT code) {
  auto* self = static_cast<TMMWaveOut*>(instance);
  switch (message) {
    case MM_WOM_OPEN: self->state_.store(wsOpen); break;
    case MM_WOM_CLOSE: self->state_.store(wsClosed); break;
    case MM_WOM_DONE: {
      // Routed under the lock: a Rewind or Stop that sets its flag and then
      // flushes cannot miss a report on its way to the handler.
      std::lock_guard lock(self->lock_);
      if (self->queued_ > 0) --self->queued_;
      if (self->resetting_.load()) {
        if (self->queued_ == 0) self->resetting_.store(false);
        return;
      }
      if (self->stopping_.load()) return;
      ++self->pendingDone_;
      switch (self->callBackMode_) {
        case cmThread:
          if (!self->thread_ || !self->thread_->Messages.Post(handle, header)) --self->pendingDone_;
          break;
        case cmCallback:
          try {
            self->HandlePlayed(header);
          } catch (...) {
            self->PostThreadFailure(std::current_exception());
          }
          break;
        case cmWindow: {
          std::weak_ptr<int> alive = self->alive_;
          const uint64_t generation = self->generation_.load();
          MainDispatcher().Post([self, alive, handle, header, generation] {
            if (!alive.expired()) self->HandleOnMain(handle, header, generation);
          });
          break;
        }
      }
      break;
    }
    case MM_WOM_ERROR: self->PostLost(handle, code); break;
    default: break;
  }
}

void TMMWaveOut::HandleOnMain(HWAVE handle, PWaveHdr header, uint64_t generation) {
  if (handle != handle_.load() || generation != generation_.load()) return;
  try {
    HandlePlayed(header);
  } catch (...) {
    const std::exception_ptr error = std::current_exception();
    try {
      Close();
    } catch (...) {
    }
    try {
      std::rethrow_exception(error);
    } catch (...) {
      HandleApplicationError();
    }
  }
}

void TMMWaveOut::PostThreadFailure(const std::exception_ptr& error) {
  // The device is closed on the main thread, where every other command runs.
  std::weak_ptr<int> alive = alive_;
  MainDispatcher().Post([this, alive, error] {
    if (!alive.expired()) {
      try {
        Close();
      } catch (...) {
      }
    }
    try {
      std::rethrow_exception(error);
    } catch (...) {
      HandleApplicationError();
    }
  });
}

void TMMWaveOut::PostLost(HWAVE handle, MMRESULT code) {
  std::weak_ptr<int> alive = alive_;
  MainDispatcher().Post([this, alive, handle, code] {
    if (alive.expired() || handle != handle_.load()) return;
    const std::string message = std::string("WaveOut:") + kLFCR + ErrorText(code);
    Fire(OnError);
    try {
      Close();
    } catch (...) {
    }
    try {
      throw EMMWaveOutError(message, true);
    } catch (...) {
      HandleApplicationError();
    }
  });
}

void TMMWaveOut::PostStop(HWAVE handle) {
  std::weak_ptr<int> alive = alive_;
  MainDispatcher().Post([this, alive, handle] {
    if (alive.expired() || handle != handle_.load()) return;
    try {
      Stop();
    } catch (...) {
      HandleApplicationError();
    }
  });
}

// ---------------------------------------------------------------------------
// Filling and writing

void TMMWaveOut::BufferLoad(PWaveHdr buffer, bool& moreBuffers) {
  buffer->dwBufferLength = static_cast<uint32_t>(BufferSize());
  buffer->dwBytesRecorded = 0;
  const bool looping = looping_.load();
  buffer->LoopEnabled = looping ? -1 : 0;
  if (looping) {
    buffer->LoopCount = loopCount_.load();
    buffer->LoopCounter = loopsLeft_.load();
    buffer->LoopRestarted = 0;
  }
  TMMCustomWaveOutComponent::BufferLoad(buffer, moreBuffers);
  buffer->dwBufferLength = buffer->dwBytesRecorded;
}

int32_t TMMWaveOut::FillBuffer(PWaveHdr header) {
  bool more = false;
  moreData_.store(false);
  BufferLoad(header, more);
  if (looping_.load()) loopsLeft_.store(header->LoopCounter);
  const auto bytes = static_cast<int32_t>(header->dwBytesRecorded);
  moreData_.store(more && bytes > 0);
  return bytes;
}

void TMMWaveOut::WriteBuffer(PWaveHdr header) {
  if (OnBufferFilled) OnBufferFilled(this, header);
  if (stopping_.load()) return;
  const HWAVE h = handle_.load();
  Check("WaveOutWrite:", devices_->waveOutPrepareHeader(h, header, 32));
  header->SavedBytes = header->dwBytesRecorded;
  {
    std::lock_guard lock(lock_);
    ++queued_;
  }
  const MMRESULT r = devices_->waveOutWrite(h, header, 32);
  if (r != MMSYSERR_NOERROR) {
    {
      std::lock_guard lock(lock_);
      --queued_;
    }
    DeviceError("WaveOutWrite:", r);
  }
  header->dwBytesRecorded = header->SavedBytes;
}

int TMMWaveOut::FillRing() {
  const HWAVE h = handle_.load();
  const auto size = static_cast<uint32_t>(BufferSize());
  moreData_.store(true);
  int written = 0;
  for (int i = 0; i < numBuffers_ && moreData_.load(); ++i) {
    if (headers_[i] == nullptr) {
      void* block = allocator_.Allocate(kAllocMoveable | kAllocZeroInit, size + kBufferHeaderSize);
      if (block == nullptr) RaiseError(LoadResString(SNoMemoryForHeader));
      headers_[i] = static_cast<PWaveHdr>(block);
      InitBufferHeader(headers_[i], size);
    }
    Check("WaveOutWrite:", devices_->waveOutPrepareHeader(h, headers_[i], 32));
    if (FillBuffer(headers_[i]) <= 0) break;
    WriteBuffer(headers_[i]);
    ++written;
  }
  return written;
}

// ---------------------------------------------------------------------------
// Played buffers

void TMMWaveOut::LeavePlayed() {
  bool post = false;
  {
    std::lock_guard lock(lock_);
    // Everything played means: nothing at the device and no report of a
    // played buffer still on its way to a handler.
    if (depth_.fetch_sub(1) == 1 && (stopPending_.load() || (queued_ <= 0 && pendingDone_ == 0)) &&
        !pausePosted_.load()) {
      pausePosted_.store(true);
      stopping_.store(true);
      post = true;
    }
  }
  if (!post) return;
  // Everything has played (or a stop waits): pause, and stop on the main thread.
  const HWAVE h = handle_.load();
  const MMRESULT r = devices_->waveOutPause(h);
  PostStop(h);
  Check("WaveOutPause:", r);
}

void TMMWaveOut::HandlePlayed(PWaveHdr header) {
  {
    std::lock_guard lock(lock_);
    if (pendingDone_ > 0) --pendingDone_;
    if (!IsStarted() || resetting_.load() || stopping_.load()) return;
    depth_.fetch_add(1);
  }
  try {
    const HWAVE h = handle_.load();
    Check("WaveOut:", devices_->waveOutUnprepareHeader(h, header, 32));
    {
      std::lock_guard lock(lock_);
      bytesPlayed_ += header->dwBufferLength;
    }
    if (inUse_ > 0) ringIndex_ = (ringIndex_ + 1) % inUse_;
    header->dwBytesRecorded = header->SavedBytes;
    // The buffer the device plays now, for whoever shows what is heard.
    PWaveHdr now = headers_[ringIndex_];
    header->NextInRing = now;
    if (now != nullptr && now != header) now->dwBytesRecorded = now->SavedBytes;
    TMMDSPComponent::BufferReady(header);

    const uint32_t position = DevicePosition();
    const uint32_t last = lastPosition_.load();
    if (position != 0 && position < last && last - position >= 0xFFFF) {
      wrapBase_.store(last | 0xFFFFF);
      wrapCount_.fetch_add(1);
    }
    lastPosition_.store(position);

    if (moreData_.load() && !stopPending_.load()) {
      if (looping_.load() && header->LoopRestarted != 0) {
        loopRestartPosition_.store(position);
        header->LoopRestarted = 0;
        ChainRefresh();
        Fire(OnLooping);
      }
      for (int n = 0; n < 65000 && (HeaderFlags(header) & WHDR_DONE) == 0; ++n) {
        std::this_thread::sleep_for(2ms);
      }
      const int32_t bytes = FillBuffer(header);
      if (bytes <= 0 && !stopPending_.load()) RaiseError(LoadResString(SErrorFillingBuffer));
      if (!stopPending_.load()) WriteBuffer(header);
    }
  } catch (...) {
    ReportError(std::current_exception());
    try {
      LeavePlayed();
    } catch (...) {
    }
    throw;
  }
  LeavePlayed();
}

}  // namespace tv
