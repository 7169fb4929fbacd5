#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

#include "QtDispatcher.h"

namespace tv {
namespace {

TEST(QtDispatcherTest, IsTheDispatcherInForceForTheWindows) {
  EXPECT_NE(dynamic_cast<QtDispatcher*>(&MainDispatcher()), nullptr);
  EXPECT_TRUE(MainDispatcher().IsMainThread());
  bool elsewhere = true;
  std::thread([&] { elsewhere = MainDispatcher().IsMainThread(); }).join();
  EXPECT_FALSE(elsewhere);
}

TEST(QtDispatcherTest, InvokeFromAWorkerRunsOnTheGuiThreadAndWaits) {
  QtDispatcher d;
  QThread* ranOn = nullptr;
  bool returned = false;
  std::thread worker([&] {
    d.Invoke([&] { ranOn = QThread::currentThread(); });
    returned = true;
  });
  EXPECT_TRUE(QTest::qWaitFor([&] { return returned; }, 5000));
  worker.join();
  EXPECT_EQ(ranOn, QCoreApplication::instance()->thread());
}

TEST(QtDispatcherTest, AnExceptionOfTheCallReachesTheCallerOfInvoke) {
  QtDispatcher d;
  std::atomic<bool> done{false};
  std::string caught;
  std::thread worker([&] {
    try {
      d.Invoke([] { throw std::runtime_error("device gone"); });
    } catch (const std::runtime_error& e) {
      caught = e.what();
    }
    done = true;
  });
  EXPECT_TRUE(QTest::qWaitFor([&] { return done.load(); }, 5000));
  worker.join();
  EXPECT_EQ(caught, "device gone");
  // On the GUI thread the call runs at once, and so does its exception.
  EXPECT_THROW(d.Invoke([] { throw std::logic_error("x"); }), std::logic_error);
  int n = 0;
  d.Invoke([&] { ++n; });
  EXPECT_EQ(n, 1);
}

TEST(QtDispatcherTest, PostedCallsRunLaterInTheOrderPosted) {
  QtDispatcher d;
  std::vector<int> order;
  std::thread worker([&] {
    for (int i = 0; i < 500; ++i) d.Post([&order, i] { order.push_back(i); });
  });
  worker.join();
  d.Post([&order] { order.push_back(500); });
  EXPECT_TRUE(order.empty());  // nothing runs before the loop does
  d.ProcessMessages();
  ASSERT_EQ(order.size(), 501u);
  for (int i = 0; i <= 500; ++i) EXPECT_EQ(order[static_cast<size_t>(i)], i);
}

TEST(QtDispatcherTest, ProcessMessagesDoesNothingOffTheGuiThread) {
  QtDispatcher d;
  bool ran = false;
  d.Post([&] { ran = true; });
  std::thread([&] { d.ProcessMessages(); }).join();
  EXPECT_FALSE(ran);
  d.ProcessMessages();
  EXPECT_TRUE(ran);
}

// A wait of the main thread for a worker serves the worker's calls, and
// nothing else: no timer, no other object's events, no user input, so that
// no handler of the windows can run in the middle of it.
TEST(QtDispatcherTest, RunUntilDeliversItsOwnCallsAndNothingElse) {
  using namespace std::chrono_literals;
  QtDispatcher d;
  bool timerFired = false;
  QTimer::singleShot(0, [&] { timerFired = true; });
  QObject other;
  bool otherRan = false;
  QMetaObject::invokeMethod(&other, [&] { otherRan = true; }, Qt::QueuedConnection);
  std::atomic<int> served{0};
  std::thread worker([&] {
    d.Invoke([&] { ++served; });
    d.Post([&] { ++served; });
  });
  EXPECT_TRUE(d.RunUntil([&] { return served.load() == 2; }, 10s));
  worker.join();
  EXPECT_FALSE(timerFired);
  EXPECT_FALSE(otherRan);
  // A condition that changes without a posted call is seen once woken.
  std::atomic<bool> flag{false};
  std::thread setter([&] {
    flag = true;
    d.Wake();
  });
  EXPECT_TRUE(d.RunUntil([&] { return flag.load(); }, 10s));
  setter.join();
  EXPECT_FALSE(d.RunUntil([] { return false; }, 20ms));
  QCoreApplication::processEvents();
  EXPECT_TRUE(timerFired);
  EXPECT_TRUE(otherRan);
}

TEST(QtDispatcherTest, CallsStillQueuedWhenTheDispatcherGoesAreDropped) {
  bool ran = false;
  {
    QtDispatcher d;
    d.Post([&] { ran = true; });
  }
  QCoreApplication::processEvents();
  EXPECT_FALSE(ran);
}

TEST(QtDispatcherTest, ADestroyedDispatcherUninstallsItself) {
  Dispatcher* before = &MainDispatcher();
  {
    QtDispatcher d;
    SetMainDispatcher(&d);
    EXPECT_EQ(&MainDispatcher(), &d);
  }
  EXPECT_NE(&MainDispatcher(), before);  // the default loop, not a dangling one
  EXPECT_EQ(dynamic_cast<QtDispatcher*>(&MainDispatcher()), nullptr);
  SetMainDispatcher(before);
}

}  // namespace
}  // namespace tv
