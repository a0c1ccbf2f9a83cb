#include "util/time_value.h"

#include <time.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>

#include "error/assert.h"

TimeValue TimeValue::make(int64_t seconds, int64_t microseconds) {
  VX_ASSERT(microseconds >= 0, "Cannot normalize negative microseconds");
  return TimeValue(static_cast<int32_t>(seconds + microseconds / 1000000),
                   static_cast<int32_t>(microseconds % 1000000));
}

TimeValue TimeValue::now() {
  struct timespec ts = {0, 0};
  if (::clock_gettime(CLOCK_REALTIME, &ts) != 0) {
    static const char msg[] =
        "(TIME) Error getting system time \n(TIME) This may cause inaccurate measurements \n";
    [[maybe_unused]] ssize_t n = ::write(STDERR_FILENO, msg, sizeof msg - 1);
  }
  return TimeValue(static_cast<int32_t>(ts.tv_sec), static_cast<int32_t>(ts.tv_nsec / 1000));
}

TimeValue TimeValue::scale(double factor) const {
  double x = asDouble() * factor;
  double whole = std::floor(x);
  return TimeValue(static_cast<int32_t>(whole), static_cast<int32_t>((x - whole) * 1000000.0));
}

std::string TimeValue::toString() const {
  char buf[48];
  if (sec < 0 && usec != 0) {
    std::snprintf(buf, sizeof buf, "-%lld.%06d", -static_cast<long long>(sec) - 1, 1000000 - usec);
  } else {
    std::snprintf(buf, sizeof buf, "%d.%06d", sec, usec);
  }
  return buf;
}

TimeValue& TimeValue::operator+=(const TimeValue& o) {
  int64_t s = int64_t{sec} + o.sec;
  int64_t u = int64_t{usec} + o.usec;
  if (u >= 1000000) {
    u -= 1000000;
    s += 1;
  }
  VX_ASSERT(u < 1000000, "Too big usec in +=");
  sec = static_cast<int32_t>(s);
  usec = static_cast<int32_t>(u);
  return *this;
}

TimeValue operator-(const TimeValue& a, const TimeValue& b) {
  int64_t s = int64_t{a.sec} - b.sec;
  int64_t u = int64_t{a.usec} - b.usec;
  if (u < 0) {
    u += 1000000;
    s -= 1;
  }
  VX_ASSERT(u >= 0, "Negative usec");
  return TimeValue(static_cast<int32_t>(s), static_cast<int32_t>(u));
}
