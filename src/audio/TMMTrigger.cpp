#include "TMMTrigger.h"

#include <algorithm>
#include <system_error>
#include <thread>

#include "MMDispatch.h"
#include "MMUtils.h"

namespace tv {

namespace {

constexpr auto kWorkerTimeout = std::chrono::milliseconds(5000);
constexpr auto kForever = std::chrono::hours(24 * 365);

}  // namespace

// ---------------------------------------------------------------------------
// Worker

TMMTriggerThread::TMMTriggerThread(TMMTrigger* trigger)
    : TMMDSPThread(trigger), trigger_(trigger) {}

TMMTriggerThread::~TMMTriggerThread() {
  Terminate();
  trigger_->Change([](TMMTrigger::Status&) {});
  WaitFor();
}

void TMMTriggerThread::Execute() {
  TMMTrigger& t = *trigger_;
  t.Change([this](TMMTrigger::Status&) { answered_ = true; });
  try {
    while (t.WaitForData(*this)) {
      CheckSuspended();
      if (Terminated()) break;
      if (!t.ProcessBuffer()) continue;
      t.PauseBetweenBuffers(*this);
      // The next buffer follows unless the run is over.
      t.Change([](TMMTrigger::Status& s) {
        if (s.run != TMMTrigger::Run::Stopping) s.dataSignalled = true;
      });
    }
  } catch (...) {
    t.WorkerFailed(std::current_exception());
  }
  t.Change([this](TMMTrigger::Status&) { ended_ = true; });
}

bool TMMTrigger::WaitForData(const TMMTriggerThread& self) {
  std::unique_lock lock(lock_);
  changed_.wait(lock, [&] { return self.Terminated() || status_.dataSignalled; });
  if (self.Terminated()) return false;
  status_.dataSignalled = false;
  return true;
}

void TMMTrigger::PauseBetweenBuffers(const TMMTriggerThread& self) {
  if (!paced_.load()) return;
  const auto pause = std::chrono::milliseconds(Max(interval_.load(), 1));
  std::unique_lock lock(lock_);
  changed_.wait_for(lock, pause,
                    [&] { return self.Terminated() || status_.run == Run::Stopping; });
}

void TMMTrigger::CallOnMain(const std::function<void()>& call) {
  // A main thread that waits for this worker serves the call meanwhile.
  Change([](Status& s) { ++s.waitsForMain; });
  struct Done {
    TMMTrigger* t;
    ~Done() { t->Change([](Status& s) { --s.waitsForMain; }); }
  } done{this};
  TMMDSPThread::Synchronize(call);
}

void TMMTrigger::WorkerFailed(const std::exception_ptr& error) {
  Change([](Status& s) { s.workerFailed = true; });
  const bool owned = static_cast<bool>(OnWorkerError);
  if (!owned) {
    try {
      std::rethrow_exception(error);
    } catch (...) {
      HandleApplicationError();
    }
  }
  try {
    CallOnMain([this, &error, owned] {
      if (owned) {
        try {
          OnWorkerError(this, error);
        } catch (...) {
          HandleApplicationError();
        }
      }
      if (IsOpen()) Close();
    });
  } catch (...) {
    // The main thread is gone: nobody else is left to tell.
    HandleApplicationError();
  }
}

// ---------------------------------------------------------------------------
// Trigger

TMMTrigger::TMMTrigger(std::string name) : TMMCustomSoundComponent(std::move(name)) {}

TMMTrigger::~TMMTrigger() {
  CloseForGood();
  alive_.reset();
  if (thread_) abandoned_.push_back(std::move(thread_));
  for (auto& worker : abandoned_) {
    worker->Terminate();
    if (worker->Suspended()) worker->Resume();
  }
  Change([](Status&) {});
  // A worker may still wait for the main thread; Await serves it.
  Await(
      [this](const Status&) {
        return std::all_of(abandoned_.begin(), abandoned_.end(),
                           [](const auto& w) { return w->ended_; });
      },
      kForever);
  abandoned_.clear();
  ReleaseBuffer();
  allocator_.FreeAll();
  Unlink();
}

void TMMTrigger::CloseForGood() {
  try {
    DriverClose();
  } catch (...) {
    // DriverClose keeps its own errors; what still comes out is a handler's,
    // and a trigger that goes has nobody to hand it to but the application.
    HandleApplicationError();
  }
  if (!IsOpen()) return;
  // A close waits behind a delivery: let it finish, then close for good.
  Await([](const Status& s) { return s.run != Run::Delivering && s.run != Run::StopPending; },
        kForever);
  Change([](Status& s) { s.closing = Closing::None; });
  try {
    if (IsStarted() || IsPaused()) DriverStop();
    DriverClose();
  } catch (...) {
    HandleApplicationError();
  }
}

void TMMTrigger::Change(const std::function<void(Status&)>& change) {
  {
    std::lock_guard lock(lock_);
    change(status_);
  }
  changed_.notify_all();
  MainDispatcher().Wake();
}

TMMTrigger::Status TMMTrigger::Snapshot() const {
  std::lock_guard lock(lock_);
  return status_;
}

bool TMMTrigger::Await(const std::function<bool(const Status&)>& ready,
                       std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  Dispatcher& main = MainDispatcher();
  const bool onMain = main.IsMainThread();
  // A worker in a delivery may call the main thread (a synchronised delivery,
  // a writer's events), and a failing one does: the main thread serves those
  // calls while it waits, and only then, so that no other posted call runs
  // in the middle of a command.
  const auto mayNeedMain = [](const Status& s) {
    return s.waitsForMain > 0 || s.run == Run::Delivering || s.run == Run::StopPending;
  };
  std::unique_lock lock(lock_);
  for (;;) {
    if (ready(status_)) return true;
    if (onMain && mayNeedMain(status_)) {
      lock.unlock();
      main.RunUntil(
          [&] {
            std::lock_guard guard(lock_);
            return ready(status_) || !mayNeedMain(status_);
          },
          std::chrono::duration_cast<std::chrono::milliseconds>(
              deadline - std::chrono::steady_clock::now()));
      lock.lock();
    } else if (changed_.wait_until(lock, deadline) == std::cv_status::timeout) {
      return ready(status_);
    }
    if (std::chrono::steady_clock::now() >= deadline) return ready(status_);
  }
}

bool TMMTrigger::IsOpen() const { return Opened(Snapshot().state); }
bool TMMTrigger::IsStarted() const { return Started(Snapshot().state); }
bool TMMTrigger::IsPaused() const { return PausedState(Snapshot().state); }
bool TMMTrigger::ClosePending() const { return Snapshot().closing == Closing::Pending; }

void TMMTrigger::Fire(const TNotifyEvent& event) {
  if (event) event(this);
}

void TMMTrigger::ReportError(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const EMMTriggerError& e) {
    if (e.Reported()) return;
  } catch (...) {
    // Any other error has not been through Error: it is reported below.
  }
  Fire(OnError);
}

