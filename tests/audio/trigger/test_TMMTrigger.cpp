#include "TMMTrigger.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "MMDispatch.h"
#include "TriggerTestParts.h"

namespace tv {
namespace {

using test::Counting;
using test::MemorySource;
using test::Sink;
using namespace std::chrono_literals;

class TriggerTest : public ::testing::Test {
 protected:
  void SetUp() override { SetMainDispatcher(&loop); }
  void TearDown() override {
    trigger.reset();
    SetMainDispatcher(nullptr);
  }

  // Builds source -> trigger -> sink and records the trigger's events.
  void Build(std::vector<uint8_t> bytes, int32_t bufferSize) {
    source = std::make_unique<MemorySource>(std::move(bytes));
    trigger = std::make_unique<TMMTrigger>("Trigger");
    sink = std::make_unique<Sink>();
    trigger->SetInput(source.get());
    trigger->SetOutput(sink.get());
    trigger->SetBufferSize(bufferSize);
    trigger->OnBufferReady = [this](TMMDSPComponent*, PWaveHdr h) {
      Log("ready" + std::to_string(h->dwBytesRecorded));
      readyCount.fetch_add(1);
    };
    trigger->OnBufferFilled = [this](TMMDSPComponent*, PWaveHdr) { filledCount.fetch_add(1); };
    trigger->OnStop = [this](TMMDSPComponent*) { Log("stop"); };
    trigger->OnClose = [this](TMMDSPComponent*) { Log("close"); };
    trigger->OnStart = [this](TMMDSPComponent*) { Log("start"); };
  }
  void Log(const std::string& what) {
    std::lock_guard lock(logLock);
    events.push_back(what);
  }
  std::vector<std::string> Events() {
    std::lock_guard lock(logLock);
    return events;
  }
  int Count(const std::string& what) {
    int n = 0;
    for (const auto& e : Events()) n += e == what;
    return n;
  }
  bool RunUntilStopped(std::chrono::milliseconds timeout = 20s) {
    return loop.RunUntil([this] { return Count("stop") > 0; }, timeout);
  }

