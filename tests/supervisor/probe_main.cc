// A supervisor main function for tests, linked with vexland's own main.cc (and so with its
// crash handler) into vexland_probe. VXPROBE_ACTION picks what it does:
//   up (default)   report up, rotate logs when asked, end when told to shut down
//   fail-init      report a fatal error and a failed start
//   exit-early     end without reporting anything
//   emergency      report up, then an emergency shutdown
//   throw          raise an error::Exception
//   spdlog         write a line through spdlog's default logger
//   segv, fpe, ill, pure-virtual   crash that way
// With VXPROBE_LOGDIR it keeps a server log in that directory.
#include <cxxabi.h>
#include <spdlog/spdlog.h>

#include <cstdlib>
#include <string>

#include "error/exception.h"
#include "io/selector.h"
#include "log/server_log.h"
#include "supervisor/entry/entry.h"
#include "supervisor/supervisor_main.h"

namespace {

// The crash itself must reach the crash handler, not a sanitizer's check before it.
[[noreturn]] __attribute__((no_sanitize("address", "undefined"))) void crash(
    const std::string& kind) {
  if (kind == "segv") *static_cast<volatile int*>(nullptr) = 1;
  if (kind == "fpe") {
    volatile int one = 1, zero = 0;
    volatile int x = one / zero;
    (void)x;
  }
  if (kind == "ill") __builtin_trap();
  // Where a call of a pure virtual function ends up (the compiler removes a real one as
  // undefined behaviour).
  if (kind == "pure-virtual") __cxxabiv1::__cxa_pure_virtual();
  std::abort();
}

int serve(io::Signal& shutdown) {
  io::Selector<bool> selector;
  selector.add(shutdown, true);
  selector.add(entry::logRotationSignal(), false);
  entry::notifySpawnedOK();
  for (;;) {
    if (selector.poll().second) {
      if (shutdown.take()) break;
      continue;
    }
    if (logging::server_log().isOpen()) logging::server_log().write("Rotation requested");
    entry::serveLogRotation();
  }
  entry::notifyShuttingDown();
  return 0;
}

}  // namespace

int supervisorMain(int, char**, io::Signal& shutdown) {
  const char* action_var = std::getenv("VXPROBE_ACTION");
  std::string action = action_var != nullptr ? action_var : "up";
  if (const char* dir = std::getenv("VXPROBE_LOGDIR")) logging::open_server_log(dir);
  int result = 0;
  if (action == "up") {
    result = serve(shutdown);
  } else if (action == "fail-init") {
    entry::reportFatal("probe cannot start");
    entry::notifyFailedInitializing();
  } else if (action == "emergency") {
    entry::notifySpawnedOK();
    entry::notifyEmergencyShutdown();
  } else if (action == "throw") {
    throw error::Exception("probe failure");
  } else if (action == "spdlog") {
    spdlog::warn("probe speaks through spdlog");
  } else if (action != "exit-early") {
    crash(action);
  }
  return result;
}
