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
#include "io/runtime_dir.h"
#include "log/server_log.h"
#include "meter/registry.h"
#include "supervisor/entry/entry.h"
#include "supervisor/main_process.h"
#include "supervisor/run_as_user.h"
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
  std::string admin_path;
  std::optional<supervisor::TargetUser> run_as;
};

// The files root made for a daemon that runs as another user go to that user, then root goes.
void changeUser(const Setup& s, const std::string& runtime_dir, bool created_log_dir) {
  const supervisor::TargetUser& u = *s.run_as;
  if (created_log_dir) supervisor::handOver(s.cfg.system_log_dir_path, u);
  supervisor::handOver(logging::server_log().path(), u);
  for (const config::SqliteRegistry* r : {s.user.get(), s.machine.get()}) {
    for (const char* suffix : {"", "-wal", "-shm"})
      supervisor::handOver(r->file() + suffix, u);
  }
  if (const auto& pid_file = entry::commandLine().pid_file; pid_file && !pid_file->empty()) {
    supervisor::handOver(*pid_file, u);
  }
  supervisor::becomeUser(u);
  // The runtime directory is found again by the same rules from here on, by a process that
  // is no longer root: name it outright.
  ::setenv("RUNTIME_DIRECTORY", runtime_dir.c_str(), 1);
}

// Everything that may fail before a worker exists; any failure ends the run having started
// nothing. The server log is opened as soon as its directory is known, so that every later
// failure of the start (a bad grid role or extra process) is in it too.
void initialise(Setup& s) {
  config::load_server_config(entry::commandLine().config_file, s.cfg, &s.settings);
  s.run_as = supervisor::userToRunAs(s.settings.run_as_user);
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
  const std::string runtime_dir =
      s.run_as ? io::runtimeDirectoryFor(s.run_as->uid, s.run_as->gid) : io::runtimeDirectory();
  s.status_path = supervisor::statusFilePath(runtime_dir);
  s.admin_path = runtime_dir + "/" +
                 supervisor::adminSocketName(
                     entry::eventNumber(), entry::runMode() == entry::RunMode::Service, ::getpid());
  // A server started by hand from a fresh tree has no log directory yet. A failure here shows
  // up as the log's own "Cannot open log file" error, which ends the start.
  std::error_code ignored;
  const bool created_log_dir =
      std::filesystem::create_directories(s.cfg.system_log_dir_path, ignored);
  logging::open_server_log(s.cfg.system_log_dir_path);
  s.role = supervisor::parseGridRole(std::getenv("VX_GRID_ROLE"));
  s.startup = supervisor::startupEntries(s.cfg, s.role, std::getenv("VX_EXTRA_PROCESS"));
  if (s.run_as) changeUser(s, runtime_dir, created_log_dir);
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
  if (s.run_as) {
    slog("Running as user " + s.run_as->name + " (uid " + std::to_string(s.run_as->uid) +
         "), keeping CAP_NET_RAW and CAP_NET_BIND_SERVICE for the workers");
  }
  meter::Registry::start();

  bool orderly = false;
  std::string final_state = "failed";
  {
    supervisor::MainProcess mp(shutdown, s.cfg, *s.vars, s.status_path,
                               TimeValue(static_cast<int32_t>(s.settings.worker_stall_limit), 0),
                               s.admin_path);
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
