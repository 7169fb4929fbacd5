// Decides which caller of a device component's Close does the closing.
// Close is entered from the owner's thread and, when a close waited for a
// stop, from the thread that finishes that stop; without a claim both could
// tear the device down and report the close twice.
#pragma once

#include <atomic>
#include <chrono>
#include <thread>

#include "MMDispatch.h"
#include "MMTypes.h"

namespace tv {

// A Close on the main thread that met a stop left pending, because the
// device's own thread (thread callback mode) is handing a buffer down the
// chain. That thread posts the stop's completion as it leaves; running the
// main thread's queue until then (at most five seconds) means that once
// Close returns, nothing of the device reaches the chain any more, so the
// caller may relink or destroy what follows it. A handler on the main thread
// itself (window mode) cannot be waited for; its stop completes when it
// returns.
inline void WaitForHandlerToLeave(TMMCBMode mode, const std::atomic<bool>& stopPending) {
  if (mode != cmThread || !MainDispatcher().IsMainThread()) return;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (stopPending.load() && std::chrono::steady_clock::now() < deadline) {
    MainDispatcher().ProcessMessages();
    if (stopPending.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

class TMMCloseClaim {
 public:
  // Called when the device opens: the next close may be claimed.
  void Reset() { claimed_.store(false); }

  // True for the one caller that goes on to close. Another thread that comes
  // while the close runs waits (bounded) until `closing` clears, so that its
  // caller finds the device closed; the claiming thread itself, entering
  // again from within its own close, returns at once.
  bool Claim(const std::atomic<bool>& closing) {
    if (!claimed_.exchange(true)) {
      closer_.store(std::this_thread::get_id());
      return true;
    }
    if (closer_.load() != std::this_thread::get_id()) {
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
      while (closing.load() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    }
    return false;
  }

 private:
  std::atomic<bool> claimed_{false};
  std::atomic<std::thread::id> closer_{};
};

}  // namespace tv
