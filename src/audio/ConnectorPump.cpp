#include "ConnectorPump.h"

#include <ctime>

#include "MMDispatch.h"
#include "MMUtils.h"

namespace tv {

std::shared_ptr<ConnectorPump> ConnectorPump::Instance() {
  static std::shared_ptr<ConnectorPump> pump = std::make_shared<ConnectorPump>();
  return pump;
}

ConnectorPump::~ConnectorPump() {
  Shutdown();
  sem_destroy(&wake_);
}

void ConnectorPump::Remove(TMMConnector* c) {
  bool last = false;
  {
    std::lock_guard lock(lock_);
    std::erase(list_, c);
    last = list_.empty();
  }
  RecomputeSpeed();
  // The hidden window went with the last connector; so does the thread.
  if (last) Shutdown();
}

void ConnectorPump::Enter() {
  std::lock_guard lock(lock_);
  ++driven_;
  if (!thread_.joinable()) {
    quit_ = false;
    std::weak_ptr<ConnectorPump> self = Instance();
    thread_ = std::thread([this, self] {
      if (auto keep = self.lock()) Loop();
    });
  }
  Wake();
}

void ConnectorPump::RecomputeSpeed() {
  std::lock_guard lock(lock_);
  int32_t highest = 1;
  for (TMMConnector* c : list_) highest = Max(highest, c->speed_);
  highestSpeed_ = list_.empty() ? 5000 : highest;
}

void ConnectorPump::Shutdown() {
  std::thread t;
  {
    std::lock_guard lock(lock_);
    quit_ = true;
    t = std::move(thread_);
    // A pass still queued from this run no longer holds up the next one.
    outstanding_ = false;
    ++generation_;
  }
  Wake();
  if (t.joinable()) {
    if (t.get_id() == std::this_thread::get_id()) {
      t.detach();
    } else {
      t.join();
    }
  }
}

std::chrono::microseconds ConnectorPump::MinimumGap() const {
  return std::chrono::microseconds(1000 + (5000 - highestSpeed_) * 4000 / 4999);
}

void ConnectorPump::WaitForWake(std::chrono::steady_clock::time_point until, bool timed) {
  if (timed) {
    const auto ns =
        std::chrono::duration_cast<std::chrono::nanoseconds>(until.time_since_epoch());
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(ns.count() / 1000000000);
    ts.tv_nsec = static_cast<long>(ns.count() % 1000000000);
    sem_clockwait(&wake_, CLOCK_MONOTONIC, &ts);
  } else {
    sem_wait(&wake_);
  }
  // Several wake-ups are one: the loop looks at every connector anyway.
  while (sem_trywait(&wake_) == 0) {
  }
}

void ConnectorPump::Loop() {
  using Clock = std::chrono::steady_clock;
  std::unique_lock lock(lock_);
  while (!quit_) {
    int64_t wait = TMMConnector::kNever;
    if (!outstanding_ && driven_ > 0) {
      for (TMMConnector* c : list_) {
        if (c->PumpDriven()) wait = std::min(wait, c->MicrosecondsUntilDue());
      }
    }
    if (wait == TMMConnector::kNever) {
      lock.unlock();
      WaitForWake({}, false);
      lock.lock();
      continue;
    }
    const auto now = Clock::now();
    const auto due = std::max(now + std::chrono::microseconds(std::max<int64_t>(wait, 0)),
                              lastPass_ + MinimumGap());
    if (due > now) {
      lock.unlock();
      WaitForWake(due, true);
      lock.lock();
      continue;
    }
    outstanding_ = true;
    const uint64_t generation = generation_;
    lock.unlock();
    try {
      auto ticket = std::make_shared<Ticket>(Instance(), generation);
      MainDispatcher().Post([ticket] {
        ticket->pump->RunPass();
        ticket->Finish();
      });
    } catch (...) {
      // Could not post (memory); the ticket has marked the pass done.
    }
    lock.lock();
  }
}

void ConnectorPump::PassDone(uint64_t generation) {
  {
    std::lock_guard lock(lock_);
    if (generation != generation_) return;
    outstanding_ = false;
    lastPass_ = std::chrono::steady_clock::now();
  }
  Wake();
}

void ConnectorPump::RunPass() {
  passes_.fetch_add(1);
  for (TMMConnector* c : Snapshot()) {
    // A handler of an earlier connector may have destroyed this one.
    if (!Listed(c)) continue;
    if (c->PumpDriven() && c->Enabled() && c->TriggeringActive()) c->TriggerPass();
  }
}

}  // namespace tv
