// The background daemon: a launcher that creates the pid file and the daemon's named events,
// starts a copy of itself with them and waits until that copy is up or has ended; and the
// copy's side, which takes the inherited descriptors over.
#pragma once

#include <memory>
#include <string>

#include "io/signal.h"
#include "supervisor/entry/unique_fd.h"

namespace entry {

// The environment variable that makes a start the background daemon: the descriptors of the
// started notice, the shutdown event, the rotation event and the locked pid file, as
// "started:shutdown:rotation:pidfile".
inline constexpr const char* kBackgroundVariable = "VX_RUN_IN_BACKGROUND";

// Creates `pid_file` (it must not exist yet) holding the name of the shutdown event and locked
// for the daemon's life (pid_file.h), starts this program again with the same arguments as
// the background daemon and waits for it: 0 when it reported that all workers are up, 1 when
// it ended before that (or when the pid file or the daemon could not be created: the message
// is on standard error), 2 when the wait itself failed. A start that fails removes the pid
// file it created; one that succeeded leaves it for the daemon.
int runLauncher(const std::string& pid_file, char** argv);

// What the background daemon inherited from its launcher.
struct Background {
  UniqueFd started;     // written once the workers are up
  UniqueFd pid_lock;    // the pid file, whose lock says that the daemon runs
  unsigned number = 0;  // N of its events "Vexlan.sht.N" and "Vexlan.rot.N"
  std::unique_ptr<io::Signal> shutdown;
  std::unique_ptr<io::Signal> rotation;
};

// Takes over the descriptors named by the variable's value. A value that does not name them
// raises error::Exception "Invalid VX_RUN_IN_BACKGROUND value '...': " + the reason.
Background adoptBackground(const std::string& value);

// Tells the launcher that the start succeeded, after pointing standard input, output and error
// at /dev/null: start-up errors have been reported by then, and the launcher's terminal or
// pipes must not be held open by the daemon.
void signalStarted(UniqueFd& started);

}  // namespace entry
