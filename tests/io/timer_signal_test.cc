#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

#include "io/exceptions.h"
#include "io/selector.h"
#include "io/signal.h"
#include "io/timer.h"
#include "io/wait.h"

namespace {

TEST(Timer, AlreadyDueIsReturnedAtOnceAndStaysDueUntilRearmed) {
  io::BareSelector sel;
  io::Timer t(TimeValue::now() - TimeValue(5, 0));
  sel.add(t);
  EXPECT_EQ(&sel.wait(), &t);
  EXPECT_EQ(&sel.wait(), &t);
  t.set(TimeValue::never());
  EXPECT_FALSE(t.isReady());
  sel.remove(t);
}

TEST(Timer, RearmedLaterIsNotReturnedBeforeTheNewTime) {
  io::BareSelector sel;
  io::Timer t(TimeValue::now() + TimeValue(0, 1000));
  io::Timer guard(TimeValue::now() + TimeValue(0, 30000));
  sel.add(t);
  sel.add(guard);
  t.set(TimeValue::now() + TimeValue(10, 0));
  EXPECT_EQ(&sel.wait(), &guard);  // t would have been first without the re-arm
  sel.remove(t);
  sel.remove(guard);
}

TEST(Timer, WaitEndsAtTheDeadlineNotBefore) {
  io::BareSelector sel;
  TimeValue due = TimeValue::now() + TimeValue(0, 15000);
  io::Timer t(due);
  sel.add(t);
  EXPECT_EQ(&sel.wait(), &t);
  EXPECT_GE(TimeValue::now(), due);
  sel.remove(t);
}

TEST(Signal, SetTwiceIsReportedOnEveryWaitUntilReset) {
  io::BareSelector sel;
  io::Signal s("stop");
  EXPECT_EQ(s.describe(), "Signal stop");
  sel.add(s);
  s.set();
  s.set();
  EXPECT_EQ(&sel.wait(true), &s);
  EXPECT_EQ(&sel.wait(true), &s);
  s.reset();
  EXPECT_THROW(sel.wait(true), io::ENotReady);
  sel.remove(s);
}

TEST(Signal, SetFromAnotherThreadWakesABlockedWait) {
  io::BareSelector sel;
  io::Signal s;
  EXPECT_EQ(s.describe(), "Anonymous signal");
  sel.add(s);
  std::thread setter([&] {
    struct timespec ts = {0, 5000000};
    nanosleep(&ts, nullptr);
    s.set();
  });
  EXPECT_EQ(&sel.wait(), &s);
  setter.join();
  sel.remove(s);
}

TEST(Signal, AdoptedDescriptorIsClosedByTheDestructor) {
  int fd;
  {
    io::Signal original;
    fd = ::dup(original.fd());
  }
  {
    io::Signal adopted(io::Signal::Adopt{}, fd, "inherited");
    adopted.set();
    io::BareSelector sel;
    sel.add(adopted);
    EXPECT_EQ(&sel.wait(true), &adopted);
    sel.remove(adopted);
  }
  EXPECT_EQ(::fcntl(fd, F_GETFD), -1);
}

TEST(Signal, DatagramSocketPairIsSetThroughItsOtherEndAndDrainedByReset) {
  int sv[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, sv), 0);
  {
    io::Signal s(io::Signal::Adopt{}, sv[0], sv[1], "socket");
    EXPECT_EQ(s.setFd(), sv[1]);
    io::BareSelector sel;
    sel.add(s);
    s.set();
    s.set();
    EXPECT_EQ(&sel.wait(true), &s);
    s.reset();  // one read per datagram: both must go
    EXPECT_THROW(sel.wait(true), io::ENotReady);
    sel.remove(s);
  }
  EXPECT_EQ(::fcntl(sv[0], F_GETFD), -1);
  EXPECT_EQ(::fcntl(sv[1], F_GETFD), -1);
}

TEST(Wait, WaitReadyAndSleep) {
  io::Timer t(TimeValue::now() + TimeValue(0, 5000));
  io::waitReady(t);
  EXPECT_TRUE(t.isReady());
  TimeValue before = TimeValue::now();
  io::sleep(TimeValue(0, 10000));
  EXPECT_GE((TimeValue::now() - before).asDouble(), 0.010);
}

}  // namespace
