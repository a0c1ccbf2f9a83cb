// Classes, codecs and factories of events 82 to 99 (object queries and time-series requests).
#include "queues/events_dbms_tql.h"
#include "queues/spawn.h"

namespace queues {

VX_DEFINE_EVENT_FAMILY(VX_EVENTS_DBMS_TQL, DbmsTql, 82, 99)

}  // namespace queues
