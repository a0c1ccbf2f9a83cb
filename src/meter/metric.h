// Named measurements: counters and timings with their unit and description, and the typed
// value a metric query reads from them.
#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <variant>

#include "meter/object.h"
#include "util/time_value.h"

namespace meter {

// The type number that metric listings and GET_METRIC_TYPE carry.
enum class MetricType : int32_t { Integer = 1, Double = 2, Timing = 3 };

struct TimingData {
  uint64_t n = 0;
  uint64_t min = std::numeric_limits<uint64_t>::max();
  uint64_t max = 0;
  uint64_t sum = 0;
  uint64_t sum_squares = 0;
  friend bool operator==(const TimingData&, const TimingData&) = default;
};

// Why a query has no value: the text of a RETURN_METRIC_ERROR.
struct MetricError {
  std::string text;
  friend bool operator==(const MetricError&, const MetricError&) = default;
};

// The answer to GET_METRIC: RETURN_METRIC_ERROR, _UINT64, _DOUBLE or _TIMING.
using MetricValue = std::variant<MetricError, uint64_t, double, TimingData>;

class Metric : public Object {
 public:
  const std::string& unit() const { return unit_; }
  const std::string& desc() const { return desc_; }
  virtual MetricType type() const = 0;
  virtual MetricValue value() const = 0;

 protected:
  Metric(Group* parent, std::string name, std::string unit, std::string desc)
      : Object(parent, std::move(name), Kind::Metric),
        unit_(std::move(unit)),
        desc_(std::move(desc)) {}

 private:
  std::string unit_;
  std::string desc_;
};

class IntegerCounter : public Metric {
 public:
  IntegerCounter(Group* parent, std::string name, std::string unit, std::string desc)
      : Metric(parent, std::move(name), std::move(unit), std::move(desc)) {}

  uint64_t get() const { return value_; }
  void set(uint64_t v) { value_ = v; }
  IntegerCounter& operator++() {
    ++value_;
    return *this;
  }
  IntegerCounter& operator+=(uint64_t delta) {
    value_ += delta;
    return *this;
  }

  MetricType type() const override { return MetricType::Integer; }
  MetricValue value() const override { return value_; }

 private:
  uint64_t value_ = 0;
};

// Count, extremes, sum and sum of squares of recorded samples; a client derives the mean and
// the spread. All sums wrap modulo 2^64.
class Timing : public Metric {
 public:
  Timing(Group* parent, std::string name, std::string unit, std::string desc)
      : Metric(parent, std::move(name), std::move(unit), std::move(desc)) {}

  void record(uint64_t sample);
  const TimingData& data() const { return data_; }

  MetricType type() const override { return MetricType::Timing; }
  MetricValue value() const override { return data_; }

 private:
  TimingData data_;
};

// A timing of durations in microseconds (unit "us").
class MicroSecondTiming : public Timing {
 public:
  MicroSecondTiming(Group* parent, std::string name, std::string desc)
      : Timing(parent, std::move(name), "us", std::move(desc)) {}

  using Timing::record;
  // A negative duration (the wall clock was set back) counts as 0.
  void record(const TimeValue& elapsed);

  // Microseconds of a steady clock, unaffected by changes of the wall clock.
  using Clock = uint64_t (*)();
  static uint64_t steadyMicroseconds();

  // Records the time from its construction to its destruction.
  class Scope {
   public:
    explicit Scope(MicroSecondTiming& timing, Clock clock = steadyMicroseconds)
        : timing_(timing), clock_(clock), start_(clock()) {}
    ~Scope() { timing_.record(clock_() - start_); }
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

   private:
    MicroSecondTiming& timing_;
    Clock clock_;
    uint64_t start_;
  };
};

}  // namespace meter
