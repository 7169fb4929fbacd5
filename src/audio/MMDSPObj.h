// The audio component chain: components linked upstream (Input) and
// downstream (Output), the buffer record that travels along them, the format
// that travels down whenever a link changes, and the drivers' chain walks.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <thread>

#include "MMPCMSup.h"
#include "MMTypes.h"

namespace tv {

class TMMDSPComponent;
class TMMCustomSoundComponent;

// One audio buffer. The sample bytes follow the header in the same block;
// the first fields mirror the platform wave header so a device backend can
// use the record as it stands.
struct TMMBufferHeader {
  char* lpData;
  uint32_t dwBufferLength;   // capacity for a pull; the delivered count after it
  uint32_t dwBytesRecorded;  // valid bytes at lpData
  uint32_t dwUser;
  uint32_t dwFlags;          // device buffer flags; zero in the chain
  uint32_t dwLoops;
  TMMBufferHeader* lpNext;
  uint32_t reserved;
  uint32_t spare;
  uint32_t SavedBytes;           // wave output's copy of dwBytesRecorded
  TMMBufferHeader* NextInRing;   // next buffer of a device ring
  int32_t LoopEnabled;           // all bits set: a file source wraps at its end
  int32_t LoopCount;             // passes wanted; 0 = endless
  int32_t LoopCounter;           // passes left
  int32_t LoopRestarted;         // set by a file source that wrapped in this buffer
};
using PWaveHdr = TMMBufferHeader*;

// Size of the header in front of the sample bytes of a buffer block.
inline constexpr uint32_t kBufferHeaderSize = sizeof(TMMBufferHeader);
// Points lpData just past the header and clears the rest.
void InitBufferHeader(TMMBufferHeader* header, uint32_t capacity);

using TMMBufferEvent = std::function<void(TMMDSPComponent* sender, PWaveHdr lpWaveHdr)>;
using TMMBufferLoadEvent =
    std::function<void(TMMDSPComponent* sender, PWaveHdr lpWaveHdr, bool& MoreBuffers)>;
using TNotifyEvent = std::function<void(TMMDSPComponent* sender)>;
using TMMErrorEvent = std::function<void(TMMDSPComponent* sender, bool& Handled)>;

class TMMComponent {
 public:
  explicit TMMComponent(std::string name = {}) : name_(std::move(name)) {}
  virtual ~TMMComponent() = default;
  TMMComponent(const TMMComponent&) = delete;
  TMMComponent& operator=(const TMMComponent&) = delete;

  const std::string& Name() const { return name_; }
  void SetName(std::string name) { name_ = std::move(name); }

  // While a window applies its stored property values, setters must not
  // reach the neighbours yet; Loaded runs once all values are in place.
  bool Loading() const { return loading_; }
  void BeginLoading() { loading_ = true; }
  void EndLoading() {
    loading_ = false;
    Loaded();
  }
  bool Destroying() const { return destroying_; }

 protected:
  virtual void Loaded() {}
  void MarkDestroying() { destroying_ = true; }

 private:
  std::string name_;
  bool loading_ = false;
  bool destroying_ = false;
};

class TMMNonVisualComponent : public TMMComponent {
 public:
  using TMMComponent::TMMComponent;
};

class TMMCustomDSPComponent : public TMMNonVisualComponent {
 public:
  using TMMNonVisualComponent::TMMNonVisualComponent;
};

// A link property a class publishes, looked up by name.
struct LinkProperty {
  const char* name;
  TMMDSPComponent* (TMMDSPComponent::*get)() const;
};

class TMMDSPComponent : public TMMCustomDSPComponent {
 public:
  explicit TMMDSPComponent(std::string name = {});
  ~TMMDSPComponent() override;

  // Published link properties of each class: tables for the usual sets.
  static const LinkProperty kPublishInputOutput[2];
  static const LinkProperty kPublishInput[1];
  static const LinkProperty kPublishOutput[1];
  virtual std::span<const LinkProperty> LinkProperties() const { return {}; }
  // The neighbour that the published property `name` designates; `found`
  // tells whether the class publishes such a property at all.
  TMMDSPComponent* LinkPropertyValue(std::string_view name, bool& found) const;
  bool PublishesLink(std::string_view name) const;

  virtual void PropagateFormat();
  virtual void LinkChanged(TMMDSPComponent* sender, bool isInputSide, std::string_view name);
  virtual void SetInput(TMMDSPComponent* value);
  virtual TMMDSPComponent* Input() const { return input_; }
  virtual void SetOutput(TMMDSPComponent* value);
  virtual TMMDSPComponent* Output() const { return output_; }
  virtual void SetPWaveFormat(const WAVEFORMATEX* value);
  virtual const WAVEFORMATEX* PWaveFormat() const { return format_.get(); }
  virtual int32_t BufferSize() const;
  virtual void SetBufferSize(int32_t value);
  virtual void ReceiveFormat(const WAVEFORMATEX* format);
  virtual void Open();
  virtual void Close();
  virtual void Start();
  virtual void Pause();
  virtual void Restart();
  virtual void Stop();
  virtual void Rewind() {}
  virtual void Refresh() {}
  virtual void BufferReady(PWaveHdr buffer);
  virtual void BufferLoad(PWaveHdr buffer, bool& moreBuffers);
  virtual void SetInputLink(TMMDSPComponent* component, std::string_view backName);
  virtual void SetOutputLink(TMMDSPComponent* component, std::string_view backName);
  virtual bool CanConnectInput(TMMDSPComponent* candidate);
  virtual bool CanConnectOutput(TMMDSPComponent* candidate);

