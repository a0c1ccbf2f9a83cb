// Wall-clock time with microseconds, as two signed 32-bit fields. Normalised values keep
// 0 <= usec < 1000000; a time before 1970 has negative seconds and non-negative microseconds.
#pragma once

#include <cstdint>
#include <string>

class TimeValue {
 public:
  int32_t sec = 0;
  int32_t usec = 0;

  constexpr TimeValue() = default;
  constexpr TimeValue(int32_t seconds, int32_t microseconds) : sec(seconds), usec(microseconds) {}

  // Carries whole seconds out of the microseconds; negative microseconds are an assertion.
  static TimeValue make(int64_t seconds, int64_t microseconds);
  static TimeValue fromMilliseconds(int64_t ms) { return make(ms / 1000, (ms % 1000) * 1000); }
  // The system clock (CLOCK_REALTIME) in UTC.
  static TimeValue now();
  // The "no deadline" value: seconds 0x7fffffff, microseconds 0.
  static constexpr TimeValue never() { return TimeValue(0x7fffffff, 0); }
  bool isNever() const { return sec == 0x7fffffff && usec == 0; }

  double asDouble() const { return sec + usec / 1000000.0; }
  // (sec + usec/1e6) * factor, split into whole seconds and truncated microseconds.
  TimeValue scale(double factor) const;
  // "12.000005"; a quarter of a second before 1970 is "-0.250000".
  std::string toString() const;

  TimeValue& operator+=(const TimeValue& o);
  friend TimeValue operator+(TimeValue a, const TimeValue& b) { return a += b; }
  // A result below zero keeps negative seconds; an unnormalised result is an assertion.
  friend TimeValue operator-(const TimeValue& a, const TimeValue& b);

  friend bool operator==(const TimeValue& a, const TimeValue& b) {
    return a.asDouble() == b.asDouble();
  }
  friend bool operator<(const TimeValue& a, const TimeValue& b) {
    return a.asDouble() < b.asDouble();
  }
  friend bool operator<=(const TimeValue& a, const TimeValue& b) {
    return a.asDouble() <= b.asDouble();
  }
  friend bool operator>(const TimeValue& a, const TimeValue& b) { return b < a; }
  friend bool operator>=(const TimeValue& a, const TimeValue& b) { return b <= a; }
  friend bool operator!=(const TimeValue& a, const TimeValue& b) { return !(a == b); }
};