void TMMTrigger::Error(const std::string& message) {
  Fire(OnError);
  throw EMMTriggerError(message, true);
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
  Change([&](Status& s) { s.moreBuffers = more && bytes > 0; });
  return bytes;
}

void TMMTrigger::Deliver() {
  if (synchronize_.load()) {
    CallOnMain([this] { TMMDSPComponent::BufferReady(buffer_); });
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
      // DriverStop has fired OnError and closed the trigger; nobody up a
      // call chain waits for this posted call.
      HandleApplicationError();
    }
  });
}

bool TMMTrigger::ProcessBuffer() {
  bool go = false;
  Change([&](Status& s) {
    if (Started(s.state) && s.run == Run::Idle) {
      s.run = Run::Delivering;
      go = true;
    }
  });
  if (!go) return false;
  // An error offered to OnErrorEx and handled there lets the run go on with
  // the next buffer; the one that failed is not handed on again.
  std::exception_ptr escaped;
  auto guarded = [&](const auto& step) {
    try {
      step();
    } catch (...) {
      escaped = std::current_exception();
      bool handled = false;
      ReportError(escaped);
      if (OnErrorEx) OnErrorEx(this, handled);
      if (handled) escaped = nullptr;
    }
  };
  guarded([this] { Deliver(); });
  const auto stopPending = [this] { return Snapshot().run == Run::StopPending; };
  if (!escaped && Snapshot().moreBuffers && !stopPending()) {
    guarded([&] {
      if (Load() <= 0) throw EMMTriggerError(LoadResString(SErrorFillingBuffer));
      if (!stopPending()) {
        if (OnBufferFilled) OnBufferFilled(this, buffer_);
        // The last block goes downstream at once.
        if (!Snapshot().moreBuffers) Deliver();
      }
    });
  }
  bool post = false;
  Change([&](Status& s) {
    if (s.run == Run::StopPending || !s.moreBuffers) {
      s.run = Run::Stopping;
      post = true;
    } else {
      s.run = Run::Idle;
    }
  });
  if (post) PostStop();
  if (escaped) std::rethrow_exception(escaped);
  return true;
}

