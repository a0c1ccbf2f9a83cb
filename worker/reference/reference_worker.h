// The reference worker's life on the SDK: what a real worker does at start, metrics with
// real counters, and the test behaviours of behaviours.h.
#pragma once

#include <memory>
#include <string>

#include "meter/group.h"
#include "meter/metric.h"
#include "meter/registry.h"
#include "meter/table.h"
#include "reference/behaviours.h"
#include "sdk/worker.h"

namespace spdlog {
class logger;
}

namespace reference {

// Seconds since the worker attached.
class Uptime : public meter::Metric {
 public:
  Uptime(meter::Group* parent, std::string name);
  meter::MetricType type() const override { return meter::MetricType::Integer; }
  meter::MetricValue value() const override;

 private:
  uint64_t start_us_;
};

// The worker's meter tree, under the root group.
struct Counters {
  Counters();
  meter::Group events;
  meter::IntegerCounter received;
  meter::Table by_type;  // rows: event names; column "count"
  meter::Group requests;
  meter::IntegerCounter served;  // SYS_EXIT, SET_LOG_LEVEL and metric queries
  meter::IntegerCounter sent;    // requests and messages to the supervisor
  meter::MicroSecondTiming round_trip;
  Uptime uptime;
};

class ReferenceWorker {
 public:
  ReferenceWorker(worker::Worker& w, Behaviours b);
  // Starts up and serves until the worker ends; returns its exit code.
  int run();

 private:
  void observe(const queues::event& ev, queues::queue_t from);
  bool onExit();
  void onPeerGone(queues::queue_t q, bool refused);
  void sendInitOk();
  void sendEvents(queues::queue_t q, int count);
  void writeGarbage();
  void ping();
  // Logged through the supervisor when tracing.
  void trace(const std::string& msg);
  // Logged through the supervisor always, and on standard error.
  void report(const std::string& msg);

  worker::Worker& w_;
  Behaviours b_;
  Counters counters_;
  std::shared_ptr<spdlog::logger> events_log_;
};

}  // namespace reference
