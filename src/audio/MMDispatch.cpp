#include "MMDispatch.h"

#include <atomic>
#include <exception>

namespace tv {

namespace {

std::atomic<Dispatcher*> gInstalled{nullptr};

LoopDispatcher& DefaultDispatcher() {
  static LoopDispatcher dispatcher;
  return dispatcher;
}

}  // namespace

Dispatcher& MainDispatcher() {
  Dispatcher* d = gInstalled.load(std::memory_order_acquire);
  return d != nullptr ? *d : DefaultDispatcher();
}

void SetMainDispatcher(Dispatcher* dispatcher) {
  gInstalled.store(dispatcher, std::memory_order_release);
}

LoopDispatcher::LoopDispatcher() : owner_(std::this_thread::get_id()) {}

LoopDispatcher::~LoopDispatcher() {
  if (gInstalled.load() == this) SetMainDispatcher(nullptr);
}

void LoopDispatcher::BindToCurrentThread() {
  std::lock_guard lock(lock_);
  owner_ = std::this_thread::get_id();
}

bool LoopDispatcher::IsMainThread() const {
  std::lock_guard lock(lock_);
  return owner_ == std::this_thread::get_id();
}

void LoopDispatcher::ProcessMessages() {
  if (IsMainThread()) ProcessPending();
}

void LoopDispatcher::Post(std::function<void()> call) {
  {
    std::lock_guard lock(lock_);
    queue_.push_back(std::move(call));
  }
  wake_.notify_all();
}

void LoopDispatcher::Invoke(const std::function<void()>& call) {
  if (IsMainThread()) {
    call();
    return;
  }
  // A plain lock rather than a promise: the main thread must give up its last
  // reference to a thrown exception before the caller can see it, so that the
  // exception object is released on the caller's thread alone.
  std::mutex doneLock;
  std::condition_variable doneSignal;
  bool finished = false;
  std::exception_ptr error;
  Post([&] {
    std::exception_ptr caught;
    try {
      call();
    } catch (...) {
      caught = std::current_exception();
    }
    // Notified under the lock: the waiter owns the condition variable and
    // may destroy it as soon as it sees `finished`.
    std::lock_guard lock(doneLock);
    error.swap(caught);
    finished = true;
    doneSignal.notify_all();
  });
  std::unique_lock lock(doneLock);
  doneSignal.wait(lock, [&] { return finished; });
  if (error) std::rethrow_exception(error);
}

bool LoopDispatcher::PopOne(std::function<void()>& call) {
  std::lock_guard lock(lock_);
  if (queue_.empty()) return false;
  call = std::move(queue_.front());
  queue_.pop_front();
  return true;
}

int LoopDispatcher::ProcessPending() {
  size_t count;
  {
    std::lock_guard lock(lock_);
    count = queue_.size();
  }
  int ran = 0;
  std::function<void()> call;
  // Calls posted by the calls themselves wait for the next round.
  while (count-- > 0 && PopOne(call)) {
    call();
    ++ran;
  }
  return ran;
}

bool LoopDispatcher::RunUntil(const std::function<bool()>& done,
                              std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  const bool main = IsMainThread();
  for (;;) {
    if (main) ProcessPending();
    if (done()) return true;
    std::unique_lock lock(lock_);
    if (queue_.empty() || !main) {
      // Wake at least every few milliseconds: `done` may watch state that
      // changes without a posted call.
      const auto next = std::min(deadline, std::chrono::steady_clock::now() +
                                               std::chrono::milliseconds(5));
      wake_.wait_until(lock, next, [this, main] { return woken_ || (main && !queue_.empty()); });
    }
    woken_ = false;
    if (std::chrono::steady_clock::now() >= deadline && (queue_.empty() || !main)) {
      lock.unlock();
      return done();
    }
  }
}

void LoopDispatcher::Wake() {
  {
    std::lock_guard lock(lock_);
    woken_ = true;
  }
  wake_.notify_all();
}

void LoopDispatcher::Run() {
  for (;;) {
    std::function<void()> call;
    {
      std::unique_lock lock(lock_);
      wake_.wait(lock, [this] { return quit_ || !queue_.empty(); });
      if (queue_.empty()) {
        quit_ = false;
        return;
      }
      call = std::move(queue_.front());
      queue_.pop_front();
    }
    call();
  }
}

void LoopDispatcher::Quit() {
  {
    std::lock_guard lock(lock_);
    quit_ = true;
  }
  wake_.notify_all();
}

}  // namespace tv
