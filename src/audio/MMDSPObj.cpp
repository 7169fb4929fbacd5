#include "MMDSPObj.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <vector>

#include "MMDispatch.h"

namespace tv {

namespace {

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

// Back-link names are short texts of at most 20 characters.
std::string BackLinkText(std::string_view name) { return std::string(name.substr(0, 20)); }

// The component registry, used to broadcast link changes.
struct ComponentRegistry {
  std::mutex lock;
  std::vector<TMMDSPComponent*> components;
};

ComponentRegistry& Components() {
  static ComponentRegistry registry;
  return registry;
}

std::vector<TMMDSPComponent*> SnapshotComponents() {
  ComponentRegistry& r = Components();
  std::lock_guard lock(r.lock);
  return r.components;
}

void BroadcastLinkChanged(TMMDSPComponent* sender, bool isInputSide, std::string_view name) {
  for (TMMDSPComponent* c : SnapshotComponents()) c->LinkChanged(sender, isInputSide, name);
}

struct ThreadRegistry {
  std::mutex lock;
  std::vector<TMMDSPThread*> threads;
};

ThreadRegistry& Threads() {
  static ThreadRegistry registry;
  return registry;
}

bool IsDriver(const TMMDSPComponent* c) {
  return dynamic_cast<const TMMCustomSoundComponent*>(c) != nullptr;
}

}  // namespace

void InitBufferHeader(TMMBufferHeader* header, uint32_t capacity) {
  std::memset(header, 0, sizeof *header);
  header->lpData = reinterpret_cast<char*>(header) + kBufferHeaderSize;
  header->dwBufferLength = capacity;
}

int RegisteredComponentCount() {
  ComponentRegistry& r = Components();
  std::lock_guard lock(r.lock);
  return static_cast<int>(r.components.size());
}

// ---------------------------------------------------------------------------
// TMMDSPComponent

const LinkProperty TMMDSPComponent::kPublishInputOutput[2] = {
    {"Input", &TMMDSPComponent::Input}, {"Output", &TMMDSPComponent::Output}};
const LinkProperty TMMDSPComponent::kPublishInput[1] = {{"Input", &TMMDSPComponent::Input}};
const LinkProperty TMMDSPComponent::kPublishOutput[1] = {{"Output", &TMMDSPComponent::Output}};

TMMDSPComponent::TMMDSPComponent(std::string name) : TMMCustomDSPComponent(std::move(name)) {
  ComponentRegistry& r = Components();
  std::lock_guard lock(r.lock);
  r.components.push_back(this);
}

TMMDSPComponent::~TMMDSPComponent() {
  Unlink();
  ComponentRegistry& r = Components();
  std::lock_guard lock(r.lock);
  std::erase(r.components, this);
}

void TMMDSPComponent::Unlink() {
  if (unlinked_) return;
  unlinked_ = true;
  MarkDestroying();
  SetInput(nullptr);
  SetOutput(nullptr);
  SetPWaveFormat(nullptr);
  // Whoever still points here must let go before the memory does.
  for (TMMDSPComponent* c : SnapshotComponents()) {
    if (c != this) c->RemoveNotification(this);
  }
}

TMMDSPComponent* TMMDSPComponent::LinkPropertyValue(std::string_view name, bool& found) const {
  for (const LinkProperty& p : LinkProperties()) {
    if (SameName(p.name, name)) {
      found = true;
      return (this->*p.get)();
    }
  }
  found = false;
  return nullptr;
}

bool TMMDSPComponent::PublishesLink(std::string_view name) const {
  bool found = false;
  LinkPropertyValue(name, found);
  return found;
}

void TMMDSPComponent::RemoveNotification(TMMDSPComponent* removed) {
  if (removed == nullptr) return;
  if (input_ == removed) {
    SetInput(nullptr);
  } else if (output_ == removed) {
    SetOutput(nullptr);
  }
}

void TMMDSPComponent::PropagateFormat() {
  if (!PassesFormat()) return;
  if (input_ != nullptr) {
    ReceiveFormat(input_->PWaveFormat());
  } else if (output_ != nullptr) {
    output_->ReceiveFormat(PWaveFormat());
  }
}

void TMMDSPComponent::LinkChanged(TMMDSPComponent* sender, bool isInputSide,
                                  std::string_view name) {
  if (sender == nullptr) return;
  bool found = false;
  if (isInputSide) {
    if (sender == input_ && SameName(inputBackLink_, name) &&
        sender->LinkPropertyValue(name, found) == this && found) {
      SetInputLink(nullptr, {});
    }
  } else {
    if (sender == output_ && SameName(outputBackLink_, name) &&
        sender->LinkPropertyValue(name, found) == this && found) {
      SetOutputLink(nullptr, {});
    }
  }
}

void TMMDSPComponent::SetInput(TMMDSPComponent* value) {
  if (value == input_) return;
  if (value != nullptr && !CanConnectInput(value)) return;
  Stop();
  if (input_ != nullptr) {
    BroadcastLinkChanged(this, false, "Input");
    SetInputLink(nullptr, {});
    ReceiveFormat(nullptr);
  }
  if (value == nullptr) return;
  BroadcastLinkChanged(value, true, "Output");
  SetInputLink(value, "Output");
  value->SetOutputLink(this, "Input");
  PropagateFormat();
}

void TMMDSPComponent::SetOutput(TMMDSPComponent* value) {
  if (value == output_) return;
  if (value != nullptr && !CanConnectOutput(value)) return;
  Stop();
  if (output_ != nullptr) {
    TMMDSPComponent* old = output_;
    BroadcastLinkChanged(this, true, "Output");
    old->ReceiveFormat(nullptr);
    SetOutputLink(nullptr, {});
  }
  if (value == nullptr) return;
  BroadcastLinkChanged(value, false, "Input");
  SetOutputLink(value, "Input");
  value->SetInputLink(this, "Output");
  PropagateFormat();
}

void TMMDSPComponent::SetInputLink(TMMDSPComponent* component, std::string_view backName) {
  input_ = component;
  inputBackLink_ = BackLinkText(backName);
}

void TMMDSPComponent::SetOutputLink(TMMDSPComponent* component, std::string_view backName) {
  output_ = component;
  outputBackLink_ = BackLinkText(backName);
}

bool TMMDSPComponent::CanConnectInput(TMMDSPComponent* candidate) {
  if (candidate == nullptr || candidate == this) return false;
  if (!candidate->PublishesLink("Output") && !candidate->AcceptsOutputLink) return false;
  if (output_ == nullptr) return true;
  return output_->CanConnectInput(candidate);
}

bool TMMDSPComponent::CanConnectOutput(TMMDSPComponent* candidate) {
  if (candidate == nullptr || candidate == this) return false;
  if (!candidate->PublishesLink("Input") && !candidate->AcceptsInputLink) return false;
  if (input_ == nullptr) return true;
  return input_->CanConnectOutput(candidate);
}

void TMMDSPComponent::SetPWaveFormat(const WAVEFORMATEX* value) {
  if (value != format_.get()) {
    if (started_) Stop();
    WaveFormatPtr copy = CopyWaveFormat(value);
    format_ = std::move(copy);
  }
  if (PassesFormat() && output_ != nullptr) output_->ReceiveFormat(format_.get());
}

void TMMDSPComponent::ReceiveFormat(const WAVEFORMATEX* format) { SetPWaveFormat(format); }

void TMMDSPComponent::Loaded() { SetPWaveFormat(PWaveFormat()); }

int32_t TMMDSPComponent::BufferSize() const {
  return opened_ ? effectiveBufferSize_ : bufferSize_;
}

void TMMDSPComponent::SetBufferSize(int32_t value) {
  if (value == bufferSize_) return;
  if (started_) Stop();
  bufferSize_ = value;
}

void TMMDSPComponent::Open() {
  if (opened_) return;
  const WAVEFORMATEX* f = PWaveFormat();
  if (f != nullptr && f->nBlockAlign > 0) {
    const int32_t align = f->nBlockAlign;
    effectiveBufferSize_ = std::max(bufferSize_ - (bufferSize_ % align), align);
  } else {
    effectiveBufferSize_ = bufferSize_;
  }
  opened_ = true;
  started_ = false;
  paused_ = false;
}

void TMMDSPComponent::Close() { opened_ = false; }

void TMMDSPComponent::Start() {
  if (opened_ && !started_) started_ = true;
}

void TMMDSPComponent::Pause() { paused_ = true; }

void TMMDSPComponent::Restart() { paused_ = false; }

void TMMDSPComponent::Stop() {
  if (started_) {
    started_ = false;
    paused_ = false;
  }
}

void TMMDSPComponent::BufferReady(PWaveHdr buffer) {
  if (OnBufferReady) OnBufferReady(this, buffer);
  if (output_ != nullptr) output_->BufferReady(buffer);
}

void TMMDSPComponent::BufferLoad(PWaveHdr buffer, bool& moreBuffers) {
  if (OnBufferLoad) OnBufferLoad(this, buffer, moreBuffers);
  if (input_ != nullptr) input_->BufferLoad(buffer, moreBuffers);
}

// ---------------------------------------------------------------------------
// TMMCustomSoundComponent

TMMDSPComponent* TMMCustomSoundComponent::StartPoint(bool& upstreamDriver) const {
  upstreamDriver = false;
  TMMDSPComponent* top = const_cast<TMMCustomSoundComponent*>(this);
  for (TMMDSPComponent* c = Input(); c != nullptr; c = c->Input()) {
    if (IsDriver(c)) {
      upstreamDriver = true;
      return const_cast<TMMCustomSoundComponent*>(this);
    }
    top = c;
  }
  return top;
}

void TMMCustomSoundComponent::Apply(TMMDSPComponent* target, Command command) {
  switch (command) {
    case Command::Open: target->Open(); break;
    case Command::Close: target->Close(); break;
    case Command::Start: target->Start(); break;
    case Command::Pause: target->Pause(); break;
    case Command::Restart: target->Restart(); break;
    case Command::Stop: target->Stop(); break;
    case Command::Rewind: target->Rewind(); break;
    case Command::Refresh: target->Refresh(); break;
  }
}

void TMMCustomSoundComponent::ApplyBase(Command command) {
  switch (command) {
    case Command::Open: TMMDSPComponent::Open(); break;
    case Command::Close: TMMDSPComponent::Close(); break;
    case Command::Start: TMMDSPComponent::Start(); break;
    case Command::Pause: TMMDSPComponent::Pause(); break;
    case Command::Restart: TMMDSPComponent::Restart(); break;
    case Command::Stop: TMMDSPComponent::Stop(); break;
    case Command::Rewind: TMMDSPComponent::Rewind(); break;
    case Command::Refresh: TMMDSPComponent::Refresh(); break;
  }
}

void TMMCustomSoundComponent::WalkFromStart(Command command, bool setBufferSize) {
  bool upstreamDriver = false;
  TMMDSPComponent* start = StartPoint(upstreamDriver);
  if (command == Command::Open) hasUpstreamDriver_ = upstreamDriver;
  for (TMMDSPComponent* x = start; x != nullptr; x = x->Output()) {
    if (x == this) continue;
    const bool driver = IsDriver(x);
    if (setBufferSize) x->SetBufferSize(BufferSize());
    Apply(x, command);
    if (driver) break;
  }
  ApplyBase(command);
}

void TMMCustomSoundComponent::WalkDownstreamFirst(Command command) {
  for (TMMDSPComponent* x = Output(); x != nullptr; x = x->Output()) {
    if (IsDriver(x)) {
      Apply(x, command);
      break;
    }
  }
  bool upstreamDriver = false;
  TMMDSPComponent* start = StartPoint(upstreamDriver);
  for (TMMDSPComponent* x = start; x != nullptr; x = x->Output()) {
    if (x == this) continue;
    if (IsDriver(x)) break;
    Apply(x, command);
  }
  ApplyBase(command);
}

void TMMCustomSoundComponent::ChainOpen() {
  hasUpstreamDriver_ = false;
  WalkFromStart(Command::Open, true);
}
void TMMCustomSoundComponent::ChainClose() { WalkDownstreamFirst(Command::Close); }
void TMMCustomSoundComponent::ChainStart() { WalkFromStart(Command::Start, false); }
void TMMCustomSoundComponent::ChainPause() { WalkFromStart(Command::Pause, false); }
void TMMCustomSoundComponent::ChainRestart() { WalkFromStart(Command::Restart, false); }
void TMMCustomSoundComponent::ChainStop() { WalkDownstreamFirst(Command::Stop); }
void TMMCustomSoundComponent::ChainRewind() { WalkFromStart(Command::Rewind, false); }
void TMMCustomSoundComponent::ChainRefresh() { WalkFromStart(Command::Refresh, false); }

void TMMCustomSoundComponent::Open() { ChainOpen(); }
void TMMCustomSoundComponent::Close() { ChainClose(); }
void TMMCustomSoundComponent::Start() { ChainStart(); }
void TMMCustomSoundComponent::Pause() { ChainPause(); }
void TMMCustomSoundComponent::Restart() { ChainRestart(); }
void TMMCustomSoundComponent::Stop() { ChainStop(); }
void TMMCustomSoundComponent::Rewind() { ChainRewind(); }
void TMMCustomSoundComponent::Refresh() { ChainRefresh(); }

// ---------------------------------------------------------------------------
// TMMDSPThread

TMMDSPThread::TMMDSPThread(TMMCustomSoundComponent* owner) : owner_(owner) {
  ThreadRegistry& r = Threads();
  std::lock_guard lock(r.lock);
  r.threads.push_back(this);
}

TMMDSPThread::~TMMDSPThread() {
  Terminate();
  WaitFor();
  ThreadRegistry& r = Threads();
  std::lock_guard lock(r.lock);
  std::erase(r.threads, this);
}

void TMMDSPThread::Resume() {
  std::lock_guard lock(lock_);
  if (!started_) {
    started_ = true;
    suspended_ = false;
    thread_ = std::thread([this] { Execute(); });
    return;
  }
  suspended_ = false;
  gate_.notify_all();
}

void TMMDSPThread::Suspend() {
  std::lock_guard lock(lock_);
  if (started_) suspended_ = true;
}

bool TMMDSPThread::Suspended() const {
  std::lock_guard lock(lock_);
  return suspended_;
}

void TMMDSPThread::Terminate() {
  {
    std::lock_guard lock(lock_);
    terminated_ = true;
  }
  gate_.notify_all();
}

bool TMMDSPThread::Terminated() const {
  std::lock_guard lock(lock_);
  return terminated_;
}

void TMMDSPThread::WaitFor() {
  std::thread t;
  {
    std::lock_guard lock(lock_);
    if (!thread_.joinable() || thread_.get_id() == std::this_thread::get_id()) return;
    t = std::move(thread_);
  }
  t.join();
}

std::thread::id TMMDSPThread::ThreadId() const {
  std::lock_guard lock(lock_);
  return thread_.get_id();
}

void TMMDSPThread::CheckSuspended() {
  std::unique_lock lock(lock_);
  gate_.wait(lock, [this] { return !suspended_ || terminated_; });
}

void TMMDSPThread::Synchronize(const std::function<void()>& call) { MainDispatcher().Invoke(call); }

bool TMMDSPThread::CurrentIsDSPThread() {
  const std::thread::id self = std::this_thread::get_id();
  ThreadRegistry& r = Threads();
  std::lock_guard lock(r.lock);
  return std::any_of(r.threads.begin(), r.threads.end(),
                     [&](const TMMDSPThread* t) { return t->ThreadId() == self; });
}

void CallSynchronized(const std::function<void()>& procedure) {
  if (!MainDispatcher().IsMainThread() && TMMDSPThread::CurrentIsDSPThread()) {
    MainDispatcher().Invoke(procedure);
  } else {
    procedure();
  }
}

}  // namespace tv
