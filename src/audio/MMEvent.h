// Auto-reset events: Set wakes one waiter (or the next one to wait) and the
// event resets itself when a wait returns. Events created from one group can
// be waited on together.
#pragma once

#include <chrono>
#include <condition_variable>
#include <initializer_list>
#include <memory>
#include <mutex>

namespace tv {

struct TMMEventGroup {
  std::mutex lock;
  std::condition_variable changed;
};

class TMMAutoEvent {
 public:
  explicit TMMAutoEvent(std::shared_ptr<TMMEventGroup> group = std::make_shared<TMMEventGroup>())
      : group_(std::move(group)) {}

  void Set();
  // True when the event was signalled (and is now reset), false on time-out.
  bool WaitFor(std::chrono::milliseconds timeout);
  void Wait();
  bool IsSet() const;

  // Waits until one of the events (all of one group) is signalled, resets
  // that one and answers its position; the first in the list wins when
  // several are set. Answers -1 on time-out.
  static int WaitAny(std::initializer_list<TMMAutoEvent*> events,
                     std::chrono::milliseconds timeout = std::chrono::milliseconds::max());

 private:
  std::shared_ptr<TMMEventGroup> group_;
  bool signalled_ = false;
};

}  // namespace tv
