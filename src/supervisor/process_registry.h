// The live worker records, found by queue or by short name. The registry owns them; the main
// loop runs while it holds any.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "supervisor/vexlan_process.h"

namespace supervisor {

class ProcessRegistry {
 public:
  using ByQueue = std::map<queues::queue_t, std::unique_ptr<VexlanProcess>>;

  // Registers a new record; it becomes its entry's runtime. A second record for one entry,
  // queue or short name is a broken invariant of the supervisor (it starts a worker only when
  // none of its queue is registered).
  VexlanProcess& add(std::unique_ptr<VexlanProcess> record);
  // Takes the record out of both maps and clears its entry's runtime.
  std::unique_ptr<VexlanProcess> remove(queues::queue_t queue);

  VexlanProcess* findByQueue(queues::queue_t queue) const;
  VexlanProcess* findBySname(const std::string& sname) const;
  bool empty() const { return by_queue_.empty(); }
  size_t size() const { return by_queue_.size(); }
  // In queue order.
  const ByQueue& records() const { return by_queue_; }
  std::map<std::string, queues::queue_t> snames() const;

 private:
  ByQueue by_queue_;
  std::map<std::string, VexlanProcess*> by_sname_;
};

}  // namespace supervisor
