// Gathers the meter trees of the whole server for the admin channel, without ever waiting:
// the supervisor's own tree is read at once; each worker that supplies metrics is asked for
// its listing (LIST_METRICS) and then for each value (GET_METRIC), through the metric broker,
// and the answers are put together as they come. A collection ends when every answer is in or
// at its deadline, whichever comes first; workers that had not answered by then are named in
// the snapshot, and their late answers are dropped.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "io/timer.h"
#include "meter/group.h"
#include "queues/event.h"
#include "supervisor/metric_export.h"
#include "util/time_value.h"

namespace supervisor {

class MetricCollector {
 public:
  // Value requests one collection keeps on their way at once: enough to keep the workers busy,
  // few enough that the supervisor's message area never fills with them.
  static constexpr size_t kWindow = 64;
  // Samples one collection takes at most; a worker listing more is cut short.
  static constexpr size_t kMaxSamples = 100000;

  using Answer = std::function<void(const queues::event&)>;
  class Source {
   public:
    virtual ~Source() = default;
    // The workers that supply metrics: queue and short name.
    virtual std::vector<std::pair<queues::queue_t, std::string>> metricSuppliers() const = 0;
    // Sends `ev` to the worker of `queue`; its answer (or an error in its place) comes to
    // `answer`, now or later.
    virtual void askWorker(queues::queue_t queue, queues::event& ev, Answer answer) = 0;
    // The supervisor's own tree.
    virtual const meter::Group& ownTree() const = 0;
  };

  using Done = std::function<void(MetricSnapshot)>;

  MetricCollector(Source& source, TimeValue limit) : source_(source), limit_(limit) {}

  // Collects every metric whose path starts with `filter` (all of them when it is empty) and
  // hands the snapshot to `done`, possibly before this returns.
  void collect(std::vector<std::string> filter, Done done);
  // Ends the collections whose deadline has passed. The timer falls due at the earliest.
  void onTimer();
  io::Timer& timer() { return timer_; }
  size_t running() const { return collections_.size(); }

 private:
  struct Collection {
    std::vector<std::string> filter;
    Done done;
    TimeValue deadline;
    MetricSnapshot snapshot;
    std::map<queues::queue_t, std::string> names;
    std::set<queues::queue_t> listing;                      // listings awaited
    std::deque<std::pair<size_t, queues::queue_t>> to_ask;  // samples without a value
    std::set<queues::queue_t> unanswered;                   // workers with values awaited
    std::map<queues::queue_t, size_t> in_flight;
    size_t flying = 0;
    bool pumping = false;
  };

  void onListing(uint64_t id, queues::queue_t queue, const queues::event& ev);
  void onValue(uint64_t id, size_t sample, queues::queue_t queue, const queues::event& ev);
  void pump(uint64_t id);
  void finishIfDone(uint64_t id);
  void finish(std::map<uint64_t, Collection>::iterator it);
  void armTimer();

  Source& source_;
  TimeValue limit_;
  io::Timer timer_;
  uint64_t next_id_ = 0;
  std::map<uint64_t, Collection> collections_;
};

}  // namespace supervisor
