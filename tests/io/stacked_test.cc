#include <gtest/gtest.h>

#include <memory>

#include "fake_selectable.h"
#include "io/selector.h"
#include "io/signal.h"
#include "io/stacked.h"
#include "io/wait.h"

namespace {

// A back fed by one signal: every time the signal fires, the front named in `target` becomes
// ready (like a FIFO message for one stream).
class Feeder : public io::StackedSelectableBack {
 public:
  Feeder() { setUnderlying(&pipe, true); }
  ~Feeder() override { setUnderlying(&pipe, false); }
  void underlyingIsReady(io::Selectable& u) override {
    EXPECT_EQ(&u, &pipe);
    pipe.reset();
    ++served;
    if (target) target->setReadyFlag(true);
  }
  io::Signal pipe{"fifo"};
  io::StackedSelectableFront* target = nullptr;
  int served = 0;
};

class Front : public io::StackedSelectableFront {
 public:
  Front(io::StackedSelectableBack* b, std::string n) : StackedSelectableFront(b), name(n) {}
  std::string describe() const override { return name; }
  std::string name;
};

TEST(Stacked, UnderlyingReadinessMakesTheFrontReady) {
  Feeder back;
  Front f1(&back, "f1"), f2(&back, "f2");
  io::Selector<int> sel;
  sel.add(f1, 1);
  sel.add(f2, 2);
  EXPECT_EQ(sel.size(), 3u);  // two fronts and the underlying signal, once
  back.target = &f2;
  back.pipe.set();
  auto [s, v] = sel.poll();
  EXPECT_EQ(s, &f2);
  EXPECT_EQ(v, 2);
  EXPECT_EQ(back.served, 1);
  sel.remove(f1);
  sel.remove(f2);
  EXPECT_EQ(sel.size(), 0u);  // the underlying left with the last front
}

TEST(Stacked, FrontInTwoSelectorsKeepsTheUnderlyingInEach) {
  Feeder back;
  Front f(&back, "f");
  io::BareSelector s1, s2;
  s1.add(f);
  s2.add(f);
  EXPECT_TRUE(s1.isRegistered(back.pipe));
  EXPECT_TRUE(s2.isRegistered(back.pipe));
  s1.remove(f);
  EXPECT_FALSE(s1.isRegistered(back.pipe));
  EXPECT_TRUE(s2.isRegistered(back.pipe));
  back.target = &f;
  back.pipe.set();
  EXPECT_EQ(&s2.wait(), &f);
  s2.remove(f);
}

TEST(Stacked, WaitReadyOnAFrontServesItsBack) {
  Feeder back;
  Front f(&back, "f");
  back.target = &f;
  back.pipe.set();
  io::waitReady(f);
  EXPECT_TRUE(f.isReady());
  EXPECT_EQ(back.served, 1);
}

TEST(Stacked, UnderlyingAddedLaterJoinsEverySelector) {
  Feeder back;
  Front f(&back, "f");
  io::BareSelector sel;
  sel.add(f);
  io::Signal extra("extra");
  back.setUnderlying(&extra, true);
  EXPECT_TRUE(sel.isRegistered(extra));
  back.setUnderlying(&extra, false);
  EXPECT_FALSE(sel.isRegistered(extra));
  sel.remove(f);
}

TEST(Stacked, DyingBackDetachesItsFronts) {
  io::BareSelector sel;
  auto back = std::make_unique<Feeder>();
  Front f(back.get(), "f");
  sel.add(f);
  back.reset();
  EXPECT_EQ(f.back(), nullptr);
  EXPECT_EQ(sel.size(), 0u);
}

TEST(Stacked, ReadyFrontIsServedBeforeTheOsWait) {
  Feeder back;
  Front f(&back, "f");
  io::BareSelector sel;
  sel.add(f);
  f.setReadyFlag(true);
  EXPECT_EQ(&sel.wait(true), &f);
  EXPECT_EQ(back.served, 0);
  sel.remove(f);
}

}  // namespace
