#include "io/timer.h"

namespace io {

bool Timer::isReady() const {
  TimeValue now = TimeValue::now();
  return now.sec > expiry_.sec || (now.sec == expiry_.sec && now.usec >= expiry_.usec);
}

}  // namespace io
