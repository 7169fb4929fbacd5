// Decides which caller of a device component's Close does the closing.
// Close is entered from the owner's thread and, when a close waited for a
// stop, from the thread that finishes that stop; without a claim both could
// tear the device down and report the close twice.
#pragma once

#include <atomic>
#include <chrono>
#include <thread>

namespace tv {

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
