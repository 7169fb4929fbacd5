// The wave output: a pulling driver that plays its Input chain on a sound
// device. It fills a ring of buffers from its Input (BufferLoad), queues
// them at the device and, each time the device has played one, passes that
// buffer downstream (BufferReady) and refills it. The end of the source
// lets the queued buffers play out; then the output stops by itself.
//
// Threads: played buffers are handled on the main thread (cmWindow) or on
// the output's playback thread (cmThread); BufferLoad of the whole Input
// chain and BufferReady downstream run there. The notify events fire on the
// main thread; OnBufferFilled fires where the buffer was filled.
#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "TMMAllocator.h"
#include "TMMCloseClaim.h"
#include "MMDSPObj.h"
#include "MMErrors.h"
#include "MMEvent.h"
#include "TMMCustomWaveIn.h"
#include "TMMDeviceStream.h"
#include "TMMWaveDevices.h"

namespace tv {

class EMMWaveOutError : public EMMError {
 public:
  explicit EMMWaveOutError(const std::string& message, bool reported = false)
      : EMMError(message), Reported(reported) {}
  // True once OnError has fired for this error.
  bool Reported;
};

// A sound component that plays: its chain commands are its device
// operations.
class TMMCustomWaveOutComponent : public TMMCustomSoundComponent {
 public:
  using TMMCustomSoundComponent::TMMCustomSoundComponent;

  // Played position in the output's time format.
  virtual int64_t Position() const = 0;
  void Open() override = 0;
  void Close() override = 0;
  void Rewind() override = 0;
  void Start() override = 0;
  void Pause() override = 0;
  void Restart() override = 0;
  void Stop() override = 0;
};

class TMMWaveOut;

class TMMWaveOutThread final : public TMMDSPThread {
 public:
  explicit TMMWaveOutThread(TMMWaveOut* owner);
  ~TMMWaveOutThread() override;

  std::shared_ptr<TMMEventGroup> Events = std::make_shared<TMMEventGroup>();
  TMMAutoEvent Ready{Events};
  TMMDeviceMessageQueue Messages{4096};
  std::atomic<bool> Failed{false};
  std::atomic<bool> Finished{false};
  std::atomic<int> KernelId{0};  // for priority changes from other threads

 protected:
  void Execute() override;

 private:
  TMMWaveOut* owner_;
};

class TMMWaveOut : public TMMCustomWaveOutComponent {
 public:
  static constexpr int kMaxBuffers = 500;

  // Bound to the system's devices.
  explicit TMMWaveOut(std::string name = {});
  // Bound to another device table (tests, tools).
  TMMWaveOut(std::string name, TMMWaveDevices& devices);
  ~TMMWaveOut() override;

  std::span<const LinkProperty> LinkProperties() const override { return kPublishInputOutput; }

  // The output devices as the device dialog lists them: DeviceName(-1) is
  // the default device, then 0 .. DeviceCount()-1.
  static int DeviceCount();
  static std::string DeviceName(TMMDeviceId id);

  // Published properties.
  void SetDeviceID(TMMDeviceId value) override;
  TMMDeviceId DeviceID() const override { return deviceId_; }
  void SetProductName(const std::string&) override {}
  std::string ProductName() const override { return productName_; }
  void SetNumBuffers(int value) override;
  int NumBuffers() const override { return numBuffers_; }
  void SetCallBackMode(TMMCBMode value) override;
  TMMCBMode CallBackMode() const override { return callBackMode_; }
  void SetTimeFormat(TMMTimeFormats value) { timeFormat_ = value; }
  TMMTimeFormats TimeFormat() const { return timeFormat_; }
  void SetLooping(bool value);
  bool Looping() const { return looping_.load(); }
  void SetLoopCount(uint16_t value);
  uint16_t LoopCount() const { return loopCount_.load(); }
  void SetShowHourGlass(bool value) { showHourGlass_ = value; }
  bool ShowHourGlass() const { return showHourGlass_; }
  void SetMapped(bool value) { mapped_ = value; }
  bool Mapped() const { return mapped_; }
  void SetPriority(TThreadPriority value);
  TThreadPriority Priority() const { return priority_.load(); }

  void SetPWaveFormat(const WAVEFORMATEX* value) override;
  void SetBufferSize(int32_t value) override;

  // The device operations (also what a chain command reaching the output does).
  int64_t Position() const override;
  void Open() override;
  void Close() override;
  void Rewind() override;
  void Start() override;
  void Pause() override;
  void Restart() override;
  void Stop() override;

