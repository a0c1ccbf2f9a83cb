// Processes a worker started and left behind. The supervisor is a child subreaper, so when a
// worker ends, whatever it started and did not wait for becomes a child of the supervisor
// instead of escaping to init. Those adopted children are reaped when they end (SIGCHLD), so
// none lingers as a zombie, and the ones still running when the server ends are killed with
// it. The workers themselves are never touched here: their ends belong to their own records.
#pragma once

#include <sys/types.h>

#include <csignal>
#include <functional>
#include <set>
#include <vector>

#include "io/signal.h"

namespace supervisor {

class OrphanReaper {
 public:
  // Makes this process a child subreaper and routes SIGCHLD to signal().
  OrphanReaper();
  // Restores the previous SIGCHLD action.
  ~OrphanReaper();
  OrphanReaper(const OrphanReaper&) = delete;
  OrphanReaper& operator=(const OrphanReaper&) = delete;

  // Ready after a child of this process changed state.
  io::Signal& signal() { return signal_; }

  // Resets the signal and reaps every ended child for which `ours(pid)` is false; returns
  // their process ids.
  std::vector<pid_t> reap(const std::function<bool(pid_t)>& ours);
  // Kills and reaps every child for which `ours(pid)` is false; returns their process ids.
  std::vector<pid_t> killRest(const std::function<bool(pid_t)>& ours);

  // The children of this process, as the kernel lists them.
  static std::vector<pid_t> children();

 private:
  io::Signal signal_;
  struct sigaction previous_ {};
};

}  // namespace supervisor
