// Classes, codecs and factories of events 131 to 203.
#include "queues/events_workers.h"
#include "queues/spawn.h"

namespace queues {

VX_DEFINE_EVENT_FAMILY(VX_EVENTS_WORKERS, Workers, 131, 203)

}  // namespace queues
