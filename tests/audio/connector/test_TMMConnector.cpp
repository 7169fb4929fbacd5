#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <string>
#include <thread>

#include "ConnectorTestParts.h"
#include "MMDispatch.h"
#include "MMTimerList.h"
#include "TMMConnector.h"

namespace tv {
namespace {

using namespace std::chrono_literals;
using test::Buffer;
using test::Counting;
using test::ManualClock;
using test::RecordingDisplay;
using test::Sink;

// 44100 Hz, 16-bit stereo: 176400 bytes per second.
constexpr int64_t kBytesPerSecond = 176400;

// First whole millisecond at which the chunk at `position` is heard.
int64_t DueMilliseconds(int64_t position) {
  return (position * 1000 + kBytesPerSecond - 1) / kBytesPerSecond;
}

class ConnectorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetMainDispatcher(&loop);
    SetApplicationErrorHandler([this](const std::string& m) { errors.push_back(m); });
  }
  void TearDown() override {
    con.reset();
    SetApplicationErrorHandler(nullptr);
    SetMainDispatcher(nullptr);
  }
  // A running connector for 16-bit stereo at 44100 Hz, on the manual clock.
  void Begin(int32_t bufferSize, int bits = 16, int channels = 2) {
    const WaveFormatPtr f = MakePcmFormat(bits, channels, 44100);
    con->SetPWaveFormat(f.get());
    con->SetBufferSize(bufferSize);
    con->SetClock(&clock);
    con->Open();
    con->Start();
    loop.ProcessPending();  // the posted start of triggering
  }
  // Steps the manual clock through [from, to] ms, running a pass each ms.
  void StepThrough(int from, int to) {
    for (int ms = from; ms <= to; ++ms) {
      clock.SetMilliseconds(ms);
      con->RunTrigger();
    }
  }

  LoopDispatcher loop;
  ManualClock clock;
  std::unique_ptr<TMMConnector> con = std::make_unique<TMMConnector>("MMConnector1");
  std::vector<std::string> errors;
};

TEST_F(ConnectorTest, EachChunkIsServedWhenItIsHeard) {
  RecordingDisplay spectrum(4096, &clock), level(2048, &clock);
  con->SetSpectrum1(&spectrum);
  con->SetLevel1(&level);
  con->SetAutoTrigger(false);  // the test runs the passes
  int triggers = 0;
  con->OnTrigger = [&](TMMDSPComponent*) { ++triggers; };
  Begin(16384);
  ASSERT_TRUE(con->TriggeringActive());

  const std::vector<uint8_t> data = Counting(16384);
  Buffer buffer(data);
  clock.SetMilliseconds(0);
  con->BufferReady(buffer.Header());
  int clearedAt = -1;
  for (int ms = 0; ms <= 120; ++ms) {
    StepThrough(ms, ms);
    if (clearedAt < 0 && !con->Pending(dkSpectrum)) clearedAt = ms;
  }
  EXPECT_EQ(triggers, 121);  // every pass, also those with nothing due

  // 4096 bytes last 23.2 ms: chunks at 0, 23.2, 46.4 and 69.7 ms.
  ASSERT_EQ(spectrum.feeds.size(), 4u);
  const int64_t spectrumAt[] = {0, 24, 47, 70};
  for (size_t k = 0; k < 4; ++k) {
    EXPECT_EQ(spectrum.feeds[k].at, spectrumAt[k] * 1000) << "chunk " << k;
    EXPECT_TRUE(std::equal(spectrum.feeds[k].bytes.begin(), spectrum.feeds[k].bytes.end(),
                           data.begin() + static_cast<long>(k * 4096)));
  }
  // The next chunk would pass the end of the data: pending ends when it falls due.
  EXPECT_EQ(clearedAt, DueMilliseconds(16384));
  ASSERT_EQ(level.feeds.size(), 8u);
  for (size_t k = 0; k < 8; ++k) {
    EXPECT_EQ(level.feeds[k].at, DueMilliseconds(static_cast<int64_t>(k) * 2048) * 1000);
  }
  EXPECT_EQ(con->Deliveries(dkSpectrum), 4);
  EXPECT_EQ(con->Deliveries(dkLevel), 8);
}

