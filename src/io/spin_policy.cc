#include "io/spin_policy.h"

#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace io {

bool SpinPolicy::shouldSpin(int64_t now) {
  if (now - last_io_ > kRecentNs) return false;
  if (pays_) return true;
  if (skip_ > 0) {
    --skip_;
    return false;
  }
  return true;
}

void SpinPolicy::spun(bool found) {
  if (found) {
    pays_ = true;
    backoff_ = kMinBackoff;
    return;
  }
  pays_ = false;
  skip_ = backoff_;
  backoff_ = std::min(backoff_ * 2, kMaxBackoff);
}

uint64_t threadPreemptions() {
  struct rusage ru {};
  ::getrusage(RUSAGE_THREAD, &ru);
  return static_cast<uint64_t>(ru.ru_nivcsw);
}

int64_t monotonicNs() {
  struct timespec ts;
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return int64_t{ts.tv_sec} * 1000000000 + ts.tv_nsec;
}

bool busyPollDisabled() {
  const char* v = std::getenv("VX_NO_BUSY_POLL");
  return v != nullptr && *v != '\0' && std::strcmp(v, "0") != 0;
}

}  // namespace io
