// The front door of vexland: parses the command line, chooses the run mode, hands the
// supervisor's main function its shutdown signal, and turns what the supervisor reports about
// its start and end into the exit status, the service manager's state and the "started"
// notice a background launcher waits for.
//
// Run modes, chosen in this order:
//   -w:shutdown                a client of the background daemon named by the pid file (-p)
//   -w:sigusr1 with -p         the same, asking it to rotate its logs (without -p the
//                              request is ignored and one of the modes below runs)
//   VX_RUN_IN_BACKGROUND set   the background daemon itself, started by its launcher
//   -v                         foreground, with a banner; SIGINT and SIGTERM stop it
//   no -p                      a systemd Type=notify service
//   -p pid_file                the background launcher
//
// Exit status of a run: 0 when every worker came up and the run ended in an orderly shutdown;
// 1 when the start failed (notifyFailedInitializing, or no notifySpawnedOK at all) or the run
// ended in an emergency shutdown (notifyEmergencyShutdown). The main function's own result is
// not used.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include "io/signal.h"
#include "supervisor/entry/command_line.h"

namespace entry {

using MainFunction = std::function<int(int argc, char** argv, io::Signal& shutdown)>;

// Runs vexland with `main_fn` as the supervisor's main function and returns the exit status.
// `envp` is the environment the run mode is chosen from (the process's when null).
int runVexland(int argc, char** argv, char** envp, MainFunction main_fn);

enum class RunMode {
  None,        // not running the supervisor (before the start, or a client)
  Foreground,  // -v
  Background,  // the background daemon
  Service,     // under the service manager
};
RunMode runMode();
// Every mode but the foreground reports fatal errors to the system log as well.
bool daemonMode();
// The background daemon's event number N ("Vexlan.sht.N"); none in the other modes.
std::optional<unsigned> eventNumber();
// The parsed command line (for -f); all defaults before runVexland has parsed it.
const CommandLine& commandLine();

// All start-up workers are up. Foreground: "Vexlan: Spawned OK." on standard error.
// Background: the launcher learns that the start succeeded and ends with 0; standard input,
// output and error go to /dev/null from here on. Service: READY=1. Only the first call acts.
void notifySpawnedOK();
// The run ends without all workers ever having come up. Foreground: "Vexlan: Failed
// initializing." on standard error. Service: an error status. The exit status becomes 1.
void notifyFailedInitializing();
// The run ends in an emergency shutdown (a worker failed): the exit status becomes 1, and
// under the service manager the restart policy sees a failure.
void notifyEmergencyShutdown();
// The orderly shutdown has begun. Service: STOPPING=1. Only the first call acts; the end of
// the main function implies it.
void notifyShuttingDown();
// Service: the STATUS= text the service manager shows (for example the workers a shutdown
// still waits for). Nothing in other modes.
void serviceStatus(const std::string& text);

// The fatal-error report: in daemon modes first to the system log, always "Vexlan fatal
// error: " + text on standard error, and "Fatal error: " + text in the server log when it is
// open. Under the service manager the text also becomes the status.
void reportFatal(const std::string& text);

// Set when somebody asks for the logs to be rotated now: SIGUSR1, or -w:sigusr1 against a
// background daemon. The main loop watches it and calls serveLogRotation when it is ready.
io::Signal& logRotationSignal();
// What serveLogRotation did.
enum class Rotation {
  None,     // nothing that counts had set the signal (only others' datagrams, if anything)
  Rotated,  // every open log was rotated
  TooSoon,  // a request came within a second of the last rotation and was dropped
};
// The least time between two rotations on request: each rotation drops the oldest of the
// rotated files, so requests in quick succession would throw the history away.
inline constexpr std::chrono::seconds kMinRotationInterval{1};
// Takes the rotation signal and, when a request counts, rotates every open log
// (logging::LogFile::rotate_all, whose errors it passes on), at most once per
// kMinRotationInterval.
Rotation serveLogRotation();

}  // namespace entry
