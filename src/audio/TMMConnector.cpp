#include "TMMConnector.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <exception>
#include <thread>

#include "ConnectorPump.h"
#include "ConnectorSlots.h"
#include "MMDispatch.h"
#include "MMUtils.h"

namespace tv {

namespace {

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

}  // namespace tv
