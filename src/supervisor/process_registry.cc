#include "supervisor/process_registry.h"

#include "error/assert.h"

namespace supervisor {

VexlanProcess& ProcessRegistry::add(std::unique_ptr<VexlanProcess> record) {
  VexlanProcess& r = *record;
  VX_ASSERT(r.entry.runtime == nullptr, "Attempt to instantiate multiple Process objects");
  r.entry.runtime = &r;
  VX_ASSERT(by_queue_.count(r.entry.queue) == 0, "Non-unique VexlanProcess queue id");
  VX_ASSERT(by_sname_.count(r.entry.sname) == 0, "Non-unique VexlanProcess queue sname");
  by_queue_.emplace(r.entry.queue, std::move(record));
  by_sname_.emplace(r.entry.sname, &r);
  return r;
}

std::unique_ptr<VexlanProcess> ProcessRegistry::remove(queues::queue_t queue) {
  auto it = by_queue_.find(queue);
  if (it == by_queue_.end()) return nullptr;
  std::unique_ptr<VexlanProcess> r = std::move(it->second);
  by_queue_.erase(it);
  by_sname_.erase(r->entry.sname);
  r->entry.runtime = nullptr;
  return r;
}

VexlanProcess* ProcessRegistry::findByQueue(queues::queue_t queue) const {
  auto it = by_queue_.find(queue);
  return it == by_queue_.end() ? nullptr : it->second.get();
}

VexlanProcess* ProcessRegistry::findBySname(const std::string& sname) const {
  auto it = by_sname_.find(sname);
  return it == by_sname_.end() ? nullptr : it->second;
}

std::map<std::string, queues::queue_t> ProcessRegistry::snames() const {
  std::map<std::string, queues::queue_t> out;
  for (const auto& [sname, r] : by_sname_)
    out.emplace(sname, r->entry.queue);
  return out;
}

}  // namespace supervisor
