// The supervisor's main function: reads what the server needs before any worker exists, runs
// the server, and takes it down in a fixed order.
#include "supervisor/supervisor_main.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>

#include "config/server_config.h"
#include "config/sqlite_registry.h"
#include "config/variable_store.h"
#include "error/exception.h"
#include "log/server_log.h"
#include "supervisor/entry/entry.h"
#include "supervisor/main_process.h"
#include "supervisor/slog.h"

namespace {

struct Setup {
  control::Server_Configuration_Fields cfg;
  config::SupervisorSettings settings;
  std::unique_ptr<config::SqliteRegistry> user;
  std::unique_ptr<config::SqliteRegistry> machine;
  std::unique_ptr<config::VariableStore> vars;
  supervisor::GridRole role = supervisor::GridRole::None;
  std::vector<supervisor::WorkerEntry> startup;
  std::string status_path;
};

// Everything that may fail before a worker exists; any failure ends the run having started
// nothing. The server log is opened as soon as its directory is known, so that every later
// failure of the start (a bad grid role or extra process) is in it too.
void initialise(Setup& s) {
  config::load_server_config(entry::commandLine().config_file, s.cfg, &s.settings);
  if (s.cfg.host_name.empty()) {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0) {
      throw error::syserror(
          "Cannot get my hostname. You can use the host_name in the Vexlan configuration to set "
          "one.");
    }
    s.cfg.host_name = name;
  }
  s.user = config::SqliteRegistry::forRoot(config::RegistryRoot::User);
  s.machine = config::SqliteRegistry::forRoot(config::RegistryRoot::Machine);
  s.vars = std::make_unique<config::VariableStore>(*s.user, *s.machine);
  s.vars->load();
  // The runtime directory is checked here, before anything runs: one that somebody else
  // prepared ends the start.
  s.status_path = supervisor::statusFilePath();
  // A server started by hand from a fresh tree has no log directory yet. A failure here shows
  // up as the log's own "Cannot open log file" error, which ends the start.
  std::error_code ignored;
  std::filesystem::create_directories(s.cfg.system_log_dir_path, ignored);
  logging::open_server_log(s.cfg.system_log_dir_path);
  s.role = supervisor::parseGridRole(std::getenv("VX_GRID_ROLE"));
  s.startup = supervisor::startupEntries(s.cfg, s.role, std::getenv("VX_EXTRA_PROCESS"));
}

}  // namespace

int supervisorMain(int /*argc*/, char** /*argv*/, io::Signal& shutdown) {
  using supervisor::slog;
  Setup s;
  try {
    initialise(s);
  } catch (const error::Exception& e) {
    entry::reportFatal(e.what());
    entry::notifyFailedInitializing();
    return 1;
  }
  slog(std::string("Grid role: ") + supervisor::gridRoleName(s.role));

  bool orderly = false;
  std::string final_state = "failed";
  {
    supervisor::MainProcess mp(shutdown, s.cfg, *s.vars, s.status_path,
                               TimeValue(static_cast<int32_t>(s.settings.worker_stall_limit), 0));
    try {
      mp.start(s.startup);
      mp.run();
      mp.saveState();
      slog("Vexlan shutdown complete");
      orderly = true;
      final_state = "stopped";
    } catch (const supervisor::EmergencyShutdown&) {
      mp.killAll();
      final_state = mp.allUp() ? "emergency" : "failed";
    } catch (const std::exception& e) {
      // Not a worker's fault that a handler could name: the run ends, and with it every
      // worker (the MainProcess takes them down).
      slog(std::string("Fatal: ") + e.what());
      entry::reportFatal(e.what());
      final_state = mp.allUp() ? "emergency" : "failed";
    }
    if (!orderly && mp.allUp()) entry::notifyEmergencyShutdown();
    mp.killAll();
    mp.finalStatus(final_state);
    if (orderly) logging::server_log().close();
  }
  return orderly ? 0 : 1;
}
