// The control events (1 to 25): what workers ask of the supervisor and its replies.
#pragma once

#include "queues/control/control_payloads.h"
#include "queues/control/server_configuration_codec.h"
#include "queues/event.h"

namespace queues {

VX_EVENTS_CONTROL(VX_EVENT_PAYLOAD)

}  // namespace queues
