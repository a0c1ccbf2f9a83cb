// The test behaviours of the reference worker, switched by environment variables that it
// inherits from the supervisor: VXW_<SNAME>_<NAME>, where <SNAME> is the worker's short name
// in upper case (VXW_DBMS_EXIT, VXW_EXTR_TRACE, ...). Each program name of the worker table
// reads its own set, so one environment drives every worker of a server differently.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>

#include "queues/queue.h"

namespace reference {

struct Behaviours {
  // DEPEND_ON=<sname>,...: the set sent with INIT_OK.
  std::set<queues::queue_t> depend_on;
  // EXIT=<code>:<after-ms>: end on its own that long after attaching. Code 0 leaves in order
  // (the leave handshake, then exit 0); any other code ends at once with that code.
  struct Exit {
    int code = 0;
    int after_ms = 0;
  };
  std::optional<Exit> exit;
  // IGNORE_EXIT=1: SYS_EXIT is logged and otherwise ignored.
  bool ignore_exit = false;
  // INIT_DELAY_MS=<ms>: INIT_OK that much later (events are served meanwhile).
  int init_delay_ms = 0;
  // SEND=<queue>:<count>: after INIT_OK, count REQUEST_RESULT events (payload 0, 1, ...) to
  // the queue (a short name or a number).
  struct Send {
    queues::queue_t queue = queues::QUEUE_NONE;
    int count = 0;
  };
  std::optional<Send> send;
  // GARBAGE=1: after INIT_OK, one message to the supervisor that is not an event.
  bool garbage = false;
  // SECOND_INIT_OK=1: INIT_OK twice.
  bool second_init_ok = false;
  // STDERR=<text>: written to standard error (with a line end) before attaching.
  std::optional<std::string> stderr_text;
  // STORE_VAR=<name>=<value>: stored as a server variable after INIT_OK.
  std::optional<std::pair<std::string, std::string>> store_var;
  // REQUEST_SPAWN=<queue>: REQUEST_SPAWN_PROCESS for it after INIT_OK.
  std::optional<queues::queue_t> request_spawn;
  // ENTROPY=<bytes>: GET_PURE_ENTROPY for that many bytes after INIT_OK, without waiting for
  // the answer (the supervisor answers once its pool holds them).
  std::optional<int> entropy;
  // TRACE=1: every event read, and each step of its life, is logged through the supervisor.
  bool trace = false;
  // PING=<interval-ms>: after INIT_OK, asks the supervisor for random bytes every interval and
  // logs how long each answer took ("ping answered in <us> us"), through the supervisor.
  int ping_ms = 0;
  // LINGER_MS=<ms>: once its leave is done, stays that long before the process ends.
  int linger_ms = 0;

  // From the variables named prefix + NAME ("VXW_DBMS_"). A value that cannot be used raises
  // error::EParseError naming the variable; an unknown NAME is ignored.
  static Behaviours parse(const std::map<std::string, std::string>& vars,
                          const std::string& prefix);
  // From this process's environment, for the upper-case short name.
  static Behaviours fromEnvironment(const std::string& upper_sname);
};

// "VXW_" + upper_sname + "_".
std::string variablePrefix(const std::string& upper_sname);

// The text of --help.
std::string helpText();

}  // namespace reference
