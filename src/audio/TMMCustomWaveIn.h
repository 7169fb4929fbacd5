// The wave input: captures audio from a sound device and pushes every filled
// buffer down its chain. TMMCustomWaveIn holds the whole device logic (the
// buffer ring, the flags, the capture thread, the stop handshake) above the
// device function table; TMMWaveIn (TMMWaveIn.h) binds it to the system's
// devices.
//
// Threads: the device reports finished buffers from a thread of its own;
// they are handled on the main thread (cmWindow, through the dispatcher) or
// on the component's capture thread (cmThread), where BufferReady then runs
// down the chain. The notify events (OnOpen ... OnError) always fire on the
// main thread.
#pragma once

#include <atomic>
#include <condition_variable>
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
#include "TMMDeviceStream.h"
#include "TMMWaveDevices.h"

namespace tv {

class EMMWaveInError : public EMMError {
 public:
  explicit EMMWaveInError(const std::string& message, bool reported = false)
      : EMMError(message), Reported(reported) {}
  // True once OnError has fired for this error.
  bool Reported;
};

// Device state bits (State()).
enum : int { wsClosed = 1, wsOpen = 2, wsStarted = 4, wsPaused = 8 };

class TMMCustomWaveIn;

class TMMWaveInThread final : public TMMDSPThread {
 public:
  explicit TMMWaveInThread(TMMCustomWaveIn* owner);
  ~TMMWaveInThread() override;

  std::shared_ptr<TMMEventGroup> Events = std::make_shared<TMMEventGroup>();
  TMMAutoEvent Ready{Events};
  TMMDeviceMessageQueue Messages{4096};
  std::atomic<bool> Failed{false};
  std::atomic<bool> Finished{false};
  std::atomic<int> KernelId{0};  // for priority changes from other threads

 protected:
  void Execute() override;

 private:
  TMMCustomWaveIn* owner_;
};

class TMMCustomWaveIn : public TMMCustomSoundComponent {
 public:
  static constexpr int kMaxBuffers = 4096;

  explicit TMMCustomWaveIn(std::string name = {});
  ~TMMCustomWaveIn() override;

  std::span<const LinkProperty> LinkProperties() const override { return kPublishOutput; }

  // Published properties.
  void SetNumBuffers(int value) override;
  int NumBuffers() const override { return numBuffers_; }
  void SetDeviceID(TMMDeviceId value) override;
  TMMDeviceId DeviceID() const override { return deviceId_; }
  void SetProductName(const std::string&) override {}
  std::string ProductName() const override { return productName_; }
  void SetCallBackMode(TMMCBMode value) override;
  TMMCBMode CallBackMode() const override { return callBackMode_; }
  void SetMode(TMMMode value);
  TMMMode Mode() const;
  void SetChannels(int value);
  int Channels() const { return channels_; }
  void SetBitLength(TMMBits value);
  TMMBits BitLength() const { return bitLength_; }
  void SetSampleRate(int value);
  int SampleRate() const { return sampleRate_; }
  void SetTimeFormat(TMMTimeFormats value);
  TMMTimeFormats TimeFormat() const { return timeFormat_; }
  void SetMaxRecordTime(int32_t value);
  int32_t MaxRecordTime() const { return maxRecordTime_.load(); }
  void SetPriority(TThreadPriority value);
  TThreadPriority Priority() const { return priority_.load(); }

  void SetPWaveFormat(const WAVEFORMATEX* value) override;
  void SetBufferSize(int32_t value) override;

  // The device operations; the chain commands a driver's walk gives reach
  // them too (nothing drives a wave input from above: it has no Input).
  void Open() override;
  void Close() override;
  void Start() override;
  void Pause() override;
  void Restart() override;
  void Stop() override;

  // Position since Start in TimeFormat units (capped at MaxRecordTime).
  int64_t Position() const;
  int State() const { return state_.load(); }
  bool IsOpen() const { return (state_.load() & wsOpen) != 0; }
  bool IsStarted() const { return (state_.load() & wsStarted) != 0; }
  bool IsPaused() const { return (state_.load() & wsPaused) != 0; }
  // Counters of the open device (zeros without one).
  TMMDeviceStatistics DeviceStatistics() const;

