// Run-mode outcomes and crash reports, through vexland's main.cc with a scripted supervisor
// main (probe_main.cc).
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <thread>

#include "supervisor/program.h"
#include "support/test_support.h"

namespace {

using namespace std::chrono_literals;
using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::Not;
using vxtest::Outcome;

const std::string kProbe = VX_PROBE;

vxtest::EnvChanges probeEnv(const std::string& action, vxtest::EnvChanges env = {}) {
  env["VXPROBE_ACTION"] = action;
  return env;
}

TEST(Probe, ForegroundExitStatusFollowsHowTheRunEnded) {
  vxtest::TempDir dir;
  struct Case {
    const char* action;
    int status;
    std::string err;
  } cases[] = {
      {"fail-init", 1, "Vexlan fatal error: probe cannot start\nVexlan: Failed initializing.\n"},
      {"emergency", 1, "Vexlan: Spawned OK.\n"},
      {"exit-early", 1, ""},
      {"throw", 1, "Error starting Vexlan: probe failure\n"},
  };
  for (const Case& c : cases) {
    Outcome o = vxtest::run(kProbe, {"-v"}, probeEnv(c.action, {{"VXPROBE_LOGDIR", dir.path()}}));
    EXPECT_EQ(o.status, c.status) << c.action;
    EXPECT_THAT(o.err, HasSubstr("-\n" + c.err)) << c.action;  // after the banner
  }
  // A fatal report goes to the server log when it is open.
  EXPECT_THAT(vxtest::readFile(dir.file("server.log")),
              HasSubstr(": Fatal error: probe cannot start"));
}

TEST(Probe, LauncherEndsWithOneWhenTheDaemonEndsBeforeComingUp) {
  vxtest::TempDir dir;
  vxtest::DaemonTag tag;
  Outcome early = vxtest::run(kProbe, {"-p", dir.file("a.pid")}, probeEnv("exit-early", tag.env()));
  EXPECT_EQ(early.status, 1);
  // Start-up errors of the daemon reach the launcher's standard error.
  Outcome failed = vxtest::run(kProbe, {"-p", dir.file("b.pid")}, probeEnv("fail-init", tag.env()));
  EXPECT_EQ(failed.status, 1);
  EXPECT_EQ(failed.err, "Vexlan fatal error: probe cannot start\n");
  EXPECT_TRUE(tag.waitGone());
}

TEST(Probe, ServiceReportsAFailedStartAndEndsWithOne) {
  vxtest::TempDir dir;
  int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr = {};
  addr.sun_family = AF_UNIX;
  std::strncpy(addr.sun_path, dir.file("notify").c_str(), sizeof addr.sun_path - 1);
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  Outcome o =
      vxtest::run(kProbe, {}, probeEnv("fail-init", {{"NOTIFY_SOCKET", dir.file("notify")}}));
  EXPECT_EQ(o.status, 1);
  std::string all;
  char buf[512];
  for (ssize_t n; (n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT)) > 0;)
    all += std::string(buf, static_cast<size_t>(n)) + "|";
  ::close(fd);
  EXPECT_THAT(all, AllOf(HasSubstr("STATUS=Fatal error: probe cannot start|"),
                         HasSubstr("STATUS=Vexlan: Failed initializing.|"), HasSubstr("STOPPING=1"),
                         Not(HasSubstr("READY=1"))));
}

bool waitForFile(const std::string& path) {
  for (int i = 0; i < 1000 && !std::filesystem::exists(path); ++i)
    std::this_thread::sleep_for(10ms);
  return std::filesystem::exists(path);
}

