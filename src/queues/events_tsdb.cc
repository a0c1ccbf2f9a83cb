// Classes, codecs and factories of events 26 to 46.
#include "queues/events_tsdb.h"
#include "queues/spawn.h"

namespace queues {

VX_DEFINE_EVENT_FAMILY(VX_EVENTS_TSDB, Tsdb, 26, 46)

}  // namespace queues
