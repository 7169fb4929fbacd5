#include "TMMConnector.h"

#include <semaphore.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <ctime>
#include <exception>
#include <thread>

#include "MMDispatch.h"
#include "MMUtils.h"

namespace tv {

namespace {

constexpr TMMDisplayKind kSlotKind[kDisplaySlots] = {
    dkLevel, dkLevel,    dkMeter,    dkMeter,    dkOscope,   dkOscope,      dkLight,
    dkLight, dkSpectrum, dkSpectrum, dkSpectrum, dkSpectrum, dkSpectrogram, dkSpectrogram};

// Slots of each kind: [first, last].
constexpr int kKindFirst[kDisplayKinds] = {dsLevel1, dsMeter1,    dsOscope1,
                                           dsLight1, dsSpectrum1, dsSpectrogram1};
constexpr int kKindLast[kDisplayKinds] = {dsLevel2, dsMeter2,    dsOscope2,
                                          dsLight2, dsSpectrum4, dsSpectrogram2};

class SteadyClock final : public TMMClock {
 public:
  int64_t Microseconds() const override {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
  }
};

std::atomic<bool> gEnterIdle{false};

}  // namespace

TMMClock& SteadyMicrosecondClock() {
  static SteadyClock clock;
  return clock;
}

TMMDisplayKind DisplaySlotKind(TMMDisplaySlot slot) { return kSlotKind[slot]; }

// ---------------------------------------------------------------------------
// The pump: what the connectors' hidden window did with its posted messages.
// A thread sleeps until the earliest chunk of any message-driven connector
// is due, then posts one pump pass to the main thread and waits for it to
// finish. Nothing runs while nothing is due.

class ConnectorPump {
 public:
  static std::shared_ptr<ConnectorPump> Instance() {
    static std::shared_ptr<ConnectorPump> pump = std::make_shared<ConnectorPump>();
    return pump;
  }

  ConnectorPump() { sem_init(&wake_, 0, 0); }
  ~ConnectorPump() {
    Shutdown();
    sem_destroy(&wake_);
  }
  ConnectorPump(const ConnectorPump&) = delete;
  ConnectorPump& operator=(const ConnectorPump&) = delete;

  void Add(TMMConnector* c) {
    std::lock_guard lock(lock_);
    list_.push_back(c);
  }

  void Remove(TMMConnector* c) {
    bool last = false;
    {
      std::lock_guard lock(lock_);
      std::erase(list_, c);
      last = list_.empty();
    }
    RecomputeSpeed();
    // The hidden window went with the last connector; so does the thread.
    if (last) Shutdown();
  }

  bool Listed(TMMConnector* c) {
    std::lock_guard lock(lock_);
    return std::find(list_.begin(), list_.end(), c) != list_.end();
  }

  std::vector<TMMConnector*> Snapshot() {
    std::lock_guard lock(lock_);
    return list_;
  }

  void Enter() {
    std::lock_guard lock(lock_);
    ++driven_;
    if (!thread_.joinable()) {
      quit_ = false;
      std::weak_ptr<ConnectorPump> self = Instance();
      thread_ = std::thread([this, self] {
        if (auto keep = self.lock()) Loop();
      });
    }
    Wake();
  }

  void Leave() {
    std::lock_guard lock(lock_);
    if (driven_ > 0) --driven_;
  }

  // Lock-free: called from audio and timer threads.
  void Wake() { sem_post(&wake_); }

  void RecomputeSpeed() {
    std::lock_guard lock(lock_);
    int32_t highest = 1;
    for (TMMConnector* c : list_) highest = Max(highest, c->speed_);
    highestSpeed_ = list_.empty() ? 5000 : highest;
  }

  int64_t Passes() const { return passes_.load(); }

 private:
  // Marks the pass done even when the dispatcher drops it unrun.
  struct Ticket {
    Ticket(std::shared_ptr<ConnectorPump> p, uint64_t g) : pump(std::move(p)), generation(g) {}
    ~Ticket() { Finish(); }
    Ticket(const Ticket&) = delete;
    Ticket& operator=(const Ticket&) = delete;
    void Finish() {
      if (finished) return;
      finished = true;
      pump->PassDone(generation);
    }
    std::shared_ptr<ConnectorPump> pump;
    const uint64_t generation;
    bool finished = false;
  };

