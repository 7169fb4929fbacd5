// A periodic timer component. The platform timer is a steady_clock thread
// (or an injected tick source); where the ticks are handled follows
// CallBackMode: cmWindow posts them to the main thread, cmThread hands them
// to a thread of the timer's own, which runs them there or, with
// Synchronize, on the main thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "MMDSPObj.h"
#include "MMErrors.h"
#include "MMThreadPriority.h"
#include "MMTimerList.h"
#include "MMTypes.h"

namespace tv {

TV_DECLARE_ERROR(EMMHiTimerError);

class TMMHiTimer;
using TMMTimerEvent = std::function<void(TMMHiTimer* sender)>;

class TMMHiTimer : public TMMNonVisualComponent {
 public:
  // At most this many cmWindow ticks wait on the main thread; later ones
  // are dropped until the main thread catches up.
  static constexpr int kMaxPostedTicks = 10;

  explicit TMMHiTimer(std::string name = {});
  ~TMMHiTimer() override;

  // A change of Enabled, Interval, OnTimer or CallBackMode rebuilds the
  // timer: it runs while Enabled, Interval > 0 and OnTimer is set. Starting
  // raises EMMHiTimerError when no thread or timer can be had.
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool value);
  int32_t Interval() const { return interval_; }
  void SetInterval(int32_t value);
  const TMMTimerEvent& OnTimer() const { return onTimer_; }
  void SetOnTimer(TMMTimerEvent value);
  TMMCBMode CallBackMode() const { return callBackMode_; }
  // cmCallback is refused with an information box; the mode stays.
  void SetCallBackMode(TMMCBMode value);
  TThreadPriority Priority() const { return priority_; }
  void SetPriority(TThreadPriority value);
  bool Synchronize() const { return synchronize_; }
  void SetSynchronize(bool value);
  // When the timer stops while its thread runs a tick, wait up to 5 s for
  // that tick to end instead of leaving the thread to finish on its own.
  bool WaitForTerminate() const { return waitForTerminate_; }
  void SetWaitForTerminate(bool value) { waitForTerminate_ = value; }

  // Replaces the platform timer for the next rebuild (nullptr: a
  // steady_clock thread with the period Interval). The caller keeps the
  // source alive while the timer uses it.
  void SetTickSource(TimerTickSource* source);
  // True while a platform timer is running for this component.
  bool Running() const { return core_ != nullptr; }

 private:
  struct Core;
  static void ThreadBody(const std::shared_ptr<Core>& core);
  void Rebuild();
  void StopTimer() noexcept;
  void StartTimer();

  bool enabled_ = true;
  int32_t interval_ = 1000;
  TMMTimerEvent onTimer_;
  TMMCBMode callBackMode_ = cmWindow;
  TThreadPriority priority_ = tpNormal;
  bool synchronize_ = true;
  bool waitForTerminate_ = false;

  TimerTickSource* injected_ = nullptr;
  std::unique_ptr<ThreadTickSource> ownSource_;
  TimerTickSource* source_ = nullptr;
  std::shared_ptr<Core> core_;
  std::thread thread_;
};

}  // namespace tv
