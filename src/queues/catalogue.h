// The whole catalogue: every event class queues::ev<N> with its payload type.
#pragma once

#include "queues/events_control.h"
#include "queues/events_dbms_data.h"
#include "queues/events_dbms_tql.h"
#include "queues/events_tsdb.h"
#include "queues/events_workers.h"
