// Run-mode outcomes and crash reports, through vexland's main.cc with a scripted supervisor
// main (probe_main.cc).
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <filesystem>
#include <thread>

#include "supervisor/program.h"

namespace {

using namespace std::chrono_literals;
using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::Not;
using vxtest::Outcome;

const std::string kProbe = VX_PROBE;

TEST(Probe, ExitStatusFollowsHowTheRunEnded) {
  vxtest::TempDir dir;
  struct Case {
    const char* action;
    std::string err;
  } cases[] = {
      {"fail-init", "Vexlan fatal error: probe cannot start\nVexlan: Failed initializing.\n"},
      {"emergency", "Vexlan: Spawned OK.\n"},
      {"exit-early", ""},
      {"throw", "Error starting Vexlan: probe failure\n"},
  };
  for (const Case& c : cases) {
    Outcome o =
        vxtest::run(kProbe, {"-v"}, {{"VXPROBE_ACTION", c.action}, {"VXPROBE_LOGDIR", dir.path()}});
    EXPECT_EQ(o.status, 1) << c.action;
    EXPECT_THAT(o.err, HasSubstr("-\n" + c.err)) << c.action;  // right after the banner
  }
  EXPECT_THAT(vxtest::readFile(dir.file("server.log")), HasSubstr(": Fatal error: probe cannot"));
  // The default logger vexland registers at start-up writes to standard error, where
  // spdlog's own would write to standard output.
  Outcome spd = vxtest::run(kProbe, {"-v"}, {{"VXPROBE_ACTION", "spdlog"}});
  EXPECT_THAT(spd.err, HasSubstr("probe speaks through spdlog"));
  EXPECT_EQ(spd.out, "");

  // The background launcher tells the same from the daemon's end; the daemon's start-up
  // errors reach the launcher's standard error.
  vxtest::DaemonTag tag;
  Outcome early =
      vxtest::run(kProbe, {"-p", dir.file("a.pid")}, tag.env({{"VXPROBE_ACTION", "exit-early"}}));
  EXPECT_EQ(early.status, 1);
  Outcome failed =
      vxtest::run(kProbe, {"-p", dir.file("b.pid")}, tag.env({{"VXPROBE_ACTION", "fail-init"}}));
  EXPECT_EQ(failed.status, 1);
  EXPECT_EQ(failed.err, "Vexlan fatal error: probe cannot start\n");
  EXPECT_TRUE(tag.waitGone());

  vxtest::NotifySocket manager(dir.file("notify"));
  Outcome service = vxtest::run(
      kProbe, {}, {{"VXPROBE_ACTION", "fail-init"}, {"NOTIFY_SOCKET", dir.file("notify")}});
  EXPECT_EQ(service.status, 1);
  EXPECT_THAT(manager.until("STOPPING=1"),
              AllOf(HasSubstr("STATUS=Fatal error: probe cannot start|"),
                    HasSubstr("STATUS=Vexlan: Failed initializing.|"), Not(HasSubstr("READY"))));
}

bool waitForFile(const std::string& path) {
  for (int i = 0; i < 1000 && !std::filesystem::exists(path); ++i)
    std::this_thread::sleep_for(10ms);
  return std::filesystem::exists(path);
}

TEST(Probe, DaemonRotatesItsLogsOnRequestOrSigusr1AndStopsOnSigterm) {
  vxtest::TempDir dir;
  vxtest::DaemonTag tag;
  std::string pid_file = dir.file("vexlan.pid");
  ASSERT_EQ(vxtest::run(kProbe, {"-p", pid_file}, tag.env({{"VXPROBE_LOGDIR", dir.path()}})).status,
            0);
  std::vector<pid_t> daemons = tag.running();
  ASSERT_EQ(daemons.size(), 1u);
  std::string fd2 = "/proc/" + std::to_string(daemons[0]) + "/fd/2";
  EXPECT_EQ(std::filesystem::read_symlink(fd2), "/dev/null");

  Outcome request = vxtest::run(kProbe, {"-w:sigusr1", "-p", pid_file});
  EXPECT_EQ(request.out, "Log rotation requested\n");
  // Without a pid file the request names no daemon: the run goes on as without it.
  Outcome start = vxtest::run(kProbe, {"-w:sigusr1", "-v"}, {{"VXPROBE_ACTION", "fail-init"}});
  EXPECT_THAT(start.err, HasSubstr("-\nVexlan fatal error: probe cannot start\n"));
  EXPECT_TRUE(waitForFile(dir.file("server.log.1.txt")));
  // Rotations on request are at least a second apart (each one drops the oldest file).
  std::this_thread::sleep_for(1100ms);
  ::kill(daemons[0], SIGUSR1);
  EXPECT_TRUE(waitForFile(dir.file("server.log.2.txt")));
  EXPECT_THAT(vxtest::readFile(dir.file("server.log.1.txt")), HasSubstr("Rotation requested"));
  ::kill(daemons[0], SIGTERM);
  EXPECT_TRUE(tag.waitGone());
}

TEST(Probe, CrashesLeaveAReportBesideTheExecutableAndEndByTheSignal) {
  struct rlimit no_core = {0, 0};
  ::setrlimit(RLIMIT_CORE, &no_core);  // the system's core handling is not under test
  vxtest::TempDir dir;
  struct Case {
    const char* action;
    std::string exe;  // the probe is copied there
    std::string report;
    int signal;
    const char* detail;
  } cases[] = {
      {"segv", "sbin/vexland", "sbin/vexland.dmp", SIGSEGV,
       "Signal: 11 (SIGSEGV), code 1\nFault address: 0x0000000000000000\n"},
      {"fpe", "a.d/vexland.bin", "a.d/vexland.dmp", SIGFPE, "(SIGFPE)"},
      {"ill", "ill/vexland", "ill/vexland.dmp", SIGILL, "(SIGILL)"},
      {"pure-virtual", "pv/vexland", "pv/vexland.dmp", SIGABRT, "Reason: std::terminate called"},
      // Where no report can be created beside the executable: the current directory.
      {"segv", "ro/vexland", "tolvane.dmp", SIGSEGV, "(SIGSEGV)"},
  };
  std::filesystem::create_directories(dir.file("ro/vexland.dmp"));
  for (const Case& c : cases) {
    std::filesystem::create_directories(std::filesystem::path(dir.file(c.exe)).parent_path());
    std::filesystem::copy_file(kProbe, dir.file(c.exe));
    Outcome o = vxtest::run(dir.file(c.exe), {"-v"}, {{"VXPROBE_ACTION", c.action}}, dir.path());
    EXPECT_EQ(o.signal, c.signal) << c.exe << ": " << o.err;
    std::string path = c.report == "tolvane.dmp" ? c.report : dir.file(c.report);
    EXPECT_THAT(o.err, HasSubstr("An application error has been detected. Please report this "
                                 "error and submit the dump file in '" +
                                 path + "' along with your error report\n"));
    EXPECT_THAT(vxtest::readFile(dir.file(c.report)),
                AllOf(HasSubstr(c.detail), HasSubstr("\nBacktrace:\n"),
                      HasSubstr("\nMemory map:\n"), HasSubstr("[stack]")))
        << c.exe;
  }
}

}  // namespace
