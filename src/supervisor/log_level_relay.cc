#include "supervisor/log_level_relay.h"

#include <algorithm>

namespace supervisor {

std::vector<LogLevelDelivery> routeLogLevels(
    const std::map<std::string, int32_t>& levels,
    const std::map<std::string, queues::queue_t>& workers) {
  std::vector<queues::queue_t> everyone;
  for (const auto& [sname, queue] : workers)
    everyone.push_back(queue);
  std::sort(everyone.begin(), everyone.end());

  std::vector<LogLevelDelivery> out;
  for (const auto& [key, level] : levels) {
    std::string target = "*", area = key;
    if (size_t slash = key.find('/'); slash != std::string::npos) {
      target = key.substr(0, slash);
      area = key.substr(slash + 1);
    }
    if (auto it = workers.find(target); it != workers.end()) {
      out.push_back({it->second, area, level});
    } else if (target == "*") {
      for (queues::queue_t q : everyone)
        out.push_back({q, area, level});
    }
  }
  return out;
}

}  // namespace supervisor
