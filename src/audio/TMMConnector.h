// A pass-through node that hands the audio travelling through it to display
// components, paced so that each piece is shown when it is heard. The
// delivering thread only copies the buffer; the displays are served on the
// main thread by the connectors' shared pump (or the owned timer, or the
// application), chunk by chunk as each falls due.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "MMDSPObj.h"
#include "MMErrors.h"
#include "MMTimerList.h"
#include "TMMDisplay.h"
#include "TMMHiTimer.h"
#include "TMMPcmConversion.h"

namespace tv {

TV_DECLARE_ERROR(EMMConnectorError);

// A microsecond time source; must answer from any thread. Tests install
// one they move by hand.
class TMMClock {
 public:
  virtual ~TMMClock() = default;
  virtual int64_t Microseconds() const = 0;
};
// steady_clock in microseconds.
TMMClock& SteadyMicrosecondClock();

enum TMMTriggerMethod { tmMessage = 0, tmTimer };
// Oscilloscope trigger edge.
enum TMMTriggerMode { tmNone = 0, tmUpFlank, tmDownFlank };

// Display kinds, in the order a trigger pass serves them.
enum TMMDisplayKind { dkLevel = 0, dkMeter, dkOscope, dkLight, dkSpectrum, dkSpectrogram };
inline constexpr int kDisplayKinds = 6;

// The link slots; the Level1 ... Spectrogram2 accessors name them.
enum TMMDisplaySlot {
  dsLevel1 = 0,
  dsLevel2,
  dsMeter1,
  dsMeter2,
  dsOscope1,
  dsOscope2,
  dsLight1,
  dsLight2,
  dsSpectrum1,
  dsSpectrum2,
  dsSpectrum3,
  dsSpectrum4,
  dsSpectrogram1,
  dsSpectrogram2
};
inline constexpr int kDisplaySlots = 14;
TMMDisplayKind DisplaySlotKind(TMMDisplaySlot slot);

class ConnectorPump;

class TMMConnector : public TMMDSPComponent {
 public:
  explicit TMMConnector(std::string name = {});
  ~TMMConnector() override;

  std::span<const LinkProperty> LinkProperties() const override { return kPublishInputOutput; }

  void SetPWaveFormat(const WAVEFORMATEX* value) override;
  void Start() override;
  void Pause() override;
  void Restart() override;
  void Stop() override;
  void Rewind() override;
  void BufferReady(PWaveHdr buffer) override;
  void BufferLoad(PWaveHdr buffer, bool& moreBuffers) override;

  // Copies a piece of the passing stream for the displays; any thread.
  virtual void TapData(const void* data, int32_t bytes);
  // Runs a trigger pass: the owned timer's entry, and the application's
  // when AutoTrigger is off. From another thread it posts the pass.
  virtual void RunTrigger();

  bool Enabled() const { return enabled_.load(); }
  void SetEnabled(bool value);
  bool AutoConvert() const { return autoConvert_; }
  void SetAutoConvert(bool value) { autoConvert_ = value; }
  bool AutoTrigger() const { return autoTrigger_.load(); }
  void SetAutoTrigger(bool value);
  bool Synchronize() const { return synchronize_.load(); }
  void SetSynchronize(bool value) { synchronize_.store(value); }
  // 1 ... 5000. The pump runs at most one pass per 1 ms at 5000, stretching
  // to 5 ms at 1, leaving the main thread more time between passes; the
  // highest Speed of all connectors applies.
  int32_t Speed() const { return speed_; }
  void SetSpeed(int32_t value);
  TMMTriggerMethod TriggerMethod() const { return triggerMethod_.load(); }
  void SetTriggerMethod(TMMTriggerMethod value);
  TMMTriggerMode TriggerMode() const { return triggerMode_.load(); }
  void SetTriggerMode(TMMTriggerMode value) { triggerMode_.store(value); }
  // Percent of full scale, -100 ... 100.
  int32_t TriggerLevel() const { return triggerLevel_.load(); }
  void SetTriggerLevel(int32_t value);
  bool RefreshOnStop() const { return refreshOnStop_; }
  void SetRefreshOnStop(bool value) { refreshOnStop_ = value; }
  bool RealTime() const { return realTime_.load(); }
  // When false, each piece is served at once on the thread that delivers
  // it: the displays are then called on that thread. Raises
  // EMMConnectorError while the chain is open.
  void SetRealTime(bool value);
  // Shared by all connectors. The pump never blocks the main loop, so idle
  // processing goes on by itself; the value is kept for the settings.
  static bool EnterIdle();
  static void SetEnterIdle(bool value);

