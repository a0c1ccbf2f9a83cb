// Where the entries of a SET_LOG_LEVEL go. A key "sname/area" addresses the worker with that
// short name; a key without "/" addresses every worker. The supervisor keeps none of it.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "queues/queue.h"

namespace supervisor {

struct LogLevelDelivery {
  queues::queue_t queue;
  std::string key;  // the area key as the worker receives it
  int32_t level;
  friend bool operator==(const LogLevelDelivery&, const LogLevelDelivery&) = default;
};

// One delivery per entry and addressed worker, entries in key order, workers in queue order.
// `workers` maps the short name of every registered worker to its queue. A key addressing a
// worker that is not registered delivers nothing.
std::vector<LogLevelDelivery> routeLogLevels(const std::map<std::string, int32_t>& levels,
                                             const std::map<std::string, queues::queue_t>& workers);

}  // namespace supervisor