  // The framework's removal notice: drops links to a component that goes.
  void RemoveNotification(TMMDSPComponent* removed);

  bool Opened() const { return opened_; }
  bool Started() const { return started_; }
  bool Paused() const { return paused_; }
  int32_t EffectiveBufferSize() const { return effectiveBufferSize_; }
  const std::string& InputBackLink() const { return inputBackLink_; }
  const std::string& OutputBackLink() const { return outputBackLink_; }

  bool AcceptsInputLink = false;
  bool AcceptsOutputLink = false;
  TMMBufferEvent OnBufferReady;
  TMMBufferLoadEvent OnBufferLoad;

 protected:
  void Loaded() override;
  // Unlinks both sides and drops the format; the most derived destructor
  // calls it so that the virtual operations it reaches are still its own.
  void Unlink();
  void SetOpened(bool v) { opened_ = v; }
  void SetStarted(bool v) { started_ = v; }
  void SetPaused(bool v) { paused_ = v; }
  int32_t RequestedBufferSize() const { return bufferSize_; }
  // Stores the requested size without the setter's side effects.
  void StoreBufferSize(int32_t value) { bufferSize_ = value; }
  bool PassesFormat() const { return !Loading() && !Destroying(); }

 private:
  TMMDSPComponent* input_ = nullptr;
  TMMDSPComponent* output_ = nullptr;
  WaveFormatPtr format_;
  int32_t bufferSize_ = 2048;
  int32_t effectiveBufferSize_ = 2048;
  bool opened_ = false;
  bool started_ = false;
  bool paused_ = false;
  std::string inputBackLink_;
  std::string outputBackLink_;
  bool unlinked_ = false;
};

// Base of the drivers: their lifecycle commands walk the section of the
// chain they are responsible for.
class TMMCustomSoundComponent : public TMMDSPComponent {
 public:
  using TMMDSPComponent::TMMDSPComponent;

  void Open() override;
  void Close() override;
  void Start() override;
  void Pause() override;
  void Restart() override;
  void Stop() override;
  void Rewind() override;
  void Refresh() override;

  bool HasUpstreamDriver() const { return hasUpstreamDriver_; }

  // Device properties; drivers without a device keep these neutral answers.
  virtual void SetNumBuffers(int) {}
  virtual int NumBuffers() const { return 0; }
  virtual void SetDeviceID(TMMDeviceId) {}
  virtual TMMDeviceId DeviceID() const { return InvalidId; }
  virtual void SetProductName(const std::string&) {}
  virtual std::string ProductName() const { return {}; }
  virtual void SetCallBackMode(TMMCBMode) {}
  virtual TMMCBMode CallBackMode() const { return cmWindow; }

 protected:
  // The walks themselves, for drivers that override the commands.
  void ChainOpen();
  void ChainClose();
  void ChainStart();
  void ChainPause();
  void ChainRestart();
  void ChainStop();
  void ChainRewind();
  void ChainRefresh();

 private:
  enum class Command { Open, Close, Start, Pause, Restart, Stop, Rewind, Refresh };
  TMMDSPComponent* StartPoint(bool& upstreamDriver) const;
  void WalkFromStart(Command command, bool setBufferSize);
  void WalkDownstreamFirst(Command command);
  static void Apply(TMMDSPComponent* target, Command command);
  void ApplyBase(Command command);

  bool hasUpstreamDriver_ = false;
};

// A driver's worker thread. It is created suspended; the first Resume starts
// it, later Suspend/Resume calls close and open a pause gate that the run
// body passes through with CheckSuspended.
class TMMDSPThread {
 public:
  explicit TMMDSPThread(TMMCustomSoundComponent* owner);
  virtual ~TMMDSPThread();
  TMMDSPThread(const TMMDSPThread&) = delete;
  TMMDSPThread& operator=(const TMMDSPThread&) = delete;

  void Resume();
  void Suspend();
  bool Suspended() const;
  void Terminate();
  bool Terminated() const;
  // Joins the thread once it has ended; derived classes call it in their
  // destructor, before their own members go.
  void WaitFor();
  bool Running() const { return thread_.joinable(); }
  std::thread::id ThreadId() const;
  TMMCustomSoundComponent* Owner() const { return owner_; }

  // Runs a call on the main thread and waits for it.
  static void Synchronize(const std::function<void()>& call);
  // True when the calling thread is the body of a live TMMDSPThread.
  static bool CurrentIsDSPThread();

 protected:
  virtual void Execute() = 0;
  // Blocks while the thread is suspended (and not terminated).
  void CheckSuspended();

 private:
  TMMCustomSoundComponent* owner_;
  std::thread thread_;
  mutable std::mutex lock_;
  std::condition_variable gate_;
  bool started_ = false;
  bool suspended_ = true;
  bool terminated_ = false;
};

// Runs `procedure` on the main thread (waiting for it) when called from a
// driver thread; otherwise calls it directly.
void CallSynchronized(const std::function<void()>& procedure);

// Number of live components; the registry exists while it is above zero.
int RegisteredComponentCount();

}  // namespace tv
