#include "MMObsrv.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace tv {
namespace {

TEST(Observer, NotifiesLastAddedFirstAndRespectsMute) {
  TMMObservable subject;
  std::vector<int> order;
  int ownerA = 1, ownerB = 2;
  TMMObserver a(&ownerA), b(&ownerB);
  a.OnNotify = [&](void* owner, TMMObservable* sender, void* data) {
    EXPECT_EQ(sender, &subject);
    EXPECT_EQ(*static_cast<int*>(data), 42);
    order.push_back(*static_cast<int*>(owner));
  };
  b.OnNotify = a.OnNotify;
  subject.AddObserver(&a);
  subject.AddObserver(&b);
  int payload = 42;
  subject.Notify(&payload);
  EXPECT_EQ(order, (std::vector<int>{2, 1}));

  order.clear();
  b.Mute = true;
  subject.Notify(&payload);
  EXPECT_EQ(order, (std::vector<int>{1}));
  order.clear();
  subject.Mute = true;
  subject.Notify(&payload);
  EXPECT_TRUE(order.empty());
}

TEST(Observer, BelongsToOneObservableAtATime) {
  TMMObservable first, second;
  TMMObserver o;
  int calls = 0;
  o.OnNotify = [&](void*, TMMObservable*, void*) { ++calls; };
  first.AddObserver(&o);
  second.AddObserver(&o);
  EXPECT_EQ(o.Observable(), &second);
  EXPECT_EQ(first.ObserverCount(), 0u);
  first.Notify(nullptr);
  EXPECT_EQ(calls, 0);
  first.RemoveObserver(&o);  // not first's: ignored
  EXPECT_EQ(o.Observable(), &second);
  second.Notify(nullptr);
  EXPECT_EQ(calls, 1);
}

TEST(Observer, EitherSideMayGoFirst) {
  auto subject = std::make_unique<TMMObservable>();
  {
    TMMObserver o;
    subject->AddObserver(&o);
    EXPECT_EQ(subject->ObserverCount(), 1u);
  }
  EXPECT_EQ(subject->ObserverCount(), 0u);
  TMMObserver survivor;
  subject->AddObserver(&survivor);
  subject.reset();
  EXPECT_EQ(survivor.Observable(), nullptr);
}

TEST(Observer, ObserverMayDetachDuringNotify) {
  TMMObservable subject;
  TMMObserver a, b;
  int aCalls = 0, bCalls = 0;
  a.OnNotify = [&](void*, TMMObservable*, void*) { ++aCalls; };
  b.OnNotify = [&](void*, TMMObservable* s, void*) {
    ++bCalls;
    s->RemoveObserver(&b);
  };
  subject.AddObserver(&a);
  subject.AddObserver(&b);
  subject.Notify(nullptr);
  subject.Notify(nullptr);
  EXPECT_EQ(bCalls, 1);
  EXPECT_EQ(aCalls, 2);
}

}  // namespace
}  // namespace tv
