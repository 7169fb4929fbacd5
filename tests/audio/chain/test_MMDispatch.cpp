#include "MMDispatch.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

namespace tv {
namespace {

TEST(LoopDispatcher, PostedCallsRunInOrderOnTheLoop) {
  LoopDispatcher loop;
  std::vector<int> order;
  loop.Post([&] { order.push_back(1); });
  loop.Post([&] {
    order.push_back(2);
    loop.Post([&] { order.push_back(3); });  // waits for the next round
  });
  EXPECT_EQ(loop.ProcessPending(), 2);
  EXPECT_EQ(order, (std::vector<int>{1, 2}));
  EXPECT_EQ(loop.ProcessPending(), 1);
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST(LoopDispatcher, InvokeFromAWorkerRunsOnTheMainThreadAndWaits) {
  LoopDispatcher loop;
  std::thread::id main = std::this_thread::get_id();
  std::thread::id ran;
  std::atomic<bool> back{false};
  std::thread worker([&] {
    EXPECT_FALSE(loop.IsMainThread());
    loop.Invoke([&] { ran = std::this_thread::get_id(); });
    back = true;
  });
  EXPECT_TRUE(loop.RunUntil([&] { return back.load(); }, std::chrono::seconds(10)));
  worker.join();
  EXPECT_EQ(ran, main);
  EXPECT_TRUE(loop.IsMainThread());
}

TEST(LoopDispatcher, InvokePassesExceptionsBack) {
  LoopDispatcher loop;
  std::atomic<bool> caught{false};
  std::thread worker([&] {
    try {
      loop.Invoke([] { throw std::runtime_error("boom"); });
    } catch (const std::runtime_error& e) {
      caught = std::string(e.what()) == "boom";
    }
  });
  loop.RunUntil([&] { return caught.load(); }, std::chrono::seconds(10));
  worker.join();
  EXPECT_TRUE(caught);
  // On the main thread the call runs at once.
  EXPECT_THROW(loop.Invoke([] { throw std::logic_error("now"); }), std::logic_error);
}

TEST(LoopDispatcher, RunEndsAtQuitAfterDrainingTheQueue) {
  LoopDispatcher loop;
  int ran = 0;
  loop.Post([&] { ++ran; });
  loop.Post([&] { loop.Quit(); });
  loop.Post([&] { ++ran; });
  loop.Run();
  EXPECT_EQ(ran, 2);
}

TEST(LoopDispatcher, RunUntilGivesUpAtTheTimeout) {
  LoopDispatcher loop;
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_FALSE(loop.RunUntil([] { return false; }, std::chrono::milliseconds(30)));
  EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(30));
}

TEST(MainDispatcher, InstalledDispatcherServesUntilRemoved) {
  LoopDispatcher mine;
  Dispatcher* before = &MainDispatcher();
  SetMainDispatcher(&mine);
  EXPECT_EQ(&MainDispatcher(), &mine);
  SetMainDispatcher(nullptr);
  EXPECT_EQ(&MainDispatcher(), before);
}

}  // namespace
}  // namespace tv
