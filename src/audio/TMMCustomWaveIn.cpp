#include "TMMCustomWaveIn.h"

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

int64_t RoundUpToBlock(int64_t bytes, int64_t align) {
  if (align <= 0) return bytes;
  return (bytes + align - 1) / align * align;
}

}  // namespace

// ---------------------------------------------------------------------------
// Capture thread

TMMWaveInThread::TMMWaveInThread(TMMCustomWaveIn* owner) : TMMDSPThread(owner), owner_(owner) {}

TMMWaveInThread::~TMMWaveInThread() {
  Terminate();
  Messages.RequestQuit();
  WaitFor();
}

void TMMWaveInThread::Execute() {
  pthread_setname_np(pthread_self(), "tv-wavein");
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
      if (handle == owner_->handle_.load()) owner_->HandleBuffer(header);
    }
  } catch (...) {
    Failed.store(true);
    owner_->PostThreadFailure(std::current_exception());
  }
  Ready.Set();
  Finished.store(true);
}

// ---------------------------------------------------------------------------
// Construction

TMMCustomWaveIn::TMMCustomWaveIn(std::string name) : TMMCustomSoundComponent(std::move(name)) {
  // The thread that creates the components is the main thread.
  MainDispatcher();
  productName_ = LoadResString(SNoRecordingDevice);
  RebuildFormat();
}