  LoopDispatcher loop;
  std::unique_ptr<MemorySource> source;
  std::unique_ptr<TMMTrigger> trigger;
  std::unique_ptr<Sink> sink;
  std::mutex logLock;
  std::vector<std::string> events;
  std::atomic<int> readyCount{0};
  std::atomic<int> filledCount{0};
};

TEST_F(TriggerTest, SourceShorterThanOneBuffer) {
  Build(Counting(1000), 4096);
  trigger->Start();
  ASSERT_TRUE(RunUntilStopped());
  EXPECT_EQ(readyCount.load(), 1);
  EXPECT_EQ(filledCount.load(), 1);
  EXPECT_EQ(Events(), (std::vector<std::string>{"start", "ready1000", "stop"}));
  EXPECT_EQ(sink->Received(), Counting(1000));
  EXPECT_TRUE(trigger->IsOpen());
  EXPECT_FALSE(trigger->IsStarted());
  trigger->Close();
  EXPECT_EQ(Count("close"), 1);
}

TEST_F(TriggerTest, EmptySourceFailsToStartAndEndsClosed) {
  Build({}, 4096);
  int errors = 0;
  trigger->OnError = [&](TMMDSPComponent*) { ++errors; };
  try {
    trigger->Start();
    FAIL() << "Start of an empty source must fail";
  } catch (const EMMTriggerError& e) {
    EXPECT_EQ(std::string(e.what()), "TriggerStart:\n\rUnable to start device");
  }
  EXPECT_EQ(errors, 1);  // one error, one report
  EXPECT_FALSE(trigger->IsOpen());
  EXPECT_FALSE(source->Opened());
  EXPECT_FALSE(sink->Opened());
}

TEST_F(TriggerTest, SourceOfExactlyTwoBuffers) {
  Build(Counting(8192), 4096);
  trigger->Start();
  ASSERT_TRUE(RunUntilStopped());
  EXPECT_EQ(readyCount.load(), 2);
  EXPECT_EQ(filledCount.load(), 2);
  EXPECT_EQ(Events(), (std::vector<std::string>{"start", "ready4096", "ready4096", "stop"}));
}

TEST_F(TriggerTest, EveryByteArrivesOnceAndInOrder) {
  std::mt19937 rng(7);
  for (int round = 0; round < 12; ++round) {
    const size_t size = 1 + rng() % 60000;
    const int32_t buffer = 32 + static_cast<int32_t>(rng() % 9000);
    Build(Counting(size), buffer);
    trigger->SetInterval(0);
    trigger->Start();
    ASSERT_TRUE(RunUntilStopped()) << size << " bytes in " << buffer;
    // Whole frames: the trigger's effective buffer size is a multiple of 4.
    const int32_t effective = trigger->BufferSize();
    EXPECT_EQ(effective % 4, 0);
    EXPECT_EQ(sink->Received(), Counting(size)) << size << " bytes in " << buffer;
    EXPECT_EQ(readyCount.load(), static_cast<int>((size + effective - 1) / effective));
    trigger->Close();
    events.clear();
    readyCount = 0;
    filledCount = 0;
  }
}

TEST_F(TriggerTest, StopAndCloseFireOnceInThatOrder) {
  Build(Counting(20000), 1024);
  trigger->Start();
  ASSERT_TRUE(RunUntilStopped());
  trigger->Close();
  trigger->Close();
  loop.ProcessPending();
  const auto e = Events();
  ASSERT_GE(e.size(), 2u);
  EXPECT_EQ(e[e.size() - 2], "stop");
  EXPECT_EQ(e.back(), "close");
  EXPECT_EQ(Count("stop"), 1);
  EXPECT_EQ(Count("close"), 1);
}

TEST_F(TriggerTest, ChainIsOpenedStartedAndStoppedWithTheTrigger) {
  Build(Counting(100), 2048);
  trigger->SetBufferSize(3000);
  trigger->Open();
  EXPECT_TRUE(source->Opened());
  EXPECT_TRUE(sink->Opened());
  EXPECT_EQ(source->BufferSize(), 3000);
  EXPECT_EQ(sink->BufferSize(), 3000);
  trigger->Start();
  EXPECT_TRUE(source->Started());
  ASSERT_TRUE(RunUntilStopped());
  EXPECT_FALSE(source->Started());
  EXPECT_FALSE(sink->Started());
  trigger->Close();
  EXPECT_FALSE(source->Opened());
  EXPECT_FALSE(sink->Opened());
}

TEST_F(TriggerTest, StopDuringADeliveryFinishesItAndLoadsNoMore) {
  Build(Counting(64 * 1024), 1024);
  std::atomic<bool> inside{false};
  std::atomic<bool> release{false};
  std::atomic<int> deliveriesAfterStop{0};
  std::atomic<bool> stopped{false};
  sink->OnData = [&](PWaveHdr) {
    if (stopped) deliveriesAfterStop.fetch_add(1);
    if (sink->buffers.load() == 3) {
      inside = true;
      while (!release) std::this_thread::sleep_for(1ms);
    }
  };
  trigger->Start();
  ASSERT_TRUE(loop.RunUntil([&] { return inside.load(); }, 20s));
  const int loadsBefore = source->loads.load();
  trigger->Stop();
  EXPECT_EQ(Count("stop"), 0);  // waits for the buffer in flight
  EXPECT_TRUE(trigger->IsStarted());
  release = true;
  ASSERT_TRUE(RunUntilStopped());
  stopped = true;
  loop.RunUntil([] { return false; }, 50ms);
  EXPECT_EQ(Count("stop"), 1);
  EXPECT_EQ(source->loads.load(), loadsBefore);
  EXPECT_EQ(deliveriesAfterStop.load(), 0);
  EXPECT_FALSE(trigger->IsStarted());
}

TEST_F(TriggerTest, CloseDuringADeliveryWaitsForThePendingStop) {
  Build(Counting(64 * 1024), 1024);
  std::atomic<bool> inside{false};
  std::atomic<bool> release{false};
  sink->OnData = [&](PWaveHdr) {
    if (sink->buffers.load() == 2) {
      inside = true;
      while (!release) std::this_thread::sleep_for(1ms);
    }
  };
  trigger->Start();
  ASSERT_TRUE(loop.RunUntil([&] { return inside.load(); }, 20s));
  trigger->Close();
  EXPECT_TRUE(trigger->IsOpen());
  EXPECT_TRUE(trigger->ClosePending());
  release = true;
  ASSERT_TRUE(loop.RunUntil([&] { return Count("close") > 0; }, 20s));
  EXPECT_FALSE(trigger->IsOpen());
  const auto e = Events();
  EXPECT_EQ(e[e.size() - 2], "stop");
  EXPECT_EQ(e.back(), "close");
  EXPECT_FALSE(source->Opened());
}

TEST_F(TriggerTest, BufferSizeAndIntervalRules) {
  Build(Counting(100), 2048);
  trigger->SetBufferSize(10);
  EXPECT_EQ(trigger->BufferSize(), 32);
  trigger->SetBufferSize(0);
  EXPECT_EQ(trigger->BufferSize(), 32);
  trigger->SetInterval(-5);
  EXPECT_EQ(trigger->Interval(), 0);
  trigger->SetBufferSize(6144);
  trigger->Open();
  trigger->SetBufferSize(6144);  // unchanged: nothing
  try {
    trigger->SetBufferSize(2048);
    FAIL() << "a size change while open must be refused";
  } catch (const EMMTriggerError& e) {
    EXPECT_EQ(std::string(e.what()), "Change to property while device was open");
  }
  EXPECT_EQ(trigger->BufferSize(), 6144);
  trigger->Close();
}

TEST_F(TriggerTest, OpenWithoutAFormatIsRefused) {
  TMMTrigger lone("Lone");
  int errors = 0;
  lone.OnError = [&](TMMDSPComponent*) { ++errors; };
  try {
    lone.Open();
    FAIL();
  } catch (const EMMTriggerError& e) {
    EXPECT_EQ(std::string(e.what()), "TriggerOpen:\n\rInvalid wave format");
  }
  EXPECT_EQ(errors, 1);
  EXPECT_FALSE(lone.IsOpen());
}

TEST_F(TriggerTest, HandledWorkerErrorsKeepTheRunGoing) {
  Build(Counting(10 * 512), 512);
  std::atomic<int> calls{0};
  sink->OnData = [&](PWaveHdr) {
    if (calls.fetch_add(1) == 2) throw EMMError("bad buffer");
  };
  std::atomic<int> errors{0};
  trigger->OnError = [&](TMMDSPComponent*) { errors.fetch_add(1); };
  trigger->OnErrorEx = [&](TMMDSPComponent*, bool& handled) { handled = true; };
  trigger->Start();
  ASSERT_TRUE(RunUntilStopped());
  EXPECT_EQ(errors.load(), 1);
  EXPECT_EQ(readyCount.load(), 10);  // the failed buffer is not handed on twice
  auto expected = Counting(10 * 512);
  expected.erase(expected.begin() + 2 * 512, expected.begin() + 3 * 512);
  EXPECT_EQ(sink->Received(), expected);
  EXPECT_TRUE(trigger->IsOpen());
  trigger->Close();
}

TEST_F(TriggerTest, UnhandledWorkerErrorClosesTheTriggerAndIsReported) {
  Build(Counting(10 * 512), 512);
  std::atomic<int> calls{0};
  sink->OnData = [&](PWaveHdr) {
    if (calls.fetch_add(1) == 2) throw EMMError("bad buffer");
  };
  std::mutex m;
  std::vector<std::string> reported;
  SetApplicationErrorHandler([&](const std::string& message) {
    std::lock_guard lock(m);
    reported.push_back(message);
  });
  trigger->Start();
  ASSERT_TRUE(loop.RunUntil([&] { return Count("close") > 0; }, 20s));
  SetApplicationErrorHandler(nullptr);
  EXPECT_FALSE(trigger->IsOpen());
  EXPECT_EQ(Count("stop"), 1);
  ASSERT_EQ(reported.size(), 1u);
  EXPECT_EQ(reported[0], "bad buffer");
  EXPECT_LT(readyCount.load(), 10);
  // The trigger can run again afterwards.
  sink->OnData = nullptr;
  events.clear();
  trigger->Start();
  ASSERT_TRUE(RunUntilStopped());
}

// Whoever runs the trigger can take the error that ended the worker's run:
// it arrives on the main thread before the trigger stops and closes, and the
// application's handler stays out of it.
TEST_F(TriggerTest, AWorkerErrorGoesToItsOwnerBeforeTheClose) {
  Build(Counting(10 * 512), 512);
  std::atomic<int> calls{0};
  sink->OnData = [&](PWaveHdr) {
    if (calls.fetch_add(1) == 2) throw EMMError("bad buffer");
  };
  int reported = 0;
  SetApplicationErrorHandler([&](const std::string&) { ++reported; });
  std::string taken;
  std::thread::id takenOn;
  trigger->OnWorkerError = [&](TMMDSPComponent* sender, const std::exception_ptr& error) {
    EXPECT_EQ(sender, trigger.get());
    takenOn = std::this_thread::get_id();
    Log("worker error");
    try {
      std::rethrow_exception(error);
    } catch (const EMMError& e) {
      taken = e.what();
    }
  };
  trigger->Start();
  ASSERT_TRUE(loop.RunUntil([&] { return Count("close") > 0; }, 20s));
  SetApplicationErrorHandler(nullptr);
  EXPECT_EQ(taken, "bad buffer");
  EXPECT_EQ(takenOn, std::this_thread::get_id());
  EXPECT_EQ(reported, 0);
  const auto log = Events();
  const auto at = [&](const std::string& what) {
    return std::find(log.begin(), log.end(), what) - log.begin();
  };
  EXPECT_LT(at("worker error"), at("stop"));
  EXPECT_LT(at("stop"), at("close"));
  EXPECT_FALSE(trigger->IsOpen());
}

TEST_F(TriggerTest, PauseBeforeStartWaitsForRestart) {
  Build(Counting(4000), 1024);
  trigger->Pause();
  EXPECT_TRUE(trigger->IsOpen());
  EXPECT_TRUE(trigger->IsPaused());
  trigger->Start();
  EXPECT_TRUE(trigger->IsStarted());
  loop.RunUntil([] { return false; }, 60ms);
  EXPECT_EQ(readyCount.load(), 0);
  trigger->Restart();
  ASSERT_TRUE(RunUntilStopped());
  EXPECT_EQ(sink->Received(), Counting(4000));
}

TEST_F(TriggerTest, PauseHoldsTheRunAndRestartFinishesIt) {
  Build(Counting(200 * 256), 256);
  trigger->SetInterval(2);
  trigger->Start();
  ASSERT_TRUE(loop.RunUntil([&] { return readyCount.load() >= 3; }, 20s));
  trigger->Pause();
  loop.RunUntil([] { return false; }, 30ms);  // a delivery under way may finish
  const int held = readyCount.load();
  loop.RunUntil([] { return false; }, 80ms);
  EXPECT_EQ(readyCount.load(), held);
  trigger->Restart();
  ASSERT_TRUE(RunUntilStopped());
  EXPECT_EQ(sink->Received(), Counting(200 * 256));
}

TEST_F(TriggerTest, StopWhilePausedThenStartRunsAgain) {
  Build(Counting(50 * 256), 256);
  trigger->Start();
  ASSERT_TRUE(loop.RunUntil([&] { return readyCount.load() >= 2; }, 20s));
  trigger->Pause();
  trigger->Stop();
  ASSERT_TRUE(loop.RunUntil([&] { return Count("stop") == 1; }, 20s));
  readyCount = 0;
  trigger->Start();
  ASSERT_TRUE(loop.RunUntil([&] { return Count("stop") == 2; }, 20s));
  EXPECT_EQ(readyCount.load(), 50);
}

TEST_F(TriggerTest, UnpacedRunDeliversEverything) {
  Build(Counting(3 * 1000 * 1000), 4096);
  trigger->SetPaced(false);
  trigger->SetInterval(5);
  trigger->Start();
  ASSERT_TRUE(RunUntilStopped(60s));
  EXPECT_EQ(sink->Received().size(), 3u * 1000 * 1000);
}

TEST_F(TriggerTest, SynchronizedDeliveryRunsOnTheMainThread) {
  Build(Counting(5 * 512), 512);
  trigger->SetSynchronize(true);
  const auto main = std::this_thread::get_id();
  std::atomic<int> offMain{0};
  std::atomic<int> filledOffMain{0};
  sink->OnData = [&](PWaveHdr) {
    if (std::this_thread::get_id() != main) offMain.fetch_add(1);
  };
  trigger->OnBufferFilled = [&](TMMDSPComponent*, PWaveHdr) {
    if (std::this_thread::get_id() != main) filledOffMain.fetch_add(1);
  };
  trigger->Start();
  ASSERT_TRUE(RunUntilStopped());
  EXPECT_EQ(sink->buffers.load(), 5);
  EXPECT_EQ(offMain.load(), 0);
  EXPECT_EQ(filledOffMain.load(), 4);  // the loads after the first stay on the worker
}

TEST_F(TriggerTest, DestroyingARunningTriggerIsSafe) {
  Build(Counting(500 * 256), 256);
  trigger->Start();
  ASSERT_TRUE(loop.RunUntil([&] { return readyCount.load() >= 2; }, 20s));
  trigger.reset();
  loop.ProcessPending();  // a stop posted by the worker must find nothing to do
  EXPECT_EQ(source->Output(), nullptr);
  EXPECT_EQ(sink->Input(), nullptr);
}

TEST_F(TriggerTest, RandomStartStopCloseCycles) {
  Build(Counting(6 * 512 + 100), 512);
  std::mt19937 rng(12345);
  std::atomic<int> stops{0};
  std::atomic<int> closes{0};
  std::atomic<int> opens{0};
  trigger->OnStop = [&](TMMDSPComponent*) { stops.fetch_add(1); };
  trigger->OnClose = [&](TMMDSPComponent*) { closes.fetch_add(1); };
  trigger->OnOpen = [&](TMMDSPComponent*) { opens.fetch_add(1); };
  trigger->OnStart = nullptr;
  int starts = 0;
  for (int cycle = 0; cycle < 1000; ++cycle) {
    trigger->SetInterval(static_cast<int32_t>(rng() % 2));
    trigger->Start();
    ++starts;
    const int wait = static_cast<int>(rng() % 4);
    if (wait > 0) loop.RunUntil([] { return false; }, std::chrono::milliseconds(wait));
    switch (rng() % 3) {
      case 0: trigger->Stop(); break;
      case 1: trigger->Close(); break;
      default: break;  // let it run out, or be stopped by the next Close
    }
    if (rng() % 2 == 0) trigger->Close();
    // Every Start ends in exactly one OnStop once the posted stops ran.
    ASSERT_TRUE(loop.RunUntil([&] { return !trigger->IsStarted(); }, 20s)) << cycle;
  }
  trigger->Close();
  ASSERT_TRUE(loop.RunUntil([&] { return !trigger->IsOpen(); }, 20s));
  loop.ProcessPending();
  EXPECT_EQ(stops.load(), starts);
  EXPECT_EQ(closes.load(), opens.load());
}

}  // namespace
}  // namespace tv