  void Shutdown() {
    std::thread t;
    {
      std::lock_guard lock(lock_);
      quit_ = true;
      t = std::move(thread_);
      // A pass still queued from this run no longer holds up the next one.
      outstanding_ = false;
      ++generation_;
    }
    Wake();
    if (t.joinable()) {
      if (t.get_id() == std::this_thread::get_id()) {
        t.detach();
      } else {
        t.join();
      }
    }
  }

  std::chrono::microseconds MinimumGap() const {
    return std::chrono::microseconds(1000 + (5000 - highestSpeed_) * 4000 / 4999);
  }

  void WaitForWake(std::chrono::steady_clock::time_point until, bool timed) {
    if (timed) {
      const auto ns =
          std::chrono::duration_cast<std::chrono::nanoseconds>(until.time_since_epoch());
      timespec ts{};
      ts.tv_sec = static_cast<time_t>(ns.count() / 1000000000);
      ts.tv_nsec = static_cast<long>(ns.count() % 1000000000);
      sem_clockwait(&wake_, CLOCK_MONOTONIC, &ts);
    } else {
      sem_wait(&wake_);
    }
    // Several wake-ups are one: the loop looks at every connector anyway.
    while (sem_trywait(&wake_) == 0) {
    }
  }

  void Loop() {
    using Clock = std::chrono::steady_clock;
    std::unique_lock lock(lock_);
    while (!quit_) {
      int64_t wait = TMMConnector::kNever;
      if (!outstanding_ && driven_ > 0) {
        for (TMMConnector* c : list_) {
          if (c->PumpDriven()) wait = std::min(wait, c->MicrosecondsUntilDue());
        }
      }
      if (wait == TMMConnector::kNever) {
        lock.unlock();
        WaitForWake({}, false);
        lock.lock();
        continue;
      }
      const auto now = Clock::now();
      const auto due = std::max(now + std::chrono::microseconds(std::max<int64_t>(wait, 0)),
                                lastPass_ + MinimumGap());
      if (due > now) {
        lock.unlock();
        WaitForWake(due, true);
        lock.lock();
        continue;
      }
      outstanding_ = true;
      const uint64_t generation = generation_;
      lock.unlock();
      try {
        auto ticket = std::make_shared<Ticket>(Instance(), generation);
        MainDispatcher().Post([ticket] {
          ticket->pump->RunPass();
          ticket->Finish();
        });
      } catch (...) {
        // Could not post (memory); the ticket has marked the pass done.
      }
      lock.lock();
    }
  }

  void PassDone(uint64_t generation) {
    {
      std::lock_guard lock(lock_);
      if (generation != generation_) return;
      outstanding_ = false;
      lastPass_ = std::chrono::steady_clock::now();
    }
    Wake();
  }

  // On the main thread.
  void RunPass() {
    passes_.fetch_add(1);
    for (TMMConnector* c : Snapshot()) {
      // A handler of an earlier connector may have destroyed this one.
      if (!Listed(c)) continue;
      if (c->PumpDriven() && c->Enabled() && c->TriggeringActive()) c->TriggerPass();
    }
  }