TMMCustomWaveIn::~TMMCustomWaveIn() {
  MarkDestroying();
  try {
    Close();
  } catch (...) {
  }
  if (IsOpen()) {
    // A close waits behind a buffer still being handled: let it finish.
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
    // A worker may still wait for the main thread; keep serving it.
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

void TMMCustomWaveIn::InitDevices() {
  devices_ = &BindDeviceFunctions();
  numDevs_ = static_cast<int>(devices_->waveInGetNumDevs());
  // Reads the name of device 0, the default.
  deviceId_ = InvalidId;
  SetDeviceID(0);
}

// ---------------------------------------------------------------------------
// Errors and events

void TMMCustomWaveIn::Fire(const TNotifyEvent& event) {
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

void TMMCustomWaveIn::RaiseError(const std::string& message) {
  Fire(OnError);
  throw EMMWaveInError(message, true);
}

void TMMCustomWaveIn::ReportError(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const EMMWaveInError& e) {
    if (e.Reported) return;
  } catch (...) {
  }
  Fire(OnError);
}

std::string TMMCustomWaveIn::ErrorText(MMRESULT code) {
  std::string text;
  if (devices_ == nullptr || devices_->waveInGetErrorTextA(code, text) != MMSYSERR_NOERROR) {
    return LoadResString(SUnknownError);
  }
  if (text.size() > 254) text.resize(254);
  return text;
}

void TMMCustomWaveIn::DeviceError(const char* prefix, MMRESULT code) {
  RaiseError(std::string(prefix) + kLFCR + ErrorText(code));
}

void TMMCustomWaveIn::CheckClosed() {
  if (IsOpen()) RaiseError(LoadResString(SPropertyWhileOpen));
}

// ---------------------------------------------------------------------------
// Properties

void TMMCustomWaveIn::SetDeviceID(TMMDeviceId value) {
  CheckClosed();
  productName_ = LoadResString(SNoRecordingDevice);
  if (devices_ != nullptr && numDevs_ > 0 && value >= -1 && value < numDevs_) {
    TMMWaveCaps caps;
    if (devices_->waveInGetDevCapsA(value, caps) == MMSYSERR_NOERROR) {
      productName_ = caps.ProductName;
      driverVersion_ = caps.DriverVersion;
      caps_ = caps;
    }
  }
  deviceId_ = (value < -1 || value >= numDevs_) ? InvalidId : value;
}

void TMMCustomWaveIn::SetNumBuffers(int value) {
  if (value <= 1 || value == numBuffers_) return;
  CheckClosed();
  numBuffers_ = std::min(value, kMaxBuffers);
}

void TMMCustomWaveIn::SetBufferSize(int32_t value) {
  if (value == RequestedBufferSize()) return;
  CheckClosed();
  allocator_.FreeAll();
  TMMDSPComponent::SetBufferSize(Max(value, 32));
}

void TMMCustomWaveIn::SetCallBackMode(TMMCBMode value) {
  if (value == callBackMode_) return;
  CheckClosed();
  if (value == cmCallback && !InterruptCallbacksSupported()) {
    ShowInformation("TMMWaveIn", kCallbackModeNotice);
    return;
  }
  callBackMode_ = value;
}

void TMMCustomWaveIn::RebuildFormat() {
  WAVEFORMATEX f{};
  MakePcmFormat(f, bitLength_ == b16Bit ? 16 : 8, channels_, sampleRate_);
  SetPWaveFormat(&f);
}

void TMMCustomWaveIn::SetSampleRate(int value) {
  CheckClosed();
  sampleRate_ = Clamp(value, 8000, 100000);
  RebuildFormat();
}

void TMMCustomWaveIn::SetChannels(int value) {
  CheckClosed();
  channels_ = Clamp(value, 1, 8);
  RebuildFormat();
}

void TMMCustomWaveIn::SetBitLength(TMMBits value) {
  CheckClosed();
  bitLength_ = value == b16Bit ? b16Bit : b8Bit;
  RebuildFormat();
}

void TMMCustomWaveIn::SetMode(TMMMode value) {
  if (value == mMono) SetChannels(1);
  if (value == mStereo) SetChannels(2);
}

TMMMode TMMCustomWaveIn::Mode() const {
  if (channels_ == 2) return mStereo;
  return channels_ < 3 ? mMono : mMultiChannel;
}

void TMMCustomWaveIn::SetPWaveFormat(const WAVEFORMATEX* value) {
  Close();
  if (value != nullptr && PcmFormatSupported(value)) {
    sampleRate_ = static_cast<int>(value->nSamplesPerSec);
    bitLength_ = value->wBitsPerSample == 16 ? b16Bit : b8Bit;
    channels_ = value->nChannels;
  }
  TMMDSPComponent::SetPWaveFormat(value);
}

void TMMCustomWaveIn::SetTimeFormat(TMMTimeFormats value) {
  if (value == timeFormat_) return;
  if (maxRecordTime_ >= 0) {
    const int64_t bytes = ComputeByteLimit();
    const WAVEFORMATEX* f = PWaveFormat();
    if (f != nullptr && f->nAvgBytesPerSec > 0 && bytes != INT64_MAX) {
      int64_t t = bytes;
      if (value == tfMillisecond) t = bytes * 1000 / f->nAvgBytesPerSec;
      if (value == tfSample) t = bytes * f->nSamplesPerSec / f->nAvgBytesPerSec;
      maxRecordTime_ = static_cast<int32_t>(std::min<int64_t>(t, INT32_MAX));
    }
  }
  timeFormat_ = value;
  byteLimit_ = ComputeByteLimit();
}

void TMMCustomWaveIn::SetMaxRecordTime(int32_t value) {
  maxRecordTime_ = value;
  byteLimit_ = ComputeByteLimit();
}

void TMMCustomWaveIn::SetPriority(TThreadPriority value) {
  priority_.store(value);
  if (thread_ && thread_->KernelId.load() != 0) ApplyThreadPriority(thread_->KernelId.load(), value);
}

int64_t TMMCustomWaveIn::ComputeByteLimit() const {
  const WAVEFORMATEX* f = PWaveFormat();
  if (maxRecordTime_ < 0 || f == nullptr || f->nBlockAlign == 0 || f->nSamplesPerSec == 0) {
    return INT64_MAX;
  }
  const int64_t t = maxRecordTime_.load();
  const int64_t align = f->nBlockAlign;
  int64_t bytes = t;
  if (timeFormat_ == tfMillisecond) bytes = RoundUpToBlock(t * f->nAvgBytesPerSec / 1000, align);
  if (timeFormat_ == tfSample) {
    bytes = RoundUpToBlock(t * f->nAvgBytesPerSec / f->nSamplesPerSec, align);
  }
  return bytes / align * align;
}

// ---------------------------------------------------------------------------
// Device position

uint32_t TMMCustomWaveIn::DevicePosition() {
  const WAVEFORMATEX* f = PWaveFormat();
  const HWAVE h = handle_.load();
  if (!IsOpen() || f == nullptr || closing_.load() || h == 0) return 0;
  TMMTime t;
  t.wType = TIME_SAMPLES;
  if (devices_->waveInGetPosition(h, t) == MMSYSERR_NOERROR && t.wType == TIME_SAMPLES) {
    return t.value;
  }
  t.wType = TIME_BYTES;
  Check("WaveInGetPosition:", devices_->waveInGetPosition(h, t));
  if (t.wType == TIME_SAMPLES) return t.value;
  if (t.wType == TIME_BYTES && f->nAvgBytesPerSec > 0) {
    return static_cast<uint32_t>(uint64_t{t.value} * f->nSamplesPerSec / f->nAvgBytesPerSec);
  }
  return 0;
}

int64_t TMMCustomWaveIn::Position() const {
  const WAVEFORMATEX* f = PWaveFormat();
  if (!IsOpen() || f == nullptr || closePending_.load() || f->nSamplesPerSec == 0) return 0;
  const int64_t samples = static_cast<int64_t>(wrapCount_.load()) * wrapBase_.load() +
                          const_cast<TMMCustomWaveIn*>(this)->DevicePosition();
  int64_t result = samples;
  if (timeFormat_ == tfMillisecond) result = samples * 1000 / f->nSamplesPerSec;
  if (timeFormat_ == tfByte) {
    result = RoundUpToBlock(samples * f->nAvgBytesPerSec / f->nSamplesPerSec, f->nBlockAlign);
  }
  const int32_t limit = maxRecordTime_.load();
  if (limit > 0) result = std::min<int64_t>(result, limit);
  return result;
}

TMMDeviceStatistics TMMCustomWaveIn::DeviceStatistics() const {
  TMMDeviceStatistics stats;
  const HWAVE h = handle_.load();
  if (h != 0 && devices_ != nullptr) devices_->GetStatistics(h, stats);
  return stats;
}

// ---------------------------------------------------------------------------
// Format check

bool TMMCustomWaveIn::FormatSupported() {
  const WAVEFORMATEX* f = PWaveFormat();
  if (deviceId_ < -1 || deviceId_ >= numDevs_ || f == nullptr) return false;
  if (devices_->waveInOpen(nullptr, deviceId_, f, nullptr, nullptr, WAVE_FORMAT_QUERY) !=
      MMSYSERR_NOERROR) {
    return false;
  }
  if (f->wFormatTag != WAVE_FORMAT_PCM) return true;
  TMMWaveCaps caps;
  if (devices_->waveInGetDevCapsA(deviceId_, caps) != MMSYSERR_NOERROR) return false;
  const uint32_t rate = f->nSamplesPerSec;
  int band;
  if (rate >= 8000 && rate <= 11025) {
    band = 0;
  } else if (rate >= 11026 && rate <= 22050) {
    band = 4;
  } else if (rate >= 22051 && rate <= 48000) {
    band = 8;
  } else {
    return true;
  }
  if ((f->nChannels != 1 && f->nChannels != 2) ||
      (f->wBitsPerSample != 8 && f->wBitsPerSample != 16)) {
    return true;
  }
  const int bit = band + (f->wBitsPerSample == 16 ? 2 : 0) + (f->nChannels == 2 ? 1 : 0);
  return (caps.Formats & (1u << bit)) != 0;
}

// ---------------------------------------------------------------------------
// Capture thread control

void TMMCustomWaveIn::StartThread() {
  std::erase_if(abandoned_, [](const std::unique_ptr<TMMWaveInThread>& w) {
    if (!w->Finished.load()) return false;
    w->WaitFor();
    return true;
  });
  try {
    thread_ = std::make_unique<TMMWaveInThread>(this);
    thread_->Resume();
  } catch (const std::system_error&) {
    thread_.reset();
    RaiseError(PrefixedMessage("WaveIn:", SCouldNotCreateThread));
  }
  if (!thread_->Ready.WaitFor(kThreadTimeout)) {
    thread_->Terminate();
    thread_->Messages.RequestQuit();
    abandoned_.push_back(std::move(thread_));
    RaiseError(PrefixedMessage("WaveIn:", SCouldNotCreateThread));
  }
}

void TMMCustomWaveIn::EndThread() {
  if (!thread_) return;
  thread_->Terminate();
  thread_->Messages.RequestQuit();
  if (!thread_->Failed.load()) {
    // The worker may wait for the main thread inside a delivery: serve it.
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

// ---------------------------------------------------------------------------
// Notifications from the device

void TMMCustomWaveIn::DeviceCallback(HWAVE handle, uint32_t message, void* instance,
                                     PWaveHdr header, MMRESULT code) {
  auto* self = static_cast<TMMCustomWaveIn*>(instance);
  switch (message) {
    case MM_WIM_OPEN: self->state_.store(wsOpen); break;
    case MM_WIM_CLOSE: self->state_.store(wsClosed); break;
    case MM_WIM_DATA:
      switch (self->callBackMode_) {
        case cmThread:
          if (self->thread_) self->thread_->Messages.Post(handle, header);
          break;
        case cmCallback:
          try {
            self->HandleBuffer(header);
          } catch (...) {
            self->PostThreadFailure(std::current_exception());
          }
          break;
        case cmWindow: {
          std::weak_ptr<int> alive = self->alive_;
          MainDispatcher().Post([self, alive, handle, header] {
            if (!alive.expired()) self->HandleOnMain(handle, header);
          });
          break;
        }
      }
      break;
    case MM_WIM_ERROR: self->PostLost(handle, code); break;
    default: break;
  }
}

void TMMCustomWaveIn::HandleOnMain(HWAVE handle, PWaveHdr header) {
  if (handle != handle_.load()) return;
  try {
    HandleBuffer(header);
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

void TMMCustomWaveIn::PostThreadFailure(const std::exception_ptr& error) {
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

void TMMCustomWaveIn::PostLost(HWAVE handle, MMRESULT code) {
  std::weak_ptr<int> alive = alive_;
  MainDispatcher().Post([this, alive, handle, code] {
    if (alive.expired() || handle != handle_.load()) return;
    const std::string message = std::string("WaveIn:") + kLFCR + ErrorText(code);
    Fire(OnError);
    try {
      Close();
    } catch (...) {
    }
    try {
      throw EMMWaveInError(message, true);
    } catch (...) {
      HandleApplicationError();
    }
  });
}

void TMMCustomWaveIn::DeferStop() {
  std::weak_ptr<int> alive = alive_;
  const HWAVE handle = handle_.load();
  MainDispatcher().Post([this, alive, handle] {
    if (alive.expired() || handle != handle_.load()) return;
    try {
      Stop();
    } catch (...) {
      HandleApplicationError();
    }
  });
}

void TMMCustomWaveIn::QueueBuffer(PWaveHdr header) {
  SetHeaderFlags(header, (HeaderFlags(header) & ~WHDR_DONE) | WHDR_PREPARED);
  {
    std::lock_guard lock(lock_);
    ++queued_;
  }
  const MMRESULT r = devices_->waveInAddBuffer(handle_.load(), header, 32);
  if (r != MMSYSERR_NOERROR) {
    {
      std::lock_guard lock(lock_);
      --queued_;
    }
    DeviceError("WaveInAddBuffer:", r);
  }
}

void TMMCustomWaveIn::HandleBuffer(PWaveHdr header) {
  if (!IsStarted()) return;
  // Leaving a delivery: a stop asked for meanwhile now completes, through
  // the main thread, also when the delivery failed.
  struct Leave {
    TMMCustomWaveIn* self;
    ~Leave() {
      std::lock_guard lock(self->lock_);
      if (self->depth_.fetch_sub(1) == 1 && self->stopPending_.load() &&
          !self->stopPosted_.load()) {
        self->stopPosted_.store(true);
        self->stopping_.store(true);
        self->DeferStop();
      }
    }
  };
  bool pass = false;
  {
    std::unique_lock lock(lock_);
    if (resetting_.load() || stopping_.load()) {
      pass = !resetting_.load() && header->dwBytesRecorded > 0;
      if (--queued_ <= 0) {
        queued_ = 0;
        resetting_.store(false);
      }
      // Counted as a delivery, so that Stop does not finish under it.
      depth_.fetch_add(1);
      lock.unlock();
      Leave leave{this};
      if (pass) BufferReady(header);
      return;
    }
    depth_.fetch_add(1);
    --queued_;
  }
  Leave leave{this};
  try {
    BufferReady(header);
    if (!stopPending_.load()) {
      const uint32_t position = DevicePosition();
      const uint32_t last = lastPosition_;
      if (position != 0 && position < last && last - position >= 0xFFFF) {
        wrapBase_ = last | 0xFFFFF;
        ++wrapCount_;
      }
      lastPosition_ = position;
      QueueBuffer(header);
    }
  } catch (...) {
    ReportError(std::current_exception());
    throw;
  }
}

void TMMCustomWaveIn::BufferReady(PWaveHdr buffer) {
  bool stopIt = false;
  bytesTotal_ += buffer->dwBytesRecorded;
  const int64_t limit = byteLimit_.load();
  if (maxRecordTime_.load() > 0 && bytesTotal_ >= limit) {
    const int64_t excess = bytesTotal_ - limit;
    buffer->dwBytesRecorded -= static_cast<uint32_t>(std::min<int64_t>(excess, buffer->dwBytesRecorded));
    bytesTotal_ = limit;
    stopIt = true;
  }
  if (++bufferIndex_ >= numBuffers_) bufferIndex_ = 0;
  TMMDSPComponent::BufferReady(buffer);
  if (stopIt && !stopping_.load()) Stop();
}

// ---------------------------------------------------------------------------
// Notification steps

void TMMCustomWaveIn::OpenNotification() { Fire(OnOpen); }

void TMMCustomWaveIn::CloseNotification() {
  handle_.store(0);
  ReleaseBlocks();
  closing_.store(false);
  if (!Destroying()) Fire(OnClose);
}

void TMMCustomWaveIn::StartNotification() {
  state_.fetch_or(wsStarted);
  // The chain starts before the device does, so that no component below
  // sees a buffer before its own Start.
  ChainStart();
  if (!IsPaused()) Check("WaveInStart:", devices_->waveInStart(handle_.load()));
  Fire(OnStart);
}

void TMMCustomWaveIn::PauseNotification() {
  state_.fetch_or(wsPaused);
  ChainPause();
  Fire(OnPause);
}

void TMMCustomWaveIn::RestartNotification() {
  state_.fetch_and(~wsPaused);
  ChainRestart();
  Fire(OnRestart);
}

void TMMCustomWaveIn::StopNotification() {
  {
    std::lock_guard lock(lock_);
    if (depth_.load() > 0) {
      stopPending_.store(true);
      // A deferred stop that meets the next delivery (the buffers the
      // reset returns) is deferred again: that delivery must post it anew.
      stopPosted_.store(false);
      return;
    }
    queued_ = 0;
  }
  state_.fetch_and(~(wsStarted | wsPaused));
  bufferIndex_ = 0;
  stopPending_.store(false);
  ChainStop();
  if (!Destroying()) Fire(OnStop);
  if (closePending_.load()) Close();
}

}  // namespace tv
