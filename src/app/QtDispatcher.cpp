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
}

void QtDispatcher::Invoke(const std::function<void()>& call) {
  if (IsMainThread()) {
    call();
    return;
  }
  bool ran = false;
  std::exception_ptr error;
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
  if (IsMainThread()) QCoreApplication::processEvents();
}

}  // namespace tv
