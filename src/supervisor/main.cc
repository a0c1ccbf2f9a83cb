// vexland, the supervisor daemon.
#include "log/server_log.h"
#include "supervisor/entry/crash_handler.h"
#include "supervisor/entry/entry.h"
#include "supervisor/supervisor_main.h"

namespace {

// A static initialiser, so that a crash anywhere from here on leaves a report.
[[maybe_unused]] const bool crash_handler_installed =
    (entry::installCrashHandler(entry::crashNoticeToSyslog), true);

}  // namespace

int main(int argc, char** argv, char** envp) {
  // Library code that logs through spdlog writes to standard error, never into the output of
  // the shutdown client.
  logging::init_default_logger();
  return entry::runVexland(argc, argv, envp, supervisorMain);
}
