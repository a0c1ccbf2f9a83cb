// The time-series store's events (26 to 46).
#pragma once

#include "queues/event.h"
#include "queues/tsdb/tsdb_payloads.h"

namespace queues {

VX_EVENTS_TSDB(VX_EVENT_PAYLOAD)

}  // namespace queues
