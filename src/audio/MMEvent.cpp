#include "MMEvent.h"

#include <stdexcept>

namespace tv {

void TMMAutoEvent::Set() {
  std::lock_guard lock(group_->lock);
  signalled_ = true;
  group_->changed.notify_all();
}

bool TMMAutoEvent::IsSet() const {
  std::lock_guard lock(group_->lock);
  return signalled_;
}

bool TMMAutoEvent::WaitFor(std::chrono::milliseconds timeout) { return WaitAny({this}, timeout) == 0; }

void TMMAutoEvent::Wait() { WaitAny({this}); }

int TMMAutoEvent::WaitAny(std::initializer_list<TMMAutoEvent*> events,
                          std::chrono::milliseconds timeout) {
  if (events.size() == 0) return -1;
  TMMEventGroup& group = *(*events.begin())->group_;
  for (TMMAutoEvent* e : events) {
    if (e->group_.get() != &group) throw std::logic_error("events of different groups");
  }
  std::unique_lock lock(group.lock);
  int found = -1;
  auto ready = [&] {
    int i = 0;
    for (TMMAutoEvent* e : events) {
      if (e->signalled_) {
        found = i;
        return true;
      }
      ++i;
    }
    return false;
  };
  if (timeout == std::chrono::milliseconds::max()) {
    group.changed.wait(lock, ready);
  } else if (!group.changed.wait_for(lock, timeout, ready)) {
    return -1;
  }
  (*(events.begin() + found))->signalled_ = false;
  return found;
}

}  // namespace tv
