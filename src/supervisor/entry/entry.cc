#include "supervisor/entry/entry.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include "error/exception.h"
#include "log/log_file.h"
#include "log/server_log.h"
#include "supervisor/entry/background.h"
#include "supervisor/entry/run_signals.h"
#include "supervisor/entry/service.h"
#include "supervisor/entry/shutdown_client.h"
#include "util/rate_limit.h"

namespace entry {

namespace {

// What this process knows about its run; one thread (the supervisor's) uses it.
struct RunState {
  CommandLine command_line;
  RunMode mode = RunMode::None;
  bool spawned_ok = false;
  bool failed_initializing = false;
  bool emergency = false;
  bool stopping = false;
  UniqueFd started;   // the background daemon's notice to its launcher
  UniqueFd pid_lock;  // the background daemon's locked pid file, held for the process's life
  std::optional<unsigned> event_number;
  util::RateLimit rotations{kMinRotationInterval};
  std::unique_ptr<io::Signal> rotation;
};

RunState& state() {
  static RunState s;
  return s;
}

const char* lookup(char** envp, const char* name) {
  if (envp == nullptr) return ::getenv(name);
  size_t len = std::strlen(name);
  for (char** e = envp; *e != nullptr; ++e) {
    if (std::strncmp(*e, name, len) == 0 && (*e)[len] == '=') return *e + len + 1;
  }
  return nullptr;
}

// A failure the main function returns counts as well as one it reported.
int exitStatus(int main_result) {
  const RunState& s = state();
  if (main_result != 0) return main_result;
  return s.spawned_ok && !s.failed_initializing && !s.emergency ? 0 : 1;
}

// Runs the main function with `shutdown` as its shutdown signal and the run's signal handlers
// in place.
int runMain(int argc, char** argv, MainFunction& main_fn, io::Signal& shutdown) {
  RunSignals signals(shutdown, logRotationSignal());
  int result = main_fn(argc, argv, shutdown);
  notifyShuttingDown();
  return exitStatus(result);
}

int runStart(int argc, char** argv, char** envp, MainFunction& main_fn) {
  RunState& s = state();
  if (const char* value = lookup(envp, kBackgroundVariable)) {
    Background bg = adoptBackground(value);
    // Workers must not take the variable for their own: it names our descriptors.
    ::unsetenv(kBackgroundVariable);
    ::setsid();
    s.mode = RunMode::Background;
    s.started = std::move(bg.started);
    s.pid_lock = std::move(bg.pid_lock);
    s.event_number = bg.number;
    s.rotation = std::move(bg.rotation);
    return runMain(argc, argv, main_fn, *bg.shutdown);
  }
  if (!s.command_line.daemon) {
    s.mode = RunMode::Foreground;
    io::Signal shutdown;
    return runMain(argc, argv, main_fn, shutdown);
  }
  if (!s.command_line.pid_file || s.command_line.pid_file->empty()) {
    startService(lookup(envp, "NOTIFY_SOCKET"));
    s.mode = RunMode::Service;
    io::Signal shutdown;
    return runMain(argc, argv, main_fn, shutdown);
  }
  return runLauncher(*s.command_line.pid_file, argv);
}

}  // namespace

int runVexland(int argc, char** argv, char** envp, MainFunction main_fn) {
  try {
    std::optional<CommandLine> cl = parseCommandLine(argc, argv);
    if (!cl) {
      std::fputs(usageText().c_str(), stderr);
      return 0;
    }
    RunState& s = state();
    s.command_line = *cl;
    if (!cl->daemon) std::fputs(bannerText().c_str(), stderr);

    // A rotation request without a pid file names no daemon: the run goes on as without it.
    if (cl->shutdown_request || (cl->rotate_request && cl->pid_file)) {
      const std::string pid_file = cl->pid_file.value_or("");
      try {
        return cl->shutdown_request ? runShutdownClient(pid_file) : runRotationClient(pid_file);
      } catch (const error::Exception& e) {
        std::fprintf(
            stderr, "%s%s\n",
            cl->shutdown_request ? "Error stopping Vexlan: " : "Error requesting a log rotation: ",
            e.what());
        return 1;
      }
    }
    int status = 1;
    try {
      status = runStart(argc, argv, envp, main_fn);
    } catch (const error::Exception& e) {
      // A background daemon's standard error is /dev/null once it is up.
      if (s.mode == RunMode::Background) logging::report_event(e.what());
      std::fprintf(stderr, "Error starting Vexlan: %s\n", e.what());
    }
    s.mode = RunMode::None;
    // A main function that ended by an exception leaves the server log open; the log must
    // be closed before the process's static objects go.
    if (logging::server_log().isOpen()) logging::server_log().close();
    return status;
  } catch (const error::Exception& e) {
    std::fprintf(stderr, "Unexpected exit: %s\n", e.what());
    return 1;
  }
}

RunMode runMode() {
  return state().mode;
}

bool daemonMode() {
  return state().command_line.daemon;
}

std::optional<unsigned> eventNumber() {
  return state().event_number;
}

const CommandLine& commandLine() {
  return state().command_line;
}

void notifySpawnedOK() {
  RunState& s = state();
  if (s.spawned_ok) return;
  s.spawned_ok = true;
  switch (s.mode) {
    case RunMode::Foreground:
      std::fputs("Vexlan: Spawned OK.\n", stderr);
      break;
    case RunMode::Background:
      signalStarted(s.started);
      break;
    case RunMode::Service:
      serviceNotify("READY=1\nSTATUS=All workers up and running");
      break;
    case RunMode::None:
      break;
  }
}

void notifyFailedInitializing() {
  RunState& s = state();
  s.failed_initializing = true;
  if (s.mode == RunMode::Foreground) std::fputs("Vexlan: Failed initializing.\n", stderr);
  if (s.mode == RunMode::Service) serviceNotify("STATUS=Vexlan: Failed initializing.");
}

void notifyEmergencyShutdown() {
  RunState& s = state();
  s.emergency = true;
  if (s.mode == RunMode::Service) serviceNotify("STATUS=Emergency shutdown");
}

void notifyShuttingDown() {
  RunState& s = state();
  if (s.stopping) return;
  s.stopping = true;
  if (s.mode == RunMode::Service) serviceNotify("STOPPING=1\nSTATUS=Shutting down");
}

void serviceStatus(const std::string& text) {
  if (state().mode == RunMode::Service) serviceNotify(statusAssignment(text));
}

void reportFatal(const std::string& text) {
  if (daemonMode()) logging::report_event(text);
  std::fprintf(stderr, "Vexlan fatal error: %s\n", text.c_str());
  if (logging::server_log().isOpen()) logging::server_log().write("Fatal error: " + text);
  serviceStatus("Fatal error: " + text);
}

io::Signal& logRotationSignal() {
  RunState& s = state();
  if (!s.rotation) s.rotation = std::make_unique<io::Signal>("log rotation");
  return *s.rotation;
}

Rotation serveLogRotation() {
  if (!logRotationSignal().take()) return Rotation::None;
  if (!state().rotations.allow()) return Rotation::TooSoon;
  logging::LogFile::rotate_all();
  return Rotation::Rotated;
}

}  // namespace entry
