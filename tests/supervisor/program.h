// Runs a program of this build as a child with its output captured and every wait bounded in
// time; finds the background daemons it leaves by a tag in their environment.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace vxtest {

using namespace std::chrono_literals;

// How long a wait for something a program should do may take before the test fails. A wait
// ends as soon as the thing happens, so only a failing test pays for a generous bound, and a
// loaded machine running the suite under the sanitizers needs one.
inline constexpr std::chrono::milliseconds kWaitLimit = 30s;

struct Outcome {
  int status = -1;  // exit status, or -1 when ended by a signal
  int signal = 0;
  std::string out;
  std::string err;
};

// Started in our environment without the variables that choose vexland's run mode, plus `env`.
class Program {
 public:
  Program(const std::string& path, const std::vector<std::string>& args,
          const std::map<std::string, std::string>& env = {}, const std::string& cwd = "");
  ~Program();  // kills a child still running
  pid_t pid() const { return pid_; }
  // True once standard error holds `text`; false when the time ran out first.
  bool waitForErr(const std::string& text, std::chrono::milliseconds limit = kWaitLimit);
  // Reaps the child; one still running after `limit` fails the test and is killed.
  Outcome wait(std::chrono::milliseconds limit = 2 * kWaitLimit);

 private:
  TempDir output_;
  pid_t pid_ = -1;
};

Outcome run(const std::string& path, const std::vector<std::string>& args,
            const std::map<std::string, std::string>& env = {}, const std::string& cwd = "");

// Tags the daemons started with env() and kills those still running when it goes.
class DaemonTag {
 public:
  DaemonTag();
  ~DaemonTag();
  std::map<std::string, std::string> env(std::map<std::string, std::string> more = {}) const;
  std::vector<pid_t> running() const;
  bool waitGone(std::chrono::milliseconds limit = kWaitLimit) const;

 private:
  std::string entry_;
};

// A datagram socket standing in for the service manager's notification socket.
class NotifySocket {
 public:
  explicit NotifySocket(const std::string& path);
  ~NotifySocket();
  // The messages received, joined by "|", until one holds `text` or 10 s have passed.
  std::string until(const std::string& text);

 private:
  int fd_;
};

}  // namespace vxtest
