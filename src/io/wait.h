// Blocking on one selectable while the rest of the thread's selectables wait.
#pragma once

#include "io/selectable.h"

namespace io {

// Returns at once when s is ready; otherwise serves only s (and, for a stacked front, the OS
// objects that feed it) until it is.
void waitUntilReady(Selectable& s);
inline void waitReady(Selectable& s) {
  if (!s.isReady()) waitUntilReady(s);
}

// Blocks the whole thread for the duration.
void sleep(TimeValue duration);

}  // namespace io
