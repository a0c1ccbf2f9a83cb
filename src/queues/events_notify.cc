// Classes, codecs and factories of events 164 to 203 (alerts, SNMP, reports, alarms, scans, grid
// routing).
#include "queues/events_workers.h"
#include "queues/spawn.h"

namespace queues {

VX_DEFINE_EVENT_FAMILY(VX_EVENTS_WORKERS_NOTIFY, Notify, 164, 203)

}  // namespace queues
