#include "MMDSPObj.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "MMDispatch.h"

namespace tv {
namespace {

using Log = std::vector<std::string>;

// A plain component that writes every command it receives to a shared log.
class Probe : public TMMDSPComponent {
 public:
  Probe(std::string name, Log* log) : TMMDSPComponent(std::move(name)), log_(log) {}
  ~Probe() override { Unlink(); }
  std::span<const LinkProperty> LinkProperties() const override { return kPublishInputOutput; }
  void Open() override { Record("Open"); TMMDSPComponent::Open(); }
  void Close() override { Record("Close"); TMMDSPComponent::Close(); }
  void Start() override { Record("Start"); TMMDSPComponent::Start(); }
  void Pause() override { Record("Pause"); TMMDSPComponent::Pause(); }
  void Restart() override { Record("Restart"); TMMDSPComponent::Restart(); }
  void Stop() override { Record("Stop"); TMMDSPComponent::Stop(); }
  void ReceiveFormat(const WAVEFORMATEX* f) override {
    ++formatsReceived;
    TMMDSPComponent::ReceiveFormat(f);
  }
  int formatsReceived = 0;

 protected:
  void Record(const char* what) {
    if (log_ != nullptr) log_->push_back(Name() + "." + what);
  }

 private:
  Log* log_;
};

// A source publishes only Output.
class Source : public Probe {
 public:
  using Probe::Probe;
  std::span<const LinkProperty> LinkProperties() const override { return kPublishOutput; }
};

// A sink publishes only Input.
class Sink : public Probe {
 public:
  using Probe::Probe;
  std::span<const LinkProperty> LinkProperties() const override { return kPublishInput; }
};

class Driver : public TMMCustomSoundComponent {
 public:
  Driver(std::string name, Log* log) : TMMCustomSoundComponent(std::move(name)), log_(log) {}
  ~Driver() override { Unlink(); }
  std::span<const LinkProperty> LinkProperties() const override { return kPublishInputOutput; }
  void Open() override { Record("Open"); TMMCustomSoundComponent::Open(); }
  void Close() override { Record("Close"); TMMCustomSoundComponent::Close(); }
  void Start() override { Record("Start"); TMMCustomSoundComponent::Start(); }
  void Stop() override { Record("Stop"); TMMCustomSoundComponent::Stop(); }
  void Pause() override { Record("Pause"); TMMCustomSoundComponent::Pause(); }

