#include "TMMHiTimer.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>

#include "MMDispatch.h"
#include "MMEvent.h"
#include "MMNotice.h"

namespace tv {

namespace {

constexpr auto kThreadTimeout = std::chrono::milliseconds(5000);

std::string ThreadError() {
  return std::string("HiTimer:") + kLFCR + LoadResString(SCouldNotCreateThread);
}

}  // namespace

// What one run of the timer shares with its ticks and its thread. A rebuild
// makes a new core, so a tick still queued for an old run finds it stopped.
struct TMMHiTimer::Core {
  Core(TMMHiTimer* s, TMMTimerEvent cb, bool sync, TThreadPriority prio)
      : sender(s), callback(std::move(cb)), synchronize(sync), priority(prio) {}

  TMMHiTimer* const sender;
  const TMMTimerEvent callback;
  std::atomic<bool> synchronize;
  std::atomic<TThreadPriority> priority;

  std::mutex lock;
  std::condition_variable changed;
  bool stopped = false;     // no tick may start any more
  bool inCallback = false;  // the timer thread runs OnTimer itself
  bool finished = false;    // the timer thread has left its loop
  std::atomic<int> posts{0};
  std::atomic<pid_t> tid{0};

  std::shared_ptr<TMMEventGroup> events = std::make_shared<TMMEventGroup>();
  TMMAutoEvent ready{events};
  TMMAutoEvent tick{events};
  TMMAutoEvent done{events};
  TMMAutoEvent quit{events};

  bool Stopped() {
    std::lock_guard guard(lock);
    return stopped;
  }
  void Call() noexcept {
    try {
      callback(sender);
    } catch (...) {
      HandleApplicationError();
    }
  }
  // A tick that reached the main thread.
  void RunOnMain() {
    if (!Stopped()) Call();
  }
};

TMMHiTimer::TMMHiTimer(std::string name) : TMMNonVisualComponent(std::move(name)) {}

TMMHiTimer::~TMMHiTimer() { StopTimer(); }

void TMMHiTimer::SetEnabled(bool value) {
  if (value == enabled_) return;
  enabled_ = value;
  Rebuild();
}

void TMMHiTimer::SetInterval(int32_t value) {
  if (value == interval_) return;
  interval_ = value;
  Rebuild();
}

void TMMHiTimer::SetOnTimer(TMMTimerEvent value) {
  onTimer_ = std::move(value);
  Rebuild();
}

void TMMHiTimer::SetCallBackMode(TMMCBMode value) {
  if (value == callBackMode_) return;
  if (value == cmCallback) {
    ShowInformation("TMMHiTimer", kCallbackModeNotice);
    return;
  }
  callBackMode_ = value;
  Rebuild();
}

void TMMHiTimer::SetPriority(TThreadPriority value) {
  priority_ = value;
  if (core_) {
    core_->priority.store(value);
    const pid_t tid = core_->tid.load();
    if (tid != 0) ApplyThreadPriority(tid, value);
  }
}

void TMMHiTimer::SetSynchronize(bool value) {
  synchronize_ = value;
  if (core_) core_->synchronize.store(value);
}

void TMMHiTimer::SetTickSource(TimerTickSource* source) { injected_ = source; }

void TMMHiTimer::Rebuild() {
  StopTimer();
  StartTimer();
}

void TMMHiTimer::ThreadBody(const std::shared_ptr<Core>& c) {
  c->tid.store(CurrentThreadKernelId());
  if (c->priority.load() != tpNormal) ApplyThreadPriority(c->tid.load(), c->priority.load());
  c->ready.Set();
  for (;;) {
    if (TMMAutoEvent::WaitAny({&c->quit, &c->tick}) != 1) break;
    if (c->synchronize.load()) {
      // Not Invoke: the thread must stay free to quit while the main thread
      // is busy, so that stopping the timer there never waits for it.
      MainDispatcher().Post([c] {
        c->RunOnMain();
        c->done.Set();
      });
      if (TMMAutoEvent::WaitAny({&c->quit, &c->done}) != 1) break;
    } else {
      {
        std::lock_guard guard(c->lock);
        if (c->stopped) break;
        c->inCallback = true;
      }
      c->Call();
      std::lock_guard guard(c->lock);
      c->inCallback = false;
      c->changed.notify_all();
    }
  }
  std::lock_guard guard(c->lock);
  c->finished = true;
  c->changed.notify_all();
}

void TMMHiTimer::StartTimer() {
  if (interval_ <= 0 || !enabled_ || !onTimer_) return;
  auto c = std::make_shared<Core>(this, onTimer_, synchronize_, priority_);
  if (callBackMode_ == cmThread) {
    try {
      thread_ = std::thread([c] { ThreadBody(c); });
    } catch (const std::system_error&) {
      throw EMMHiTimerError(ThreadError());
    }
    if (!c->ready.WaitFor(kThreadTimeout)) {
      c->quit.Set();
      thread_.detach();
      throw EMMHiTimerError(ThreadError());
    }
  }
  TimerTickSource* source = injected_;
  if (source == nullptr) {
    ownSource_ = std::make_unique<ThreadTickSource>(std::chrono::milliseconds(interval_));
    source = ownSource_.get();
  }
  const TMMCBMode mode = callBackMode_;
  bool started = false;
  try {
    started = source->Start([c, mode] {
      if (mode == cmThread) {
        c->tick.Set();
        return;
      }
      if (c->posts.load() >= kMaxPostedTicks) return;
      c->posts.fetch_add(1);
      MainDispatcher().Post([c] {
        c->posts.fetch_sub(1);
        c->RunOnMain();
      });
    });
  } catch (const std::system_error&) {
    started = false;
  }
  core_ = c;
  source_ = source;
  if (!started) {
    StopTimer();
    throw EMMHiTimerError(LoadResString(SNotEnoughTimers));
  }
}

void TMMHiTimer::StopTimer() noexcept {
  if (!core_) return;
  if (source_ != nullptr) source_->Stop();
  source_ = nullptr;
  ownSource_.reset();
  std::shared_ptr<Core> c = std::move(core_);
  bool busy = false;
  {
    std::lock_guard guard(c->lock);
    c->stopped = true;
    busy = c->inCallback;
  }
  if (!thread_.joinable()) return;
  c->quit.Set();
  if (thread_.get_id() == std::this_thread::get_id()) {
    // Stopped from its own tick: the thread ends once the tick returns.
    thread_.detach();
    return;
  }
  if (busy) {
    std::unique_lock guard(c->lock);
    const bool ended = waitForTerminate_ &&
                       c->changed.wait_for(guard, kThreadTimeout, [&] { return c->finished; });
    if (!ended) {
      // It finishes its tick on its own; it holds the core, not the timer.
      guard.unlock();
      thread_.detach();
      return;
    }
  }
  // Waiting only on its events (or between them): it ends at once.
  thread_.join();
}

}  // namespace tv
