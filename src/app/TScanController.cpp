#include "TScanController.h"

#include <QMetaObject>
#include <exception>

#include "MMErrors.h"

namespace tv {

namespace {

QString Message(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    return QString::fromStdString(PlainMessage(e.what()));
  } catch (...) {
    return QStringLiteral("Unknown error");
  }
}

}  // namespace

TScanController::TScanController(TMMWaveFile& wavePlayer, TMMPeakDetect& peakDetect,
                                 QObject* parent)
    : QObject(parent), scanner_(wavePlayer, peakDetect) {
  scanner_.OnKey = [this](DtmfScanner*, const ScanKey& key) { KeyFound(key); };
  scanner_.OnProgress = [this](DtmfScanner*, int percent) { ProgressFound(percent); };
  scanner_.OnFinished = [this](DtmfScanner*, const ScanResult& result) { Finished(result); };
}

TScanController::~TScanController() {
  scanner_.OnFinished = nullptr;
  scanner_.Cancel();
}

bool TScanController::Busy() const { return startWaiting_ || scanner_.Busy(); }

void TScanController::Start() {
  if (scanner_.Busy()) {
    startWaiting_ = true;
    scanner_.Cancel();
    return;
  }
  StartNow();
}

void TScanController::StartNow() {
  startWaiting_ = false;
  emit aboutToStart();
  try {
    scanner_.Start();
  } catch (...) {
    emit startFailed(Message(std::current_exception()));
  }
}

void TScanController::Cancel() {
  startWaiting_ = false;
  scanner_.Cancel();
}

void TScanController::KeyFound(const ScanKey& key) {
  {
    std::lock_guard guard(lock_);
    pendingKeys_ += QString::fromStdString(key.key);
    if (flushPosted_) return;  // the flush on its way takes this key too
    flushPosted_ = true;
  }
  QMetaObject::invokeMethod(this, &TScanController::FlushKeys, Qt::QueuedConnection);
}

void TScanController::FlushKeys() {
  const QString keys = TakePendingKeys();
  if (!keys.isEmpty()) emit keysFound(keys);
}

QString TScanController::TakePendingKeys() {
  std::lock_guard guard(lock_);
  QString keys;
  keys.swap(pendingKeys_);
  flushPosted_ = false;
  return keys;
}

void TScanController::ProgressFound(int percent) {
  progress_.store(percent);
  if (progressPosted_.exchange(true)) return;  // the pending update reads the latest value
  QMetaObject::invokeMethod(
      this,
      [this] {
        progressPosted_.store(false);
        emit progressChanged(progress_.load());
      },
      Qt::QueuedConnection);
}

void TScanController::Finished(const ScanResult& result) {
  FlushKeys();
  emit finished(QString::fromStdString(result.fileName), QString::fromStdString(result.keys),
                result.error ? Message(result.error) : QString());
  if (startWaiting_) StartNow();
}

}  // namespace tv
