// The offline driver: pulls buffers from its Input chain as fast as they can
// be processed and pushes each one downstream, on a worker thread of its own.
// Used for file scans (file -> trigger -> analysers) and offline conversion
// (file -> trigger -> writer).
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "MMDSPObj.h"
#include "MMErrors.h"
#include "TMMAllocator.h"

namespace tv {

class EMMTriggerError : public EMMError {
 public:
  explicit EMMTriggerError(const std::string& message, bool reported = false)
      : EMMError(message), reported_(reported) {}
  // True once OnError has been fired for this error.
  bool Reported() const { return reported_; }

 private:
  bool reported_;
};

class TMMTrigger;

// The worker of a trigger. What it does and where it stands is kept in its
// trigger, under the trigger's lock.
class TMMTriggerThread final : public TMMDSPThread {
 public:
  explicit TMMTriggerThread(TMMTrigger* trigger);
  ~TMMTriggerThread() override;

 protected:
  void Execute() override;

 private:
  friend class TMMTrigger;
  TMMTrigger* trigger_;
  // Guarded by the trigger's lock.
  bool answered_ = false;  // the body runs
  bool ended_ = false;     // the body has returned
};

// An error that ended a worker's run, handed to whoever runs the trigger.
using TMMWorkerErrorEvent =
    std::function<void(TMMDSPComponent* sender, const std::exception_ptr& error)>;

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

  bool IsOpen() const;
  bool IsStarted() const;
  bool IsPaused() const;
  // A Close that waits for the buffer in flight to finish.
  bool ClosePending() const;

  TNotifyEvent OnError;
  TMMErrorEvent OnErrorEx;
  TNotifyEvent OnOpen, OnStart, OnPause, OnRestart, OnStop, OnClose;
  TMMBufferEvent OnBufferFilled;
  // Fired on the main thread, just before the trigger closes, when an error
  // that no OnErrorEx handler took ended the worker's run. With a handler
  // the error is the handler's to report; without one it goes to the
  // application's error handler.
  TMMWorkerErrorEvent OnWorkerError;

 private:
  friend class TMMTriggerThread;

  // The lifecycle: closed stands alone; an open trigger may be started,
  // paused, or both (a Pause before Start leaves it paused, not started).
  enum class State { Closed, Opened, OpenedPaused, Started, StartedPaused };
  // The handshake between Stop and the buffer in flight.
  enum class Run {
    Idle,         // the worker may take the buffer
    Delivering,   // a buffer is in flight
    StopPending,  // in flight, and a Stop waits for it
    Stopping,     // the worker must not touch the buffer any more
  };
  enum class Closing { None, Running, Pending };

  struct Status {
    State state = State::Closed;
    Run run = Run::Idle;
    Closing closing = Closing::None;
    bool moreBuffers = false;    // the source has more to deliver
    bool dataSignalled = false;  // the worker is to take the buffer
    bool bufferWaiting = false;  // a Start while paused loaded the first buffer
    bool workerFailed = false;
    int waitsForMain = 0;        // workers waiting for a call on the main thread
  };

  static bool Opened(State s) { return s != State::Closed; }
  static bool Started(State s) { return s == State::Started || s == State::StartedPaused; }
  static bool PausedState(State s) { return s == State::OpenedPaused || s == State::StartedPaused; }

  // The one place the status changes; everyone waiting on it is woken.
  void Change(const std::function<void(Status&)>& change);
  Status Snapshot() const;
  // Waits until `ready` holds. On the main thread the dispatcher's calls are
  // served meanwhile, but only while a worker may be waiting for one.
  bool Await(const std::function<bool(const Status&)>& ready, std::chrono::milliseconds timeout);

  void Fire(const TNotifyEvent& event);
  // Fires OnError for an error that has not been reported yet.
  void ReportError(const std::exception_ptr& error);
  int32_t Load();
  void Deliver();
  // From the worker: answers false when there was nothing to process.
  bool ProcessBuffer();
  // From the worker: waits until it is to take the buffer; false when it is
  // to end.
  bool WaitForData(const TMMTriggerThread& self);
  void PauseBetweenBuffers(const TMMTriggerThread& self);
  void CallOnMain(const std::function<void()>& call);
  void WorkerFailed(const std::exception_ptr& error);
  void StartWorker();
  void EndWorker();
  void AllocateBuffer();
  void ReleaseBuffer();
  void PostStop();
  void CloseForGood();

  std::atomic<int32_t> interval_{0};
  TMMTimeFormats timeFormat_ = tfByte;
  std::atomic<bool> synchronize_{false};
  std::atomic<bool> paced_{true};

  mutable std::mutex lock_;
  std::condition_variable changed_;
  Status status_;

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
