// Runs a program of this build as a child process with its output captured, every wait bounded
// in time, and finds the background daemons it leaves behind by a tag in their environment.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace vxtest {

using namespace std::chrono_literals;

struct Outcome {
  int status = -1;  // exit status, or -1 when ended by a signal
  int signal = 0;   // the signal that ended it
  std::string out;
  std::string err;
};

// Environment changes for a child: a value sets the variable, nullopt removes it.
using EnvChanges = std::map<std::string, std::optional<std::string>>;

class Program {
 public:
  // Starts `path` with `args` in this process's environment without the variables that select
  // vexland's run modes, plus `env`, in directory `cwd` (ours when empty).
  Program(const std::string& path, const std::vector<std::string>& args, const EnvChanges& env = {},
          const std::string& cwd = "");
  ~Program();  // kills a child still running
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  pid_t pid() const { return pid_; }
  // Reads output until standard error holds `text`; false when the child closed its output or
  // the time ran out first.
  bool waitForErr(const std::string& text, std::chrono::milliseconds limit = 10s);
  void signal(int sig) const;
  // Reads the output to its end and reaps the child; a child still running after `limit` is
  // killed and the test fails.
  Outcome wait(std::chrono::milliseconds limit = 20s);
  const std::string& err() const { return outcome_.err; }

 private:
  bool pump(std::chrono::steady_clock::time_point until);

  pid_t pid_ = -1;
  int out_fd_ = -1;
  int err_fd_ = -1;
  Outcome outcome_;
};

// Runs to the end.
Outcome run(const std::string& path, const std::vector<std::string>& args,
            const EnvChanges& env = {}, const std::string& cwd = "");

// Processes whose environment holds name=value (the background daemons a test started with a
// tag of its own).
std::vector<pid_t> processesWith(const std::string& name, const std::string& value);

// Tags every daemon started in its lifetime and kills those still running when it goes.
class DaemonTag {
 public:
  DaemonTag();
  ~DaemonTag();
  EnvChanges env() const { return {{"VXTEST_DAEMON_TAG", value_}}; }
  std::vector<pid_t> running() const { return processesWith("VXTEST_DAEMON_TAG", value_); }
  // Waits until no tagged process runs; false when some still does after `limit`.
  bool waitGone(std::chrono::milliseconds limit = 10s) const;

 private:
  std::string value_;
};

}  // namespace vxtest