  TMMDisplay* Display(TMMDisplaySlot slot) const { return slots_[slot]; }
  // Ignored for the display already in the slot, and for the one in the
  // other slot of a two-slot kind. A new link hands the display format to
  // every display (which may raise that display's error).
  void SetDisplay(TMMDisplaySlot slot, TMMDisplay* display);
  TMMDisplay* Level1() const { return Display(dsLevel1); }
  void SetLevel1(TMMDisplay* d) { SetDisplay(dsLevel1, d); }
  TMMDisplay* Level2() const { return Display(dsLevel2); }
  void SetLevel2(TMMDisplay* d) { SetDisplay(dsLevel2, d); }
  TMMDisplay* Meter1() const { return Display(dsMeter1); }
  void SetMeter1(TMMDisplay* d) { SetDisplay(dsMeter1, d); }
  TMMDisplay* Meter2() const { return Display(dsMeter2); }
  void SetMeter2(TMMDisplay* d) { SetDisplay(dsMeter2, d); }
  TMMDisplay* Oscope1() const { return Display(dsOscope1); }
  void SetOscope1(TMMDisplay* d) { SetDisplay(dsOscope1, d); }
  TMMDisplay* Oscope2() const { return Display(dsOscope2); }
  void SetOscope2(TMMDisplay* d) { SetDisplay(dsOscope2, d); }
  TMMDisplay* Light1() const { return Display(dsLight1); }
  void SetLight1(TMMDisplay* d) { SetDisplay(dsLight1, d); }
  TMMDisplay* Light2() const { return Display(dsLight2); }
  void SetLight2(TMMDisplay* d) { SetDisplay(dsLight2, d); }
  TMMDisplay* Spectrum1() const { return Display(dsSpectrum1); }
  void SetSpectrum1(TMMDisplay* d) { SetDisplay(dsSpectrum1, d); }
  TMMDisplay* Spectrum2() const { return Display(dsSpectrum2); }
  void SetSpectrum2(TMMDisplay* d) { SetDisplay(dsSpectrum2, d); }
  TMMDisplay* Spectrum3() const { return Display(dsSpectrum3); }
  void SetSpectrum3(TMMDisplay* d) { SetDisplay(dsSpectrum3, d); }
  TMMDisplay* Spectrum4() const { return Display(dsSpectrum4); }
  void SetSpectrum4(TMMDisplay* d) { SetDisplay(dsSpectrum4, d); }
  TMMDisplay* Spectrogram1() const { return Display(dsSpectrogram1); }
  void SetSpectrogram1(TMMDisplay* d) { SetDisplay(dsSpectrogram1, d); }
  TMMDisplay* Spectrogram2() const { return Display(dsSpectrogram2); }
  void SetSpectrogram2(TMMDisplay* d) { SetDisplay(dsSpectrogram2, d); }

  // A display going away calls this (from the main thread) so that no
  // connector keeps feeding it.
  static void DisplayRemoved(TMMDisplay* display);

  // Fired after every trigger pass, also when nothing was due.
  TNotifyEvent OnTrigger;

  // The timer of the tmTimer method (20 ms, runs RunTrigger).
  TMMHiTimer& Timer() { return timer_; }
  // Time source for arrival stamps and due times (nullptr: steady_clock).
  void SetClock(TMMClock* clock);

  bool Running() const { return running_.load(); }
  bool TriggeringActive() const { return active_.load(); }
  // The format the displays are given while running (none when idle).
  const WAVEFORMATEX* DisplayFormat() const { return displayFormat_.get(); }
  int32_t Deliveries(TMMDisplayKind kind) const;
  bool Pending(TMMDisplayKind kind) const;

 private:
  friend class ConnectorPump;
  static constexpr int64_t kNever = INT64_MAX;
  static constexpr int64_t kNow = INT64_MIN;

  const TMMClock& Clock() const;
  void AssignDisplayFormat();
  void StartNotification();
  void StopNotification();
  void PostStartTriggering();
  void StartTriggering();
  void EnterAutoTriggering();
  void LeaveAutoTriggering();
  void EnterPump();
  void LeavePump();
  bool PumpDriven() const;
  int64_t MicrosecondsUntilDue() const;
  void PauseRefresh();
  void UnregisterRefresh();
  void FillSilence();
  void TriggerPass();
  void ServeKind(TMMDisplayKind kind, int64_t now, std::exception_ptr& error);
  void ServeSpectrograms(int64_t now, std::exception_ptr& error);
  bool Due(int32_t position, int64_t now) const;
  int64_t DueTime(int32_t position) const;
  int64_t NextDue(int64_t now) const;
  void Report(const std::exception_ptr& error);

  // Properties
  std::atomic<bool> enabled_{true};
  bool autoConvert_ = true;
  std::atomic<bool> autoTrigger_{true};
  std::atomic<bool> synchronize_{true};
  int32_t speed_ = 5000;
  std::atomic<TMMTriggerMethod> triggerMethod_{tmMessage};
  std::atomic<TMMTriggerMode> triggerMode_{tmNone};
  std::atomic<int32_t> triggerLevel_{0};
  bool refreshOnStop_ = true;
  std::atomic<bool> realTime_{true};
  std::array<TMMDisplay*, kDisplaySlots> slots_{};

  // Run state
  std::atomic<bool> running_{false};
  std::atomic<bool> active_{false};
  std::atomic<bool> paused_{false};
  std::atomic<bool> inPump_{false};
  std::atomic<int> timerPosts_{0};
  std::atomic<bool> errorReported_{false};
  std::atomic<int64_t> nextDue_{kNever};
  std::atomic<TMMClock*> clock_{nullptr};
  TimerList::Entry* refresh_ = nullptr;

  // Written by the delivering thread: the piece that arrived last.
  std::mutex dataLock_;
  std::vector<uint8_t> back_;
  int32_t backValid_ = 0;
  int32_t tapLimit_ = 0;
  bool incoming_ = false;
  int64_t incomingStamp_ = 0;
  std::unique_ptr<TMMPcmConversion> conversion_;

  // Read by the trigger pass: the piece being shown. Swapped with the back
  // buffer when a new piece has arrived, so no writer ever touches it.
  mutable std::mutex passLock_;
  WaveFormatPtr displayFormat_;
  std::vector<uint8_t> front_;
  int32_t frontValid_ = 0;
  int64_t arrival_ = 0;
  std::array<bool, kDisplayKinds> pending_{};
  std::array<int32_t, kDisplayKinds> position_{};
  std::array<int32_t, 2> spectrogramPosition_{};
  std::array<int32_t, kDisplayKinds> deliveries_{};

  TMMHiTimer timer_;
  // Posted calls check it, so that none runs after the connector is gone.
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

}  // namespace tv
