// One process-wide 25 ms timer shared by many small clients (peak markers,
// the connector's idle feed): each registers a callback with an interval.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

namespace tv {

// The periodic timer behind the list. The real one is a thread that ticks
// every 25 ms; tests install a manual one and tick it themselves.
class TimerTickSource {
 public:
  virtual ~TimerTickSource() = default;
  // Starts calling `tick` periodically; false when no timer can be had.
  virtual bool Start(std::function<void()> tick) = 0;
  // Stops ticking; on return no tick runs or will run.
  virtual void Stop() = 0;
};

// A steady_clock thread; a tick that would come while the previous one is
// still running is dropped, not queued.
class ThreadTickSource final : public TimerTickSource {
 public:
  explicit ThreadTickSource(std::chrono::milliseconds period = std::chrono::milliseconds(25))
      : period_(period) {}
  ~ThreadTickSource() override { Stop(); }
  bool Start(std::function<void()> tick) override;
  void Stop() override;

 private:
  std::chrono::milliseconds period_;
  std::thread thread_;
  std::mutex lock_;
  std::condition_variable wake_;
  bool stop_ = false;
};

// Ticks only when the test calls Fire.
class ManualTickSource final : public TimerTickSource {
 public:
  bool Start(std::function<void()> tick) override;
  void Stop() override;
  // Runs one tick; false when the timer is not running.
  bool Fire();
  bool Running() const;
  int Starts() const;

 private:
  mutable std::mutex lock_;
  std::function<void()> tick_;
  int starts_ = 0;
};

class TimerList {
 public:
  static constexpr int32_t kTick = 25;  // milliseconds

  struct Entry;
  using Callback = std::function<void(Entry* entry, void* owner)>;

  // The entry, or nullptr when no timer can be had. Callbacks run on the
  // timer's thread with the list locked: they may Suspend or Resume, but
  // Register and Unregister called from a callback are refused.
  static Entry* Register(int32_t interval, int32_t initialSuspendCount, Callback callback,
                         void* owner);
  static void Suspend(Entry* entry);
  static void Resume(Entry* entry);
  static void Unregister(Entry* entry);

  // The tick routine: serves every entry that is due.
  static void Tick();

  // Replaces the periodic timer (nullptr: the real 25 ms thread). Takes
  // effect at the next start of the timer, i.e. when nothing is registered.
  static void SetTickSource(TimerTickSource* source);
  static int32_t RegistrationCount();
  static bool Running();
  static int32_t SuspendCount(const Entry* entry);
};

}  // namespace tv
