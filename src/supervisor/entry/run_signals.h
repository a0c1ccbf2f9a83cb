// The signals a running supervisor answers: SIGINT and SIGTERM set its shutdown signal,
// SIGUSR1 sets its log-rotation signal. The handlers only write to the signals' descriptors,
// which is async-signal-safe; every further delivery is one more readiness for the main loop.
#pragma once

#include <signal.h>

#include "io/signal.h"

namespace entry {

class RunSignals {
 public:
  // Installs the handlers; both signals must outlive this object.
  RunSignals(const io::Signal& shutdown, const io::Signal& rotation);
  // Puts the previous dispositions back, so that nothing writes to the signals after they
  // are gone.
  ~RunSignals();
  RunSignals(const RunSignals&) = delete;
  RunSignals& operator=(const RunSignals&) = delete;

 private:
  struct sigaction old_int_, old_term_, old_usr1_;
};

}  // namespace entry
