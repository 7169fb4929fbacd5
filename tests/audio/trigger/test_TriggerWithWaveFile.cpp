// The offline driver pulling a real wave file through a chain, as scans and
// offline conversions do.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

#include "MMDispatch.h"
#include "TMMTrigger.h"
#include "TMMWave.h"
#include "TMMWaveFile.h"
#include "TestFiles.h"
#include "TriggerTestParts.h"

namespace tv {
namespace {

using namespace std::chrono_literals;

TEST(TriggerWithWaveFile, DeliversTheWholeFileOnceAndStops) {
  LoopDispatcher loop;
  SetMainDispatcher(&loop);
  test::TempDir dir;
  const test::Bytes data = test::Counting(100000);
  test::WriteAll(dir.File("in.wav"), test::PcmWave(16, 2, 44100, data));
  {
    TMMWaveFile source("WavePlayer");
    TMMTrigger trigger("Trigger");
    test::Sink sink;
    source.Wave().SetFileName(dir.File("in.wav"));
    trigger.SetInput(&source);
    trigger.SetOutput(&sink);
    trigger.SetInterval(0);
    trigger.SetBufferSize(6144);
    std::atomic<int> stops{0};
    int opened = 0, closed = 0;
    source.OnOpen = [&](TMMDSPComponent*) { ++opened; };
    source.OnClose = [&](TMMDSPComponent*) { ++closed; };
    trigger.OnStop = [&](TMMDSPComponent*) { stops.fetch_add(1); };
    for (int run = 0; run < 2; ++run) {
      sink.Reset();
      trigger.Start();
      ASSERT_TRUE(loop.RunUntil([&] { return stops.load() == run + 1; }, 30s));
      EXPECT_EQ(sink.Received(), data);
      EXPECT_EQ(sink.buffers.load(), (100000 + 6143) / 6144);
    }
    trigger.Close();
    EXPECT_EQ(opened, 1);
    EXPECT_EQ(closed, 1);
  }
  SetMainDispatcher(nullptr);
}

TEST(TriggerWithWaveFile, WriterBelowTheTriggerCopiesTheFile) {
  LoopDispatcher loop;
  SetMainDispatcher(&loop);
  test::TempDir dir;
  const test::Bytes data = test::Counting(3 * 4096 + 6);
  test::WriteAll(dir.File("in.wav"), test::PcmWave(8, 2, 8000, data));
  {
    TMMWaveFile source("Source"), writer("Writer");
    TMMTrigger trigger("Trigger");
    source.Wave().SetFileName(dir.File("in.wav"));
    writer.Wave().SetFileMustExist(false);
    writer.Wave().SetFileName(dir.File("out.wav"));
    trigger.SetInput(&source);
    trigger.SetOutput(&writer);
    std::atomic<bool> stopped{false};
    trigger.OnStop = [&](TMMDSPComponent*) { stopped = true; };
    trigger.Start();
    ASSERT_TRUE(loop.RunUntil([&] { return stopped.load(); }, 30s));
    trigger.Close();
  }
  TMMWave copy;
  copy.SetTimeFormat(tfByte);
  copy.SetFileName(dir.File("out.wav"));
  ASSERT_EQ(copy.DataSize(), static_cast<int64_t>(data.size()));
  copy.OpenFile();
  test::Bytes back(data.size());
  EXPECT_EQ(copy.ReadData(back.data(), static_cast<int32_t>(back.size())), static_cast<int32_t>(back.size()));
  EXPECT_EQ(back, data);
  SetMainDispatcher(nullptr);
}

}  // namespace
}  // namespace tv