// A pass that comes 50 ms late serves, in order, every chunk heard
// meanwhile; the oscilloscope, which shows only the newest picture, takes one.
TEST_F(ConnectorTest, ALatePassCatchesUpWithTheSound) {
  RecordingDisplay level(2048, &clock), oscope(2048, &clock);
  con->SetLevel1(&level);
  con->SetOscope1(&oscope);
  con->SetAutoTrigger(false);
  Begin(16384);
  const std::vector<uint8_t> data = Counting(16384);
  Buffer buffer(data);
  clock.SetMilliseconds(0);
  con->BufferReady(buffer.Header());
  StepThrough(0, 0);
  StepThrough(50, 50);
  // 2048 bytes last 11.6 ms: chunks at 0, 11.6, 23.2, 34.8 and 46.4 ms.
  ASSERT_EQ(level.feeds.size(), 5u);
  for (size_t k = 0; k < 5; ++k) {
    EXPECT_TRUE(std::equal(level.feeds[k].bytes.begin(), level.feeds[k].bytes.end(),
                           data.begin() + static_cast<long>(k * 2048)))
        << "chunk " << k;
  }
  EXPECT_EQ(oscope.feeds.size(), 2u);
  // From there on the meter is on time again: 58.0, 69.7, 81.3 ms.
  StepThrough(51, 90);
  ASSERT_EQ(level.feeds.size(), 8u);
  for (size_t k = 5; k < 8; ++k) {
    EXPECT_EQ(level.feeds[k].at, DueMilliseconds(static_cast<int64_t>(k) * 2048) * 1000);
  }
  EXPECT_EQ(con->Deliveries(dkLevel), 8);
}

TEST_F(ConnectorTest, WithoutSynchronizeEveryPassServesTheNextChunk) {
  RecordingDisplay level(4096, &clock);
  con->SetLevel1(&level);
  con->SetAutoTrigger(false);
  con->SetSynchronize(false);
  Begin(16384);
  Buffer buffer(Counting(16384));
  con->BufferReady(buffer.Header());
  StepThrough(0, 0);
  StepThrough(0, 0);
  EXPECT_EQ(level.feeds.size(), 2u);
  StepThrough(0, 5);
  EXPECT_EQ(level.feeds.size(), 4u);
  EXPECT_FALSE(con->Pending(dkLevel));
}

TEST_F(ConnectorTest, SynchronizeShowsTheBufferBeingHeard) {
  RecordingDisplay level(16, &clock);
  con->SetLevel1(&level);
  con->SetAutoTrigger(false);
  Begin(64);
  // The wave output hands on the buffer it played and points at the one
  // that plays now.
  Buffer played(std::vector<uint8_t>(64, 1)), playing(std::vector<uint8_t>(64, 2));
  played.Header()->NextInRing = playing.Header();
  con->BufferReady(played.Header());
  StepThrough(0, 0);
  ASSERT_EQ(level.feeds.size(), 1u);
  EXPECT_EQ(level.feeds[0].bytes[0], 2);

  con->SetSynchronize(false);
  con->BufferReady(played.Header());
  StepThrough(1, 1);
  ASSERT_EQ(level.feeds.size(), 2u);
  EXPECT_EQ(level.feeds[1].bytes[0], 1);
}

