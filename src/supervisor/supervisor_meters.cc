#include "supervisor/supervisor_meters.h"

#include "queues/event.h"

namespace supervisor {

WorkerMeters::WorkerMeters(meter::Group* by_worker, const std::string& sname,
                           std::function<AreaUse()> area)
    : group(by_worker, sname),
      starts(&group, "starts", "", "times the worker was started"),
      events_received(&group, "events_received", "", "events the worker sent the supervisor"),
      events_sent(&group, "events_sent", "", "events the supervisor sent the worker"),
      received_bytes(&group, "received_bytes", "bytes", "bytes of those events received"),
      sent_bytes(&group, "sent_bytes", "bytes", "bytes of those events sent"),
      area_bytes(&group, "area_bytes", "bytes", "size of the worker's write area",
                 ComputedMetric::Kind::Level, [area] { return area().size; }),
      area_used_bytes(&group, "area_used_bytes", "bytes",
                      "bytes of the worker's write area holding messages not yet acknowledged",
                      ComputedMetric::Kind::Level, [area] { return area().used; }) {}

SupervisorMeters::Kind::Kind(meter::Group* parent, const std::string& name)
    : group(parent, name), handling(&group, "handling", "time to handle one such request") {}

SupervisorMeters::SupervisorMeters(std::function<AreaUse()> own_area,
                                   std::function<uint64_t()> outstanding)
    : startup(nullptr, "startup", "time from the start until every start-up worker was up"),
      shutdown(nullptr, "shutdown", "time from the shutdown request until the last worker ended"),
      uptime(nullptr, "uptime", "s", "seconds since the supervisor started",
             ComputedMetric::Kind::Count,
             [this] {
               return (meter::MicroSecondTiming::steadyMicroseconds() - started_us_) / 1000000;
             }),
      workers(nullptr, "workers"),
      by_worker(&workers, "by_worker"),
      control_group(nullptr, "control"),
      by_kind(&control_group, "by_kind"),
      transport(nullptr, "transport"),
      area_bytes(&transport, "area_bytes", "bytes", "size of the supervisor's write area",
                 ComputedMetric::Kind::Level, [own_area] { return own_area().size; }),
      area_used_bytes(&transport, "area_used_bytes", "bytes",
                      "bytes of the supervisor's write area holding messages not yet acknowledged",
                      ComputedMetric::Kind::Level, [own_area] { return own_area().used; }),
      messages_outstanding(&transport, "messages_outstanding", "",
                           "messages of the supervisor not yet acknowledged",
                           ComputedMetric::Kind::Level, std::move(outstanding)),
      back_pressure(&transport, "back_pressure", "events",
                    "events for a worker that waited for room in the supervisor's write area"),
      started_us_(meter::MicroSecondTiming::steadyMicroseconds()) {}

WorkerMeters& SupervisorMeters::worker(queues::queue_t queue, const std::string& sname,
                                       std::function<AreaUse()> area) {
  std::unique_ptr<WorkerMeters>& m = workers_[queue];
  if (!m) m = std::make_unique<WorkerMeters>(&by_worker, sname, std::move(area));
  return *m;
}

meter::MicroSecondTiming& SupervisorMeters::control(queues::event_t type) {
  const size_t slot = type <= queues::kLastEvent ? type : kinds_.size() - 1;
  std::unique_ptr<Kind>& k = kinds_[slot];
  if (!k)
    k = std::make_unique<Kind>(&by_kind,
                               slot == kinds_.size() - 1 ? "other" : queues::eventName(type));
  return k->handling;
}

}  // namespace supervisor
