// The offline driver: pulls buffers from its Input chain as fast as they can
// be processed and pushes each one downstream, on a worker thread of its own.
// Used for file scans (file -> trigger -> analysers) and offline conversion
// (file -> trigger -> writer).
#pragma once

#include <atomic>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "TMMAllocator.h"
#include "MMDSPObj.h"
#include "MMErrors.h"
#include "MMEvent.h"

namespace tv {

class EMMTriggerError : public EMMError {
 public:
  explicit EMMTriggerError(const std::string& message, bool reported = false)
      : EMMError(message), Reported(reported) {}
  // True once OnError has been fired for this error.
  bool Reported;
};

class TMMTrigger;

class TMMTriggerThread final : public TMMDSPThread {
 public:
  explicit TMMTriggerThread(TMMTrigger* trigger);
  ~TMMTriggerThread() override;

  std::shared_ptr<TMMEventGroup> Events = std::make_shared<TMMEventGroup>();
  TMMAutoEvent Ready{Events};
  TMMAutoEvent Data{Events};
  TMMAutoEvent Quit{Events};
  // Set as the body returns, so that an abandoned worker can be joined.
  std::atomic<bool> Finished{false};

 protected:
  void Execute() override;

 private:
  TMMTrigger* trigger_;
};

class TMMTrigger : public TMMCustomSoundComponent {
 public:
  explicit TMMTrigger(std::string name = {});
  ~TMMTrigger() override;

  std::span<const LinkProperty> LinkProperties() const override { return kPublishInputOutput; }

  // The chain commands are the driver's commands.
  void Open() override { DriverOpen(); }
  void Close() override { DriverClose(); }
  void Start() override { DriverStart(); }
  void Pause() override { DriverPause(); }
  void Restart() override { DriverRestart(); }
  void Stop() override { DriverStop(); }

  virtual void Error(const std::string& message);
  virtual void DriverOpen();
  virtual void DriverClose();
  virtual void DriverStart();
  virtual void DriverPause();
  virtual void DriverRestart();
  virtual void DriverStop();

  void SetPWaveFormat(const WAVEFORMATEX* value) override;
  int32_t BufferSize() const override;
  void SetBufferSize(int32_t value) override;
  void BufferLoad(PWaveHdr buffer, bool& moreBuffers) override;
  // Buffers pushed into a trigger from above are ignored.
  void BufferReady(PWaveHdr) override {}

  int32_t Interval() const { return interval_.load(); }
  void SetInterval(int32_t value) { interval_.store(value < 0 ? 0 : value); }
  TMMTimeFormats TimeFormat() const { return timeFormat_; }
  void SetTimeFormat(TMMTimeFormats value) { timeFormat_ = value; }
  bool Synchronize() const { return synchronize_.load(); }
  void SetSynchronize(bool value) { synchronize_.store(value); }
  // When false, the worker hands buffers on back to back without the pause
  // of Interval between them. For batch tools that have no window to keep
  // responsive; the desktop program always paces its scans.
  bool Paced() const { return paced_.load(); }
  void SetPaced(bool value) { paced_.store(value); }

  bool IsOpen() const { return (state_.load() & kOpened) != 0; }
  bool IsStarted() const { return (state_.load() & kStarted) != 0; }
  bool IsPaused() const { return (state_.load() & kPaused) != 0; }
  // A Close that waits for the buffer in flight to finish.
  bool ClosePending() const { return closePending_.load(); }

  TNotifyEvent OnError;
  TMMErrorEvent OnErrorEx;
  TNotifyEvent OnOpen, OnStart, OnPause, OnRestart, OnStop, OnClose;
  TMMBufferEvent OnBufferFilled;

 private:
  friend class TMMTriggerThread;
  enum : int { kOpened = 1, kStarted = 2, kPaused = 4 };

  void Fire(const TNotifyEvent& event);
  // Fires OnError for an error that has not been reported yet.
  void ReportError(const std::exception_ptr& error);
  int32_t Load();
  void Deliver();
  void ProcessBuffer();
  void StartWorker();
  void EndWorker();
  void AllocateBuffer();
  void ReleaseBuffer();
  void PostStop();
  void RemoveState(int bits) { state_.fetch_and(~bits); }
  void AddState(int bits) { state_.fetch_or(bits); }
  // Waits (handling the main thread's messages) until no delivery runs.
  void WaitForDelivery();

  std::atomic<int32_t> interval_{0};
  TMMTimeFormats timeFormat_ = tfByte;
  std::atomic<bool> synchronize_{false};
  std::atomic<bool> paced_{true};

  std::atomic<int> state_{0};
  std::atomic<bool> moreBuffers_{false};
  std::atomic<bool> closing_{false};
  std::atomic<bool> closePending_{false};
  std::atomic<bool> stopping_{false};
  std::atomic<bool> stopPending_{false};
  std::atomic<bool> workerFailed_{false};
  std::atomic<bool> bufferWaiting_{false};
  int inFlight_ = 0;  // guarded by lock_
  std::mutex lock_;

  TMMAllocator allocator_;
  PWaveHdr buffer_ = nullptr;
  std::unique_ptr<TMMTriggerThread> thread_;
  // Workers that did not end in time at Close; joined at destruction.
  std::vector<std::unique_ptr<TMMTriggerThread>> abandoned_;
  // Posted calls check it, so that none runs after the trigger is gone.
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);
  const std::weak_ptr<int> aliveToken_ = alive_;
};

}  // namespace tv
