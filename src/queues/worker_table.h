// Which program serves which queue: the server's compiled-in worker table. The supervisor
// starts workers from it; a worker program finds its own queue in it by its program name.
// Rows are in start-up order.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "queues/queue.h"

namespace queues {

// Bits of WorkerRow::flags.
inline constexpr uint32_t kHardShutdown = 1;  // stopped by killing it
inline constexpr uint32_t kActiveOnly = 2;    // not started when the server is passive
inline constexpr uint32_t kDemandLoad = 4;    // started on first use, not at start-up

struct WorkerRow {
  const char* exe;  // program file name as the table writes it
  queue_t queue;
  const char* sname;  // four-character short name used in log lines
  uint32_t priority;  // 0 high, 1 normal, 2 below normal
  uint32_t flags;
  uint64_t smem_slices;  // slice units of the pool for the worker's write area
};

// The 21 rows, in start-up order.
std::span<const WorkerRow> workerTable();

// The row for a queue, or none.
const WorkerRow* findWorkerRow(queue_t queue);

// The row whose program is `program`: a path or bare name, with or without the ".exe" the
// table writes ("/usr/lib/vexlan/vexlan-dbms" and "vexlan-dbms.exe" both find dbms).
const WorkerRow* findWorkerRowByProgram(std::string_view program);

// The extra process, a worker named at start-up by VX_EXTRA_PROCESS.
inline constexpr queue_t kExtraQueue = QUEUE_EXTRA;
inline constexpr const char* kExtraSname = "extr";
inline constexpr uint32_t kExtraPriority = 1;
inline constexpr uint32_t kExtraFlags = kActiveOnly;
inline constexpr uint64_t kExtraSlices = 4;

}  // namespace queues
