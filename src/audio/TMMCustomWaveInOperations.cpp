#include "TMMCustomWaveIn.h"

#include <chrono>
#include <thread>

#include "MMDispatch.h"
#include "MMNotice.h"
#include "MMUtils.h"

namespace tv {

using namespace std::chrono_literals;

// ---------------------------------------------------------------------------
// Device operations

void TMMCustomWaveIn::FailClosed() {
  state_.fetch_or(wsOpen);
  closing_.store(false);
  closePending_.store(false);
  closeClaim_.Reset();
  try {
    Close();
  } catch (...) {
  }
  state_.store(wsClosed);
}

void TMMCustomWaveIn::ReleaseBlocks() {
  for (PWaveHdr& h : headers_) {
    if (h == nullptr) continue;
    void* block = h;
    allocator_.Release(block);
    h = nullptr;
  }
}

void TMMCustomWaveIn::Open() {
  if (numDevs_ == 0) RaiseError(LoadResString(SNoRecordingDevice));
  if (deviceId_ == InvalidId) RaiseError(LoadResString(SInvalidDeviceId));
  if (PWaveFormat() == nullptr) RaiseError(LoadResString(SInvalidWaveFormat));
  if (IsOpen()) Close();
  if (IsOpen() || closing_.load()) return;
  closeClaim_.Reset();
  try {
    stopping_.store(false);
    resetting_.store(false);
    stopPosted_.store(false);
    if (!FormatSupported()) RaiseError(PrefixedMessage("WaveInOpen:", SCantRecordFormat));
    handle_.store(0);
    closePending_.store(false);
    if (callBackMode_ == cmThread) StartThread();
    HWAVE h = 0;
    Check("WaveInOpen:", devices_->waveInOpen(&h, deviceId_, PWaveFormat(), &DeviceCallback, this,
                                              CALLBACK_FUNCTION));
    handle_.store(h);
    ChainOpen();
    for (int i = 0; i < 100 && !IsOpen(); ++i) std::this_thread::sleep_for(10ms);
    if (!IsOpen()) RaiseError(PrefixedMessage("WaveInOpen:", SUnableToOpenDevice));
    const auto size = static_cast<uint32_t>(BufferSize());
    for (int i = 0; i < numBuffers_; ++i) {
      if (headers_[i] == nullptr) {
        void* block = allocator_.Allocate(kAllocMoveable | kAllocZeroInit, size + kBufferHeaderSize);
        if (block == nullptr) RaiseError(LoadResString(SNoMemoryForHeader));
        headers_[i] = static_cast<PWaveHdr>(block);
        InitBufferHeader(headers_[i], size);
      }
      Check("WaveInPrepareHeader:", devices_->waveInPrepareHeader(h, headers_[i], 32));
    }
    OpenNotification();
  } catch (...) {
    const std::exception_ptr error = std::current_exception();
    ReportError(error);
    FailClosed();
    std::rethrow_exception(error);
  }
}

void TMMCustomWaveIn::Start() {
  if (!IsOpen()) Open();
  if (!IsOpen() || IsStarted()) return;
  try {
    bytesTotal_ = 0;
    bufferIndex_ = 0;
    depth_.store(0);
    stopping_.store(false);
    resetting_.store(false);
    stopPending_.store(false);
    stopPosted_.store(false);
    {
      std::lock_guard lock(lock_);
      queued_ = 0;
    }
    lastPosition_ = 0;
    wrapCount_ = 0;
    wrapBase_ = 0;
    byteLimit_ = ComputeByteLimit();
    for (int i = 0; i < numBuffers_; ++i) QueueBuffer(headers_[i]);
    StartNotification();
  } catch (...) {
    const std::exception_ptr error = std::current_exception();
    ReportError(error);
    FailClosed();
    std::rethrow_exception(error);
  }
}

void TMMCustomWaveIn::Pause() {
  if (!IsOpen()) Open();
  if (!IsOpen() || IsPaused()) return;
  try {
    if (IsStarted()) Check("WaveInPause:", devices_->waveInStop(handle_.load()));
    PauseNotification();
  } catch (...) {
    const std::exception_ptr error = std::current_exception();
    ReportError(error);
    FailClosed();
    std::rethrow_exception(error);
  }
}

void TMMCustomWaveIn::Restart() {
  if (!(IsStarted() && IsPaused())) return;
  try {
    Check("WaveInRestart:", devices_->waveInStart(handle_.load()));
    RestartNotification();
  } catch (...) {
    const std::exception_ptr error = std::current_exception();
    ReportError(error);
    FailClosed();
    std::rethrow_exception(error);
  }
}

void TMMCustomWaveIn::WaitForQueueEmpty() {
  for (int i = 0; i < 100; ++i) {
    {
      std::lock_guard lock(lock_);
      if (queued_ <= 0) return;
    }
    // Also in thread mode: a delivery may be waiting for the main thread.
    MainDispatcher().ProcessMessages();
    std::this_thread::sleep_for(10ms);
  }
}

void TMMCustomWaveIn::Stop() {
  if ((state_.load() & (wsStarted | wsPaused)) == 0) return;
  try {
    MMRESULT stopResult;
    MMRESULT resetResult;
    {
      std::lock_guard lock(lock_);
      stopping_.store(true);
      stopResult = devices_->waveInStop(handle_.load());
      wrapCount_ = 0;
      wrapBase_ = 0;
      resetting_.store(true);
      resetResult = devices_->waveInReset(handle_.load());
    }
    Check("WaveInStop:", stopResult);
    Check("WaveInReset:", resetResult);
    if (depth_.load() == 0) WaitForQueueEmpty();
    StopNotification();
  } catch (...) {
    const std::exception_ptr error = std::current_exception();
    ReportError(error);
    // On a delivering thread the error ends that thread, which has the
    // device closed on the main thread.
    if (!closing_.load() && MainDispatcher().IsMainThread()) FailClosed();
    std::rethrow_exception(error);
  }
}

void TMMCustomWaveIn::Close() {
  if (!IsOpen()) return;
  if (closing_.load() && !closePending_.load()) return;
  closing_.store(true);
  std::exception_ptr firstError;
  const auto attempt = [&](const auto& step) {
    try {
      step();
    } catch (...) {
      if (!firstError) firstError = std::current_exception();
    }
  };
  if (state_.load() & (wsStarted | wsPaused)) {
    attempt([this] { Stop(); });
    if (stopPending_.load()) WaitForHandlerToLeave(callBackMode_, stopPending_);
    if (stopPending_.load()) {
      closePending_.store(true);
      return;
    }
    // A stop that failed still leaves the device stopped.
    state_.fetch_and(~(wsStarted | wsPaused));
  }
  if (!closeClaim_.Claim(closing_)) return;
  closePending_.store(false);
  bool closed = true;
  const HWAVE h = handle_.load();
  if (h != 0) {
    devices_->waveInStop(h);
    devices_->waveInReset(h);
    for (int i = 0; i < numBuffers_; ++i) {
      PWaveHdr header = headers_[i];
      if (header == nullptr) continue;
      // Only a buffer the device still holds can still become done.
      for (int n = 0; n < 65000 && (HeaderFlags(header) & (WHDR_DONE | WHDR_INQUEUE)) == WHDR_INQUEUE;
           ++n) {
        std::this_thread::yield();
      }
      if ((HeaderFlags(header) & WHDR_DONE) == 0) SetHeaderFlags(header, WHDR_DONE);
      const MMRESULT r = devices_->waveInUnprepareHeader(h, header, 32);
      attempt([&] { Check("WaveInUnprepareHeader:", r); });
    }
    const MMRESULT r = devices_->waveInClose(h);
    attempt([&] { Check("WaveInClose:", r); });
    for (int i = 0; i < 100 && (state_.load() & wsClosed) == 0; ++i) {
      std::this_thread::sleep_for(10ms);
    }
    closed = (state_.load() & wsClosed) != 0;
    wrapCount_ = 0;
    wrapBase_ = 0;
  }
  // Failures leave the device closed.
  state_.store(wsClosed);
  attempt([this] { ChainClose(); });
  EndThread();
  CloseNotification();
  if (!closed && !firstError) {
    try {
      throw EMMWaveInError(PrefixedMessage("WaveInClose:", SUnableToCloseDevice));
    } catch (...) {
      firstError = std::current_exception();
    }
  }
  // Reported, not passed on.
  if (firstError) ReportError(firstError);
}

}  // namespace tv
