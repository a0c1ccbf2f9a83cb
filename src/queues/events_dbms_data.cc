// Classes, codecs and factories of events 47 to 81.
#include "queues/events_dbms_data.h"
#include "queues/spawn.h"

namespace queues {

VX_DEFINE_EVENT_FAMILY(VX_EVENTS_DBMS_DATA, DbmsData, 47, 81)

}  // namespace queues
