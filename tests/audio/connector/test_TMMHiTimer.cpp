#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "MMDispatch.h"
#include "MMNotice.h"
#include "TMMHiTimer.h"

namespace tv {
namespace {

using namespace std::chrono_literals;

class HiTimerTest : public ::testing::Test {
 protected:
  void SetUp() override { SetMainDispatcher(&loop); }
  void TearDown() override { SetMainDispatcher(nullptr); }

  LoopDispatcher loop;
};

TEST_F(HiTimerTest, WindowTicksRunOnTheMainThreadAndAtMostTenWait) {
  ManualTickSource ticks;
  TMMHiTimer timer;
  timer.SetTickSource(&ticks);
  int calls = 0;
  bool offMain = false;
  timer.SetOnTimer([&](TMMHiTimer* sender) {
    EXPECT_EQ(sender, &timer);
    offMain |= !loop.IsMainThread();
    ++calls;
  });
  ASSERT_TRUE(ticks.Running());
  for (int i = 0; i < 15; ++i) ticks.Fire();
  loop.ProcessPending();
  EXPECT_EQ(calls, TMMHiTimer::kMaxPostedTicks);
  ticks.Fire();
  ticks.Fire();
  loop.ProcessPending();
  EXPECT_EQ(calls, 12);
  EXPECT_FALSE(offMain);
}

TEST_F(HiTimerTest, ChangesRebuildTheTimerAndStoppingDropsQueuedTicks) {
  ManualTickSource ticks;
  TMMHiTimer timer;
  timer.SetTickSource(&ticks);
  int calls = 0;
  timer.SetInterval(0);
  timer.SetOnTimer([&](TMMHiTimer*) { ++calls; });
  EXPECT_FALSE(timer.Running());  // no interval
  timer.SetInterval(20);
  EXPECT_TRUE(timer.Running());
  const int starts = ticks.Starts();
  timer.SetInterval(25);
  EXPECT_EQ(ticks.Starts(), starts + 1);

  ticks.Fire();
  ticks.Fire();
  timer.SetEnabled(false);  // the two queued ticks must not run
  EXPECT_FALSE(ticks.Running());
  loop.ProcessPending();
  EXPECT_EQ(calls, 0);

  timer.SetEnabled(true);
  timer.SetOnTimer(nullptr);
  EXPECT_FALSE(timer.Running());
}

TEST_F(HiTimerTest, CallbackModeIsRefusedWithANotice) {
  std::string title, text;
  SetInformationHandler([&](const std::string& t, const std::string& m) {
    title = t;
    text = m;
  });
  TMMHiTimer timer;
  timer.SetCallBackMode(cmCallback);
  EXPECT_EQ(timer.CallBackMode(), cmWindow);
  EXPECT_EQ(title, "TMMHiTimer");
  EXPECT_EQ(text,
            "\"CallBacks\" are called at interrupt time !\n\rThis is currently only supported "
            "under Windows 95");
  SetInformationHandler(nullptr);
}

TEST_F(HiTimerTest, ThreadModeTicksOnItsThreadOrSynchronized) {
  TMMHiTimer timer;
  std::atomic<int> offMain{0}, onMain{0};
  std::atomic<bool> stopInside{false};
  timer.SetEnabled(false);
  timer.SetInterval(2);
  timer.SetCallBackMode(cmThread);
  timer.SetSynchronize(false);
  timer.SetOnTimer([&](TMMHiTimer* t) {
    (loop.IsMainThread() ? onMain : offMain).fetch_add(1);
    // Stopping from inside a synchronised tick must not wait for the
    // thread that waits for this tick.
    if (stopInside.load()) t->SetEnabled(false);
  });
  timer.SetEnabled(true);
  ASSERT_TRUE(loop.RunUntil([&] { return offMain.load() >= 3; }, 5s));
  EXPECT_EQ(onMain.load(), 0);

  timer.SetSynchronize(true);
  const int before = offMain.load();
  ASSERT_TRUE(loop.RunUntil([&] { return onMain.load() >= 3; }, 5s));
  EXPECT_LE(offMain.load(), before + 1);  // at most the tick already under way

  stopInside = true;
  ASSERT_TRUE(loop.RunUntil([&] { return !timer.Running(); }, 5s));
  EXPECT_FALSE(timer.Enabled());
}

TEST_F(HiTimerTest, WaitForTerminateLetsARunningTickFinish) {
  std::atomic<bool> entered{false}, finished{false};
  {
    TMMHiTimer timer;
    timer.SetEnabled(false);
    timer.SetInterval(1);
    timer.SetCallBackMode(cmThread);
    timer.SetSynchronize(false);
    timer.SetWaitForTerminate(true);
    timer.SetOnTimer([&](TMMHiTimer*) {
      if (entered.exchange(true)) return;
      std::this_thread::sleep_for(50ms);
      finished = true;
    });
    timer.SetEnabled(true);
    ASSERT_TRUE(loop.RunUntil([&] { return entered.load(); }, 5s));
  }
  EXPECT_TRUE(finished.load());
}

}  // namespace
}  // namespace tv