TEST_F(ConnectorTest, LinksOfATypeAndTheFormatTheyAreGiven) {
  RecordingDisplay meter(1024, &clock), other(1024, &clock), scope(724, &clock);
  const WaveFormatPtr f = MakePcmFormat(16, 2, 44100);
  con->SetPWaveFormat(f.get());
  con->SetLevel1(&meter);
  con->SetLevel2(&meter);  // the same meter on both links
  EXPECT_EQ(con->Level1(), &meter);
  EXPECT_EQ(con->Level2(), nullptr);
  con->SetOscope2(&scope);
  con->SetOscope1(&scope);
  EXPECT_EQ(con->Oscope1(), nullptr);

  // A new link hands the display format to every display.
  const size_t before = meter.formats.size();
  con->SetLevel2(&other);
  EXPECT_EQ(meter.formats.size(), before + 1);
  ASSERT_FALSE(other.formats.empty());
  EXPECT_EQ(other.formats.back().nSamplesPerSec, 44100u);
  EXPECT_EQ(other.formats.back().nChannels, 2);

  // A non-PCM stream with no codec service to convert it: nothing is handed.
  WAVEFORMATEX mulaw = *f;
  mulaw.wFormatTag = 7;
  mulaw.wBitsPerSample = 8;
  const size_t known = other.formats.size();
  con->SetPWaveFormat(&mulaw);
  EXPECT_EQ(other.formats.size(), known);

  TMMConnector::DisplayRemoved(&other);
  EXPECT_EQ(con->Level2(), nullptr);
  EXPECT_EQ(con->Level1(), &meter);
}

TEST_F(ConnectorTest, NotRealTimeServesEveryBufferInsideBufferReady) {
  RecordingDisplay level(512, &clock), failing(512, &clock);
  Sink sink;
  con->SetOutput(&sink);
  con->SetLevel1(&level);
  con->SetLevel2(&failing);
  failing.throwOnFeed = true;
  con->SetRealTime(false);
  int triggers = 0;
  con->OnTrigger = [&](TMMDSPComponent*) { ++triggers; };
  sink.OnData = [&](PWaveHdr) {
    // The displays have had this buffer before it goes on.
    EXPECT_EQ(level.feeds.size(), static_cast<size_t>(sink.buffers.load() + 1));
  };
  Begin(4096);
  EXPECT_FALSE(con->TriggeringActive());
  for (int i = 0; i < 5; ++i) {
    Buffer b(std::vector<uint8_t>(4096, static_cast<uint8_t>(i)));
    EXPECT_NO_THROW(con->BufferReady(b.Header()));
    ASSERT_EQ(level.feeds.size(), static_cast<size_t>(i + 1));
    EXPECT_EQ(level.feeds.back().bytes[0], i);
  }
  EXPECT_EQ(sink.buffers.load(), 5);
  EXPECT_EQ(triggers, 5);
  // A failing display is reported once per run, not once per chunk.
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0], "display failed");
  con->SetOutput(nullptr);
}

TEST_F(ConnectorTest, RealTimeCannotChangeWhileTheChainIsOpen) {
  con->Open();
  try {
    con->SetRealTime(false);
    FAIL() << "RealTime changed while open";
  } catch (const EMMConnectorError& e) {
    EXPECT_STREQ(e.what(), "Change to property while device was open");
  }
  EXPECT_TRUE(con->RealTime());
  con->Close();
  con->SetRealTime(false);
  EXPECT_FALSE(con->RealTime());
}

TEST_F(ConnectorTest, PauseKeepsShowingSilenceAndStopClearsTheDisplays) {
  ManualTickSource ticks;
  TimerList::SetTickSource(&ticks);
  RecordingDisplay level(256, &clock);
  con->SetLevel1(&level);
  con->SetAutoTrigger(false);
  Begin(1024, 8, 1);  // 8-bit: silence is 128
  Buffer sound(std::vector<uint8_t>(1024, 200));
  con->BufferReady(sound.Header());
  StepThrough(0, 0);
  ASSERT_EQ(level.feeds.size(), 1u);

  con->Pause();
  con->BufferReady(sound.Header());  // paused: nothing is taken
  level.feeds.clear();
  ticks.Fire();
  StepThrough(1, 1);
  ticks.Fire();
  StepThrough(2, 2);
  ASSERT_GE(level.feeds.size(), 2u);
  for (const auto& feed : level.feeds) {
    EXPECT_EQ(feed.bytes, std::vector<uint8_t>(256, 128));
  }

  con->Restart();
  EXPECT_EQ(TimerList::RegistrationCount(), 0);
  EXPECT_FALSE(con->Pending(dkLevel));

  con->Stop();
  EXPECT_EQ(level.resets.load(), 1);
  EXPECT_FALSE(con->Running());
  con->SetRefreshOnStop(false);
  con->Start();
  con->Stop();
  EXPECT_EQ(level.resets.load(), 1);
  TimerList::SetTickSource(nullptr);
}

