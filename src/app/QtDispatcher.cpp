#include "QtDispatcher.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>
#include <exception>
#include <utility>

#include "MMErrors.h"

namespace tv {

QtDispatcher::QtDispatcher(QObject* parent) : QObject(parent) {}

QtDispatcher::~QtDispatcher() {
  if (&MainDispatcher() == this) SetMainDispatcher(nullptr);
}

void QtDispatcher::Post(std::function<void()> call) {
  // Queued events of one sender thread are delivered in the order posted.
  QMetaObject::invokeMethod(this, std::move(call), Qt::QueuedConnection);
  Wake();
}

void QtDispatcher::Wake() {
  {
    std::lock_guard lock(wakeLock_);
    posted_ = true;
  }
  wakeSignal_.notify_all();
}

void QtDispatcher::Invoke(const std::function<void()>& call) {
  if (IsMainThread()) {
    call();
    return;
  }
  bool ran = false;
  std::exception_ptr error;
  // Woken before the call is queued (the queueing blocks): a RunUntil that
  // looks too early finds it on its next round, a few milliseconds later.
  Wake();
  QMetaObject::invokeMethod(
      this,
      [&] {
        ran = true;
        try {
          call();
        } catch (...) {
          error = std::current_exception();
        }
      },
      Qt::BlockingQueuedConnection);
  if (error) std::rethrow_exception(error);
  // Qt releases a blocked caller without running the call when the event
  // is discarded (the dispatcher or the application went away).
  if (!ran) throw EMMError("The main thread is no longer running.");
}

bool QtDispatcher::IsMainThread() const { return QThread::currentThread() == thread(); }

void QtDispatcher::ProcessMessages() {
  if (IsMainThread()) QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
}

bool QtDispatcher::RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    ProcessMessages();
    if (done()) return true;
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return done();
    std::unique_lock lock(wakeLock_);
    wakeSignal_.wait_until(lock, std::min(deadline, now + std::chrono::milliseconds(5)),
                           [this] { return posted_; });
    posted_ = false;
  }
}

}  // namespace tv
