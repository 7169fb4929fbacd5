// The main-thread dispatcher: the one way a worker thread reaches the thread
// that owns the components (posting a call, or running one and waiting).
// The desktop program binds it to Qt's event loop; the command-line tool and
// the tests use LoopDispatcher, a plain standard-library loop.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace tv {

class Dispatcher {
 public:
  virtual ~Dispatcher() = default;
  // Queue a call to run later on the main thread.
  virtual void Post(std::function<void()> call) = 0;
  // Run a call on the main thread and wait for it; an exception it throws is
  // rethrown in the caller. Called on the main thread, it runs at once.
  virtual void Invoke(const std::function<void()>& call) = 0;
  virtual bool IsMainThread() const = 0;
  // Runs the calls posted so far; does nothing on other threads.
  virtual void ProcessMessages() = 0;
  // Runs posted calls as they arrive until `done` answers true or the
  // time-out passes, and answers `done`'s last value. `done` is asked after
  // each call and at least every few milliseconds, so it may watch state
  // that changes without a posted call. Only the calls posted here run:
  // nothing else of the main thread's loop (in the desktop program no user
  // input, no timers). Off the main thread it runs nothing and only waits.
  virtual bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) = 0;
  // Makes a RunUntil under way ask its condition again at once: for state
  // that changes without a posted call. Any thread.
  virtual void Wake() = 0;
};

// The dispatcher in force. Until one is installed, a process-wide
// LoopDispatcher bound to the first thread that asks serves.
Dispatcher& MainDispatcher();
// Installs a dispatcher (nullptr restores the default); the caller keeps
// ownership and must uninstall it before destroying it.
void SetMainDispatcher(Dispatcher* dispatcher);

class LoopDispatcher final : public Dispatcher {
 public:
  // Bound to the constructing thread.
  LoopDispatcher();
  ~LoopDispatcher() override;

  void Post(std::function<void()> call) override;
  void Invoke(const std::function<void()>& call) override;
  bool IsMainThread() const override;
  void ProcessMessages() override;
  bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) override;
  void Wake() override;

  // Makes the calling thread the main thread.
  void BindToCurrentThread();
  // Runs every call queued so far; answers how many ran.
  int ProcessPending();
  // Runs calls until Quit.
  void Run();
  void Quit();

 private:
  bool PopOne(std::function<void()>& call);

  mutable std::mutex lock_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> queue_;
  std::thread::id owner_;
  bool quit_ = false;
  bool woken_ = false;
};

}  // namespace tv
