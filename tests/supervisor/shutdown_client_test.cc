#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>

#include <cstdio>
#include <thread>

#include "supervisor/entry/named_event.h"
#include "supervisor/entry/shutdown_client.h"
#include "support/test_support.h"

namespace entry {
namespace {

using namespace std::chrono_literals;
using ::testing::MatchesRegex;

// Captures what a client writes to one stream.
class Capture {
 public:
  Capture() : file_(std::tmpfile()) {}
  ~Capture() { std::fclose(file_); }
  std::FILE* file() { return file_; }
  std::string text() {
    std::fflush(file_);
    std::rewind(file_);
    std::string s;
    for (int c; (c = std::fgetc(file_)) != EOF;)
      s += static_cast<char>(c);
    return s;
  }

 private:
  std::FILE* file_;
};

// A daemon's two events, held by a thread that lets them go after `requests` shutdown
// requests (never when 0), and a pid file naming them.
class FakeDaemon {
 public:
  FakeDaemon(const vxtest::TempDir& dir, int requests)
      : events_(bindFirstFree({kShutdownEventPrefix, kRotationEventPrefix}, number_)),
        pid_file_(dir.file("vexlan.pid")) {
    vxtest::writeFile(pid_file_, kShutdownEventPrefix + std::to_string(number_));
    holder_ = std::thread([this, requests] {
      int seen = 0;
      pollfd pfd = {events_[0].get(), POLLIN, 0};
      while (!stop_ && (requests == 0 || seen < requests)) {
        char byte;
        if (::poll(&pfd, 1, 5) > 0 && ::recv(events_[0].get(), &byte, 1, 0) == 1) ++seen;
      }
      events_[0].reset();
    });
  }
  ~FakeDaemon() {
    stop_ = true;
    holder_.join();
  }
  const std::string& pidFile() const { return pid_file_; }
  int rotationSocket() const { return events_[1].get(); }

 private:
  unsigned number_ = 0;
  std::vector<UniqueFd> events_;
  std::string pid_file_;
  std::atomic<bool> stop_{false};
  std::thread holder_;
};

constexpr ShutdownTiming kFast{10ms, 5000ms};

TEST(ShutdownClient, WaitsWithDotsUntilTheDaemonHasGone) {
  vxtest::TempDir dir;
  FakeDaemon daemon(dir, 3);  // gone after the first request and two repeats
  Capture out, err;
  EXPECT_EQ(runShutdownClient(daemon.pidFile(), kFast, out.file(), err.file()), 0);
  EXPECT_THAT(out.text(), MatchesRegex("Waiting\\.\\.+ succeeded\n"));
  EXPECT_EQ(err.text(), "");
  EXPECT_EQ(vxtest::readFile(daemon.pidFile()).rfind(kShutdownEventPrefix, 0), 0u);
}

TEST(ShutdownClient, GivesUpAfterTheLimit) {
  vxtest::TempDir dir;
  FakeDaemon daemon(dir, 0);
  Capture out, err;
  EXPECT_EQ(runShutdownClient(daemon.pidFile(), {10ms, 60ms}, out.file(), err.file()), 1);
  EXPECT_THAT(out.text(), MatchesRegex("Waiting\\.+ timeout\\. Shutdown failed\\.\n"));
}

TEST(ShutdownClient, PidFilesThatNameNoRunningDaemon) {
  vxtest::TempDir dir;
  std::string missing = dir.file("missing.pid");
  std::string stale = kShutdownEventPrefix + std::to_string(unsigned(~0u));
  struct Case {
    const char* what;
    std::optional<std::string> contents;
    std::string message;
  } cases[] = {
      {"no file", std::nullopt,
       "Could not open pid file '" + missing + "': No such file or directory\n"},
      {"empty", "", "Cannot read an event name from the pid file\n"},
      {"gone", stale, "Cannot open shutdown event designated in .pid file\n"},
      {"not an event name", "12345\n", "Cannot open shutdown event designated in .pid file\n"},
      {"too long", std::string(64, '1'), "Cannot open shutdown event designated in .pid file\n"},
  };
  for (const Case& c : cases) {
    if (c.contents) vxtest::writeFile(missing, *c.contents);
    Capture out, err;
    EXPECT_EQ(runShutdownClient(missing, kFast, out.file(), err.file()), 1) << c.what;
    EXPECT_EQ(err.text(), c.message) << c.what;
    EXPECT_EQ(out.text(), "") << c.what;
  }
}

TEST(RotationClient, SetsTheRotationEventOfTheDaemon) {
  vxtest::TempDir dir;
  {
    FakeDaemon daemon(dir, 0);
    Capture out, err;
    EXPECT_EQ(runRotationClient(daemon.pidFile(), out.file(), err.file()), 0);
    EXPECT_EQ(out.text(), "Log rotation requested\n");
    char byte;
    EXPECT_EQ(::recv(daemon.rotationSocket(), &byte, 1, MSG_DONTWAIT), 1);
  }
  Capture out, err;
  EXPECT_EQ(runRotationClient(dir.file("vexlan.pid"), out.file(), err.file()), 1);
  EXPECT_EQ(err.text(), "Cannot open log rotation event designated in .pid file\n");
}

}  // namespace
}  // namespace entry