 private:
  void Record(const char* what) {
    if (log_ != nullptr) log_->push_back(Name() + "." + what);
  }
  Log* log_;
};

WaveFormatPtr Pcm(int bits, int channels, int rate) { return MakePcmFormat(bits, channels, rate); }

void Chain(std::initializer_list<TMMDSPComponent*> nodes) {
  TMMDSPComponent* prev = nullptr;
  for (TMMDSPComponent* n : nodes) {
    if (prev != nullptr) n->SetInput(prev);
    prev = n;
  }
}

TEST(ChainLinks, OutputTakesTheTargetAwayFromItsOldInput) {
  Probe a("A", nullptr), b("B", nullptr), z("Z", nullptr);
  auto fa = Pcm(16, 2, 44100);
  a.SetPWaveFormat(fa.get());
  b.SetInput(&z);
  ASSERT_EQ(z.Output(), &b);

  a.SetOutput(&b);
  EXPECT_EQ(z.Output(), nullptr);
  EXPECT_EQ(z.OutputBackLink(), "");
  EXPECT_EQ(b.Input(), &a);
  EXPECT_EQ(a.Output(), &b);
  EXPECT_EQ(b.InputBackLink(), "Output");
  EXPECT_EQ(a.OutputBackLink(), "Input");
  ASSERT_NE(b.PWaveFormat(), nullptr);
  EXPECT_EQ(b.PWaveFormat()->nSamplesPerSec, 44100u);
  EXPECT_NE(b.PWaveFormat(), a.PWaveFormat());  // a private copy
}

TEST(ChainLinks, InputTakesTheSourceAwayFromItsOldOutput) {
  Probe a("A", nullptr), b("B", nullptr), c("C", nullptr);
  auto f = Pcm(8, 1, 8000);
  a.SetPWaveFormat(f.get());
  b.SetInput(&a);
  c.SetInput(&a);  // A can feed one neighbour only: B loses it
  EXPECT_EQ(a.Output(), &c);
  EXPECT_EQ(b.Input(), nullptr);
  EXPECT_EQ(c.Input(), &a);
  // The component that lost its input keeps its format.
  ASSERT_NE(b.PWaveFormat(), nullptr);
  EXPECT_EQ(b.PWaveFormat()->nSamplesPerSec, 8000u);
}

TEST(ChainLinks, CyclesAndSelfLinksAreIgnored) {
  Probe a("A", nullptr), b("B", nullptr), c("C", nullptr);
  Chain({&a, &b, &c});
  a.SetInput(&c);  // C is downstream of A
  EXPECT_EQ(a.Input(), nullptr);
  a.SetInput(&a);
  EXPECT_EQ(a.Input(), nullptr);
  c.SetOutput(&a);  // A is upstream of C
  EXPECT_EQ(c.Output(), nullptr);
  c.SetOutput(&c);
  EXPECT_EQ(c.Output(), nullptr);
  EXPECT_EQ(b.Input(), &a);
  EXPECT_EQ(b.Output(), &c);
}

TEST(ChainLinks, ComponentsWithoutThePropertyCannotBeLinked) {
  Source src("Src", nullptr);
  Sink sink("Sink", nullptr);
  Probe p("P", nullptr);
  p.SetInput(&sink);  // a sink publishes no Output
  EXPECT_EQ(p.Input(), nullptr);
  p.SetOutput(&src);  // a source publishes no Input
  EXPECT_EQ(p.Output(), nullptr);
  src.AcceptsInputLink = true;
  p.SetOutput(&src);
  EXPECT_EQ(p.Output(), &src);
  EXPECT_EQ(src.Input(), &p);
}

TEST(ChainLinks, SettingTheSameLinkAgainDoesNothing) {
  Log log;
  Probe a("A", &log), b("B", &log);
  b.SetInput(&a);
  log.clear();
  b.SetInput(&a);
  a.SetOutput(&b);
  EXPECT_TRUE(log.empty());
}

TEST(ChainLinks, ClearingAnInputHandsNoFormatDown) {
  Probe a("A", nullptr), b("B", nullptr), c("C", nullptr), d("D", nullptr);
  auto f = Pcm(16, 1, 22050);
  a.SetPWaveFormat(f.get());
  Chain({&a, &b, &c, &d});
  ASSERT_NE(d.PWaveFormat(), nullptr);
  b.SetInput(nullptr);
  EXPECT_EQ(b.PWaveFormat(), nullptr);
  EXPECT_EQ(c.PWaveFormat(), nullptr);
  EXPECT_EQ(d.PWaveFormat(), nullptr);
  EXPECT_EQ(a.Output(), nullptr);
  ASSERT_NE(a.PWaveFormat(), nullptr);
}

TEST(ChainLinks, ClearingAnOutputHandsNoFormatDown) {
  Probe a("A", nullptr), b("B", nullptr), c("C", nullptr);
  auto f = Pcm(16, 1, 22050);
  a.SetPWaveFormat(f.get());
  Chain({&a, &b, &c});
  a.SetOutput(nullptr);
  EXPECT_EQ(b.Input(), nullptr);
  EXPECT_EQ(b.PWaveFormat(), nullptr);
  EXPECT_EQ(c.PWaveFormat(), nullptr);
}

TEST(ChainLinks, LinkChangeStopsAStartedComponent) {
  Log log;
  Probe a("A", &log), b("B", &log), c("C", &log);
  b.SetInput(&a);
  b.Open();
  b.Start();
  log.clear();
  b.SetInput(&c);
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.front(), "B.Stop");
  EXPECT_FALSE(b.Started());
}

TEST(ChainLinks, FormatChangesTravelDownTheWholeChain) {
  Probe a("A", nullptr), b("B", nullptr), c("C", nullptr);
  Chain({&a, &b, &c});
  auto f1 = Pcm(16, 2, 44100);
  a.SetPWaveFormat(f1.get());
  ASSERT_NE(c.PWaveFormat(), nullptr);
  EXPECT_EQ(c.PWaveFormat()->nChannels, 2);
  auto f2 = Pcm(8, 1, 8000);
  a.SetPWaveFormat(f2.get());
  EXPECT_EQ(c.PWaveFormat()->nChannels, 1);
  EXPECT_EQ(c.PWaveFormat()->wBitsPerSample, 8);
}

TEST(ChainLinks, FormatChangeStopsAStartedComponent) {
  Probe a("A", nullptr);
  a.Open();
  a.Start();
  auto f = Pcm(8, 1, 8000);
  a.SetPWaveFormat(f.get());
  EXPECT_FALSE(a.Started());
}

TEST(ChainLinks, NoFormatIsPassedWhileLoading) {
  Probe a("A", nullptr), b("B", nullptr);
  b.SetInput(&a);
  a.BeginLoading();
  auto f = Pcm(16, 1, 8000);
  a.SetPWaveFormat(f.get());
  EXPECT_EQ(b.PWaveFormat(), nullptr);
  a.EndLoading();  // re-applies its format once its values are in place
  ASSERT_NE(b.PWaveFormat(), nullptr);
  EXPECT_EQ(b.PWaveFormat()->nSamplesPerSec, 8000u);
}

TEST(ChainLinks, BackLinkNamesAreCutToTwentyCharacters) {
  Probe a("A", nullptr);
  Probe b("B", nullptr);
  a.SetInputLink(&b, "AVeryLongPropertyNameIndeed");
  EXPECT_EQ(a.InputBackLink(), "AVeryLongPropertyNam");
  a.SetInputLink(nullptr, {});
}

TEST(ChainLinks, DestroyedComponentLeavesNoDanglingLinks) {
  Probe a("A", nullptr), c("C", nullptr);
  auto f = Pcm(16, 2, 8000);
  a.SetPWaveFormat(f.get());
  {
    Probe b("B", nullptr);
    Chain({&a, &b, &c});
    ASSERT_NE(c.PWaveFormat(), nullptr);
  }
  EXPECT_EQ(a.Output(), nullptr);
  EXPECT_EQ(c.Input(), nullptr);
  EXPECT_EQ(c.PWaveFormat(), nullptr);
}

TEST(ChainLinks, RegistryFollowsLiveComponents) {
  const int before = RegisteredComponentCount();
  {
    Probe a("A", nullptr);
    Driver d("D", nullptr);
    EXPECT_EQ(RegisteredComponentCount(), before + 2);
  }
  EXPECT_EQ(RegisteredComponentCount(), before);
}

struct EffectiveCase {
  int32_t requested;
  int blockAlignChannels;  // 16-bit: block align = 2 * channels; 0 = no format
  int32_t expected;
};

TEST(BufferSize, EffectiveSizeIsWholeFramesFixedAtOpen) {
  const EffectiveCase cases[] = {{2048, 2, 2048}, {1000, 3, 996}, {3, 2, 4}, {1000, 0, 1000}};
  for (const EffectiveCase& c : cases) {
    Probe p("P", nullptr);
    WaveFormatPtr f;
    if (c.blockAlignChannels > 0) {
      f = Pcm(16, 2, 8000);
      f->nChannels = static_cast<uint16_t>(c.blockAlignChannels);
      f->nBlockAlign = static_cast<uint16_t>(2 * c.blockAlignChannels);
      p.SetPWaveFormat(f.get());
    }
    p.SetBufferSize(c.requested);
    EXPECT_EQ(p.BufferSize(), c.requested);
    p.Open();
    EXPECT_EQ(p.EffectiveBufferSize(), c.expected) << c.requested;
    EXPECT_EQ(p.BufferSize(), c.expected);
    p.SetBufferSize(512);  // takes effect at the next Open only
    EXPECT_EQ(p.BufferSize(), c.expected);
    p.Close();
    EXPECT_EQ(p.BufferSize(), 512);
  }
}

TEST(BufferSize, ChangingItStopsAStartedComponent) {
  Probe p("P", nullptr);
  p.Open();
  p.Start();
  p.SetBufferSize(2048);  // unchanged: nothing
  EXPECT_TRUE(p.Started());
  p.SetBufferSize(4096);
  EXPECT_FALSE(p.Started());
}

TEST(Lifecycle, FlagsFollowTheCommands) {
  Probe p("P", nullptr);
  p.Start();  // closed: no effect
  EXPECT_FALSE(p.Started());
  p.Open();
  EXPECT_TRUE(p.Opened());
  p.Start();
  EXPECT_TRUE(p.Started());
  p.Pause();
  EXPECT_TRUE(p.Paused());
  p.Restart();
  EXPECT_FALSE(p.Paused());
  p.Pause();
  p.Stop();
  EXPECT_FALSE(p.Started());
  EXPECT_FALSE(p.Paused());
  p.Start();
  p.Close();  // does not clear Started by itself
  EXPECT_FALSE(p.Opened());
  EXPECT_TRUE(p.Started());
}

TEST(DataFlow, BuffersTravelBothWays) {
  Probe a("A", nullptr), b("B", nullptr), c("C", nullptr);
  Chain({&a, &b, &c});
  Log seen;
  a.OnBufferLoad = [&](TMMDSPComponent* s, PWaveHdr h, bool& more) {
    seen.push_back(s->Name() + ".load");
    h->dwBytesRecorded = 10;
    more = true;
  };
  b.OnBufferLoad = [&](TMMDSPComponent* s, PWaveHdr, bool&) { seen.push_back(s->Name() + ".load"); };
  b.OnBufferReady = [&](TMMDSPComponent* s, PWaveHdr) { seen.push_back(s->Name() + ".ready"); };
  c.OnBufferReady = [&](TMMDSPComponent* s, PWaveHdr h) {
    seen.push_back(s->Name() + ".ready" + std::to_string(h->dwBytesRecorded));
  };
  alignas(TMMBufferHeader) std::byte block[kBufferHeaderSize + 64];
  auto* h = reinterpret_cast<TMMBufferHeader*>(block);
  InitBufferHeader(h, 64);
  EXPECT_EQ(h->lpData, reinterpret_cast<char*>(block) + kBufferHeaderSize);
  bool more = false;
  c.BufferLoad(h, more);  // C has no handler; pulls through B to A
  EXPECT_TRUE(more);
  b.BufferReady(h);
  EXPECT_EQ(seen, (Log{"B.load", "A.load", "B.ready", "C.ready10"}));
}

TEST(BufferRecord, FieldOrderAndDataAfterHeader) {
  // The first fields are laid out as the platform's wave header.
  EXPECT_EQ(offsetof(TMMBufferHeader, lpData), 0u);
  EXPECT_LT(offsetof(TMMBufferHeader, dwBufferLength), offsetof(TMMBufferHeader, dwBytesRecorded));
  EXPECT_LT(offsetof(TMMBufferHeader, dwFlags), offsetof(TMMBufferHeader, lpNext));
  EXPECT_LT(offsetof(TMMBufferHeader, SavedBytes), offsetof(TMMBufferHeader, NextInRing));
  EXPECT_LT(offsetof(TMMBufferHeader, LoopEnabled), offsetof(TMMBufferHeader, LoopRestarted));
  EXPECT_EQ(kBufferHeaderSize % alignof(TMMBufferHeader), 0u);
}

TEST(ChainWalks, DriverOpensTheWholeSectionThenItself) {
  Log log;
  Probe src("source", &log), a("A", &log), b("B", &log), e("E", &log), f("F", &log);
  Driver t("T", &log);
  Chain({&src, &a, &b, &t, &e, &f});
  t.SetBufferSize(4096);
  log.clear();
  t.Open();
  EXPECT_EQ(log, (Log{"T.Open", "source.Open", "A.Open", "B.Open", "E.Open", "F.Open"}));
  for (TMMDSPComponent* x : {static_cast<TMMDSPComponent*>(&src), static_cast<TMMDSPComponent*>(&a),
                             static_cast<TMMDSPComponent*>(&f)}) {
    EXPECT_TRUE(x->Opened());
    EXPECT_EQ(x->BufferSize(), 4096);
  }
  EXPECT_TRUE(t.Opened());
  EXPECT_FALSE(t.HasUpstreamDriver());
  t.Start();
  log.clear();
  t.Stop();
  EXPECT_EQ(log, (Log{"T.Stop", "source.Stop", "A.Stop", "B.Stop", "E.Stop", "F.Stop"}));
  EXPECT_FALSE(f.Started());
}

TEST(ChainWalks, UpperDriverHandsTheSectionBelowToTheLowerDriver) {
  // W -> G -> T -> H: W opens G, then T (which opens H and itself), then W.
  Log log;
  Driver w("W", &log), t("T", &log);
  Probe g("G", &log), h("H", &log);
  Chain({&w, &g, &t, &h});
  log.clear();
  w.Open();
  EXPECT_EQ(log, (Log{"W.Open", "G.Open", "T.Open", "H.Open"}));
  EXPECT_TRUE(w.Opened());
  EXPECT_TRUE(t.Opened());
  EXPECT_TRUE(t.HasUpstreamDriver());
  EXPECT_FALSE(w.HasUpstreamDriver());
  w.Start();
  log.clear();
  w.Stop();
  // Downstream first: the lower driver stops its own section, then W's.
  EXPECT_EQ(log, (Log{"W.Stop", "T.Stop", "H.Stop", "G.Stop"}));
  log.clear();
  w.Close();
  EXPECT_EQ(log, (Log{"W.Close", "T.Close", "H.Close", "G.Close"}));
  EXPECT_FALSE(h.Opened());
  EXPECT_FALSE(g.Opened());
}

TEST(ChainWalks, PlainComponentAboveADriverWithADriverBelow) {
  Log log;
  Probe p("P", &log), q("Q", &log);
  Driver d("D", &log), lower("L", &log);
  Chain({&p, &d, &q, &lower});
  log.clear();
  d.Open();
  EXPECT_EQ(log, (Log{"D.Open", "P.Open", "Q.Open", "L.Open"}));
  d.Start();
  log.clear();
  d.Stop();
  EXPECT_EQ(log, (Log{"D.Stop", "L.Stop", "P.Stop", "Q.Stop"}));
}

TEST(ChainWalks, BufferSizeIsHandedToTheLowerDriver) {
  Driver w("W", nullptr), t("T", nullptr);
  Probe g("G", nullptr);
  Chain({&w, &g, &t});
  auto f = Pcm(16, 2, 44100);
  w.SetPWaveFormat(f.get());
  w.SetBufferSize(1000);
  w.Open();
  EXPECT_EQ(g.BufferSize(), 1000);
  EXPECT_EQ(t.BufferSize(), 1000);
  EXPECT_EQ(w.BufferSize(), 1000);
}

// A worker thread used by the synchronised-call tests.
class Worker : public TMMDSPThread {
 public:
  Worker(TMMCustomSoundComponent* owner, std::function<void()> body)
      : TMMDSPThread(owner), body_(std::move(body)) {}
  ~Worker() override { WaitFor(); }
  void PassGate() { CheckSuspended(); }

