// The vexland binary as built, in each of its run modes, with the reference workers.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <thread>

#include "log/version.h"
#include "supervisor/entry/named_event.h"
#include "supervisor/program.h"
#include "supervisor/server_harness.h"

namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;
using ::testing::MatchesRegex;
using ::testing::Not;
using vxtest::Outcome;

const std::string kVexland = VX_VEXLAND;

// Starts a background daemon for `server`; a failed start shows its error output and log.
void startBackground(const std::string& pid_file, const vxtest::Server& server) {
  Outcome o = vxtest::run(kVexland, {"-p", pid_file, "-f", server.configFile()}, server.env());
  ASSERT_EQ(o.status, 0) << o.err << server.log();
}

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
  }
}

// Both stop signals end a foreground run with status 0 in server_test.cc; here the banner.
TEST(Vexland, ForegroundShowsTheBannerThenSpawnedOk) {
  const std::string rule(49, '-');
  vxtest::Server server;
  server.start();
  ASSERT_TRUE(server.waitErr("Vexlan: Spawned OK.\n"));
  Outcome o = server.stop(SIGTERM);
  EXPECT_EQ(o.status, 0);
  std::vector<std::string> lines;
  std::istringstream in(o.err);
  for (std::string line; std::getline(in, line);)
    lines.push_back(line);
  ASSERT_EQ(lines.size(), 7u) << o.err;  // rule, version, maker, rule, web site, rule
  EXPECT_EQ(lines[0] + lines[3] + lines[5], rule + rule + rule);
  EXPECT_EQ(lines[1], logging::kVersionBanner);
  EXPECT_EQ(lines[6], "Vexlan: Spawned OK.");
  EXPECT_TRUE(server.allGone());
}

TEST(Vexland, ShutdownClientWithoutADaemon) {
  Outcome no_p = vxtest::run(kVexland, {"-w:shutdown"});
  EXPECT_EQ(no_p.status, 1);
  EXPECT_EQ(no_p.err, "Could not open pid file '': No such file or directory\n");

  // A pid file nobody holds: its daemon has gone.
  vxtest::TempDir dir;
  vxtest::writeFile(dir.file("gone.pid"), "Vexlan.sht.4294967295");
  Outcome gone = vxtest::run(kVexland, {"-v", "-w:shutdown", "-p", dir.file("gone.pid")});
  EXPECT_EQ(gone.status, 1);  // the banner, then the client
  EXPECT_THAT(gone.err, HasSubstr("-\nVexlan is not running (stale pid file " +
                                  dir.file("gone.pid") + ")\n"));
}

TEST(Vexland, BackgroundDaemonStopsWithItsWorkersOnRequestAndKeepsItsPidFile) {
  vxtest::Server server;
  std::string pid_file = server.dir() + "/vexlan.pid";
  // The launcher ends once every worker of the daemon is up.
  Outcome start = vxtest::run(kVexland, {"-p", pid_file, "-f", server.configFile()}, server.env());
  ASSERT_EQ(start.status, 0) << start.err;
  std::string name = vxtest::readFile(pid_file);
  EXPECT_THAT(name, MatchesRegex("Vexlan\\.sht\\.[0-9]+"));  // no line end
  EXPECT_THAT(server.log(), HasSubstr("All children up and running"));
  std::vector<pid_t> processes = server.running();
  ASSERT_EQ(processes.size(), 8u);  // the daemon and the seven workers of a passive server
  pid_t daemon = *std::min_element(processes.begin(), processes.end());
  EXPECT_EQ(::getsid(daemon), daemon);

  Outcome stop = vxtest::run(kVexland, {"-w:shutdown", "-p", pid_file});
  EXPECT_EQ(stop.status, 0) << stop.err;
  EXPECT_THAT(stop.out, MatchesRegex("Waiting\\.* succeeded\n"));
  EXPECT_TRUE(server.allGone(1s));
  EXPECT_THAT(server.log(), HasSubstr("Vexlan shutdown complete"));
  EXPECT_EQ(vxtest::readFile(pid_file), name);
}

