#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>

#include <atomic>
#include <cstdio>
#include <thread>

#include "supervisor/entry/named_event.h"
#include "supervisor/entry/shutdown_client.h"
#include "support/test_support.h"

namespace entry {
namespace {

using namespace std::chrono_literals;
using ::testing::MatchesRegex;

std::string text(std::FILE* f) {
  std::string s;
  std::rewind(f);
  for (int c; (c = std::fgetc(f)) != EOF;)
    s += static_cast<char>(c);
  std::fclose(f);
  return s;
}

// A daemon's events and its pid file; a thread lets the shutdown event go after `requests`
// requests (never when 0).
class FakeDaemon {
 public:
  FakeDaemon(const std::string& pid_file, int requests)
      : events_(bindFirstFree({kShutdownEventPrefix, kRotationEventPrefix}, number_)) {
    vxtest::writeFile(pid_file, kShutdownEventPrefix + std::to_string(number_));
    holder_ = std::thread([this, requests] {
      pollfd pfd = {events_[0].get(), POLLIN, 0};
      char byte;
      for (int seen = 0; !stop_ && (requests == 0 || seen < requests);) {
        if (::poll(&pfd, 1, 5) > 0 && ::recv(pfd.fd, &byte, 1, 0) == 1) ++seen;
      }
      events_[0].reset();
    });
  }
  ~FakeDaemon() {
    stop_ = true;
    holder_.join();
  }

 private:
  unsigned number_ = 0;
  std::vector<UniqueFd> events_;
  std::atomic<bool> stop_{false};
  std::thread holder_;
};

TEST(ShutdownClient, RepeatsUntilTheDaemonHasGoneOrTheLimit) {
  vxtest::TempDir dir;
  std::string pid_file = dir.file("vexlan.pid");
  {
    FakeDaemon daemon(pid_file, 3);  // the request and two repeats
    std::FILE *out = std::tmpfile(), *err = std::tmpfile();
    EXPECT_EQ(runShutdownClient(pid_file, {10ms, 5000ms}, out, err), 0);
    EXPECT_THAT(text(out), MatchesRegex("Waiting\\.\\.+ succeeded\n"));
    EXPECT_EQ(text(err), "");
  }
  FakeDaemon deaf(pid_file, 0);
  std::FILE *out = std::tmpfile(), *err = std::tmpfile();
  EXPECT_EQ(runShutdownClient(pid_file, {10ms, 60ms}, out, err), 1);
  EXPECT_THAT(text(out), MatchesRegex("Waiting\\.+ timeout\\. Shutdown failed\\.\n"));
  text(err);
}

TEST(ShutdownClient, PidFileWithoutAnEventName) {
  vxtest::TempDir dir;
  std::string pid_file = dir.file("vexlan.pid");
  std::pair<std::string, std::string> cases[] = {
      {"", "Cannot read an event name from the pid file\n"},
      {"12345\n", "Cannot open shutdown event designated in .pid file\n"},
      {"Vexlan.sht.0\n", "Cannot open shutdown event designated in .pid file\n"},
      {std::string(64, '1'), "Cannot open shutdown event designated in .pid file\n"},
  };
  for (const auto& [contents, message] : cases) {
    vxtest::writeFile(pid_file, contents);
    std::FILE *out = std::tmpfile(), *err = std::tmpfile();
    EXPECT_EQ(runShutdownClient(pid_file, {}, out, err), 1) << contents;
    EXPECT_EQ(text(err), message) << contents;
    EXPECT_EQ(text(out), "");
  }
}

}  // namespace
}  // namespace entry
