// vexland, the supervisor daemon.
#include "supervisor/entry/crash_handler.h"
#include "supervisor/entry/entry.h"
#include "supervisor/supervisor_main.h"

namespace {

// A static initialiser, so that a crash anywhere from here on leaves a report.
[[maybe_unused]] const bool crash_handler_installed =
    (entry::installCrashHandler(entry::crashNoticeToSyslog), true);

}  // namespace

int main(int argc, char** argv, char** envp) {
  return entry::runVexland(argc, argv, envp, supervisorMain);
}
