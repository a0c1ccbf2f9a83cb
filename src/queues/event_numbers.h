// Event numbers by name (queues::SYS_EXIT, ...), from the catalogue table.
#pragma once

#include <cstdint>

#include "queues/catalogue_table.h"

namespace queues {

using event_t = uint32_t;

enum event_number : event_t {
  INVALID_HEAD = 0,
#define VX_EVENT_ENUM(n, name, T) name = n,
  VX_EVENT_CATALOGUE(VX_EVENT_ENUM)
#undef VX_EVENT_ENUM
      MESSAGE_EXCEPTION = 204,
  INVALID_TAIL = 205,
};

inline constexpr event_t kLastEvent = MESSAGE_EXCEPTION;

}  // namespace queues
