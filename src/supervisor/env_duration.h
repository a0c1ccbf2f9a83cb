// Time limits that tests shorten through the environment (VX_NETCHECK_INTERVAL_MS,
// VX_ADMIN_IDLE_MS, ...).
#pragma once

#include <cstdint>
#include <cstdlib>

#include "error/exception.h"
#include "util/parse.h"
#include "util/time_value.h"

namespace supervisor {

// The milliseconds the variable `name` gives, or `fallback` when it is unset or unusable.
inline TimeValue envMilliseconds(const char* name, TimeValue fallback) {
  if (const char* v = std::getenv(name)) {
    try {
      return TimeValue::fromMilliseconds(util::parse<uint32_t>(v));
    } catch (const error::Exception&) {
      // An unusable value keeps the default.
    }
  }
  return fallback;
}

}  // namespace supervisor
