#include "TMMWaveOut.h"

#include <chrono>
#include <thread>

#include "MMDispatch.h"
#include "MMNotice.h"
#include "MMUtils.h"

namespace tv {

namespace {

using namespace std::chrono_literals;

// Shows the wait cursor while filling a large ring.
class WaitCursor {
 public:
  explicit WaitCursor(bool show) : shown_(show) {
    if (shown_) ShowWaitCursor(true);
  }
  ~WaitCursor() { Restore(); }
  void Restore() {
    if (shown_) ShowWaitCursor(false);
    shown_ = false;
  }

 private:
  bool shown_;
};

}  // namespace

// ---------------------------------------------------------------------------
// Device operations

void TMMWaveOut::FailClosed() {
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

void TMMWaveOut::ReleaseBlocks() {
  for (PWaveHdr& h : headers_) {
    if (h == nullptr) continue;
    void* block = h;
    allocator_.Release(block);
    h = nullptr;
  }
}

void TMMWaveOut::Open() {
  if (numDevs_ == 0) RaiseError(LoadResString(SNoPlayingDevice));
  if (deviceId_ == InvalidId) RaiseError(LoadResString(SInvalidDeviceId));
  if (PWaveFormat() == nullptr) RaiseError(PrefixedMessage("WaveOutOpen:", SInvalidWaveFormat));
  if (IsOpen()) Close();
  if (IsOpen() || closing_.load()) return;
  closeClaim_.Reset();
  closing_.store(false);
  resetting_.store(false);
  stopping_.store(false);
  pausePosted_.store(false);
  try {
    const WAVEFORMATEX* f = PWaveFormat();
    if (deviceId_ < -1 || deviceId_ >= numDevs_ ||
        devices_->waveOutOpen(nullptr, deviceId_, f, nullptr, nullptr, WAVE_FORMAT_QUERY) !=
            MMSYSERR_NOERROR) {
      RaiseError(PrefixedMessage("WaveOutOpen:", SCantPlayFormat));
    }
    handle_.store(0);
    closePending_.store(false);
    ChainOpen();
    if (callBackMode_ == cmThread) StartThread();
    uint32_t flags = CALLBACK_FUNCTION;
    if (mapped_ && deviceId_ >= 0) flags |= WAVE_MAPPED;
    HWAVE h = 0;
    Check("WaveOutOpen:", devices_->waveOutOpen(&h, deviceId_, f, &DeviceCallback, this, flags));
    handle_.store(h);
    for (int i = 0; i < 500 && !IsOpen(); ++i) std::this_thread::sleep_for(10ms);
    if (!IsOpen()) RaiseError(PrefixedMessage("WaveOutOpen:", SUnableToOpenDevice));
    Fire(OnOpen);
  } catch (...) {
    const std::exception_ptr error = std::current_exception();
    ReportError(error);
    FailClosed();
    std::rethrow_exception(error);
  }
}

void TMMWaveOut::Start() {
  if (!IsOpen()) Open();
  if (!IsOpen() || IsStarted()) return;
  try {
    {
      std::lock_guard lock(lock_);
      bytesPlayed_ = 0;
      queued_ = 0;
      pendingDone_ = 0;
    }
    positionOffset_.store(0);
    lastPosition_.store(0);
    wrapCount_.store(0);
    wrapBase_.store(0);
    loopRestartPosition_.store(0);
    loopsLeft_.store(loopCount_.load());
    depth_.store(0);
    stopPending_.store(false);
    resetting_.store(false);
    stopping_.store(false);
    pausePosted_.store(false);
    ringIndex_ = 0;
    WaitCursor cursor(showHourGlass_ && int64_t{BufferSize()} * numBuffers_ > 100000);
    const HWAVE h = handle_.load();
    // Nothing plays while the ring fills.
    Check("WaveOutPause:", devices_->waveOutPause(h));
    ChainStart();
    const int written = FillRing();
    inUse_ = written;
    state_.fetch_or(wsStarted);
    cursor.Restore();
    if (written == 0) {
      ChainStop();
      state_.fetch_and(~(wsStarted | wsPaused));
      RaiseError(PrefixedMessage("WaveOutStart:", SUnableToStartDevice));
    }
    if (!IsPaused()) Check("WaveOutRestart:", devices_->waveOutRestart(h));
    Fire(OnStart);
  } catch (...) {
    const std::exception_ptr error = std::current_exception();
    ReportError(error);
    FailClosed();
    std::rethrow_exception(error);
  }
}

void TMMWaveOut::Pause() {
  if (!IsOpen()) Open();
  if (!IsOpen() || IsPaused()) return;
  try {
    if (IsStarted()) {
      MMRESULT pauseResult;
      MMRESULT resetResult = MMSYSERR_NOERROR;
      {
        std::lock_guard lock(lock_);
        const HWAVE h = handle_.load();
        pauseResult = devices_->waveOutPause(h);
        state_.fetch_or(wsPaused);
        if (HasUpstreamDriver()) {
          positionOffset_.fetch_add(DevicePosition());
          resetting_.store(true);
          resetResult = devices_->waveOutReset(h);
          ringIndex_ = 0;
          queued_ = 0;
        }
      }
      Check("WaveOutPause:", pauseResult);
      Check("WaveOutReset:", resetResult);
    } else {
      state_.fetch_or(wsPaused);
    }
    ChainPause();
    Fire(OnPause);
  } catch (...) {
    const std::exception_ptr error = std::current_exception();
    ReportError(error);
    FailClosed();
    std::rethrow_exception(error);
  }
}

void TMMWaveOut::Restart() {
  if (!(IsStarted() && IsPaused())) return;
  try {
    resetting_.store(false);
    ChainRestart();
    Check("WaveOutRestart:", devices_->waveOutRestart(handle_.load()));
    state_.fetch_and(~wsPaused);
    Fire(OnRestart);
  } catch (...) {
    const std::exception_ptr error = std::current_exception();
    ReportError(error);
    FailClosed();
    std::rethrow_exception(error);
  }
}

void TMMWaveOut::Rewind() {
  // Only a started output has a ring to refill; one paused before its
  // Start fills the ring when it starts.
  if (!IsStarted() || resetting_.load()) return;
  try {
    const HWAVE h = handle_.load();
    {
      std::lock_guard lock(lock_);
      resetting_.store(true);
    }
    Check("WaveOutPause:", devices_->waveOutPause(h));
    // Buffers reported as played before the rewind must not be refilled.
    Flush();
    const MMRESULT r = devices_->waveOutReset(h);
    if (r != MMSYSERR_NOERROR) DeviceError("WaveOutReset:", r);
    for (int i = 0; i < 100; ++i) {
      {
        std::lock_guard lock(lock_);
        if (!resetting_.load() || queued_ <= 0) break;
      }
      MainDispatcher().ProcessMessages();
      std::this_thread::sleep_for(10ms);
    }
    Check("WaveOutRestart:", devices_->waveOutRestart(h));
    Check("WaveOutPause:", devices_->waveOutPause(h));
    {
      std::lock_guard lock(lock_);
      queued_ = 0;
      // The reset is over even when nothing was queued to report it.
      resetting_.store(false);
    }
    ringIndex_ = 0;
    positionOffset_.store(0);
    lastPosition_.store(0);
    wrapCount_.store(0);
    wrapBase_.store(0);
    loopRestartPosition_.store(0);
    ChainRewind();
    const int written = FillRing();
    inUse_ = written;
    if (!IsPaused()) Check("WaveOutRestart:", devices_->waveOutRestart(h));
    if (written == 0) Stop();
  } catch (...) {
    const std::exception_ptr error = std::current_exception();
    ReportError(error);
    FailClosed();
    std::rethrow_exception(error);
  }
}

void TMMWaveOut::WaitForQueueEmpty(int tries) {
  for (int i = 0; i < tries; ++i) {
    {
      std::lock_guard lock(lock_);
      if (queued_ <= 0) return;
    }
    MainDispatcher().ProcessMessages();
    std::this_thread::sleep_for(10ms);
  }
}

void TMMWaveOut::UnprepareAll() {
  const HWAVE h = handle_.load();
  std::exception_ptr firstError;
  for (PWaveHdr header : headers_) {
    if (header == nullptr) continue;
    // Only a buffer the device still holds can still become done.
    for (int n = 0; n < 65000 && (HeaderFlags(header) & (WHDR_DONE | WHDR_INQUEUE)) == WHDR_INQUEUE;
         ++n) {
      std::this_thread::yield();
    }
    if ((HeaderFlags(header) & WHDR_DONE) == 0) SetHeaderFlags(header, WHDR_DONE);
    if (h == 0) continue;
    const MMRESULT r = devices_->waveOutUnprepareHeader(h, header, 32);
    if (r != MMSYSERR_NOERROR && !firstError) {
      try {
        DeviceError("WaveOut:", r);
      } catch (...) {
        firstError = std::current_exception();
      }
    }
  }
  if (firstError) std::rethrow_exception(firstError);
}

void TMMWaveOut::StopNotification() {
  {
    std::lock_guard lock(lock_);
    if (depth_.load() > 0) {
      stopPending_.store(true);
      return;
    }
  }
  state_.fetch_and(~(wsStarted | wsPaused));
  WaitForQueueEmpty(500);
  // Reports of the run that ends must not reach the next one.
  Flush();
  ChainStop();
  std::exception_ptr error;
  try {
    UnprepareAll();
  } catch (...) {
    error = std::current_exception();
  }
  ReleaseBlocks();
  inUse_ = 0;
  {
    std::lock_guard lock(lock_);
    queued_ = 0;
  }
  ringIndex_ = 0;
  stopPending_.store(false);
  if (!Destroying()) Fire(OnStop);
  if (closePending_.load()) Close();
  if (error) std::rethrow_exception(error);
}

void TMMWaveOut::Stop() {
  if ((state_.load() & (wsStarted | wsPaused)) == 0) return;
  try {
    MMRESULT r;
    {
      std::lock_guard lock(lock_);
      stopping_.store(true);
      resetting_.store(true);
      wrapCount_.store(0);
      wrapBase_.store(0);
      r = devices_->waveOutReset(handle_.load());
    }
    if (r != MMSYSERR_NOERROR) DeviceError("WaveOutReset:", r);
    StopNotification();
  } catch (...) {
    const std::exception_ptr error = std::current_exception();
    ReportError(error);
    if (!closing_.load() && MainDispatcher().IsMainThread()) FailClosed();
    std::rethrow_exception(error);
  }
}

void TMMWaveOut::Close() {
  if (!((IsOpen() && !closing_.load()) || closePending_.load())) return;
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
    state_.fetch_and(~(wsStarted | wsPaused));
  }
  if (!closeClaim_.Claim(closing_)) return;
  closePending_.store(false);
  bool closed = true;
  const HWAVE h = handle_.load();
  if (h != 0) {
    // Buffers of a stop that failed are taken back before the device goes.
    attempt([this] { UnprepareAll(); });
    const MMRESULT r = devices_->waveOutClose(h);
    attempt([&] { Check("WaveOutClose:", r); });
    for (int i = 0; i < 500 && (state_.load() & wsClosed) == 0; ++i) {
      std::this_thread::sleep_for(10ms);
    }
    closed = (state_.load() & wsClosed) != 0;
    wrapCount_.store(0);
    wrapBase_.store(0);
  }
  state_.store(wsClosed);
  attempt([this] { ChainClose(); });
  EndThread();
  ReleaseBlocks();
  handle_.store(0);
  closing_.store(false);
  if (!Destroying()) Fire(OnClose);
  if (!closed && !firstError) {
    try {
      throw EMMWaveOutError(PrefixedMessage("WaveOutClose:", SUnableToCloseDevice));
    } catch (...) {
      firstError = std::current_exception();
    }
  }
  // Reported, not passed on.
  if (firstError) ReportError(firstError);
}

}  // namespace tv
