#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <atomic>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <thread>

#include "supervisor/entry/named_event.h"
#include "supervisor/entry/pid_file.h"
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

// Holds the lock of a pid file as its daemon does.
UniqueFd holdPidFile(const std::string& pid_file) {
  UniqueFd fd(::open(pid_file.c_str(), O_WRONLY | O_CLOEXEC));
  EXPECT_TRUE(fd.valid() && lockPidFile(fd.get()));
  return fd;
}

// A daemon's events and its pid file (held unless `stale`); a thread lets the shutdown event
// go after `requests` requests (never when 0) and counts what it received.
class FakeDaemon {
 public:
  FakeDaemon(const std::string& pid_file, int requests, bool stale = false)
      : events_(bindFirstFree({kShutdownEventPrefix, kRotationEventPrefix}, number_)) {
    vxtest::writeFile(pid_file, kShutdownEventPrefix + std::to_string(number_));
    if (!stale) lock_ = holdPidFile(pid_file);
    holder_ = std::thread([this, requests] {
      pollfd pfd = {events_[0].get(), POLLIN, 0};
      char byte;
      while (!stop_ && (requests == 0 || seen_ < requests)) {
        if (::poll(&pfd, 1, 5) > 0 && ::recv(pfd.fd, &byte, 1, 0) == 1) ++seen_;
      }
      // Gone as a daemon goes: its socket and its lock on the pid file with it.
      events_[0].reset();
      lock_.reset();
    });
  }
  ~FakeDaemon() {
    stop_ = true;
    holder_.join();
  }
  int seen() const { return seen_; }

 private:
  unsigned number_ = 0;
  std::vector<UniqueFd> events_;
  UniqueFd lock_;
  std::atomic<bool> stop_{false};
  std::atomic<int> seen_{0};
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

TEST(ShutdownClient, RepeatsNeverReachADaemonThatTookTheNameSince) {
  // The daemon closes its event, and before its lock goes another daemon binds the same name:
  // the client's repeats must not stop that one.
  vxtest::TempDir dir;
  const std::string pid_file = dir.file("vexlan.pid");
  unsigned number = 0;
  std::vector<UniqueFd> events = bindFirstFree({kShutdownEventPrefix}, number);
  const std::string name = kShutdownEventPrefix + std::to_string(number);
  vxtest::writeFile(pid_file, name);
  UniqueFd lock = holdPidFile(pid_file);
  std::atomic<int> taken_over_seen{0};
  std::thread daemons([&] {
    pollfd pfd = {events[0].get(), POLLIN, 0};
    ASSERT_EQ(::poll(&pfd, 1, 5000), 1);
    events[0].reset();
    UniqueFd other(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    sockaddr_un addr = {};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path + 1, name.data(), name.size());
    ASSERT_EQ(::bind(other.get(), reinterpret_cast<sockaddr*>(&addr),
                     static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size())),
              0);
    pfd.fd = other.get();
    char byte;
    for (int i = 0; i < 20; ++i) {
      if (::poll(&pfd, 1, 5) > 0 && ::recv(other.get(), &byte, 1, 0) == 1) ++taken_over_seen;
    }
    lock.reset();  // the first daemon has gone
  });
  std::FILE *out = std::tmpfile(), *err = std::tmpfile();
  EXPECT_EQ(runShutdownClient(pid_file, {2ms, 5000ms}, out, err), 0);
  daemons.join();
  EXPECT_EQ(taken_over_seen, 0);
  EXPECT_THAT(text(out), MatchesRegex("Waiting\\.+ succeeded\n"));
  text(err);
}

TEST(ShutdownClient, PidFileWithoutAnEventName) {
  vxtest::TempDir dir;
  std::string pid_file = dir.file("vexlan.pid");
  std::pair<std::string, std::string> cases[] = {
      {"", "Cannot read an event name from the pid file\n"},
      {"12345\n", "Cannot open shutdown event designated in .pid file\n"},
      // A number no daemon reaches: a low one may belong to a daemon of a test running
      // meanwhile, which would be stopped by this request.
      {"Vexlan.sht.4294967295\n", "Cannot open shutdown event designated in .pid file\n"},
      {std::string(64, '1'), "Cannot open shutdown event designated in .pid file\n"},
  };
  for (const auto& [contents, message] : cases) {
    vxtest::writeFile(pid_file, contents);
    UniqueFd lock = holdPidFile(pid_file);
    std::FILE *out = std::tmpfile(), *err = std::tmpfile();
    EXPECT_EQ(runShutdownClient(pid_file, {}, out, err), 1) << contents;
    EXPECT_EQ(text(err), message) << contents;
    EXPECT_EQ(text(out), "");
  }
}

TEST(ShutdownClient, StalePidFileIsRefusedWithoutSendingAnything) {
  // The daemon that wrote it is gone (its lock with it); the event it names now belongs to
  // another daemon, which must not be stopped by it.
  vxtest::TempDir dir;
  std::string pid_file = dir.file("old.pid");
  FakeDaemon other(pid_file, 0, true);
  for (bool shutdown : {true, false}) {
    std::FILE *out = std::tmpfile(), *err = std::tmpfile();
    EXPECT_EQ(shutdown ? runShutdownClient(pid_file, {10ms, 1000ms}, out, err)
                       : runRotationClient(pid_file, out, err),
              1);
    EXPECT_EQ(text(err), "Vexlan is not running (stale pid file " + pid_file + ")\n");
    EXPECT_EQ(text(out), "");
  }
  // A lock anybody who can read the file could take (a read lock) does not count.
  UniqueFd reader(::open(pid_file.c_str(), O_RDONLY | O_CLOEXEC));
  struct flock rd = {};
  rd.l_type = F_RDLCK;
  ASSERT_EQ(::fcntl(reader.get(), F_OFD_SETLK, &rd), 0);
  std::FILE *out = std::tmpfile(), *err = std::tmpfile();
  EXPECT_EQ(runShutdownClient(pid_file, {10ms, 1000ms}, out, err), 1);
  EXPECT_EQ(text(err), "Vexlan is not running (stale pid file " + pid_file + ")\n");
  text(out);
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(other.seen(), 0);
}

}  // namespace
}  // namespace entry