TEST(Probe, DaemonRotatesItsLogsOnRequestOrSigusr1) {
  vxtest::TempDir dir;
  vxtest::DaemonTag tag;
  std::string pid_file = dir.file("vexlan.pid");
  ASSERT_EQ(vxtest::run(kProbe, {"-p", pid_file},
                        probeEnv("up", {{"VXPROBE_LOGDIR", dir.path()},
                                        {"VXTEST_DAEMON_TAG", tag.env().begin()->second}}))
                .status,
            0);
  std::vector<pid_t> daemons = tag.running();
  ASSERT_EQ(daemons.size(), 1u);
  EXPECT_EQ(std::filesystem::read_symlink("/proc/" + std::to_string(daemons[0]) + "/fd/2"),
            "/dev/null");

  Outcome request = vxtest::run(kProbe, {"-w:sigusr1", "-p", pid_file});
  EXPECT_EQ(request.status, 0);
  EXPECT_EQ(request.out, "Log rotation requested\n");
  EXPECT_TRUE(waitForFile(dir.file("server.log.1.txt")));
  ::kill(daemons[0], SIGUSR1);
  EXPECT_TRUE(waitForFile(dir.file("server.log.2.txt")));
  EXPECT_THAT(vxtest::readFile(dir.file("server.log.1.txt")), HasSubstr("Rotation requested"));

  EXPECT_EQ(vxtest::run(kProbe, {"-w:shutdown", "-p", pid_file}).status, 0);
}

// Copies the probe to `path`, so that its crash report lands beside that copy.
void installProbe(const std::string& path) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::filesystem::copy_file(kProbe, path);
}

TEST(Probe, CrashesLeaveAReportBesideTheExecutableAndEndByTheSignal) {
  struct rlimit no_core = {0, 0};
  ::setrlimit(RLIMIT_CORE, &no_core);  // the system's core handling is not under test
  vxtest::TempDir dir;
  struct Case {
    const char* action;
    std::string exe;
    std::string report;
    int signal;
    const char* detail;
  } cases[] = {
      {"segv", dir.file("sbin/vexland"), dir.file("sbin/vexland.dmp"), SIGSEGV,
       "Signal: 11 (SIGSEGV), code 1\nFault address: 0x0000000000000000\n"},
      {"fpe", dir.file("a.d/vexland.bin"), dir.file("a.d/vexland.dmp"), SIGFPE, "(SIGFPE)"},
      {"ill", dir.file("ill/vexland"), dir.file("ill/vexland.dmp"), SIGILL, "(SIGILL)"},
      {"pure-virtual", dir.file("pv/vexland"), dir.file("pv/vexland.dmp"), SIGABRT,
       "Reason: std::terminate called"},
  };
  for (const Case& c : cases) {
    installProbe(c.exe);
    Outcome o = vxtest::run(c.exe, {"-v"}, probeEnv(c.action));
    EXPECT_EQ(o.signal, c.signal) << c.action << ": " << o.err;
    EXPECT_THAT(o.err, HasSubstr("An application error has been detected. Please report this "
                                 "error and submit the dump file in '" +
                                 c.report + "' along with your error report\n"))
        << c.action;
    std::string report = vxtest::readFile(c.report);
    EXPECT_THAT(report, AllOf(HasSubstr(c.detail), HasSubstr("\nBacktrace:\n"),
                              HasSubstr("\nMemory map:\n"), HasSubstr("[stack]")))
        << c.action;
  }
}

TEST(Probe, CrashReportFallsBackToTheCurrentDirectory) {
  struct rlimit no_core = {0, 0};
  ::setrlimit(RLIMIT_CORE, &no_core);
  vxtest::TempDir dir;
  installProbe(dir.file("bin/vexland"));
  std::filesystem::create_directory(dir.file("bin/vexland.dmp"));  // cannot be created there
  std::filesystem::create_directory(dir.file("work"));
  Outcome o = vxtest::run(dir.file("bin/vexland"), {"-v"}, probeEnv("segv"), dir.file("work"));
  EXPECT_EQ(o.signal, SIGSEGV);
  EXPECT_THAT(o.err, HasSubstr("submit the dump file in 'tolvane.dmp'"));
  EXPECT_THAT(vxtest::readFile(dir.file("work/tolvane.dmp")), HasSubstr("(SIGSEGV)"));
}

}  // namespace
