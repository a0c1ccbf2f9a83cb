// The vexland binary as built, with the stand-in supervisor main (which comes up at once and
// ends when told to shut down).
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <cstring>
#include <sstream>

#include "log/version.h"
#include "supervisor/program.h"
#include "support/test_support.h"

namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;
using ::testing::MatchesRegex;
using vxtest::Outcome;
using vxtest::Program;

const std::string kVexland = VX_VEXLAND;

TEST(Vexland, UnknownArgumentAnywherePrintsTheUsageAndSucceeds) {
  for (auto args : std::vector<std::vector<std::string>>{{"--help"}, {"-v", "-p", "x", "-q"}}) {
    Outcome o = vxtest::run(kVexland, args);
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.err,
              "Usage: \n"
              " vexland [-v] [-w:{shutdown|sigusr1}] [-p pid_file] [-f cfg_file]\n"
              " -v           run in foreground\n"
              " -w:shutdown  shut down running Vexlan\n"
              " -w:sigusr1   send SIGUSR1 to running Vexlan (log rotate)\n"
              " -p pid_file  write PID to given file\n"
              " -f cfg_file  read configuration from given file\n"
              "\n");
    EXPECT_EQ(o.out, "");
  }
}

TEST(Vexland, ForegroundShowsTheBannerAndStopsOnSigintOrSigterm) {
  const std::string rule(49, '-');
  for (int sig : {SIGINT, SIGTERM}) {
    Program p(kVexland, {"-v", "-f", "unused.conf"});
    ASSERT_TRUE(p.waitForErr("Vexlan: Spawned OK.\n"));
    p.signal(sig);
    Outcome o = p.wait();
    EXPECT_EQ(o.status, 0);
    std::vector<std::string> lines;
    std::istringstream in(o.err);
    for (std::string line; std::getline(in, line);)
      lines.push_back(line);
    ASSERT_EQ(lines.size(), 7u) << o.err;
    EXPECT_EQ(lines[0], rule);
    EXPECT_EQ(lines[1], logging::kVersionBanner);
    EXPECT_NE(lines[2], "");  // the maker
    EXPECT_EQ(lines[3], rule);
    EXPECT_NE(lines[4], "");  // the web site
    EXPECT_EQ(lines[5], rule);
    EXPECT_EQ(lines[6], "Vexlan: Spawned OK.");
  }
}

TEST(Vexland, ShutdownClientWithoutADaemon) {
  vxtest::TempDir dir;
  Outcome no_p = vxtest::run(kVexland, {"-w:shutdown"});
  EXPECT_EQ(no_p.status, 1);
  EXPECT_EQ(no_p.err, "Could not open pid file '': No such file or directory\n");

  // -v with a client: the banner first, then the client.
  std::string pid_file = dir.file("gone.pid");
  vxtest::writeFile(pid_file, "Vexlan.sht.4294967295");
  Outcome gone = vxtest::run(kVexland, {"-v", "-w:shutdown", "-p", pid_file});
  EXPECT_EQ(gone.status, 1);
  EXPECT_THAT(gone.err, HasSubstr("-\nCannot open shutdown event designated in .pid file\n"));
  EXPECT_EQ(gone.out, "");
}

TEST(Vexland, BackgroundDaemonStopsOnRequestAndKeepsItsPidFile) {
  vxtest::TempDir dir;
  vxtest::DaemonTag tag;
  std::string pid_file = dir.file("vexlan.pid");
  Outcome start = vxtest::run(kVexland, {"-p", pid_file}, tag.env());
  ASSERT_EQ(start.status, 0) << start.err;
  EXPECT_EQ(start.err, "");
  std::string name = vxtest::readFile(pid_file);
  EXPECT_THAT(name, MatchesRegex("Vexlan\\.sht\\.[0-9]+"));  // no line end
  std::vector<pid_t> daemons = tag.running();
  ASSERT_EQ(daemons.size(), 1u);
  EXPECT_EQ(::getsid(daemons[0]), daemons[0]);  // a session of its own

  Outcome stop = vxtest::run(kVexland, {"-w:shutdown", "-p", pid_file});
  EXPECT_EQ(stop.status, 0) << stop.err;
  EXPECT_THAT(stop.out, MatchesRegex("Waiting\\.* succeeded\n"));
  EXPECT_TRUE(tag.waitGone(1s));
  EXPECT_EQ(vxtest::readFile(pid_file), name);
}

TEST(Vexland, EachDaemonTakesTheNextFreeEventAndAPidFileOnlyOnce) {
  vxtest::TempDir dir;
  vxtest::DaemonTag tag;
  std::string first = dir.file("first.pid"), second = dir.file("second.pid");
  ASSERT_EQ(vxtest::run(kVexland, {"-p", first}, tag.env()).status, 0);
  ASSERT_EQ(vxtest::run(kVexland, {"-p", second}, tag.env()).status, 0);
  EXPECT_NE(vxtest::readFile(first), vxtest::readFile(second));
  EXPECT_EQ(tag.running().size(), 2u);

  Outcome again = vxtest::run(kVexland, {"-p", first}, tag.env());
  EXPECT_EQ(again.status, 1);
  EXPECT_EQ(again.err, "Could not create pid file '" + first + "': File exists\n");
  EXPECT_EQ(tag.running().size(), 2u);
}

// A datagram socket standing in for the service manager's notification socket.
class NotifySocket {
 public:
  explicit NotifySocket(const std::string& path) : path_(path) {
    fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr = {};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    EXPECT_EQ(::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  }
  ~NotifySocket() { ::close(fd_); }
  // Messages until one holds `text` (all of them, joined by "|"), or all that came in time.
  std::string until(const std::string& text) {
    std::string all;
    pollfd pfd = {fd_, POLLIN, 0};
    while (all.find(text) == std::string::npos && ::poll(&pfd, 1, 10000) > 0) {
      char buf[512];
      ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
      if (n > 0) all += std::string(buf, static_cast<size_t>(n)) + "|";
    }
    return all;
  }

 private:
  std::string path_;
  int fd_;
};

TEST(Vexland, ServiceModeTellsTheServiceManagerReadyAndStopping) {
  vxtest::TempDir dir;
  NotifySocket manager(dir.file("notify"));
  Program p(kVexland, {"-f", "unused.conf"}, {{"NOTIFY_SOCKET", dir.file("notify")}});
  EXPECT_THAT(manager.until("READY=1"), HasSubstr("READY=1\nSTATUS="));
  p.signal(SIGTERM);
  EXPECT_THAT(manager.until("STOPPING=1"), HasSubstr("STOPPING=1"));
  Outcome o = p.wait();
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.err, "");
}

TEST(Vexland, ServiceModeOutsideTheServiceManagerFails) {
  Outcome o = vxtest::run(kVexland, {"-p"});  // a last -p is ignored: service mode
  EXPECT_EQ(o.status, 1);
  EXPECT_THAT(o.err, MatchesRegex("Error starting Vexlan: Unable to start service: [^\n]+\n"));
}

}  // namespace
