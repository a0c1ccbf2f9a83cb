// Classes, codecs and factories of events 131 to 163 (scheduler, remote checks, sockets, grid
// links, calls).
#include "queues/events_workers.h"
#include "queues/spawn.h"

namespace queues {

VX_DEFINE_EVENT_FAMILY(VX_EVENTS_WORKERS_LINKS, Links, 131, 163)

}  // namespace queues