void TMMTrigger::StartWorker() {
  Change([](Status& s) { s.workerFailed = false; });
  // Workers left behind earlier are joined once they have ended.
  std::erase_if(abandoned_, [this](const std::unique_ptr<TMMTriggerThread>& w) {
    std::lock_guard lock(lock_);
    return w->ended_;
  });
  try {
    thread_ = std::make_unique<TMMTriggerThread>(this);
    thread_->Resume();
  } catch (const std::system_error&) {
    thread_.reset();
    Error(PrefixedMessage("Trigger:", SCouldNotCreateThread));
  }
  TMMTriggerThread* worker = thread_.get();
  if (!Await([worker](const Status&) { return worker->answered_; }, kWorkerTimeout)) {
    thread_->Terminate();
    abandoned_.push_back(std::move(thread_));
    Error(PrefixedMessage("Trigger:", SCouldNotCreateThread));
  }
}

void TMMTrigger::EndWorker() {
  if (!thread_) return;
  if (!Snapshot().workerFailed) {
    if (thread_->Suspended()) thread_->Resume();
    thread_->Terminate();
    Change([](Status&) {});
    TMMTriggerThread* worker = thread_.get();
    if (Await([worker](const Status&) { return worker->ended_; }, kWorkerTimeout)) {
      thread_->WaitFor();
      thread_.reset();
      return;
    }
  }
  // A failed worker ends by itself; one that did not answer is abandoned.
  thread_->Terminate();
  Change([](Status&) {});
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
  if (PWaveFormat() == nullptr) Error(PrefixedMessage("TriggerOpen:", SInvalidWaveFormat));
  if (IsOpen()) DriverClose();
  bool proceed = false;
  Change([&](Status& s) {
    if (s.state != State::Closed || s.closing != Closing::None) return;
    s.run = Run::Idle;
    proceed = true;
  });
  if (!proceed) return;
  try {
    ChainOpen();
    StartWorker();
    AllocateBuffer();
    Change([](Status& s) { s.state = State::Opened; });
    Fire(OnOpen);
  } catch (...) {
    const std::exception_ptr error = std::current_exception();
    ReportError(error);
    Change([](Status& s) { s.state = State::Opened; });
    DriverClose();
    Change([](Status& s) { s.state = State::Closed; });
    std::rethrow_exception(error);
  }
}

void TMMTrigger::DriverStart() {
  if (!IsOpen()) DriverOpen();
  if (!IsOpen() || IsStarted()) return;
  try {
    Change([](Status& s) {
      s.run = Run::Idle;
      s.dataSignalled = false;
      s.bufferWaiting = false;
    });
    ChainStart();
    Change([](Status& s) { s.moreBuffers = true; });
    // The trigger counts as started only once this thread is done with the
    // first buffer, so the worker never takes it while it is being loaded.
    const int32_t bytes = Load();
    if (bytes > 0 && OnBufferFilled) OnBufferFilled(this, buffer_);
    if (bytes > 0) {
      Change([](Status& s) {
        s.state = s.state == State::OpenedPaused ? State::StartedPaused : State::Started;
      });
      // OnStart comes before the worker is woken, so that it always precedes
      // the first OnBufferReady.
      Fire(OnStart);
      Change([](Status& s) {
        if (PausedState(s.state)) {
          s.bufferWaiting = true;
        } else {
          s.dataSignalled = true;
        }
      });
    } else {
      ChainStop();
      Error(PrefixedMessage("TriggerStart:", SUnableToStartDevice));
    }
  } catch (...) {
    const std::exception_ptr error = std::current_exception();
    ReportError(error);
    DriverClose();
    Change([](Status& s) { s.state = State::Closed; });
    std::rethrow_exception(error);
  }
}

