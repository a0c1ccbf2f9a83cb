#include "io/wait.h"

#include "error/assert.h"
#include "io/selector.h"
#include "io/timer.h"

namespace io {

void waitUntilReady(Selectable& s) {
  Selector<int> sel;
  sel.add(s, 0);
  Selectable* got = sel.poll().first;
  VX_ASSERT(got == &s, "Got wrong selectable in waitReady: ", got->describe());
  sel.remove(s);
}

void sleep(TimeValue duration) {
  Timer timer(TimeValue::now() + duration);
  BareSelector sel;
  sel.add(timer);
  Selectable& got = sel.wait();
  VX_ASSERT(&got == &timer, "Got wrong selectable in io::sleep()");
  sel.remove(timer);
}

}  // namespace io
