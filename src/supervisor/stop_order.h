// The order in which an orderly shutdown stops the workers. A worker names in its INIT_OK the
// queues it still needs while it shuts down; a queue is told to exit only when no remaining
// worker names it. Workers that name one another in a ring would wait for ever, so once
// nothing else can move, each such ring is released as a whole.
#pragma once

#include <set>
#include <vector>

#include "queues/queue.h"

namespace supervisor {

// The life states of a worker record, in the numbering its state dump prints.
enum class WorkerState { Starting = 0, Initing = 1, Running = 2, Exiting = 3 };

struct StopCandidate {
  queues::queue_t queue;
  WorkerState state;
  std::set<queues::queue_t> depend_on;
};

struct StopDecision {
  // Running workers no remaining worker names, in the order given.
  std::vector<queues::queue_t> tell;
  // Rings released together (each in ascending queue order); their members are in `tell`
  // too. Only decided when every record is running and nothing else could be told.
  std::vector<std::vector<queues::queue_t>> cycles;
};

// `records` in ascending queue order, every live record whatever its state.
StopDecision decideStopOrder(const std::vector<StopCandidate>& records);

}  // namespace supervisor
