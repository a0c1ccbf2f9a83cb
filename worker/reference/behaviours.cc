#include "reference/behaviours.h"

#include <sstream>

#include "error/exception.h"
#include "sdk/identity.h"
#include "util/parse.h"

extern char** environ;

namespace reference {

namespace {

bool flag(const std::string& name, const std::string& value) {
  if (value == "1") return true;
  if (value == "0" || value.empty()) return false;
  throw error::EParseError(name + ": expected 1 or 0, got \"" + value + "\"");
}

int number(const std::string& name, const std::string& text) {
  try {
    int v = util::parse<int>(text);
    if (v < 0) throw error::EParseError("negative");
    return v;
  } catch (const error::EParseError&) {
    throw error::EParseError(name + ": expected a number of 0 or more, got \"" + text + "\"");
  }
}

queues::queue_t queue(const std::string& name, const std::string& text) {
  try {
    return worker::parseQueue(text);
  } catch (const error::Exception&) {
    throw error::EParseError(name + ": unknown queue \"" + text + "\"");
  }
}

// "a:b" split at the first occurrence of `sep`; both parts must be there.
std::pair<std::string, std::string> split(const std::string& name, const std::string& value,
                                          char sep, const char* form) {
  size_t at = value.find(sep);
  if (at == std::string::npos || at == 0) {
    throw error::EParseError(name + ": expected " + form + ", got \"" + value + "\"");
  }
  return {value.substr(0, at), value.substr(at + 1)};
}

}  // namespace

std::string variablePrefix(const std::string& upper_sname) {
  return "VXW_" + upper_sname + "_";
}

Behaviours Behaviours::parse(const std::map<std::string, std::string>& vars,
                             const std::string& prefix) {
  Behaviours b;
  for (const auto& [full, value] : vars) {
    if (full.compare(0, prefix.size(), prefix) != 0) continue;
    std::string key = full.substr(prefix.size());
    if (key == "DEPEND_ON") {
      std::stringstream items(value);
      for (std::string item; std::getline(items, item, ',');) {
        if (!item.empty()) b.depend_on.insert(queue(full, item));
      }
    } else if (key == "EXIT") {
      auto [code, after] = split(full, value, ':', "<code>:<after-ms>");
      b.exit = Exit{number(full, code), number(full, after)};
    } else if (key == "IGNORE_EXIT") {
      b.ignore_exit = flag(full, value);
    } else if (key == "INIT_DELAY_MS") {
      b.init_delay_ms = number(full, value);
    } else if (key == "SEND") {
      auto [q, count] = split(full, value, ':', "<queue>:<count>");
      b.send = Send{queue(full, q), number(full, count)};
    } else if (key == "GARBAGE") {
      b.garbage = flag(full, value);
    } else if (key == "SECOND_INIT_OK") {
      b.second_init_ok = flag(full, value);
    } else if (key == "STDERR") {
      b.stderr_text = value;
    } else if (key == "STORE_VAR") {
      b.store_var = split(full, value, '=', "<name>=<value>");
    } else if (key == "REQUEST_SPAWN") {
      b.request_spawn = queue(full, value);
    } else if (key == "ENTROPY") {
      b.entropy = number(full, value);
    } else if (key == "TRACE") {
      b.trace = flag(full, value);
    } else if (key == "PING") {
      b.ping_ms = number(full, value);
    } else if (key == "LINGER_MS") {
      b.linger_ms = number(full, value);
    }
  }
  return b;
}

Behaviours Behaviours::fromEnvironment(const std::string& upper_sname) {
  std::string prefix = variablePrefix(upper_sname);
  std::map<std::string, std::string> vars;
  for (char** e = environ; *e != nullptr; ++e) {
    std::string entry(*e);
    size_t eq = entry.find('=');
    if (eq != std::string::npos && entry.compare(0, prefix.size(), prefix) == 0) {
      vars[entry.substr(0, eq)] = entry.substr(eq + 1);
    }
  }
  return parse(vars, prefix);
}

std::string helpText() {
  return R"(Usage: vexlan-<name> [--help]
       vexlan-worker --make-links <directory>

The reference worker of the vexlan server. One program installed under every program name of
the worker table (vexlan-dbms, vexlan-scheduler, ...): it serves the queue of the name it was
started under; a name the table does not know runs as the extra process (queue 24, "extr").
The supervisor starts it; it attaches to the pool named by smem::mapfile, smem::mapsize and
smem::fifoprefix in its environment.

At start it requests the server configuration and the server variables, then sends INIT_OK.
It answers SYS_EXIT by leaving in order (exit code 0), answers metric queries (uptime,
events read in all and per event type, requests of the supervisor it served, requests it sent
and their round-trip times) and applies SET_LOG_LEVEL to its loggers ("default", "events").

Test behaviours, from the environment (<SNAME>: the short name in upper case, e.g. DBMS, EXTR):
  VXW_<SNAME>_DEPEND_ON=<sname>,...    queues named in INIT_OK's depend_on
  VXW_<SNAME>_EXIT=<code>:<after-ms>   end on its own after-ms after attaching: code 0 leaves
                                       in order, any other code ends at once with that code
  VXW_<SNAME>_IGNORE_EXIT=1            log SYS_EXIT and keep running
  VXW_<SNAME>_INIT_DELAY_MS=<ms>       send INIT_OK that much later
  VXW_<SNAME>_SEND=<queue>:<count>     after INIT_OK, send count REQUEST_RESULT events to the
                                       queue (short name or number); a refusal is logged
  VXW_<SNAME>_GARBAGE=1                after INIT_OK, write a message that is not an event to
                                       the supervisor
  VXW_<SNAME>_SECOND_INIT_OK=1         send INIT_OK twice
  VXW_<SNAME>_STDERR=<text>            write text to standard error at start
  VXW_<SNAME>_STORE_VAR=<name>=<value> store a server variable after INIT_OK
  VXW_<SNAME>_REQUEST_SPAWN=<queue>    send REQUEST_SPAWN_PROCESS for the queue after INIT_OK
  VXW_<SNAME>_ENTROPY=<bytes>          ask for that many bytes of pure entropy after INIT_OK,
                                       without waiting for the answer
  VXW_<SNAME>_TRACE=1                  log every event read and each step through the
                                       supervisor (SYSTEM_LOG_REQUEST)
  VXW_<SNAME>_PING=<interval-ms>       after INIT_OK, ask the supervisor for random bytes every
                                       interval and log "ping answered in <us> us" through it
  VXW_<SNAME>_LINGER_MS=<ms>           once the leave is done, wait that long before exiting

Exit codes: 0 orderly end; the EXIT code; 1 error (a bad variable, an exception);
2 the supervisor went away.

--make-links <directory> creates in <directory> a symbolic link to vexlan-worker for every
program name of the worker table (the build does this in its bin directory).
)";
}

}  // namespace reference
