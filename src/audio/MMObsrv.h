// Change notification between an object and those that show it.
#pragma once

#include <functional>
#include <vector>

namespace tv {

class TMMObserver;

class TMMObservable {
 public:
  TMMObservable() = default;
  ~TMMObservable();
  TMMObservable(const TMMObservable&) = delete;
  TMMObservable& operator=(const TMMObservable&) = delete;

  void AddObserver(TMMObserver* observer);
  void RemoveObserver(TMMObserver* observer);
  // Calls every observer's Update, the last added first, unless muted.
  void Notify(void* data);

  bool Mute = false;
  size_t ObserverCount() const { return observers_.size(); }

 private:
  std::vector<TMMObserver*> observers_;
};

class TMMObserver {
 public:
  using Callback = std::function<void(void* owner, TMMObservable* sender, void* data)>;

  explicit TMMObserver(void* owner = nullptr) : Owner(owner) {}
  ~TMMObserver();
  TMMObserver(const TMMObserver&) = delete;
  TMMObserver& operator=(const TMMObserver&) = delete;

  void Update(void* data);
  TMMObservable* Observable() const { return observable_; }

  void* Owner;
  bool Mute = false;
  Callback OnNotify;

 private:
  friend class TMMObservable;
  TMMObservable* observable_ = nullptr;
};

}  // namespace tv