 protected:
  void Execute() override { body_(); }

 private:
  std::function<void()> body_;
};

TEST(SynchronisedCall, DriverThreadRunsTheProcedureOnTheMainThread) {
  LoopDispatcher loop;
  SetMainDispatcher(&loop);
  Driver owner("D", nullptr);
  std::thread::id ranOn;
  std::atomic<bool> finished{false};
  Worker worker(&owner, [&] {
    CallSynchronized([&] { ranOn = std::this_thread::get_id(); });
    finished = true;
  });
  worker.Resume();
  EXPECT_TRUE(loop.RunUntil([&] { return finished.load(); }, std::chrono::seconds(10)));
  worker.WaitFor();
  EXPECT_EQ(ranOn, std::this_thread::get_id());
  SetMainDispatcher(nullptr);
}

TEST(SynchronisedCall, OtherThreadsCallDirectly) {
  LoopDispatcher loop;
  SetMainDispatcher(&loop);
  std::thread::id ranOn;
  std::thread::id self;
  std::thread t([&] {
    self = std::this_thread::get_id();
    CallSynchronized([&] { ranOn = std::this_thread::get_id(); });
  });
  t.join();
  EXPECT_EQ(ranOn, self);
  bool direct = false;
  CallSynchronized([&] { direct = true; });
  EXPECT_TRUE(direct);
  SetMainDispatcher(nullptr);
}

TEST(DSPThread, CreatedSuspendedAndGated) {
  Driver owner("D", nullptr);
  std::atomic<int> passes{0};
  std::atomic<bool> stop{false};
  std::unique_ptr<Worker> w;
  w = std::make_unique<Worker>(&owner, [&] {
    while (!stop) {
      w->PassGate();
      if (stop) break;
      ++passes;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  EXPECT_FALSE(w->Running());
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(passes.load(), 0);
  w->Resume();
  while (passes.load() < 3) std::this_thread::yield();
  w->Suspend();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const int held = passes.load();
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_LE(passes.load(), held + 1);  // at most the pass already under way
  stop = true;
  w->Terminate();  // opens the gate for good
  w->WaitFor();
  EXPECT_TRUE(w->Terminated());
}

}  // namespace
}  // namespace tv
