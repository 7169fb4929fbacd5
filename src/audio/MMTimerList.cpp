#include "MMTimerList.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <vector>

#include "MMUtils.h"

namespace tv {

// ---------------------------------------------------------------------------
// Tick sources

bool ThreadTickSource::Start(std::function<void()> tick) {
  Stop();
  {
    std::lock_guard lock(lock_);
    stop_ = false;
  }
  thread_ = std::thread([this, tick = std::move(tick)] {
    auto next = std::chrono::steady_clock::now() + period_;
    std::unique_lock lock(lock_);
    while (!stop_) {
      if (wake_.wait_until(lock, next, [this] { return stop_; })) break;
      lock.unlock();
      tick();
      lock.lock();
      next += period_;
      const auto now = std::chrono::steady_clock::now();
      // Periods missed while a tick ran are skipped, not made up.
      if (next <= now) next = now + period_;
    }
  });
  return true;
}

void ThreadTickSource::Stop() {
  {
    std::lock_guard lock(lock_);
    stop_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

bool ManualTickSource::Start(std::function<void()> tick) {
  std::lock_guard lock(lock_);
  tick_ = std::move(tick);
  ++starts_;
  return true;
}

void ManualTickSource::Stop() {
  std::lock_guard lock(lock_);
  tick_ = nullptr;
}

bool ManualTickSource::Fire() {
  std::function<void()> tick;
  {
    std::lock_guard lock(lock_);
    tick = tick_;
  }
  if (!tick) return false;
  tick();
  return true;
}

bool ManualTickSource::Running() const {
  std::lock_guard lock(lock_);
  return static_cast<bool>(tick_);
}

int ManualTickSource::Starts() const {
  std::lock_guard lock(lock_);
  return starts_;
}

// ---------------------------------------------------------------------------
// TimerList

struct TimerList::Entry {
  int32_t interval;
  void* owner;
  Callback callback;
  int32_t suspendCount;
  int32_t elapsed;
};

namespace {

thread_local bool tInTick = false;

struct TimerState {
  std::mutex control;             // serialises starting and stopping the timer
  std::recursive_mutex list;      // the entry list, held while callbacks run
  std::vector<std::unique_ptr<TimerList::Entry>> entries;
  std::atomic<int32_t> count{0};  // registrations
  std::atomic<bool> running{false};
  std::atomic<int32_t> reentry{0};
  TimerTickSource* source = nullptr;
  std::unique_ptr<ThreadTickSource> realSource;
  TimerTickSource* injected = nullptr;

  ~TimerState() {
    // At program end a timer that still runs is stopped.
    std::lock_guard lock(control);
    if (running.load() && source != nullptr) source->Stop();
    running = false;
  }
};

TimerState& State() {
  static TimerState state;
  return state;
}

}  // namespace

TimerList::Entry* TimerList::Register(int32_t interval, int32_t initialSuspendCount,
                                      Callback callback, void* owner) {
  if (tInTick) return nullptr;
  TimerState& s = State();
  std::lock_guard control(s.control);
  if (s.count.fetch_add(1) == 0) {
    TimerTickSource* source = s.injected;
    if (source == nullptr) {
      if (!s.realSource) s.realSource = std::make_unique<ThreadTickSource>();
      source = s.realSource.get();
    }
    s.source = source;
    s.running = true;
    if (!source->Start([] { TimerList::Tick(); })) {
      s.running = false;
      s.count = 0;
      return nullptr;
    }
  }
  auto entry = std::make_unique<Entry>(
      Entry{Max(interval, kTick), owner, std::move(callback), initialSuspendCount, 0});
  Entry* result = entry.get();
  std::lock_guard list(s.list);
  s.entries.push_back(std::move(entry));
  return result;
}

void TimerList::Suspend(Entry* entry) {
  TimerState& s = State();
  if (entry == nullptr || !s.running.load()) return;
  std::lock_guard list(s.list);
  ++entry->suspendCount;
  entry->elapsed = 0;
}

void TimerList::Resume(Entry* entry) {
  TimerState& s = State();
  if (entry == nullptr || !s.running.load()) return;
  std::lock_guard list(s.list);
  if (entry->suspendCount > 0) --entry->suspendCount;
}

void TimerList::Unregister(Entry* entry) {
  TimerState& s = State();
  if (entry == nullptr || tInTick || !s.running.load()) return;
  std::lock_guard control(s.control);
  {
    std::lock_guard list(s.list);
    auto it = std::find_if(s.entries.begin(), s.entries.end(),
                           [entry](const std::unique_ptr<Entry>& e) { return e.get() == entry; });
    if (it == s.entries.end()) return;
    s.entries.erase(it);
  }
  if (s.count.fetch_sub(1) == 1) {
    s.source->Stop();
    s.running = false;
    std::lock_guard list(s.list);
    s.entries.clear();
  }
}

void TimerList::Tick() {
  TimerState& s = State();
  if (s.reentry.fetch_add(1) == 0) {
    std::lock_guard list(s.list);
    tInTick = true;
    for (const std::unique_ptr<Entry>& e : s.entries) {
      if (e->suspendCount != 0) continue;
      e->elapsed += kTick;
      if (e->elapsed >= e->interval) {
        if (e->callback) e->callback(e.get(), e->owner);
        e->elapsed = 0;
      }
    }
    tInTick = false;
  }
  s.reentry.fetch_sub(1);
}

void TimerList::SetTickSource(TimerTickSource* source) {
  TimerState& s = State();
  std::lock_guard control(s.control);
  s.injected = source;
}

int32_t TimerList::RegistrationCount() { return State().count.load(); }

bool TimerList::Running() { return State().running.load(); }

int32_t TimerList::SuspendCount(const Entry* entry) {
  if (entry == nullptr) return 0;
  std::lock_guard list(State().list);
  return entry->suspendCount;
}

}  // namespace tv