TEST_F(ConnectorTest, DisablingResetsTheDisplaysAndEnablingTriggersAgain) {
  RecordingDisplay level(1024, &clock);
  con->SetLevel1(&level);
  con->SetAutoTrigger(false);
  Begin(4096);
  con->SetEnabled(false);
  EXPECT_FALSE(con->TriggeringActive());
  EXPECT_EQ(level.resets.load(), 1);
  Buffer b(Counting(4096));
  con->BufferReady(b.Header());
  StepThrough(0, 30);
  EXPECT_TRUE(level.feeds.empty());
  con->SetEnabled(true);
  loop.ProcessPending();
  EXPECT_TRUE(con->TriggeringActive());
  con->BufferReady(b.Header());
  StepThrough(31, 31);
  EXPECT_EQ(level.feeds.size(), 1u);
}

TEST_F(ConnectorTest, OscilloscopeStartsAtTheTriggerEdge) {
  RecordingDisplay scope(64, &clock);
  con->SetOscope1(&scope);
  con->SetAutoTrigger(false);
  con->SetSynchronize(false);
  con->SetTriggerMode(tmUpFlank);
  Begin(1024);
  // Stereo frames; the right channel rises through 0 at frame 37, the
  // left never does.
  std::vector<uint8_t> data(1024);
  for (int frame = 0; frame < 256; ++frame) {
    const int16_t left = -1000;
    const int16_t right = frame < 37 ? -500 : 500;
    std::memcpy(&data[static_cast<size_t>(frame) * 4], &left, 2);
    std::memcpy(&data[static_cast<size_t>(frame) * 4 + 2], &right, 2);
  }
  Buffer b(data);
  con->BufferReady(b.Header());
  StepThrough(0, 0);
  ASSERT_EQ(scope.feeds.size(), 1u);
  // The picture begins with the whole frame of the crossing, left first.
  EXPECT_TRUE(
      std::equal(scope.feeds[0].bytes.begin(), scope.feeds[0].bytes.end(), data.begin() + 37 * 4));

  // A scrolling, accelerated picture advances by a quarter FFT length.
  scope.scrolling = scope.accelerated = true;
  scope.fftLength = 16;  // 4 frames = 16 bytes
  con->SetTriggerMode(tmNone);
  con->BufferReady(b.Header());
  StepThrough(1, 3);
  ASSERT_EQ(scope.feeds.size(), 4u);
  EXPECT_TRUE(
      std::equal(scope.feeds[3].bytes.begin(), scope.feeds[3].bytes.end(), data.begin() + 32));
}

TEST_F(ConnectorTest, SpectrogramsKeepTheirOwnPositions) {
  RecordingDisplay a(256, &clock), b(128, &clock);
  b.accelerated = true;
  con->SetSpectrogram1(&a);
  con->SetSpectrogram2(&b);
  con->SetAutoTrigger(false);
  con->SetSynchronize(false);
  Begin(1024);
  const std::vector<uint8_t> data = Counting(1024);
  Buffer buffer(data);
  con->BufferReady(buffer.Header());
  StepThrough(0, 40);
  EXPECT_EQ(a.feeds.size(), 4u);   // 1024 / 256
  EXPECT_EQ(b.feeds.size(), 29u);  // (1024 - 128) / 32 + 1
  EXPECT_TRUE(std::equal(b.feeds[1].bytes.begin(), b.feeds[1].bytes.end(), data.begin() + 32));
  EXPECT_FALSE(con->Pending(dkSpectrogram));
}