  void BufferReady(PWaveHdr buffer) override;

  TNotifyEvent OnError, OnOpen, OnStart, OnPause, OnRestart, OnStop, OnClose;

 protected:
  // Chooses the device function table; called once by the binding class's
  // constructor, which then calls InitDevices.
  virtual TMMWaveDevices& BindDeviceFunctions() = 0;
  void InitDevices();
  [[noreturn]] void RaiseError(const std::string& message);

  // The notification steps that the device operations run.
  void OpenNotification();
  void CloseNotification();
  void StartNotification();
  void PauseNotification();
  void RestartNotification();
  void StopNotification();

 private:
  friend class TMMWaveInThread;

  static void DeviceCallback(HWAVE handle, uint32_t message, void* instance, PWaveHdr header,
                             MMRESULT code);
  [[noreturn]] void DeviceError(const char* prefix, MMRESULT code);
  void Check(const char* prefix, MMRESULT code) {
    if (code != MMSYSERR_NOERROR) DeviceError(prefix, code);
  }
  std::string ErrorText(MMRESULT code);
  bool FormatSupported();
  void RebuildFormat();
  void CheckClosed();
  void Fire(const TNotifyEvent& event);
  void ReportError(const std::exception_ptr& error);
  // After a failure: close as if open and end closed.
  void FailClosed();
  void StartThread();
  void EndThread();
  void QueueBuffer(PWaveHdr header);
  void HandleBuffer(PWaveHdr header);
  void DeferStop();
  void PostLost(HWAVE handle, MMRESULT code);
  void PostThreadFailure(const std::exception_ptr& error);
  // Handles a notification that has reached the main thread.
  void HandleOnMain(HWAVE handle, PWaveHdr header);
  uint32_t DevicePosition();
  int64_t ComputeByteLimit() const;
  void WaitForQueueEmpty();
  void ReleaseBlocks();

  TMMWaveDevices* devices_ = nullptr;
  std::atomic<HWAVE> handle_{0};
  std::atomic<int> state_{wsClosed};
  int numDevs_ = 0;
  TMMDeviceId deviceId_ = 0;
  std::string productName_;
  uint32_t driverVersion_ = 0;
  TMMWaveCaps caps_;
  int numBuffers_ = 10;
  TMMCBMode callBackMode_ = cmWindow;
  int channels_ = 1;
  TMMBits bitLength_ = b8Bit;
  int sampleRate_ = 11025;
  TMMTimeFormats timeFormat_ = tfByte;
  // May change while capturing; the delivering thread reads them.
  std::atomic<int32_t> maxRecordTime_{-1};
  std::atomic<TThreadPriority> priority_{tpHigher};

  // The buffer table; slots 0..NumBuffers-1 hold blocks while open.
  std::vector<PWaveHdr> headers_ = std::vector<PWaveHdr>(kMaxBuffers, nullptr);
  int bufferIndex_ = 0;
  // Guarded by lock_.
  int queued_ = 0;
  std::atomic<int> depth_{0};
  int64_t bytesTotal_ = 0;
  std::atomic<int64_t> byteLimit_{INT64_MAX};
  // Written by the delivering thread, read by Position on the main thread.
  std::atomic<uint32_t> lastPosition_{0};
  std::atomic<uint32_t> wrapCount_{0};
  std::atomic<uint32_t> wrapBase_{0};

  std::atomic<bool> closing_{false};
  std::atomic<bool> closePending_{false};
  TMMCloseClaim closeClaim_;
  std::atomic<bool> stopping_{false};
  std::atomic<bool> resetting_{false};
  std::atomic<bool> stopPending_{false};
  std::atomic<bool> stopPosted_{false};

  mutable std::recursive_mutex lock_;
  TMMAllocator allocator_;
  std::unique_ptr<TMMWaveInThread> thread_;
  // Workers that did not end in time; joined at destruction.
  std::vector<std::unique_ptr<TMMWaveInThread>> abandoned_;
  // Posted calls check it, so that none runs after the component is gone.
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

}  // namespace tv
