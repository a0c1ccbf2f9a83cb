// The vexland binary as built, with the stand-in supervisor main (up at once, ends when told
// to shut down).
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <sstream>

#include "log/version.h"
#include "supervisor/program.h"

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
    vxtest::Program p(kVexland, {"-v", "-f", "unused.conf"});
    ASSERT_TRUE(p.waitForErr("Vexlan: Spawned OK.\n"));
    ::kill(p.pid(), sig);
    Outcome o = p.wait();
    EXPECT_EQ(o.status, 0);
    std::vector<std::string> lines;
    std::istringstream in(o.err);
    for (std::string line; std::getline(in, line);)
      lines.push_back(line);
    ASSERT_EQ(lines.size(), 7u) << o.err;  // rule, version, maker, rule, web site, rule
    EXPECT_EQ(lines[0] + lines[3] + lines[5], rule + rule + rule);
    EXPECT_EQ(lines[1], logging::kVersionBanner);
    EXPECT_EQ(lines[6], "Vexlan: Spawned OK.");
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

TEST(Vexland, BackgroundDaemonStopsOnRequestAndKeepsItsPidFile) {
  vxtest::TempDir dir;
  vxtest::DaemonTag tag;
  std::string pid_file = dir.file("vexlan.pid");
  Outcome start = vxtest::run(kVexland, {"-p", pid_file}, tag.env());
  ASSERT_EQ(start.status, 0) << start.err;
  std::string name = vxtest::readFile(pid_file);
  EXPECT_THAT(name, MatchesRegex("Vexlan\\.sht\\.[0-9]+"));  // no line end
  std::vector<pid_t> daemons = tag.running();
  ASSERT_EQ(daemons.size(), 1u);
  EXPECT_EQ(::getsid(daemons[0]), daemons[0]);

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

  Outcome again = vxtest::run(kVexland, {"-p", first}, tag.env());
  EXPECT_EQ(again.status, 1);
  EXPECT_EQ(again.err, "Could not create pid file '" + first + "': File exists\n");
  EXPECT_EQ(tag.running().size(), 2u);
}

TEST(Vexland, ServiceModeTellsTheServiceManagerReadyThenStopping) {
  vxtest::TempDir dir;
  vxtest::NotifySocket manager(dir.file("notify"));
  vxtest::Program p(kVexland, {"-f", "unused.conf"}, {{"NOTIFY_SOCKET", dir.file("notify")}});
  EXPECT_THAT(manager.until("READY=1"), HasSubstr("READY=1\nSTATUS="));
  ::kill(p.pid(), SIGTERM);
  EXPECT_THAT(manager.until("STOPPING=1"), HasSubstr("STOPPING=1"));
  EXPECT_EQ(p.wait().status, 0);

  Outcome outside = vxtest::run(kVexland, {"-p"});  // a last -p is ignored
  EXPECT_EQ(outside.status, 1);
  EXPECT_THAT(outside.err, MatchesRegex("Error starting Vexlan: Unable to start service: .+\n"));
}

}  // namespace
