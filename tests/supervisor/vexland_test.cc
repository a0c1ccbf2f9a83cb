// The vexland binary as built, in each of its run modes, with the reference workers.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <sstream>

#include "log/version.h"
#include "supervisor/program.h"
#include "supervisor/server_harness.h"

namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;
using ::testing::MatchesRegex;
using vxtest::Outcome;

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
  }
}

TEST(Vexland, ForegroundShowsTheBannerAndStopsOnSigintOrSigterm) {
  const std::string rule(49, '-');
  for (int sig : {SIGINT, SIGTERM}) {
    vxtest::Server server;
    server.start();
    ASSERT_TRUE(server.waitErr("Vexlan: Spawned OK.\n"));
    Outcome o = server.stop(sig);
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
}

TEST(Vexland, ShutdownClientWithoutADaemon) {
  Outcome no_p = vxtest::run(kVexland, {"-w:shutdown"});
  EXPECT_EQ(no_p.status, 1);
  EXPECT_EQ(no_p.err, "Could not open pid file '': No such file or directory\n");

  vxtest::TempDir dir;
  vxtest::writeFile(dir.file("gone.pid"), "Vexlan.sht.4294967295");
  Outcome gone = vxtest::run(kVexland, {"-v", "-w:shutdown", "-p", dir.file("gone.pid")});
  EXPECT_EQ(gone.status, 1);  // the banner, then the client
  EXPECT_THAT(gone.err, HasSubstr("-\nCannot open shutdown event designated in .pid file\n"));
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
  ASSERT_EQ(vxtest::run(kVexland, {"-p", first, "-f", a.configFile()}, a.env()).status, 0);
  ASSERT_EQ(vxtest::run(kVexland, {"-p", second, "-f", b.configFile()}, b.env()).status, 0);
  EXPECT_NE(vxtest::readFile(first), vxtest::readFile(second));

  Outcome again = vxtest::run(kVexland, {"-p", first, "-f", a.configFile()}, a.env());
  EXPECT_EQ(again.status, 1);
  EXPECT_EQ(again.err, "Could not create pid file '" + first + "': File exists\n");
  EXPECT_EQ(a.running().size(), 8u);
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

}  // namespace
