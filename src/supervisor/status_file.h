// The running state of the server as a small JSON document, for the administrator's status
// tool. The file is replaced as a whole (written beside it, then renamed over it), so a reader
// always sees one complete state, never a half-written one.
//
// Where: $VX_STATUS_FILE when set; else "status.json" in $RUNTIME_DIRECTORY (the service's
// runtime directory, /run/vexlan); else "vexlan-status.json" in $XDG_RUNTIME_DIR; else
// "vexlan-status-<uid>.json" in /tmp.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "queues/queue.h"
#include "util/time_value.h"

namespace supervisor {

struct WorkerStatus {
  std::string sname;
  queues::queue_t queue;
  std::string exe;
  std::string state;  // "starting", "initing", "running", "exiting"
  pid_t pid;
  TimeValue started;
  std::set<queues::queue_t> depend_on;
};

struct IdleWorker {  // a demand-loaded worker that is not running
  std::string sname;
  queues::queue_t queue;
  std::string exe;
};

struct ServerStatus {
  std::string state;  // "starting", "running", "shutting down", "stopped", "emergency", "failed"
  pid_t pid;
  TimeValue started;
  TimeValue updated;
  std::vector<WorkerStatus> workers;  // in queue order
  std::vector<IdleWorker> idle;       // in queue order
};

std::string statusJson(const ServerStatus& status);

// The path the status file is written to, from the environment as described above.
std::string statusFilePath();

class StatusFile {
 public:
  explicit StatusFile(std::string path) : path_(std::move(path)) {}
  const std::string& path() const { return path_; }
  // Replaces the file. A failure is returned as its text (and nothing is left behind); the
  // caller reports it once.
  std::string write(const ServerStatus& status);

 private:
  std::string path_;
};

}  // namespace supervisor
