// The connectors' pump: what their hidden window did with its posted
// messages. A thread sleeps until the earliest chunk of any message-driven
// connector is due, then posts one pump pass to the main thread and waits
// for it to finish. Nothing runs while nothing is due.
#pragma once

#include <semaphore.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "TMMConnector.h"

namespace tv {

class ConnectorPump {
 public:
  static std::shared_ptr<ConnectorPump> Instance();

  ConnectorPump() { sem_init(&wake_, 0, 0); }
  ~ConnectorPump();
  ConnectorPump(const ConnectorPump&) = delete;
  ConnectorPump& operator=(const ConnectorPump&) = delete;

  void Add(TMMConnector* c) {
    std::lock_guard lock(lock_);
    list_.push_back(c);
  }

  void Remove(TMMConnector* c);

  bool Listed(TMMConnector* c) {
    std::lock_guard lock(lock_);
    return std::find(list_.begin(), list_.end(), c) != list_.end();
  }

  std::vector<TMMConnector*> Snapshot() {
    std::lock_guard lock(lock_);
    return list_;
  }

  void Enter();

  void Leave() {
    std::lock_guard lock(lock_);
    if (driven_ > 0) --driven_;
  }

  // Lock-free: called from audio and timer threads.
  void Wake() { sem_post(&wake_); }

  void RecomputeSpeed();

  int64_t Passes() const { return passes_.load(); }

 private:
  // Marks the pass done even when the dispatcher drops it unrun.
  struct Ticket {
    Ticket(std::shared_ptr<ConnectorPump> p, uint64_t g) : pump(std::move(p)), generation(g) {}
    ~Ticket() { Finish(); }
    Ticket(const Ticket&) = delete;
    Ticket& operator=(const Ticket&) = delete;
    void Finish() {
      if (finished) return;
      finished = true;
      pump->PassDone(generation);
    }
    std::shared_ptr<ConnectorPump> pump;
    const uint64_t generation;
    bool finished = false;
  };

  void Shutdown();

  std::chrono::microseconds MinimumGap() const;

  void WaitForWake(std::chrono::steady_clock::time_point until, bool timed);

  void Loop();

  void PassDone(uint64_t generation);

  // On the main thread.
  void RunPass();

  std::mutex lock_;
  std::vector<TMMConnector*> list_;
  int driven_ = 0;
  int32_t highestSpeed_ = 5000;
  bool outstanding_ = false;
  uint64_t generation_ = 0;
  bool quit_ = false;
  std::chrono::steady_clock::time_point lastPass_{};
  std::atomic<int64_t> passes_{0};
  std::thread thread_;
  sem_t wake_{};
};

}  // namespace tv
