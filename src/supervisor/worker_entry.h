// The supervisor's view of the worker table: which workers start with the server, which are
// started on first use, and how much of the shared-memory pool each one writes into.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "queues/control/server_configuration_fields.h"
#include "queues/queue.h"
#include "queues/worker_table.h"

namespace supervisor {

class VexlanProcess;

// One row of the worker table as the supervisor keeps it: a private copy per started worker,
// pointing at the live record of that worker once it runs.
struct WorkerEntry {
  VexlanProcess* runtime = nullptr;
  std::string exe;
  queues::queue_t queue = queues::QUEUE_NONE;
  std::string sname;
  uint32_t priority = 1;
  uint32_t flags = 0;
  uint64_t smem_slices = 0;

  static WorkerEntry fromRow(const queues::WorkerRow& row);
  // The extra process named by VX_EXTRA_PROCESS.
  static WorkerEntry extra(const std::string& exe);

  bool hardShutdown() const { return (flags & queues::kHardShutdown) != 0; }
  bool activeOnly() const { return (flags & queues::kActiveOnly) != 0; }
  bool demandLoad() const { return (flags & queues::kDemandLoad) != 0; }
};

// The grid role of this server. It is not a configuration option: VX_GRID_ROLE says it
// ("master", "satellite", or unset/empty for neither). The grid master worker starts only on a
// master, the grid satellite worker only on a satellite.
enum class GridRole { None, Master, Satellite };
// Anything else raises error::EFatal naming the value.
GridRole parseGridRole(const char* value);
const char* gridRoleName(GridRole role);

// The workers to start with the server, in start-up order: the table's rows minus those the
// configuration and role rule out and the demand-loaded ones, then the extra process when
// `extra_variable` (the value of VX_EXTRA_PROCESS, null when unset) names exactly one program.
// Any other value of it raises error::EFatal "Cannot spawn more than one extra process".
std::vector<WorkerEntry> startupEntries(const control::Server_Configuration_Fields& cfg,
                                        GridRole role, const char* extra_variable);

// A fresh copy of the demand-loaded row of `queue`, or none.
std::optional<WorkerEntry> copyIfDemandLoad(queues::queue_t queue);

// Whether `queue` is started on demand. A queue the table does not hold is logged and is not.
bool isAutostart(queues::queue_t queue);

// Bytes per slice unit of a pool of `smem_size_mib` MiB: the pool shared out over the table's
// slices and a reserve of 44, rounded down to whole pages of 4096 bytes.
uint64_t sliceUnit(uint32_t smem_size_mib);
// The size of the write area of `queue`: 4 units for the supervisor and the extra process, the
// row's slices for a worker of the table. Any other id is one a child claimed on its own, so
// it raises error::Exception "argh: someone asked for smem slice size for id N which we don't
// know...".
uint64_t smemSliceSize(queues::queue_t queue, uint64_t slice_unit);

}  // namespace supervisor
