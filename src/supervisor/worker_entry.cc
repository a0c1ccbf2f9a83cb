#include "supervisor/worker_entry.h"

#include <cstring>

#include "error/exception.h"
#include "supervisor/slog.h"

namespace supervisor {

WorkerEntry WorkerEntry::fromRow(const queues::WorkerRow& row) {
  WorkerEntry e;
  e.exe = row.exe;
  e.queue = row.queue;
  e.sname = row.sname;
  e.priority = row.priority;
  e.flags = row.flags;
  e.smem_slices = row.smem_slices;
  return e;
}

WorkerEntry WorkerEntry::extra(const std::string& exe) {
  WorkerEntry e;
  e.exe = exe;
  e.queue = queues::kExtraQueue;
  e.sname = queues::kExtraSname;
  e.priority = queues::kExtraPriority;
  e.flags = queues::kExtraFlags;
  e.smem_slices = queues::kExtraSlices;
  return e;
}

GridRole parseGridRole(const char* value) {
  if (value == nullptr || *value == '\0') return GridRole::None;
  if (std::strcmp(value, "master") == 0) return GridRole::Master;
  if (std::strcmp(value, "satellite") == 0) return GridRole::Satellite;
  throw error::EFatal(std::string("Invalid VX_GRID_ROLE \"") + value +
                      "\": expected master, satellite or nothing");
}

const char* gridRoleName(GridRole role) {
  switch (role) {
    case GridRole::Master:
      return "master";
    case GridRole::Satellite:
      return "satellite";
    case GridRole::None:
      break;
  }
  return "none";
}

namespace {

// The programs VX_EXTRA_PROCESS names: its text split at commas, empty pieces dropped.
std::vector<std::string> extraPrograms(const char* value) {
  std::vector<std::string> out;
  std::string piece;
  for (const char* p = value;; ++p) {
    if (*p == ',' || *p == '\0') {
      if (!piece.empty()) out.push_back(piece);
      piece.clear();
      if (*p == '\0') break;
    } else {
      piece += *p;
    }
  }
  return out;
}

}  // namespace

std::vector<WorkerEntry> startupEntries(const control::Server_Configuration_Fields& cfg,
                                        GridRole role, const char* extra_variable) {
  std::vector<WorkerEntry> out;
  for (const queues::WorkerRow& row : queues::workerTable()) {
    if (cfg.passive && (row.flags & queues::kActiveOnly)) continue;
    if (row.flags & queues::kDemandLoad) continue;
    if (row.queue == queues::QUEUE_WAPI && !cfg.wapi_enabled) continue;
    if (row.queue == queues::QUEUE_GSAT && role != GridRole::Satellite) continue;
    if (row.queue == queues::QUEUE_GMAS && role != GridRole::Master) continue;
    out.push_back(WorkerEntry::fromRow(row));
  }
  if (extra_variable != nullptr) {
    std::vector<std::string> programs = extraPrograms(extra_variable);
    if (programs.size() != 1) throw error::EFatal("Cannot spawn more than one extra process");
    out.push_back(WorkerEntry::extra(programs[0]));
  }
  return out;
}

std::optional<WorkerEntry> copyIfDemandLoad(queues::queue_t queue) {
  const queues::WorkerRow* row = queues::findWorkerRow(queue);
  if (row == nullptr || !(row->flags & queues::kDemandLoad)) return std::nullopt;
  return WorkerEntry::fromRow(*row);
}

bool isAutostart(queues::queue_t queue) {
  const queues::WorkerRow* row = queues::findWorkerRow(queue);
  if (row == nullptr) {
    slog("Asked for autostart status on unknown queue id: ");
    slog(std::to_string(queue));
    return false;
  }
  return (row->flags & queues::kDemandLoad) != 0;
}

uint64_t sliceUnit(uint32_t smem_size_mib) {
  uint64_t slices = 44;
  for (const queues::WorkerRow& row : queues::workerTable())
    slices += row.smem_slices;
  uint32_t pool = smem_size_mib << 20;  // 32 bits, as the pool size itself
  return (pool / slices) & ~uint64_t{4095};
}

uint64_t smemSliceSize(queues::queue_t queue, uint64_t slice_unit) {
  if (queue == queues::QUEUE_MAIN || queue == queues::kExtraQueue) return 4 * slice_unit;
  if (const queues::WorkerRow* row = queues::findWorkerRow(queue)) {
    return row->smem_slices * slice_unit;
  }
  throw error::Exception("argh: someone asked for smem slice size for id " + std::to_string(queue) +
                         " which we don't know...");
}

}  // namespace supervisor