TEST(Vexland, EachDaemonTakesTheNextFreeEventAndAPidFileOnlyOnce) {
  vxtest::Server a, b;
  std::string first = a.dir() + "/first.pid", second = b.dir() + "/second.pid";
  ASSERT_NO_FATAL_FAILURE(startBackground(first, a));
  ASSERT_NO_FATAL_FAILURE(startBackground(second, b));
  EXPECT_NE(vxtest::readFile(first), vxtest::readFile(second));

  Outcome again = vxtest::run(kVexland, {"-p", first, "-f", a.configFile()}, a.env());
  EXPECT_EQ(again.status, 1);
  EXPECT_EQ(again.err, "Could not create pid file '" + first + "': File exists\n");
  EXPECT_EQ(a.running().size(), 8u) << a.log();
  // SIGTERM to each daemon (the leader of its session) stops it as the client would.
  for (vxtest::Server* server : {&a, &b}) {
    for (pid_t pid : server->running()) {
      if (::getsid(pid) == pid) ::kill(pid, SIGTERM);
    }
    EXPECT_TRUE(server->allGone());
  }
}

TEST(Vexland, ServiceModeTellsTheServiceManagerReadyThenWhatItWaitsFor) {
  vxtest::Server server;
  vxtest::NotifySocket manager(server.dir() + "/notify");
  vxtest::Program p(kVexland, {"-f", server.configFile()},
                    server.env({{"NOTIFY_SOCKET", server.dir() + "/notify"},
                                {"VXW_DBMS_DEPEND_ON", "tsdb"},
                                {"VXW_TSDB_INIT_DELAY_MS", "200"}}));
  EXPECT_THAT(manager.until("READY=1"), HasSubstr("READY=1\nSTATUS="));
  // Ready only once the slowest worker is up.
  EXPECT_THAT(server.log(), HasSubstr("All children up and running"));
  ::kill(p.pid(), SIGTERM);
  std::string stopping = manager.until("STATUS=All workers have ended");
  EXPECT_THAT(stopping, HasSubstr("STOPPING=1"));
  // dbms needs tsdb while it shuts down: tsdb is still awaited once dbms has gone.
  std::istringstream statuses(stopping);
  std::string first_without_dbms;
  for (std::string st; std::getline(statuses, st, '|');) {
    if (st.find("waiting for") != std::string::npos && st.find("[dbms]") == std::string::npos) {
      first_without_dbms = st;
      break;
    }
  }
  EXPECT_THAT(first_without_dbms, HasSubstr("[tsdb]")) << stopping;
  EXPECT_EQ(p.wait().status, 0);

  Outcome outside = vxtest::run(kVexland, {"-p"});  // a last -p is ignored
  EXPECT_EQ(outside.status, 1);
  EXPECT_THAT(outside.err, MatchesRegex("Error starting Vexlan: Unable to start service: .+\n"));
}

// A worker failing under the service manager ends the service with a failure, so that the
// manager's restart on failure applies, and takes every worker with it.
TEST(Vexland, ServiceModeEndsWithAFailureAfterAnEmergency) {
  vxtest::Server server;
  vxtest::NotifySocket manager(server.dir() + "/notify");
  vxtest::Program p(kVexland, {"-f", server.configFile()},
                    server.env({{"NOTIFY_SOCKET", server.dir() + "/notify"}}));
  ASSERT_THAT(manager.until("READY=1"), HasSubstr("READY=1"));
  ::kill(server.workerPid("vexlan-socketio.exe"), SIGKILL);
  std::string end = manager.until("STOPPING=1");
  EXPECT_THAT(end, HasSubstr("STATUS=Fatal error: Process [skio] terminated unexpectedly with "
                             "exit code 137|"));
  EXPECT_THAT(end, HasSubstr("STATUS=Emergency shutdown|"));
  EXPECT_EQ(p.wait().status, 1);
  EXPECT_TRUE(server.allGone());
}

