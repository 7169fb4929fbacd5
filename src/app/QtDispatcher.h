// The main-thread dispatcher of the desktop program: calls from worker
// threads are delivered through Qt's event loop to the GUI thread.
#pragma once

#include <QObject>
#include <condition_variable>
#include <mutex>

#include "MMDispatch.h"

namespace tv {

class QtDispatcher final : public QObject, public Dispatcher {
  Q_OBJECT

 public:
  // Create it on the GUI thread: that thread becomes the main thread.
  explicit QtDispatcher(QObject* parent = nullptr);
  // Uninstalls itself if it is the dispatcher in force. Calls still queued
  // are dropped; a worker waiting in Invoke is released with an error.
  ~QtDispatcher() override;

  void Post(std::function<void()> call) override;
  void Invoke(const std::function<void()>& call) override;
  bool IsMainThread() const override;
  // Both deliver the calls posted to this dispatcher and nothing else.
  void ProcessMessages() override;
  bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) override;
  void Wake() override;

 private:
  std::mutex wakeLock_;
  std::condition_variable wakeSignal_;
  bool posted_ = false;
};

// Installs a QtDispatcher for the lifetime of this object.
class ScopedQtDispatcher {
 public:
  ScopedQtDispatcher() { SetMainDispatcher(&dispatcher_); }
  ~ScopedQtDispatcher() { SetMainDispatcher(nullptr); }
  ScopedQtDispatcher(const ScopedQtDispatcher&) = delete;
  ScopedQtDispatcher& operator=(const ScopedQtDispatcher&) = delete;
  QtDispatcher& Get() { return dispatcher_; }

 private:
  QtDispatcher dispatcher_;
};

}  // namespace tv
