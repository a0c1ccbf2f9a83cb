// Payloads of the scheduler: an event to deliver later, carried whole.
#pragma once

#include "queues/event.h"
#include "util/time_value.h"

namespace scheduler {

// `ev` must hold an event when written; it is read back with the event reader, whose nesting
// bound stops endless chains.
struct Schedule_Event_Absolute_Data {
  TimeValue time;
  queues::event_ptr ev;
  VX_FIELDS(Schedule_Event_Absolute_Data, time, ev)
};

// `time` is the delay from now.
struct Schedule_Event_Relative_Data {
  TimeValue time;
  queues::event_ptr ev;
  VX_FIELDS(Schedule_Event_Relative_Data, time, ev)
};

}  // namespace scheduler