void TMMTrigger::DriverPause() {
  if (!IsOpen()) DriverOpen();
  if (!IsOpen() || IsPaused()) return;
  try {
    // Also before Start: a Restart resumes it, and no stray wake-up can
    // deliver a buffer while the trigger is paused.
    if (thread_) thread_->Suspend();
    Change([](Status& s) {
      s.state = Started(s.state) ? State::StartedPaused : State::OpenedPaused;
    });
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
  if (Snapshot().state != State::StartedPaused) return;
  try {
    if (thread_) thread_->Resume();
    bool waiting = false;
    Change([&](Status& s) {
      s.state = State::Started;
      waiting = s.bufferWaiting;
      s.bufferWaiting = false;
    });
    ChainRestart();
    // A buffer loaded by a Start issued while paused is still waiting.
    if (waiting) Change([](Status& s) { s.dataSignalled = true; });
    Fire(OnRestart);
  } catch (...) {
    const std::exception_ptr error = std::current_exception();
    ReportError(error);
    DriverClose();
    std::rethrow_exception(error);
  }
}

void TMMTrigger::DriverStop() {
  const State state = Snapshot().state;
  if (!Started(state) && !PausedState(state)) return;
  try {
    bool pending = false;
    Change([&](Status& s) {
      if (s.run == Run::Delivering || s.run == Run::StopPending) {
        s.run = Run::StopPending;
        pending = true;
      } else {
        s.run = Run::Stopping;
      }
    });
    // The worker's end of the delivery posts the stop again.
    if (pending) return;
    Change([](Status& s) {
      s.state = State::Opened;
      s.bufferWaiting = false;
    });
    // A worker suspended by Pause would otherwise stay asleep through the
    // next Start.
    if (thread_ && thread_->Suspended()) thread_->Resume();
    ChainStop();
    Fire(OnStop);
    if (Snapshot().closing == Closing::Pending) DriverClose();
  } catch (...) {
    const std::exception_ptr error = std::current_exception();
    ReportError(error);
    DriverClose();
    std::rethrow_exception(error);
  }
}

void TMMTrigger::DriverClose() {
  bool proceed = false;
  Change([&](Status& s) {
    if (!Opened(s.state) || s.closing == Closing::Running) return;
    s.closing = Closing::Running;
    proceed = true;
  });
  if (!proceed) return;
  try {
    if (IsStarted() || IsPaused()) DriverStop();
    bool pending = false;
    Change([&](Status& s) {
      // Still started: the stop waits for the buffer in flight (which may
      // have just come through, its stop posted but not yet run).
      if (Started(s.state) || PausedState(s.state)) {
        s.closing = Closing::Pending;
        pending = true;
      } else {
        s.state = State::Closed;
      }
    });
    // The pending stop closes once it has run.
    if (pending) return;
    ChainClose();
    EndWorker();
    ReleaseBuffer();
    Change([](Status& s) { s.closing = Closing::None; });
    Fire(OnClose);
  } catch (...) {
    // Errors inside Close are reported, not passed on; the trigger ends
    // closed.
    ReportError(std::current_exception());
    Change([](Status& s) { s.state = State::Closed; });
    try {
      EndWorker();
    } catch (...) {
      HandleApplicationError();
    }
    ReleaseBuffer();
    Change([](Status& s) { s.closing = Closing::None; });
  }
}

}  // namespace tv
