// The database's check, host and check-in events (47 to 81).
#pragma once

#include "queues/dbms/check_payloads.h"
#include "queues/event.h"

namespace queues {

VX_EVENTS_DBMS_DATA(VX_EVENT_PAYLOAD)

}  // namespace queues
