// The scan engine as the windows use it: it drives a DtmfScanner and hands
// what the scan's worker finds to the GUI thread by queued signals, so that
// the widgets only show it. Starting a scan while one runs ends the running
// one first; the new one starts once that one has reported its end.
#pragma once

#include <QObject>
#include <QString>
#include <atomic>
#include <mutex>

#include "DtmfScanner.h"

namespace tv {

class TMMPeakDetect;
class TMMWaveFile;

class TScanController : public QObject {
  Q_OBJECT

 public:
  // Scans through the owner's player and detector, which must outlive it.
  TScanController(TMMWaveFile& wavePlayer, TMMPeakDetect& peakDetect, QObject* parent = nullptr);
  ~TScanController() override;

  DtmfScanner& Scanner() { return scanner_; }

  // Scans the player's file; emits aboutToStart right before the scan
  // starts, and startFailed instead of finished when it cannot start.
  void Start();
  // Ends the scan under way (and drops a start that waits for that).
  void Cancel();
  // A scan runs, or one waits to start.
  bool Busy() const;
  // Keys found but not yet handed on by keysFound, in order; taking them
  // means keysFound will not bring them again.
  QString TakePendingKeys();

 signals:
  void aboutToStart();
  void keysFound(const QString& keys);
  void progressChanged(int percent);
  // After the last keysFound of the scan. `error` is empty unless an error
  // ended the scan; `keys` are all the keys it found.
  void finished(const QString& fileName, const QString& keys, const QString& error);
  void startFailed(const QString& error);

 private:
  void KeyFound(const ScanKey& key);
  void ProgressFound(int percent);
  void FlushKeys();
  void Finished(const ScanResult& result);
  void StartNow();

  DtmfScanner scanner_;
  bool startWaiting_ = false;

  // Handed over from the scan's worker.
  std::mutex lock_;
  QString pendingKeys_;
  bool flushPosted_ = false;
  std::atomic<int> progress_{0};
  std::atomic<bool> progressPosted_{false};
};

}  // namespace tv
