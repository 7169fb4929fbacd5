#include "TMMTrigger.h"

#include <chrono>
#include <system_error>
#include <thread>

#include "MMDispatch.h"
#include "MMUtils.h"

namespace tv {

namespace {

constexpr auto kWorkerTimeout = std::chrono::milliseconds(5000);

std::string Prefixed(const char* prefix, int id) {
  return std::string(prefix) + kLFCR + LoadResString(id);
}

}  // namespace

// ---------------------------------------------------------------------------
// Worker

TMMTriggerThread::TMMTriggerThread(TMMTrigger* trigger)
    : TMMDSPThread(trigger), trigger_(trigger) {}

TMMTriggerThread::~TMMTriggerThread() {
  Terminate();
  Quit.Set();
  WaitFor();
}

void TMMTriggerThread::Execute() {
  TMMTrigger* t = trigger_;
  Ready.Set();
  try {
    while (!Terminated()) {
      if (TMMAutoEvent::WaitAny({&Quit, &Data}) == 0) break;
      CheckSuspended();
      if (Terminated()) break;
      if (!t->stopping_.load()) t->ProcessBuffer();
      if (!t->stopping_.load() && t->paced_.load()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(Max(t->interval_.load(), 1)));
      }
      if (!t->stopping_.load()) Data.Set();
    }
  } catch (...) {
    t->workerFailed_.store(true);
    HandleApplicationError();
    try {
      Synchronize([t] {
        if (t->IsOpen()) t->Close();
      });
    } catch (...) {
      HandleApplicationError();
    }
    Finished.store(true);
    return;
  }
  Ready.Set();
  Finished.store(true);
}

// ---------------------------------------------------------------------------
// Trigger

TMMTrigger::TMMTrigger(std::string name) : TMMCustomSoundComponent(std::move(name)) {}