TEST_F(ConnectorTest, ANonPcmStreamWithoutCodecTellsWhyTheDisplaysStayDark) {
  WAVEFORMATEX mulaw{};
  MakePcmFormat(mulaw, 8, 1, 8000);
  mulaw.wFormatTag = 7;
  RecordingDisplay level(64, &clock);
  Sink sink;
  con->SetOutput(&sink);
  con->SetLevel1(&level);
  con->SetPWaveFormat(&mulaw);
  con->Open();
  con->Start();
  EXPECT_FALSE(con->Running());
  loop.ProcessPending();
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_NE(errors[0].find("no conversion to PCM"), std::string::npos);
  EXPECT_NE(errors[0].find("CCITT mu-Law"), std::string::npos);
  Buffer b(std::vector<uint8_t>(256, 0xFF));
  con->BufferReady(b.Header());  // the stream itself goes on
  EXPECT_EQ(sink.buffers.load(), 1);
  con->SetOutput(nullptr);
}

// A stand-in for the codec service: 8-bit unsigned to 16-bit signed.
class WideningCodec : public TMMPcmConversionProvider {
  struct Widen : TMMPcmConversion {
    int32_t Convert(const void* source, int32_t bytes, void* dest, int32_t capacity) override {
      return ConvertSampleWidth(16, dest, 8, std::min(bytes, capacity / 2), source);
    }
  };

 public:
  WaveFormatPtr SuggestPcm(const WAVEFORMATEX* s) override {
    return MakePcmFormat(16, s->nChannels, static_cast<int>(s->nSamplesPerSec));
  }
  bool CanConvert(const WAVEFORMATEX*, const WAVEFORMATEX*) override { return true; }
  std::unique_ptr<TMMPcmConversion> Open(const WAVEFORMATEX*, const WAVEFORMATEX*,
                                         int32_t sourceBytes, int32_t& outputBytes) override {
    outputBytes = sourceBytes * 2;
    return std::make_unique<Widen>();
  }
};

TEST_F(ConnectorTest, ANonPcmStreamIsConvertedForTheDisplays) {
  WideningCodec codec;
  SetPcmConversionProvider(&codec);
  WAVEFORMATEX coded{};
  MakePcmFormat(coded, 8, 1, 8000);
  coded.wFormatTag = 7;
  RecordingDisplay level(64, &clock);
  con->SetLevel1(&level);
  con->SetAutoTrigger(false);
  con->SetPWaveFormat(&coded);
  ASSERT_FALSE(level.formats.empty());
  EXPECT_EQ(level.formats.back().wFormatTag, WAVE_FORMAT_PCM);
  EXPECT_EQ(level.formats.back().wBitsPerSample, 16);
  con->SetBufferSize(256);
  con->SetClock(&clock);
  con->Open();
  con->Start();
  loop.ProcessPending();
  Buffer b(std::vector<uint8_t>(256, 0xC0));  // 0xC0 - 128 = 64 -> 16384
  con->BufferReady(b.Header());
  StepThrough(0, 0);
  ASSERT_EQ(level.feeds.size(), 1u);
  int16_t first;
  std::memcpy(&first, level.feeds[0].bytes.data(), 2);
  EXPECT_EQ(first, 16384);
  con->Stop();
  SetPcmConversionProvider(nullptr);
}

