// STAND-IN for the supervisor core, which replaces this file: a main function with no workers.
// It reports itself up at once, rotates the logs when asked, and ends when told to shut down,
// so that every run mode of vexland can be used and tested before the core exists.
#include "io/selector.h"
#include "supervisor/entry/entry.h"
#include "supervisor/supervisor_main.h"

int supervisorMain(int /*argc*/, char** /*argv*/, io::Signal& shutdown) {
  io::Selector<bool> selector;  // true: the shutdown signal
  selector.add(shutdown, true);
  selector.add(entry::logRotationSignal(), false);
  entry::notifySpawnedOK();
  while (!selector.poll().second)
    entry::serveLogRotation();
  entry::notifyShuttingDown();
  return 0;
}
