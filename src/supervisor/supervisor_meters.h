// The supervisor's own meters, in its process's meter tree (read through the admin channel
// under the name "vexland"):
//
//   startup                      time from the start to "All children up and running" (us)
//   shutdown                     time from the shutdown request to the last worker's end (us)
//   uptime                       seconds since the start
//   workers/by_worker/<sname>/   per worker, kept across its restarts:
//       starts, events_received, events_sent, received_bytes, sent_bytes,
//       area_bytes, area_used_bytes (levels read when asked)
//   control/by_kind/<EVENT>/handling   each control request from a worker, timed (us)
//   transport/                   the supervisor's own area: area_bytes, area_used_bytes,
//                                messages_outstanding (levels), back_pressure (events for
//                                a worker that had to wait for room)
//   admin/                       the admin channel (admin_channel.h)
//
// What the hot path does with them is a counter increment (events, bytes) or, once per
// control request, two reads of the steady clock; everything else is computed when asked.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "meter/group.h"
#include "meter/metric.h"
#include "queues/event_numbers.h"
#include "queues/queue.h"

namespace supervisor {

// A metric computed when asked rather than kept: a level (a gauge: how full something is now)
// or a count (it only grows while the process runs).
class ComputedMetric : public meter::Metric {
 public:
  enum class Kind { Count, Level };
  ComputedMetric(meter::Group* parent, std::string name, std::string unit, std::string desc,
                 Kind kind, std::function<uint64_t()> read)
      : Metric(parent, std::move(name), std::move(unit), std::move(desc)),
        kind_(kind),
        read_(std::move(read)) {}
  bool isLevel() const { return kind_ == Kind::Level; }
  meter::MetricType type() const override { return meter::MetricType::Integer; }
  meter::MetricValue value() const override { return read_(); }

 private:
  Kind kind_;
  std::function<uint64_t()> read_;
};

// How much of a write area is in use: its size and the bytes of its used blocks.
struct AreaUse {
  uint64_t size = 0;
  uint64_t used = 0;
};

// What the supervisor knows about one worker, for the life of the server (a demand-loaded
// worker that comes back counts on).
struct WorkerMeters {
  WorkerMeters(meter::Group* by_worker, const std::string& sname, std::function<AreaUse()> area);
  meter::Group group;
  meter::IntegerCounter starts;
  meter::IntegerCounter events_received;
  meter::IntegerCounter events_sent;
  meter::IntegerCounter received_bytes;
  meter::IntegerCounter sent_bytes;
  ComputedMetric area_bytes;
  ComputedMetric area_used_bytes;
};

class SupervisorMeters {
 public:
  // Under the process's root group, which must have been started (meter::Registry::start).
  SupervisorMeters(std::function<AreaUse()> own_area, std::function<uint64_t()> outstanding);

  // The meters of the worker of `queue` (made on first use). `area` tells its area's use.
  WorkerMeters& worker(queues::queue_t queue, const std::string& sname,
                       std::function<AreaUse()> area);
  // The handling time of control requests of `type`.
  meter::MicroSecondTiming& control(queues::event_t type);

  meter::MicroSecondTiming startup;
  meter::MicroSecondTiming shutdown;
  ComputedMetric uptime;
  meter::Group workers;
  meter::Group by_worker;
  meter::Group control_group;
  meter::Group by_kind;
  meter::Group transport;
  ComputedMetric area_bytes;
  ComputedMetric area_used_bytes;
  ComputedMetric messages_outstanding;
  meter::IntegerCounter back_pressure;

 private:
  struct Kind {
    Kind(meter::Group* by_kind, const std::string& name);
    meter::Group group;
    meter::MicroSecondTiming handling;
  };
  uint64_t started_us_;
  std::map<queues::queue_t, std::unique_ptr<WorkerMeters>> workers_;
  // Indexed by event number; the last slot takes every number beyond the catalogue.
  std::array<std::unique_ptr<Kind>, queues::kLastEvent + 2> kinds_;
};

}  // namespace supervisor
