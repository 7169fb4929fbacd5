#include "MMTimerList.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace tv {
namespace {

class TimerListTest : public ::testing::Test {
 protected:
  void SetUp() override { TimerList::SetTickSource(&ticks_); }
  void TearDown() override {
    for (TimerList::Entry* e : entries_) TimerList::Unregister(e);
    EXPECT_EQ(TimerList::RegistrationCount(), 0);
    TimerList::SetTickSource(nullptr);
  }
  TimerList::Entry* Add(int32_t interval, int32_t suspend, std::vector<int>* calls, int tag) {
    TimerList::Entry* e = TimerList::Register(
        interval, suspend, [calls, tag](TimerList::Entry*, void*) { calls->push_back(tag); },
        nullptr);
    entries_.push_back(e);
    return e;
  }
  // Ticks n times and answers after which ticks (1-based) `tag` was served.
  std::vector<int> Served(std::vector<int>& calls, int tag, int n) {
    std::vector<int> at;
    for (int i = 1; i <= n; ++i) {
      calls.clear();
      ticks_.Fire();
      for (int c : calls) {
        if (c == tag) at.push_back(i);
      }
    }
    return at;
  }
  ManualTickSource ticks_;
  std::vector<TimerList::Entry*> entries_;
};

TEST_F(TimerListTest, IntervalsAreServedInTickSteps) {
  std::vector<int> calls;
  Add(10, 0, &calls, 1);   // below the tick: every tick
  Add(60, 0, &calls, 2);   // every third tick (75 ms)
  Add(50, 0, &calls, 3);   // every second tick
  EXPECT_EQ(Served(calls, 1, 6), (std::vector<int>{1, 2, 3, 4, 5, 6}));
  for (TimerList::Entry* e : entries_) TimerList::Unregister(e);
  entries_.clear();
  Add(60, 0, &calls, 2);
  EXPECT_EQ(Served(calls, 2, 9), (std::vector<int>{3, 6, 9}));
  Add(50, 0, &calls, 3);
  EXPECT_EQ(Served(calls, 3, 6), (std::vector<int>{2, 4, 6}));
}

TEST_F(TimerListTest, EntriesAreServedInRegistrationOrder) {
  std::vector<int> calls;
  Add(25, 0, &calls, 1);
  Add(25, 0, &calls, 2);
  Add(25, 0, &calls, 3);
  ticks_.Fire();
  EXPECT_EQ(calls, (std::vector<int>{1, 2, 3}));
}

TEST_F(TimerListTest, SuspendCountsMustBeBalanced) {
  std::vector<int> calls;
  TimerList::Entry* held = Add(25, 1, &calls, 1);
  EXPECT_TRUE(Served(calls, 1, 3).empty());
  TimerList::Resume(held);
  EXPECT_EQ(Served(calls, 1, 2).size(), 2u);

  TimerList::Suspend(held);
  TimerList::Suspend(held);
  EXPECT_EQ(TimerList::SuspendCount(held), 2);
  TimerList::Resume(held);
  EXPECT_TRUE(Served(calls, 1, 2).empty());
  TimerList::Resume(held);
  TimerList::Resume(held);  // never below zero
  EXPECT_EQ(TimerList::SuspendCount(held), 0);
  EXPECT_EQ(Served(calls, 1, 1).size(), 1u);
}

TEST_F(TimerListTest, SuspendRestartsTheElapsedTime) {
  std::vector<int> calls;
  TimerList::Entry* e = Add(75, 0, &calls, 1);
  ticks_.Fire();
  ticks_.Fire();  // 50 ms elapsed
  TimerList::Suspend(e);
  TimerList::Resume(e);
  EXPECT_EQ(Served(calls, 1, 3), (std::vector<int>{3}));
}

TEST_F(TimerListTest, LastUnregisterStopsTheTimerAndTheNextStartsIt) {
  std::vector<int> calls;
  TimerList::Entry* a = Add(25, 0, &calls, 1);
  TimerList::Entry* b = Add(25, 0, &calls, 2);
  EXPECT_EQ(ticks_.Starts(), 1);
  EXPECT_EQ(TimerList::RegistrationCount(), 2);
  TimerList::Unregister(a);
  EXPECT_TRUE(ticks_.Running());
  TimerList::Unregister(b);
  entries_.clear();
  EXPECT_FALSE(ticks_.Running());
  EXPECT_FALSE(TimerList::Running());
  // Calls without a running timer do nothing.
  TimerList::Suspend(a);
  TimerList::Unregister(b);
  EXPECT_EQ(TimerList::RegistrationCount(), 0);
  Add(25, 0, &calls, 3);
  EXPECT_EQ(ticks_.Starts(), 2);
  EXPECT_TRUE(ticks_.Running());
}

TEST_F(TimerListTest, MissingEntriesAreAccepted) {
  TimerList::Suspend(nullptr);
  TimerList::Resume(nullptr);
  TimerList::Unregister(nullptr);
  EXPECT_EQ(TimerList::RegistrationCount(), 0);
}

TEST_F(TimerListTest, CallbacksReceiveEntryAndOwner) {
  int owner = 7;
  TimerList::Entry* seenEntry = nullptr;
  void* seenOwner = nullptr;
  TimerList::Entry* e = TimerList::Register(
      25, 0,
      [&](TimerList::Entry* entry, void* o) {
        seenEntry = entry;
        seenOwner = o;
      },
      &owner);
  entries_.push_back(e);
  ticks_.Fire();
  EXPECT_EQ(seenEntry, e);
  EXPECT_EQ(seenOwner, &owner);
}

TEST_F(TimerListTest, OverlappingTickIsSkipped) {
  std::atomic<int> calls{0};
  std::atomic<bool> inside{false};
  std::atomic<bool> release{false};
  TimerList::Entry* e = TimerList::Register(
      25, 0,
      [&](TimerList::Entry*, void*) {
        ++calls;
        inside = true;
        while (!release) std::this_thread::yield();
      },
      nullptr);
  entries_.push_back(e);
  std::thread first([&] { ticks_.Fire(); });
  while (!inside) std::this_thread::yield();
  ticks_.Fire();  // arrives while the first still runs: dropped
  release = true;
  first.join();
  EXPECT_EQ(calls.load(), 1);
}

TEST_F(TimerListTest, CallbackMaySuspendButNotRegister) {
  std::vector<int> calls;
  TimerList::Entry* self = nullptr;
  TimerList::Entry* refused = reinterpret_cast<TimerList::Entry*>(1);
  self = TimerList::Register(
      25, 0,
      [&](TimerList::Entry* e, void*) {
        calls.push_back(1);
        TimerList::Suspend(e);
        refused = TimerList::Register(25, 0, nullptr, nullptr);
        TimerList::Unregister(e);  // refused as well
      },
      nullptr);
  entries_.push_back(self);
  ticks_.Fire();
  ticks_.Fire();
  EXPECT_EQ(calls.size(), 1u);
  EXPECT_EQ(refused, nullptr);
  EXPECT_EQ(TimerList::RegistrationCount(), 1);
}

// The real timer thread: one test on the wall clock, with generous bounds.
TEST(TimerListRealTime, TicksAboutEveryTwentyFiveMilliseconds) {
  TimerList::SetTickSource(nullptr);
  std::atomic<int> calls{0};
  TimerList::Entry* e =
      TimerList::Register(25, 0, [&](TimerList::Entry*, void*) { ++calls; }, nullptr);
  ASSERT_NE(e, nullptr);
  EXPECT_TRUE(TimerList::Running());
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  TimerList::Unregister(e);
  EXPECT_FALSE(TimerList::Running());
  const int n = calls.load();
  EXPECT_GE(n, 5);   // ~20 expected; a loaded machine may lose some
  EXPECT_LE(n, 21);  // never more than the clock allows
  const int after = calls.load();
  std::this_thread::sleep_for(std::chrono::milliseconds(60));
  EXPECT_EQ(calls.load(), after);
}

}  // namespace
}  // namespace tv