// Sends `count` one-byte datagrams to the abstract name `name`; 0 when every one was sent.
// Plain system calls only: it also runs in a child that acts as another user.
int sendDatagrams(const std::string& name, int count) {
  sockaddr_un addr = {};
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path + 1, name.data(), name.size());
  const socklen_t len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
  int fd = ::socket(AF_UNIX, SOCK_DGRAM, 0);
  int failed = fd < 0 ? 1 : 0;
  for (int i = 0; i < count && failed == 0; ++i) {
    char one = 1;
    if (::sendto(fd, &one, 1, 0, reinterpret_cast<sockaddr*>(&addr), len) != 1) failed = 1;
  }
  if (fd >= 0) ::close(fd);
  return failed;
}

bool exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

TEST(Vexland, OnlyItsOwnUserAndRootMayStopOrRotateTheDaemon) {
  if (!vxtest::canActAsOtherUser()) GTEST_SKIP() << vxtest::kNeedsRoot;
  vxtest::Server server;
  const std::string pid_file = server.dir() + "/vexlan.pid";
  ASSERT_NO_FATAL_FAILURE(startBackground(pid_file, server));
  const std::string shutdown = vxtest::readFile(pid_file);
  const std::string rotation = "Vexlan.rot." + shutdown.substr(std::strlen("Vexlan.sht."));

  // The kernel vouches for the sender: the other user's datagrams are read and dropped.
  EXPECT_EQ(vxtest::asOtherUser([&] { return sendDatagrams(shutdown, 3); }), 0);
  EXPECT_EQ(vxtest::asOtherUser([&] { return sendDatagrams(rotation, 12); }), 0);
  EXPECT_TRUE(server.waitLog("on event " + shutdown + ", the last from uid 65534"));
  EXPECT_TRUE(server.waitLog("on event " + rotation + ", the last from uid 65534"));
  // One note (they may have arrived over several reads; later notes wait a minute).
  EXPECT_EQ(server.countLog("on event " + shutdown + ", the last from"), 1u);
  EXPECT_THAT(server.log(), Not(HasSubstr("Server shut down by administrator")));
  EXPECT_FALSE(exists(server.dir() + "/log/server.log.1.txt"));
  EXPECT_EQ(server.running().size(), 8u);

  // Its own user's work; a dozen rotation requests in a row rotate once (twice at most on a
  // machine that stalls for a second), so the older history survives.
  EXPECT_EQ(sendDatagrams(rotation, 12), 0);
  for (int i = 0; i < 1000 && !exists(server.dir() + "/log/server.log.1.txt"); ++i)
    std::this_thread::sleep_for(5ms);
  EXPECT_TRUE(server.waitLog("Log re-opened."));
  std::this_thread::sleep_for(100ms);
  EXPECT_TRUE(exists(server.dir() + "/log/server.log.1.txt"));
  EXPECT_FALSE(exists(server.dir() + "/log/server.log.3.txt"));

  Outcome stop = vxtest::run(kVexland, {"-w:shutdown", "-p", pid_file});
  EXPECT_EQ(stop.status, 0) << stop.err;
  EXPECT_TRUE(server.allGone());
}

TEST(Vexland, AStalePidFileNeverStopsAnotherDaemon) {
  vxtest::Server a, b;
  const std::string pa = a.dir() + "/a.pid", pb = b.dir() + "/b.pid";
  ASSERT_NO_FATAL_FAILURE(startBackground(pa, a));
  const std::string name = vxtest::readFile(pa);
  const pid_t daemon = a.daemon();
  ASSERT_GT(daemon, 0);     // never kill(-1, ...)
  ::kill(daemon, SIGKILL);  // its workers follow through their parent-death signal
  ASSERT_TRUE(a.allGone());
  ASSERT_NO_FATAL_FAILURE(startBackground(pb, b));
  // b takes the freed number unless a daemon of a test running meanwhile got there first; a's
  // pid file names b's event either way.
  if (vxtest::readFile(pb) != name) vxtest::writeFile(pa, vxtest::readFile(pb));

  for (const char* request : {"-w:shutdown", "-w:sigusr1"}) {
    Outcome o = vxtest::run(kVexland, {request, "-p", pa});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err, "Vexlan is not running (stale pid file " + pa + ")\n");
    EXPECT_EQ(o.out, "");
  }
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(b.running().size(), 8u);
  EXPECT_THAT(b.log(), Not(HasSubstr("Server shut down by administrator")));
  EXPECT_FALSE(exists(b.dir() + "/log/server.log.1.txt"));

  // The FIFO directory the killed daemon left is removed by the next start in its runtime
  // directory, and the one of the running daemon is not.
  auto fifoDirs = [](const vxtest::Server& s) {
    size_t n = 0;
    for (const auto& e : std::filesystem::directory_iterator(s.dir() + "/run"))
      n += e.path().filename().string().rfind("vexlan.", 0) == 0;
    return n;
  };
  EXPECT_EQ(fifoDirs(a), 1u);
  const std::string again = a.dir() + "/again.pid";
  ASSERT_NO_FATAL_FAILURE(startBackground(again, a));
  EXPECT_EQ(fifoDirs(a), 1u);
  EXPECT_EQ(fifoDirs(b), 1u);
  for (const std::string& pid_file : {again, pb}) {
    Outcome o = vxtest::run(kVexland, {"-w:shutdown", "-p", pid_file});
    EXPECT_EQ(o.status, 0) << pid_file << ": " << o.err << o.out;
  }
  EXPECT_TRUE(a.allGone());
  EXPECT_TRUE(b.allGone());
}

