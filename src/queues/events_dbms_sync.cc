// Classes, codecs and factories of events 100 to 130 (time-series replies, NetChecks, identifiers,
// deletions).
#include "queues/events_dbms_tql.h"
#include "queues/spawn.h"

namespace queues {

VX_DEFINE_EVENT_FAMILY(VX_EVENTS_DBMS_SYNC, DbmsSync, 100, 130)

}  // namespace queues
