#include "meter/metric.h"

#include <time.h>

#include <algorithm>

namespace meter {

void Timing::record(uint64_t sample) {
  ++data_.n;
  data_.min = std::min(data_.min, sample);
  data_.max = std::max(data_.max, sample);
  data_.sum += sample;
  data_.sum_squares += sample * sample;
}

void MicroSecondTiming::record(const TimeValue& elapsed) {
  if (elapsed.sec < 0) return record(uint64_t{0});
  record(static_cast<uint64_t>(elapsed.sec) * 1000000u + static_cast<uint64_t>(elapsed.usec));
}

uint64_t MicroSecondTiming::steadyMicroseconds() {
  struct timespec ts = {0, 0};
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000000u + static_cast<uint64_t>(ts.tv_nsec) / 1000u;
}

}  // namespace meter