TEST(Vexland, AFailedStartLeavesNoPidFileAndSquattedNamesAreSkipped) {
  vxtest::Server s;
  const std::string pid_file = s.dir() + "/vexlan.pid";
  Outcome o = vxtest::run(kVexland, {"-p", pid_file, "-f", s.configFile()},
                          s.env({{"VX_EXTRA_PROCESS", "one,two"}}));
  EXPECT_EQ(o.status, 1);
  EXPECT_THAT(o.err, HasSubstr("Cannot spawn more than one extra process"));
  EXPECT_FALSE(exists(pid_file));

  // Somebody holds one of the two names of each of the next thousand numbers: the start
  // takes the first number whose names are both free.
  unsigned first = 0;
  std::vector<entry::UniqueFd> probe =
      entry::bindFirstFree({entry::kShutdownEventPrefix, entry::kRotationEventPrefix}, first);
  probe.clear();
  std::vector<entry::UniqueFd> squatted;
  for (unsigned n = first; n < first + 1000; ++n) {
    int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr = {};
    addr.sun_family = AF_UNIX;
    const std::string name = (n % 2 ? "Vexlan.sht." : "Vexlan.rot.") + std::to_string(n);
    std::memcpy(addr.sun_path + 1, name.data(), name.size());
    // A name some other daemon of this host holds meanwhile is squatted all the same.
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr),
           static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size()));
    squatted.emplace_back(fd);
  }
  o = vxtest::run(kVexland, {"-p", pid_file, "-f", s.configFile()}, s.env());
  ASSERT_EQ(o.status, 0) << o.err;
  const std::string name = vxtest::readFile(pid_file);
  EXPECT_GE(std::stoul(name.substr(std::strlen("Vexlan.sht."))), first + 1000);
  EXPECT_EQ(vxtest::run(kVexland, {"-w:shutdown", "-p", pid_file}).status, 0);
  EXPECT_TRUE(s.allGone());
}

TEST(Vexland, AConfigurationFileThatIsAFifoIsRefusedAtOnce) {
  vxtest::Server s;
  const std::string fifo = s.dir() + "/fifo.conf";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  Outcome o = vxtest::run(kVexland, {"-v", "-f", fifo}, s.env());
  EXPECT_EQ(o.status, 1);
  EXPECT_THAT(o.err, HasSubstr("Vexlan fatal error: Cannot open configuration file \"" + fifo +
                               "\": not a regular file\n"));
  // A symbolic link to a regular file is read as the file.
  ASSERT_EQ(::symlink(s.configFile().c_str(), (s.dir() + "/link.conf").c_str()), 0);
  vxtest::Program p(kVexland, {"-v", "-f", s.dir() + "/link.conf"}, s.env());
  EXPECT_TRUE(p.waitForErr("Vexlan: Spawned OK."));
  ::kill(p.pid(), SIGTERM);
  EXPECT_EQ(p.wait().status, 0);
}

}  // namespace
