// Classes, codecs and factories of events 1 to 25.
#include "queues/events_control.h"
#include "queues/spawn.h"

namespace queues {

VX_DEFINE_EVENT_FAMILY(VX_EVENTS_CONTROL, Control, 1, 25)

}  // namespace queues