  int State() const { return state_.load(); }
  bool IsOpen() const { return (state_.load() & wsOpen) != 0; }
  bool IsStarted() const { return (state_.load() & wsStarted) != 0; }
  bool IsPaused() const { return (state_.load() & wsPaused) != 0; }
  TMMDeviceStatistics DeviceStatistics() const;

  // The output only pulls: buffers pushed from upstream are ignored.
  void BufferReady(PWaveHdr) override {}
  void BufferLoad(PWaveHdr buffer, bool& moreBuffers) override;

  TNotifyEvent OnError, OnOpen, OnStart, OnPause, OnRestart, OnStop, OnClose, OnLooping;
  // Fired for every buffer just before it is written to the device.
  TMMBufferEvent OnBufferFilled;

 protected:
  [[noreturn]] void RaiseError(const std::string& message);

 private:
  friend class TMMWaveOutThread;

  static void DeviceCallback(HWAVE handle, uint32_t message, void* instance, PWaveHdr header,
                             MMRESULT code);
  [[noreturn]] void DeviceError(const char* prefix, MMRESULT code);
  void Check(const char* prefix, MMRESULT code) {
    if (code != MMSYSERR_NOERROR) DeviceError(prefix, code);
  }
  std::string ErrorText(MMRESULT code);
  void CheckClosed();
  void Fire(const TNotifyEvent& event);
  void ReportError(const std::exception_ptr& error);
  void FailClosed();
  void StartThread();
  void EndThread();
  void Flush();
  int FillRing();
  int32_t FillBuffer(PWaveHdr header);
  void WriteBuffer(PWaveHdr header);
  void HandlePlayed(PWaveHdr header);
  void LeavePlayed();
  void StopNotification();
  void HandleOnMain(HWAVE handle, PWaveHdr header, uint64_t generation);
  void PostThreadFailure(const std::exception_ptr& error);
  void PostLost(HWAVE handle, MMRESULT code);
  void PostStop(HWAVE handle);
  uint32_t DevicePosition();
  void WaitForQueueEmpty(int tries);
  void UnprepareAll();
  void ReleaseBlocks();

  TMMWaveDevices* devices_;
  std::atomic<HWAVE> handle_{0};
  std::atomic<int> state_{wsClosed};
  int numDevs_ = 0;
  TMMDeviceId deviceId_ = 0;
  std::string productName_;
  uint32_t driverVersion_ = 0;
  TMMWaveCaps caps_;
  int numBuffers_ = 10;
  TMMCBMode callBackMode_ = cmWindow;
  TMMTimeFormats timeFormat_ = tfByte;
  std::atomic<bool> looping_{false};
  std::atomic<uint16_t> loopCount_{0};
  bool showHourGlass_ = true;
  bool mapped_ = false;
  std::atomic<TThreadPriority> priority_{tpHigher};

  // The ring: slots 0..inUse_-1 are queued at the device in turn.
  std::vector<PWaveHdr> headers_ = std::vector<PWaveHdr>(kMaxBuffers, nullptr);
  int inUse_ = 0;
  int ringIndex_ = 0;
  // Guarded by lock_: buffers at the device, and reports of played buffers
  // routed to a handler that has not taken them yet.
  int queued_ = 0;
  int pendingDone_ = 0;
  int64_t bytesPlayed_ = 0;
  std::atomic<int> depth_{0};
  std::atomic<bool> moreData_{false};
  std::atomic<int32_t> loopsLeft_{0};
  std::atomic<bool> closing_{false};
  std::atomic<bool> closePending_{false};
  TMMCloseClaim closeClaim_;
  std::atomic<bool> stopping_{false};
  std::atomic<bool> resetting_{false};
  std::atomic<bool> stopPending_{false};
  std::atomic<bool> pausePosted_{false};
  // Position bookkeeping, read by Position on the main thread.
  std::atomic<uint32_t> lastPosition_{0};
  std::atomic<uint32_t> wrapCount_{0};
  std::atomic<uint32_t> wrapBase_{0};
  std::atomic<int64_t> positionOffset_{0};
  std::atomic<uint32_t> loopRestartPosition_{0};
  // Done notifications posted to the main thread carry it; Rewind moves it
  // on, so that those posted before are dropped.
  std::atomic<uint64_t> generation_{0};

  mutable std::recursive_mutex lock_;
  TMMAllocator allocator_;
  std::unique_ptr<TMMWaveOutThread> thread_;
  std::vector<std::unique_ptr<TMMWaveOutThread>> abandoned_;
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

}  // namespace tv
