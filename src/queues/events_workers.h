// The events of the other workers (131 to 203): scheduler, checks, sockets, grid, alerts, SNMP,
// reports, alarms, scans, routing.
#pragma once

#include "queues/alarms/alarms_payloads.h"
#include "queues/alert/alert_payloads.h"
#include "queues/event.h"
#include "queues/remcheck/remcheck_payloads.h"
#include "queues/reporter/reporter_payloads.h"
#include "queues/router/router_payloads.h"
#include "queues/scan/scan_payloads.h"
#include "queues/scheduler/scheduler_payloads.h"
#include "queues/skiogrid/skiogrid_payloads.h"
#include "queues/snmp/snmp_payloads.h"
#include "queues/socketio/socketio_payloads.h"

namespace queues {

VX_EVENTS_WORKERS_LINKS(VX_EVENT_PAYLOAD)
VX_EVENTS_WORKERS_NOTIFY(VX_EVENT_PAYLOAD)

}  // namespace queues
