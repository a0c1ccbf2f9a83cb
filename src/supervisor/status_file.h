// The running state of the server as a small JSON document, for the administrator's status
// tool. The file is replaced as a whole (written beside it, then renamed over it), so a reader
// always sees one complete state, never a half-written one.
//
// Where: $VX_STATUS_FILE when set; else one file per daemon in its runtime directory
// (io/runtime_dir.h), named after what identifies the daemon: "status.json" for the service,
// "status-sht<N>.json" for the background daemon whose events are "Vexlan.sht.N" (a client
// finds it from the pid file), "status-pid<PID>.json" in the foreground.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
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

// The name of the status file of a daemon in its runtime directory: the background daemon
// with `event_number` N, else the service when `service`, else the foreground daemon `pid`.
std::string statusFileName(std::optional<unsigned> event_number, bool service, pid_t pid);
inline constexpr const char* kServiceStatusName = "status.json";

// Where this daemon writes its status file, as described above: the runtime directory is
// created and checked (io::runtimeDirectory(), whose error::Exception passes on).
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
