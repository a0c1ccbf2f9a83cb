#include <gtest/gtest.h>

#include <memory>

#include "fake_selectable.h"
#include "io/closure.h"
#include "io/exceptions.h"
#include "io/selector.h"
#include "io/signal.h"
#include "io/timer.h"

namespace {

using vxtest::FakeSelectable;

TEST(Selector, ReadyBeforeOsWaitInRegistrationOrder) {
  io::Selector<int> sel;
  FakeSelectable a("a"), b("b"), c("c");
  sel.add(a, 1);
  sel.add(b, 2);
  sel.add(c, 3);
  b.ready = true;
  c.ready = true;
  auto [s1, v1] = sel.poll();
  EXPECT_EQ(s1, &b);
  EXPECT_EQ(v1, 2);
  auto [s2, v2] = sel.poll();
  EXPECT_EQ(s2, &c);
  EXPECT_EQ(v2, 3);
  c.ready = false;
  EXPECT_EQ(sel.poll().first, &b);  // still ready, still returned
  EXPECT_GT(a.prepared, 0);         // every registered selectable is prepared before a wait
}

TEST(Selector, AddedWhileReadyIsReturnedWithoutOsWait) {
  io::BareSelector sel;
  FakeSelectable a("a");
  a.ready = true;
  sel.add(a);
  EXPECT_EQ(&sel.wait(true), &a);
  EXPECT_EQ(a.prepared, 0);  // served from os_avail before any preparation
}

TEST(Selector, NonBlockingWaitWithNothingReadyRaisesNotReady) {
  io::BareSelector sel;
  FakeSelectable a("a");
  sel.add(a);
  try {
    sel.wait(true);
    FAIL();
  } catch (const io::ENotReady& e) {
    EXPECT_STREQ(e.what(), "Selectable <unknown> not ready");
  }
}

TEST(Selector, RemovingAQueuedSelectableDropsEveryOccurrence) {
  io::BareSelector sel;
  FakeSelectable a("a"), b("b");
  sel.add(a);
  sel.add(b);
  a.ready = true;
  b.ready = true;
  sel.setReady(a);
  sel.setReady(a);
  sel.setReady(b);
  sel.remove(a);
  EXPECT_EQ(&sel.wait(true), &b);
  sel.remove(b);
  EXPECT_EQ(sel.size(), 0u);
}

TEST(Selector, SelectableDyingWhileRegisteredLeavesEverySelector) {
  io::Selector<int> s1;
  io::BareSelector s2;
  {
    FakeSelectable a("a");
    s1.add(a, 7);
    s2.add(a);
    a.ready = true;
    s2.setReady(a);
  }
  EXPECT_EQ(s1.size(), 0u);
  EXPECT_EQ(s2.size(), 0u);
  EXPECT_THROW(s2.wait(true), io::ENotReady);
}

TEST(Selector, TimersByDeadlineTiesToTheFirstRegistered) {
  io::BareSelector sel;
  TimeValue past = TimeValue::now() - TimeValue(1, 0);
  io::Timer later(past + TimeValue(0, 500000)), first(past), tie(past);
  sel.add(later);
  sel.add(first);
  sel.add(tie);
  EXPECT_EQ(&sel.wait(), &first);
  first.set(TimeValue::never());
  EXPECT_EQ(&sel.wait(), &tie);
  tie.set(TimeValue::never());
  EXPECT_EQ(&sel.wait(), &later);
}

TEST(Selector, LowestHandleIndexWinsAndSwapRemovalReorders) {
  io::BareSelector sel;
  io::Signal a("a"), b("b"), c("c");
  sel.add(a);
  sel.add(b);
  sel.add(c);
  a.set();
  b.set();
  c.set();
  EXPECT_EQ(&sel.wait(), &a);
  // Removing a moves c into a's slot, ahead of b.
  sel.remove(a);
  EXPECT_EQ(&sel.wait(), &c);
  c.reset();
  EXPECT_EQ(&sel.wait(), &b);
  sel.remove(b);
  sel.remove(c);
}

TEST(Selector, AcknowledgedWakeupIsNotReturned) {
  io::BareSelector sel;
  vxtest::DecliningSignal sig("s");
  io::Timer t(TimeValue::now() + TimeValue(0, 20000));
  sel.add(sig);
  sel.add(t);
  sig.declines = 1;
  sig.set();
  EXPECT_EQ(&sel.wait(), &t);  // the declined wake-up reset the signal; the wait went on
  EXPECT_EQ(sig.wakeups, 1);
  sig.set();
  EXPECT_EQ(&sel.wait(), &sig);
  sel.remove(t);
  sel.remove(sig);
}

// The main loop's shape: the closure of the returned selectable runs and may remove it.
struct Loop {
  io::Selector<refcount_ptr<BindBase<void>>> sel;
  FakeSelectable a{"a"}, b{"b"};
  int ran_a = 0, ran_b = 0;
  void onA() {
    ++ran_a;
    sel.remove(a);  // removal from inside its own handler
    b.ready = true;
  }
  void onB() {
    ++ran_b;
    sel.remove(b);
  }
};

TEST(Selector, HandlerRemovingItsOwnSelectable) {
  Loop l;
  l.sel.add(l.a, makeClosure(&l, &Loop::onA));
  l.sel.add(l.b, makeClosure(&l, &Loop::onB));
  l.a.ready = true;
  l.sel.setReady(l.a);
  l.sel.setReady(l.a);  // queued twice: the removal must drop the second one
  while (l.sel.size() > 0) {
    auto [s, fn] = l.sel.poll();
    (*fn)();
  }
  EXPECT_EQ(l.ran_a, 1);
  EXPECT_EQ(l.ran_b, 1);
}

TEST(Closure, ReferenceCountDeletesWithTheLastOwner) {
  static int destroyed;
  destroyed = 0;  // the test may run repeatedly in one process
  struct Probe : BindBase<void> {
    ~Probe() override { ++destroyed; }
    void operator()() override {}
  };
  {
    refcount_ptr<BindBase<void>> p(new Probe);
    auto q = p;
    EXPECT_EQ(p->refs(), 2);
    p.reset();
    EXPECT_EQ(destroyed, 0);
  }
  EXPECT_EQ(destroyed, 1);
}

TEST(SelectorDeathTest, BrokenRegistrationsAbort) {
  EXPECT_DEATH(
      {
        io::Selector<int> sel;
        FakeSelectable a("dup");
        sel.add(a, 1);
        sel.add(a, 2);
      },
      "Assertion failed: Added selectable dup twice");
  EXPECT_DEATH(
      {
        io::BareSelector sel;
        FakeSelectable a("x");
        sel.add(a);
        sel.add(a);
      },
      "Assertion failed: x added twice to Selector");
  EXPECT_DEATH(
      {
        io::BareSelector sel;
        FakeSelectable a("gone");
        sel.remove(a);
      },
      "Assertion failed: Unknown gone removed twice from Selector");
}

}  // namespace