// With the real clock and the shared pump: chunks come no earlier than they
// are heard, all of them come, and the pump rests when nothing is due.
TEST_F(ConnectorTest, ThePumpServesChunksOnTimeAndThenRests) {
  const TMMClock& steady = SteadyMicrosecondClock();
  RecordingDisplay spectrum(4096, &steady);
  con->SetSpectrum1(&spectrum);
  int triggers = 0;
  con->OnTrigger = [&](TMMDSPComponent*) { ++triggers; };
  const WaveFormatPtr f = MakePcmFormat(16, 2, 44100);
  con->SetPWaveFormat(f.get());
  con->SetBufferSize(16384);
  con->Open();
  con->Start();
  loop.ProcessPending();
  Buffer buffer(Counting(16384));
  const int64_t sent = steady.Microseconds();
  con->BufferReady(buffer.Header());
  ASSERT_TRUE(
      loop.RunUntil([&] { return spectrum.FeedCount() == 4 && !con->Pending(dkSpectrum); }, 2s));
  ASSERT_EQ(spectrum.feeds.size(), 4u);
  for (size_t k = 0; k < 4; ++k) {
    EXPECT_GE(spectrum.feeds[k].at - sent, static_cast<int64_t>(k) * 4096 * 1000000 / 176400);
  }
  const int passes = triggers;
  EXPECT_LT(passes, 40);  // a pass when something falls due, not a spin
  loop.RunUntil([] { return false; }, 150ms);
  EXPECT_EQ(triggers, passes);
}

TEST_F(ConnectorTest, TheTimerMethodRunsAPassOnEachTick) {
  ManualTickSource ticks;
  con->Timer().SetTickSource(&ticks);
  RecordingDisplay level(4096, &clock);
  con->SetLevel1(&level);
  con->SetTriggerMethod(tmTimer);
  Begin(16384);
  EXPECT_TRUE(ticks.Running());
  EXPECT_EQ(con->Timer().Interval(), 20);
  Buffer b(Counting(16384));
  con->BufferReady(b.Header());
  for (int ms = 0; ms <= 100; ms += 20) {
    clock.SetMilliseconds(ms);
    ticks.Fire();
    loop.ProcessPending();
  }
  // Ticks at 0, 20, ... 100 ms; chunks due at 0, 23, 46, 70 ms.
  ASSERT_EQ(level.feeds.size(), 4u);
  EXPECT_EQ(level.feeds[1].at, 40000);
  EXPECT_EQ(level.feeds[3].at, 80000);
  con->Stop();
  EXPECT_FALSE(ticks.Running());
}

// The delivering thread copies while the main thread shows and the chain
// starts and stops: a display only ever sees whole buffers.
TEST_F(ConnectorTest, DisplaysNeverSeeAHalfCopiedBuffer) {
  class UniformCheck : public TMMDisplay {
   public:
    ~UniformCheck() override { TMMConnector::DisplayRemoved(this); }
    void AssignFormat(const WAVEFORMATEX*) override {}
    int32_t FrameBytes() const override { return 2048; }
    void FeedPCM(const void* data) override {
      const auto* p = static_cast<const uint8_t*>(data);
      if (!std::all_of(p, p + 2048, [&](uint8_t v) { return v == p[0]; })) mixed = true;
      ++feeds;
    }
    void ResetDisplay() override {}
    bool mixed = false;
    int feeds = 0;
  } display;
  con->SetLevel1(&display);
  con->SetSynchronize(false);
  const WaveFormatPtr f = MakePcmFormat(16, 2, 44100);
  con->SetPWaveFormat(f.get());
  con->SetBufferSize(8192);
  con->Open();
  con->Start();
  std::atomic<bool> done{false};
  std::thread capture([&] {
    std::vector<Buffer> ring;
    for (int i = 0; i < 4; ++i) ring.emplace_back(std::vector<uint8_t>(8192));
    for (int i = 0; i < 3000; ++i) {
      TMMBufferHeader* h = ring[static_cast<size_t>(i) % 4].Header();
      std::memset(h->lpData, i % 251, 8192);
      con->BufferReady(h);
      if (i % 8 == 0) std::this_thread::sleep_for(100us);
    }
    done = true;
  });
  for (int cycle = 0; !done.load(); ++cycle) {
    loop.RunUntil([] { return false; }, 3ms);
    if (cycle % 10 == 9) {
      con->Stop();
      con->Start();
    }
  }
  capture.join();
  con->Stop();
  EXPECT_FALSE(display.mixed);
  EXPECT_GT(display.feeds, 0);
}

}  // namespace
}  // namespace tv
