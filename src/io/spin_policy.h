// When a loop polls before it sleeps. Sleeping and being woken is most of what a round trip
// between two processes costs, the more so on a virtual machine, where waking an idle CPU is
// an exit to the hypervisor: a loop that finds its next message within a few tens of
// microseconds saves that by polling its descriptors (without a time-out) for up to kBudgetNs
// first.
//
// It polls only while that pays: never when the loop has seen no I/O for kRecentNs (an idle
// loop sleeps at once, so an idle server burns nothing), and after a poll that found nothing
// it polls again only after `backoff` waits, a number that doubles with every poll that fails
// (up to kMaxBackoff) and is reset by one that succeeds. Two processes that answer each other
// from two CPUs keep polling; a peer that shares our CPU cannot answer while we poll, so such
// a loop soon stops trying and wastes at most one budget in kMaxBackoff waits. A thread that
// was preempted since its last wait shares its CPU with processes that have work (a start of
// the server: more processes than CPUs): its wait does not poll and counts as a poll that
// failed, since polling would only take the CPU from them.
#pragma once

#include <cstdint>

namespace io {

class SpinPolicy {
 public:
  static constexpr int64_t kBudgetNs = 30'000;
  static constexpr int64_t kRecentNs = 500'000;
  static constexpr uint32_t kMinBackoff = 8;
  static constexpr uint32_t kMaxBackoff = 1024;

  // I/O woke the loop at `now` (monotonic nanoseconds).
  void sawIo(int64_t now) { last_io_ = now; }
  // Whether a wait that starts at `now` polls first. Counts the waits of a backoff.
  bool shouldSpin(int64_t now);
  // The poll found something, or used up its budget.
  void spun(bool found);
  // `preemptions`: how often the thread has been preempted so far (threadPreemptions()). True
  // when that grew since the last call: the wait should not poll (and call spun(false)).
  bool preempted(uint64_t preemptions) {
    const bool grew = preemptions != preemptions_;
    preemptions_ = preemptions;
    return grew;
  }

 private:
  int64_t last_io_ = INT64_MIN / 2;
  bool pays_ = false;
  uint32_t skip_ = 0;
  uint32_t backoff_ = kMinBackoff;
  uint64_t preemptions_ = 0;
};

// Involuntary context switches of the calling thread so far.
uint64_t threadPreemptions();

// CLOCK_MONOTONIC in nanoseconds.
int64_t monotonicNs();

// True when VX_NO_BUSY_POLL is set to anything but "" or "0" in the environment: every loop of
// the process then sleeps at once, for machines where CPU time matters more than latency.
bool busyPollDisabled();

}  // namespace io