TMMTrigger::~TMMTrigger() {
  try {
    DriverClose();
  } catch (...) {
  }
  if (IsOpen()) {
    // A close waits behind a delivery: let it finish, then close for good.
    WaitForDelivery();
    closePending_.store(false);
    closing_.store(false);
    try {
      if (IsStarted() || IsPaused()) DriverStop();
      DriverClose();
    } catch (...) {
    }
  }
  alive_.reset();
  if (thread_) abandoned_.push_back(std::move(thread_));
  for (auto& worker : abandoned_) {
    worker->Terminate();
    worker->Quit.Set();
    if (worker->Suspended()) worker->Resume();
    // A worker may still wait for the main thread; keep serving it.
    while (!worker->Finished.load()) {
      MainDispatcher().ProcessMessages();
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  abandoned_.clear();
  ReleaseBuffer();
  allocator_.FreeAll();
  Unlink();
}

void TMMTrigger::Fire(const TNotifyEvent& event) {
  if (event) event(this);
}

void TMMTrigger::ReportError(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const EMMTriggerError& e) {
    if (e.Reported) return;
  } catch (...) {
  }
  Fire(OnError);
}

void TMMTrigger::Error(const std::string& message) {
  Fire(OnError);
  throw EMMTriggerError(message, true);
}

void TMMTrigger::WaitForDelivery() {
  for (;;) {
    {
      std::lock_guard lock(lock_);
      if (inFlight_ == 0) return;
    }
    MainDispatcher().ProcessMessages();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

int32_t TMMTrigger::BufferSize() const { return TMMDSPComponent::BufferSize(); }

void TMMTrigger::SetBufferSize(int32_t value) {
  if (value == BufferSize()) return;
  if (IsOpen()) Error(LoadResString(SPropertyWhileOpen));
  allocator_.FreeAll();
  TMMDSPComponent::SetBufferSize(Max(value, 32));
}

void TMMTrigger::SetPWaveFormat(const WAVEFORMATEX* value) {
  DriverClose();
  TMMDSPComponent::SetPWaveFormat(value);
}

void TMMTrigger::BufferLoad(PWaveHdr buffer, bool& moreBuffers) {
  buffer->dwBufferLength = static_cast<uint32_t>(BufferSize());
  buffer->dwBytesRecorded = 0;
  buffer->LoopEnabled = 0;
  TMMDSPComponent::BufferLoad(buffer, moreBuffers);
  buffer->dwBufferLength = buffer->dwBytesRecorded;
}

int32_t TMMTrigger::Load() {
  bool more = false;
  BufferLoad(buffer_, more);
  const auto bytes = static_cast<int32_t>(buffer_->dwBytesRecorded);
  moreBuffers_.store(more && bytes > 0);
  return bytes;
}

void TMMTrigger::Deliver() {
  if (synchronize_.load()) {
    TMMDSPThread::Synchronize([this] { TMMDSPComponent::BufferReady(buffer_); });
  } else {
    TMMDSPComponent::BufferReady(buffer_);
  }
}

void TMMTrigger::PostStop() {
  std::weak_ptr<int> alive = aliveToken_;
  MainDispatcher().Post([this, alive] {
    if (alive.expired()) return;
    try {
      DriverStop();
    } catch (...) {
      HandleApplicationError();
    }
  });
}

void TMMTrigger::ProcessBuffer() {
  {
    std::lock_guard lock(lock_);
    if ((state_.load() & kStarted) == 0 || stopping_.load()) return;
    ++inFlight_;
  }
  // An error offered to OnErrorEx and handled there lets the run go on with
  // the next buffer; the one that failed is not handed on again.
  std::exception_ptr escaped;
  auto guarded = [&](const auto& step) {
    try {
      step();
      return true;
    } catch (...) {
      escaped = std::current_exception();
      bool handled = false;
      ReportError(escaped);
      if (OnErrorEx) OnErrorEx(this, handled);
      if (handled) escaped = nullptr;
      return false;
    }
  };
  guarded([this] { Deliver(); });
  if (!escaped && moreBuffers_.load() && !stopPending_.load()) {
    guarded([this] {
      if (Load() <= 0) throw EMMTriggerError(LoadResString(SErrorFillingBuffer));
      if (!stopPending_.load()) {
        if (OnBufferFilled) OnBufferFilled(this, buffer_);
        // The last block goes downstream at once.
        if (!moreBuffers_.load()) Deliver();
      }
    });
  }
  {
    std::lock_guard lock(lock_);
    --inFlight_;
    if (inFlight_ == 0 && (stopPending_.load() || !moreBuffers_.load())) {
      stopping_.store(true);
      PostStop();
    }
  }
  if (escaped) std::rethrow_exception(escaped);
}

void TMMTrigger::StartWorker() {
  {
    std::lock_guard lock(lock_);
    workerFailed_.store(false);
  }
  // Workers left behind earlier are joined once they have ended.
  std::erase_if(abandoned_, [](const std::unique_ptr<TMMTriggerThread>& w) {
    return w->Finished.load();
  });
  try {
    thread_ = std::make_unique<TMMTriggerThread>(this);
    thread_->Resume();
  } catch (const std::system_error&) {
    thread_.reset();
    Error(Prefixed("Trigger:", SCouldNotCreateThread));
  }
  if (!thread_->Ready.WaitFor(kWorkerTimeout)) {
    thread_->Terminate();
    abandoned_.push_back(std::move(thread_));
    Error(Prefixed("Trigger:", SCouldNotCreateThread));
  }
}

void TMMTrigger::EndWorker() {
  if (!thread_) return;
  if (!workerFailed_.load()) {
    if (thread_->Suspended()) thread_->Resume();
    thread_->Quit.Set();
    if (thread_->Ready.WaitFor(kWorkerTimeout)) {
      thread_->Terminate();
      thread_->WaitFor();
      thread_.reset();
      return;
    }
  }
  // A failed worker ends by itself; one that did not answer is abandoned.
  thread_->Terminate();
  abandoned_.push_back(std::move(thread_));
}

void TMMTrigger::AllocateBuffer() {
  if (buffer_ != nullptr) return;
  const auto size = static_cast<uint32_t>(BufferSize());
  void* block = allocator_.Allocate(kAllocMoveable | kAllocZeroInit, size + kBufferHeaderSize);
  if (block == nullptr) Error(LoadResString(SNoMemoryForHeader));
  buffer_ = static_cast<PWaveHdr>(block);
  InitBufferHeader(buffer_, size);
}

void TMMTrigger::ReleaseBuffer() {
  if (buffer_ == nullptr) return;
  void* block = buffer_;
  allocator_.Release(block);
  buffer_ = nullptr;
}

void TMMTrigger::DriverOpen() {
  if (PWaveFormat() == nullptr) Error(Prefixed("TriggerOpen:", SInvalidWaveFormat));
  if (IsOpen()) DriverClose();
  if (IsOpen() || closing_.load()) return;
  closing_.store(false);
  closePending_.store(false);
  stopping_.store(false);
  try {
    ChainOpen();
    StartWorker();
    AllocateBuffer();
    state_.store(kOpened);
    Fire(OnOpen);
  } catch (...) {
    const std::exception_ptr error = std::current_exception();
    ReportError(error);
    state_.store(kOpened);
    DriverClose();
    state_.store(0);
    std::rethrow_exception(error);
  }
}

void TMMTrigger::DriverStart() {
  if (!IsOpen()) DriverOpen();
  if (!IsOpen() || IsStarted()) return;
  try {
    {
      std::lock_guard lock(lock_);
      inFlight_ = 0;
      stopPending_.store(false);
      stopping_.store(false);
    }
    bufferWaiting_.store(false);
    ChainStart();
    moreBuffers_.store(true);
    // The worker may only see the trigger started once this thread is done
    // with the first buffer: a wake-up left over from an earlier run would
    // otherwise let it deliver the buffer while it is still being loaded.
    const int32_t bytes = Load();
    if (bytes > 0 && OnBufferFilled) OnBufferFilled(this, buffer_);
    if (bytes > 0) {
      AddState(kStarted);
      // OnStart comes before the worker is woken, so that it always precedes
      // the first OnBufferReady.
      Fire(OnStart);
      if (!IsPaused()) {
        thread_->Data.Set();
      } else {
        bufferWaiting_.store(true);
      }
    } else {
      ChainStop();
      Error(Prefixed("TriggerStart:", SUnableToStartDevice));
    }
  } catch (...) {
    const std::exception_ptr error = std::current_exception();
    ReportError(error);
    DriverClose();
    state_.store(0);
    std::rethrow_exception(error);
  }
}

void TMMTrigger::DriverPause() {
  if (!IsOpen()) DriverOpen();
  if (!IsOpen() || IsPaused()) return;
  try {
    {
      // Also before Start: a Restart resumes it, and no stray wake-up can
      // deliver a buffer while the trigger is paused.
      std::lock_guard lock(lock_);
      if (thread_) thread_->Suspend();
    }
    AddState(kPaused);
    ChainPause();
    Fire(OnPause);
  } catch (...) {
    const std::exception_ptr error = std::current_exception();
    ReportError(error);
    DriverClose();
    std::rethrow_exception(error);
  }
}

void TMMTrigger::DriverRestart() {
  if (!(IsStarted() && IsPaused())) return;
  try {
    if (thread_) thread_->Resume();
    RemoveState(kPaused);
    ChainRestart();
    // A buffer loaded by a Start issued while paused is still waiting.
    if (bufferWaiting_.exchange(false) && thread_) thread_->Data.Set();
    Fire(OnRestart);
  } catch (...) {
    const std::exception_ptr error = std::current_exception();
    ReportError(error);
    DriverClose();
    std::rethrow_exception(error);
  }
}

void TMMTrigger::DriverStop() {
  if ((state_.load() & (kStarted | kPaused)) == 0) return;
  try {
    {
      std::lock_guard lock(lock_);
      stopping_.store(true);
      if (inFlight_ > 0) {
        stopPending_.store(true);
        return;
      }
    }
    RemoveState(kStarted | kPaused);
    stopPending_.store(false);
    bufferWaiting_.store(false);
    // A worker suspended by Pause would otherwise stay asleep through the
    // next Start.
    if (thread_ && thread_->Suspended()) thread_->Resume();
    ChainStop();
    Fire(OnStop);
    if (closePending_.load()) DriverClose();
  } catch (...) {
    const std::exception_ptr error = std::current_exception();
    ReportError(error);
    DriverClose();
    std::rethrow_exception(error);
  }
}

void TMMTrigger::DriverClose() {
  if (!IsOpen()) return;
  if (closing_.load() && !closePending_.load()) return;
  closePending_.store(false);
  closing_.store(true);
  try {
    if ((state_.load() & (kStarted | kPaused)) != 0) DriverStop();
    if (stopPending_.load()) {
      closePending_.store(true);
      return;
    }
    state_.store(0);
    ChainClose();
    EndWorker();
    ReleaseBuffer();
    closing_.store(false);
    Fire(OnClose);
  } catch (...) {
    // Reported, not passed on; the trigger ends closed.
    ReportError(std::current_exception());
    state_.store(0);
    try {
      EndWorker();
    } catch (...) {
    }
    ReleaseBuffer();
    closing_.store(false);
    closePending_.store(false);
  }
}

}  // namespace tv