  std::mutex lock_;
  std::vector<TMMConnector*> list_;
  int driven_ = 0;
  int32_t highestSpeed_ = 5000;
  bool outstanding_ = false;
  uint64_t generation_ = 0;
  bool quit_ = false;
  std::chrono::steady_clock::time_point lastPass_{};
  std::atomic<int64_t> passes_{0};
  std::thread thread_;
  sem_t wake_{};
};

// ---------------------------------------------------------------------------
// TMMConnector

TMMConnector::TMMConnector(std::string name) : TMMDSPComponent(std::move(name)) {
  timer_.SetEnabled(false);
  timer_.SetInterval(20);
  timer_.SetOnTimer([this](TMMHiTimer*) { RunTrigger(); });
  ConnectorPump::Instance()->Add(this);
}

TMMConnector::~TMMConnector() {
  try {
    StopNotification();
  } catch (...) {
    HandleApplicationError();
  }
  alive_.reset();
  LeavePump();
  timer_.SetEnabled(false);
  ConnectorPump::Instance()->Remove(this);
  Unlink();
}

const TMMClock& TMMConnector::Clock() const {
  const TMMClock* c = clock_.load();
  return c != nullptr ? *c : SteadyMicrosecondClock();
}

void TMMConnector::SetClock(TMMClock* clock) { clock_.store(clock); }

bool TMMConnector::EnterIdle() { return gEnterIdle.load(); }
void TMMConnector::SetEnterIdle(bool value) { gEnterIdle.store(value); }

// ---------------------------------------------------------------------------
// Properties

void TMMConnector::SetEnabled(bool value) {
  if (value == enabled_.load()) return;
  enabled_.store(value);
  if (!value) {
    active_.store(false);
    LeaveAutoTriggering();
    std::exception_ptr error;
    for (TMMDisplay* d : slots_) {
      if (d == nullptr) continue;
      try {
        d->ResetDisplay();
      } catch (...) {
        if (!error) error = std::current_exception();
      }
    }
    if (error) std::rethrow_exception(error);
  } else if (running_.load() && realTime_.load()) {
    PostStartTriggering();
  }
}

void TMMConnector::SetAutoTrigger(bool value) {
  if (value == autoTrigger_.load()) return;
  if (!value) {
    active_.store(false);
    LeaveAutoTriggering();
    autoTrigger_.store(false);
    return;
  }
  autoTrigger_.store(true);
  if (running_.load() && enabled_.load() && realTime_.load()) PostStartTriggering();
}

void TMMConnector::SetSpeed(int32_t value) {
  value = Clamp(value, 1, 5000);
  if (value == speed_) return;
  speed_ = value;
  ConnectorPump::Instance()->RecomputeSpeed();
}

void TMMConnector::SetTriggerMethod(TMMTriggerMethod value) {
  if (value == triggerMethod_.load()) return;
  // A change while triggering moves the connector from one driver of its
  // passes to the other.
  const bool wasDriving = active_.load() && autoTrigger_.load();
  if (wasDriving) LeaveAutoTriggering();
  triggerMethod_.store(value);
  if (wasDriving) EnterAutoTriggering();
}

void TMMConnector::SetTriggerLevel(int32_t value) { triggerLevel_.store(Clamp(value, -100, 100)); }

void TMMConnector::SetRealTime(bool value) {
  if (value == realTime_.load()) return;
  if (Opened()) throw EMMConnectorError(LoadResString(SPropertyWhileOpen));
  realTime_.store(value);
}

void TMMConnector::SetDisplay(TMMDisplaySlot slot, TMMDisplay* display) {
  if (slot < 0 || slot >= kDisplaySlots || slots_[slot] == display) return;
  const TMMDisplayKind kind = kSlotKind[slot];
  if (display != nullptr && kKindLast[kind] - kKindFirst[kind] == 1) {
    const int other = slot == kKindFirst[kind] ? kKindLast[kind] : kKindFirst[kind];
    if (slots_[other] == display) return;
  }
  {
    std::lock_guard lock(passLock_);
    slots_[slot] = display;
    pending_[kind] = false;
  }
  if (display != nullptr) AssignDisplayFormat();
}

void TMMConnector::DisplayRemoved(TMMDisplay* display) {
  if (display == nullptr) return;
  for (TMMConnector* c : ConnectorPump::Instance()->Snapshot()) {
    std::lock_guard lock(c->passLock_);
    for (int s = 0; s < kDisplaySlots; ++s) {
      if (c->slots_[s] != display) continue;
      c->slots_[s] = nullptr;
      c->pending_[kSlotKind[s]] = false;
    }
  }
}

int32_t TMMConnector::Deliveries(TMMDisplayKind kind) const {
  std::lock_guard lock(passLock_);
  return deliveries_[kind];
}

bool TMMConnector::Pending(TMMDisplayKind kind) const {
  std::lock_guard lock(passLock_);
  return pending_[kind];
}

// ---------------------------------------------------------------------------
// Formats

void TMMConnector::SetPWaveFormat(const WAVEFORMATEX* value) {
  TMMDSPComponent::SetPWaveFormat(value);
  AssignDisplayFormat();
}

void TMMConnector::AssignDisplayFormat() {
  if (Loading() || Destroying()) return;
  std::lock_guard lock(passLock_);
  const WAVEFORMATEX* format = nullptr;
  WaveFormatPtr suggested;
  if (running_.load()) {
    format = displayFormat_.get();
  } else if (const WAVEFORMATEX* stream = PWaveFormat(); stream != nullptr) {
    if (stream->wFormatTag == WAVE_FORMAT_PCM) {
      format = stream;
    } else if (TMMPcmConversionProvider* codec = PcmConversionProvider();
               autoConvert_ && codec != nullptr) {
      suggested = codec->SuggestPcm(stream);
      if (suggested && codec->CanConvert(stream, suggested.get())) format = suggested.get();
    }
  }
  if (format == nullptr) return;
  for (TMMDisplay* d : slots_) {
    if (d != nullptr) d->AssignFormat(format);
  }
}

// ---------------------------------------------------------------------------
// Chain notifications

void TMMConnector::Start() {
  TMMDSPComponent::Start();
  StartNotification();
}

void TMMConnector::StartNotification() {
  const WAVEFORMATEX* stream = PWaveFormat();
  if (stream == nullptr || running_.load()) return;
  const int32_t size = BufferSize();
  if (size <= 0) return;
  WaveFormatPtr display;
  std::unique_ptr<TMMPcmConversion> conversion;
  int32_t dataSize = size;
  if (stream->wFormatTag == WAVE_FORMAT_PCM) {
    display = CopyWaveFormat(stream);
  } else if (autoConvert_) {
    TMMPcmConversionProvider* codec = PcmConversionProvider();
    if (codec == nullptr) {
      // The displays stay idle while the stream flows on. Told from the
      // main loop, not from inside the driver's Start.
      MainDispatcher().Post(
          [message = LoadResString(SNoDisplayConversion) + kLFCR + FormatTagName(stream)] {
            try {
              throw EMMConnectorError(message);
            } catch (...) {
              HandleApplicationError();
            }
          });
      return;
    }
    display = codec->SuggestPcm(stream);
    int32_t output = 0;
    if (display) conversion = codec->Open(stream, display.get(), size, output);
    if (!conversion || output <= 0) return;  // silently idle for this run
    dataSize = output;
  } else {
    return;
  }
  if (display == nullptr || display->nAvgBytesPerSec == 0) return;

  std::vector<uint8_t> front;
  std::vector<uint8_t> back;
  try {
    front.assign(static_cast<size_t>(dataSize), SilenceByte(display.get()));
    back.assign(static_cast<size_t>(dataSize), SilenceByte(display.get()));
  } catch (const std::bad_alloc&) {
    return;  // without a data buffer the connector stays idle
  }
  {
    std::lock_guard pass(passLock_);
    std::lock_guard data(dataLock_);
    displayFormat_ = std::move(display);
    front_ = std::move(front);
    back_ = std::move(back);
    frontValid_ = 0;
    backValid_ = 0;
    tapLimit_ = size;
    conversion_ = std::move(conversion);
    incoming_ = false;
    pending_.fill(false);
    position_.fill(0);
    spectrogramPosition_.fill(0);
    deliveries_.fill(0);
    nextDue_.store(kNever);
  }
  ConnectorPump::Instance()->RecomputeSpeed();
  errorReported_.store(false);
  paused_.store(false);
  running_.store(true);
  AssignDisplayFormat();
  if (enabled_.load() && realTime_.load()) PostStartTriggering();
}

void TMMConnector::PostStartTriggering() {
  std::weak_ptr<int> alive = alive_;
  MainDispatcher().Post([this, alive] {
    if (alive.expired()) return;
    try {
      StartTriggering();
    } catch (...) {
      HandleApplicationError();
    }
  });
}

void TMMConnector::StartTriggering() {
  // A request that finds the connector stopped or disabled is stale.
  if (!running_.load() || !enabled_.load()) return;
  timerPosts_.store(0);
  active_.store(true);
  if (autoTrigger_.load()) EnterAutoTriggering();
}

void TMMConnector::EnterAutoTriggering() {
  if (triggerMethod_.load() == tmTimer) {
    timer_.SetEnabled(true);
  } else {
    EnterPump();
  }
}

void TMMConnector::LeaveAutoTriggering() {
  timer_.SetEnabled(false);
  LeavePump();
}

void TMMConnector::EnterPump() {
  if (inPump_.exchange(true)) return;
  ConnectorPump::Instance()->Enter();
}

void TMMConnector::LeavePump() {
  if (!inPump_.exchange(false)) return;
  ConnectorPump::Instance()->Leave();
}

bool TMMConnector::PumpDriven() const {
  return inPump_.load() && autoTrigger_.load() && triggerMethod_.load() == tmMessage;
}

int64_t TMMConnector::MicrosecondsUntilDue() const {
  const int64_t due = nextDue_.load();
  if (due == kNever) return kNever;
  if (due == kNow) return 0;
  return due - Clock().Microseconds();
}

void TMMConnector::Pause() {
  TMMDSPComponent::Pause();
  if (!running_.load() || paused_.load()) return;
  {
    std::lock_guard pass(passLock_);
    std::lock_guard data(dataLock_);
    paused_.store(true);
    std::fill(front_.begin(), front_.end(), SilenceByte(displayFormat_.get()));
    std::fill(back_.begin(), back_.end(), SilenceByte(displayFormat_.get()));
    frontValid_ = backValid_ = std::max(frontValid_, backValid_);
  }
  if (!realTime_.load()) return;
  const int32_t bytes = static_cast<int32_t>(front_.size());
  const uint32_t perSecond = displayFormat_->nAvgBytesPerSec;
  const int32_t interval =
      bytes > 8191 ? 25 : MulDivTrunc(bytes, 1000, static_cast<int32_t>(perSecond));
  refresh_ = TimerList::Register(
      interval, 0,
      [](TimerList::Entry*, void* owner) { static_cast<TMMConnector*>(owner)->PauseRefresh(); },
      this);
  if (refresh_ == nullptr) throw EMMConnectorError(LoadResString(SNotEnoughTimers));
}

// On the shared timer's thread: keeps the silence flowing to the displays.
void TMMConnector::PauseRefresh() {
  if (!paused_.load()) return;
  const int64_t now = Clock().Microseconds();
  {
    std::lock_guard lock(dataLock_);
    if (back_.empty()) return;
    incoming_ = true;
    incomingStamp_ = now;
    nextDue_.store(kNow);
  }
  if (inPump_.load()) ConnectorPump::Instance()->Wake();
}

void TMMConnector::UnregisterRefresh() {
  // Never with a connector lock held: Unregister waits for a running tick,
  // and the tick takes the data lock.
  TimerList::Entry* entry = refresh_;
  refresh_ = nullptr;
  TimerList::Unregister(entry);
}

void TMMConnector::Restart() {
  TMMDSPComponent::Restart();
  if (!paused_.load()) return;
  paused_.store(false);
  UnregisterRefresh();
  std::lock_guard pass(passLock_);
  std::lock_guard data(dataLock_);
  pending_.fill(false);
  incoming_ = false;
  nextDue_.store(kNever);
}

void TMMConnector::Rewind() {
  TMMDSPComponent::Rewind();
  if (running_.load()) FillSilence();
}

void TMMConnector::FillSilence() {
  std::lock_guard pass(passLock_);
  std::lock_guard data(dataLock_);
  std::fill(front_.begin(), front_.end(), SilenceByte(displayFormat_.get()));
  std::fill(back_.begin(), back_.end(), SilenceByte(displayFormat_.get()));
}

void TMMConnector::Stop() {
  TMMDSPComponent::Stop();
  StopNotification();
}

void TMMConnector::StopNotification() {
  if (!running_.exchange(false)) return;
  active_.store(false);
  LeaveAutoTriggering();
  paused_.store(false);
  UnregisterRefresh();
  std::vector<uint8_t> front;
  std::vector<uint8_t> back;
  std::unique_ptr<TMMPcmConversion> conversion;
  WaveFormatPtr display;
  {
    std::lock_guard pass(passLock_);
    std::lock_guard data(dataLock_);
    front.swap(front_);
    back.swap(back_);
    conversion = std::move(conversion_);
    display = std::move(displayFormat_);
    frontValid_ = backValid_ = 0;
    tapLimit_ = 0;
    incoming_ = false;
    pending_.fill(false);
    nextDue_.store(kNever);
  }
  if (!refreshOnStop_) return;
  for (TMMDisplay* d : slots_) {
    if (d == nullptr) continue;
    try {
      d->ResetDisplay();
    } catch (...) {
      Report(std::current_exception());
    }
  }
}

// ---------------------------------------------------------------------------
// Data

void TMMConnector::BufferReady(PWaveHdr buffer) {
  // The wave output hands on the buffer it has just played and points
  // NextInRing at the one playing now: that one is heard now.
  const TMMBufferHeader* tap = buffer;
  if (synchronize_.load() && buffer->NextInRing != nullptr &&
      buffer->NextInRing->dwBytesRecorded > 0) {
    tap = buffer->NextInRing;
  }
  TapData(tap->lpData, static_cast<int32_t>(tap->dwBytesRecorded));
  TMMDSPComponent::BufferReady(buffer);
}

void TMMConnector::BufferLoad(PWaveHdr buffer, bool& moreBuffers) {
  TMMDSPComponent::BufferLoad(buffer, moreBuffers);
  TapData(buffer->lpData, static_cast<int32_t>(buffer->dwBytesRecorded));
}

void TMMConnector::TapData(const void* data, int32_t bytes) {
  if (!enabled_.load() || paused_.load() || !running_.load() || data == nullptr || bytes <= 0) {
    return;
  }
  try {
    const int64_t stamp = Clock().Microseconds();
    {
      std::lock_guard lock(dataLock_);
      if (back_.empty() || paused_.load()) return;
      const int32_t count = std::min(bytes, tapLimit_);
      const auto room = static_cast<int32_t>(back_.size());
      int32_t valid = 0;
      if (conversion_) {
        valid = std::min(conversion_->Convert(data, count, back_.data(), room), room);
        if (valid <= 0) return;
      } else {
        valid = std::min(count, room);
        std::memcpy(back_.data(), data, static_cast<size_t>(valid));
      }
      backValid_ = valid;
      incoming_ = true;
      incomingStamp_ = stamp;
      nextDue_.store(kNow);
    }
    if (inPump_.load()) ConnectorPump::Instance()->Wake();
  } catch (...) {
    Report(std::current_exception());
    return;
  }
  if (!realTime_.load() && autoTrigger_.load()) TriggerPass();
}

void TMMConnector::RunTrigger() {
  if (!enabled_.load()) return;
  if (!(active_.load() || (running_.load() && !realTime_.load()))) return;
  if (autoTrigger_.load() && triggerMethod_.load() == tmMessage) return;
  if (timerPosts_.load() > 0) return;
  if (MainDispatcher().IsMainThread()) {
    TriggerPass();
    return;
  }
  timerPosts_.fetch_add(1);
  std::weak_ptr<int> alive = alive_;
  MainDispatcher().Post([this, alive] {
    if (alive.expired()) return;
    if (enabled_.load() && active_.load()) TriggerPass();
    int posts = timerPosts_.load();
    while (posts > 0 && !timerPosts_.compare_exchange_weak(posts, posts - 1)) {
    }
  });
}

// ---------------------------------------------------------------------------
// The trigger pass

bool TMMConnector::Due(int32_t position, int64_t now) const {
  if (!synchronize_.load()) return true;
  // At least position / bytes-per-second seconds after the arrival.
  return (now - arrival_) * static_cast<int64_t>(displayFormat_->nAvgBytesPerSec) >=
         static_cast<int64_t>(position) * 1000000;
}

int64_t TMMConnector::DueTime(int32_t position) const {
  const auto perSecond = static_cast<int64_t>(displayFormat_->nAvgBytesPerSec);
  return arrival_ + (static_cast<int64_t>(position) * 1000000 + perSecond - 1) / perSecond;
}

int64_t TMMConnector::NextDue(int64_t now) const {
  int64_t due = kNever;
  for (int k = 0; k < kDisplayKinds; ++k) {
    if (!pending_[k]) continue;
    if (!synchronize_.load()) return now;
    if (k == dkSpectrogram) {
      for (int s = 0; s < 2; ++s) {
        if (slots_[dsSpectrogram1 + s] != nullptr) {
          due = std::min(due, DueTime(spectrogramPosition_[s]));
        }
      }
    } else {
      due = std::min(due, DueTime(position_[k]));
    }
  }
  return due;
}

void TMMConnector::TriggerPass() {
  if (!enabled_.load()) return;
  if (!(active_.load() || (running_.load() && !realTime_.load()))) return;
  std::exception_ptr error;
  {
    std::lock_guard pass(passLock_);
    if (front_.empty() || !displayFormat_) return;
    {
      std::lock_guard data(dataLock_);
      if (incoming_) {
        front_.swap(back_);
        std::swap(frontValid_, backValid_);
        arrival_ = incomingStamp_;
        incoming_ = false;
        for (int k = 0; k < kDisplayKinds; ++k) {
          bool attached = false;
          for (int s = kKindFirst[k]; s <= kKindLast[k]; ++s) attached |= slots_[s] != nullptr;
          if (!attached) continue;
          pending_[k] = true;
          position_[k] = 0;
          if (k == dkSpectrogram) spectrogramPosition_.fill(0);
        }
      }
    }
    const int64_t now = Clock().Microseconds();
    for (int k = 0; k < kDisplayKinds; ++k) {
      if (!pending_[k]) continue;
      try {
        if (k == dkSpectrogram) {
          ServeSpectrograms(now, error);
        } else {
          ServeKind(static_cast<TMMDisplayKind>(k), now, error);
        }
      } catch (...) {
        // A display that cannot say its chunk size is left out of this piece.
        pending_[k] = false;
        if (!error) error = std::current_exception();
      }
    }
    const int64_t due = NextDue(now);
    std::lock_guard data(dataLock_);
    nextDue_.store(incoming_ ? kNow : due);
  }
  if (OnTrigger) {
    try {
      OnTrigger(this);
    } catch (...) {
      if (!error) error = std::current_exception();
    }
  }
  if (error) Report(error);
}

void TMMConnector::ServeKind(TMMDisplayKind kind, int64_t now, std::exception_ptr& error) {
  int32_t chunk = 0;
  for (int s = kKindFirst[kind]; s <= kKindLast[kind]; ++s) {
    if (slots_[s] != nullptr) chunk = std::max(chunk, slots_[s]->FrameBytes());
  }
  if (chunk <= 0) {
    // Nothing to hand over: a chunk of no bytes would never use the data up.
    pending_[kind] = false;
    return;
  }
  int32_t position = position_[kind];
  if (!Due(position, now)) return;
  int32_t advance = chunk;
  if (kind == dkOscope) {
    const WAVEFORMATEX* f = displayFormat_.get();
    if (triggerMode_.load() != tmNone && !paused_.load() && frontValid_ > position) {
      const int32_t found = FindTriggerPoint(f, front_.data() + position, frontValid_ - position,
                                             triggerLevel_.load(), triggerMode_.load(), 0);
      // A crossing found on the second channel lies inside a frame; the
      // picture starts at that frame so the channels keep their places.
      if (found > 0) position += found - found % Max(f->nBlockAlign, 1);
    }
    TMMDisplay* lead = slots_[dsOscope1] != nullptr ? slots_[dsOscope1] : slots_[dsOscope2];
    if (lead != nullptr && lead->Scrolling() && lead->Accelerated()) {
      const int32_t step = lead->FFTLength() / 4 * (f->wBitsPerSample / 8) * f->nChannels;
      if (step > 0) advance = step;
    }
  }
  if (position + chunk > frontValid_) {
    pending_[kind] = false;
    position_[kind] = position;
    return;
  }
  position_[kind] = position + advance;
  const uint8_t* start = front_.data() + position;
  for (int s = kKindFirst[kind]; s <= kKindLast[kind]; ++s) {
    if (slots_[s] == nullptr) continue;
    try {
      slots_[s]->FeedPCM(start);
    } catch (...) {
      if (!error) error = std::current_exception();
    }
  }
  ++deliveries_[kind];
}

void TMMConnector::ServeSpectrograms(int64_t now, std::exception_ptr& error) {
  bool delivered = false;
  bool left = false;
  for (int s = 0; s < 2; ++s) {
    TMMDisplay* d = slots_[dsSpectrogram1 + s];
    if (d == nullptr) continue;
    const int32_t chunk = d->FrameBytes();
    int32_t& position = spectrogramPosition_[s];
    if (chunk <= 0 || position + chunk > frontValid_) continue;
    if (Due(position, now)) {
      int32_t advance = d->Accelerated() ? chunk / 4 : chunk;
      if (advance <= 0) advance = chunk;
      const uint8_t* start = front_.data() + position;
      position += advance;
      delivered = true;
      try {
        d->FeedPCM(start);
      } catch (...) {
        if (!error) error = std::current_exception();
      }
    }
    left |= position + chunk <= frontValid_;
  }
  if (delivered) ++deliveries_[dkSpectrogram];
  if (!left) pending_[dkSpectrogram] = false;
}

// One message per run: a display that fails fails on every chunk, and a
// box per chunk would bury the program (each box also runs the pump again).
void TMMConnector::Report(const std::exception_ptr& error) {
  if (!error || errorReported_.exchange(true)) return;
  try {
    std::rethrow_exception(error);
  } catch (...) {
    HandleApplicationError();
  }
}

}  // namespace tv
