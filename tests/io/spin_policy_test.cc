#include "io/spin_policy.h"

#include <gtest/gtest.h>

namespace vxtest {
namespace {

using io::SpinPolicy;

constexpr int64_t kT0 = 1'000'000'000;

// Counts the waits, starting at `now`, until the policy polls again (0: the next one polls).
int waitsUntilPoll(SpinPolicy& p, int64_t now, int limit = 5000) {
  for (int i = 0; i < limit; ++i) {
    if (p.shouldSpin(now)) return i;
  }
  return -1;
}

TEST(SpinPolicy, PollsOnlyShortlyAfterIo) {
  SpinPolicy p;
  EXPECT_FALSE(p.shouldSpin(kT0)) << "a loop that never saw I/O sleeps";
  p.sawIo(kT0);
  EXPECT_TRUE(p.shouldSpin(kT0 + SpinPolicy::kRecentNs));
  EXPECT_FALSE(p.shouldSpin(kT0 + SpinPolicy::kRecentNs + 1));
}

TEST(SpinPolicy, FailedPollsBackOffExponentiallyUpToTheLimit) {
  SpinPolicy p;
  p.sawIo(kT0);
  ASSERT_TRUE(p.shouldSpin(kT0));
  uint32_t expected = SpinPolicy::kMinBackoff;
  for (int round = 0; round < 12; ++round) {
    p.spun(false);
    EXPECT_EQ(waitsUntilPoll(p, kT0), static_cast<int>(expected)) << "round " << round;
    expected = std::min(expected * 2, SpinPolicy::kMaxBackoff);
  }
}

TEST(SpinPolicy, ASuccessfulPollKeepsPollingAndResetsTheBackoff) {
  SpinPolicy p;
  p.sawIo(kT0);
  ASSERT_TRUE(p.shouldSpin(kT0));
  p.spun(false);
  ASSERT_EQ(waitsUntilPoll(p, kT0), 8);
  p.spun(false);
  ASSERT_EQ(waitsUntilPoll(p, kT0), 16);
  p.spun(true);
  for (int i = 0; i < 100; ++i)
    EXPECT_TRUE(p.shouldSpin(kT0));
  p.spun(false);
  EXPECT_EQ(waitsUntilPoll(p, kT0), static_cast<int>(SpinPolicy::kMinBackoff));
  // Waits of an idle loop do not use up the backoff.
  p.spun(false);
  for (int i = 0; i < 100; ++i)
    EXPECT_FALSE(p.shouldSpin(kT0 + SpinPolicy::kRecentNs + 1));
  EXPECT_EQ(waitsUntilPoll(p, kT0), 16);
}

// A thread that was preempted since its last wait shares its CPU with processes that have
// work: the caller skips the poll and reports it as failed, which backs off like one.
TEST(SpinPolicy, APreemptedThreadBacksOffLikeAFailedPoll) {
  SpinPolicy p;
  p.sawIo(kT0);
  EXPECT_FALSE(p.preempted(0));
  EXPECT_FALSE(p.preempted(0)) << "no preemption since the last wait";
  EXPECT_TRUE(p.preempted(3));
  ASSERT_TRUE(p.shouldSpin(kT0));
  p.spun(false);
  EXPECT_EQ(waitsUntilPoll(p, kT0), static_cast<int>(SpinPolicy::kMinBackoff));
  EXPECT_FALSE(p.preempted(3));
  EXPECT_TRUE(p.preempted(4));
}

}  // namespace
}  // namespace vxtest
