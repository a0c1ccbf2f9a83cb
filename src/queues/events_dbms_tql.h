// The database's query, time-series, identifier and deletion events (82 to 130).
#pragma once

#include "queues/dbms/sync_payloads.h"
#include "queues/dbms/tql_payloads.h"
#include "queues/dbms/tsdb_payloads.h"
#include "queues/event.h"

namespace queues {

VX_EVENTS_DBMS_TQL(VX_EVENT_PAYLOAD)
VX_EVENTS_DBMS_SYNC(VX_EVENT_PAYLOAD)

}  // namespace queues
