// A server of this build run for a test: vexland in the foreground with the reference workers,
// in a state folder, registry and runtime directory of its own, every wait bounded in time.
#pragma once

#include <signal.h>

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "supervisor/program.h"

namespace vxtest {

class Server {
 public:
  // `config` lines are added to a minimal configuration (passive unless it says otherwise).
  explicit Server(const std::string& config = "");
  ~Server();

  const std::string& dir() const { return dir_.path(); }
  std::string configFile() const { return dir_.file("vexlan.conf"); }
  // What every run gets: the state folder's registry and runtime directory, the tag that
  // finds its processes. (The configuration sets a stall limit of 1 s.)
  std::map<std::string, std::string> env(std::map<std::string, std::string> more = {}) const;

  // vexland -v -f <config>, with `env` added to env().
  void start(const std::map<std::string, std::string>& env = {});
  Program& program() { return *program_; }
  bool waitErr(const std::string& text, std::chrono::milliseconds limit = kWaitLimit);
  // Waits for the server to report itself up; a stop before that is a failed start (exit 1).
  bool waitUp() { return waitErr("Vexlan: Spawned OK.\n"); }
  // The server log, and waits for a text in it.
  std::string log() const;
  bool waitLog(const std::string& text, std::chrono::milliseconds limit = kWaitLimit) const;
  size_t countLog(const std::string& text) const;
  // The status file of the last foreground daemon started, in its runtime directory.
  std::string statusPath() const;
  std::string status() const { return readFile(statusPath()); }
  // Signals vexland and waits for its end.
  Outcome stop(int sig = SIGINT);
  Outcome wait();
  // True once neither vexland nor any process it started is left (zombies included, since
  // their parent reaps them before it ends).
  bool allGone(std::chrono::milliseconds limit = kWaitLimit) const { return tag_.waitGone(limit); }
  std::vector<pid_t> running() const { return tag_.running(); }
  // The background daemon among them: the leader of its own session, or -1 (check before
  // passing it to kill()).
  pid_t daemon() const;
  // The pid the log gives for a worker program ("Spawned <exe> with pid N"), or -1.
  pid_t workerPid(const std::string& exe) const;

 private:
  TempDir dir_;
  DaemonTag tag_;
  std::unique_ptr<Program> program_;
  pid_t pid_ = -1;  // of the last start, kept after it has ended
};

// The test binary as the extra process (queue 24): a worker that runs the script named in
// VXPW_SCRIPT and writes what it learns, one line each, to VXPW_OUT, ending with "done".
std::map<std::string, std::string> probeWorker(const std::string& script,
                                               const std::string& out_file);

}  // namespace vxtest
