// status: the text for a given moment and set of live processes, malformed status files, and
// the real server in the foreground and in the background.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <sstream>

#include "error/exception.h"
#include "supervisor/entry/pid_file.h"
#include "supervisor/entry/unique_fd.h"
#include "supervisor/server_harness.h"
#include "vexlanctl/commands.h"
#include "vexlanctl/status.h"

namespace {

using testing::HasSubstr;
using vxtest::Outcome;

const char* const kRunning = R"({
  "version": "Vexlan v.4.6.2",
  "state": "running",
  "pid": 100,
  "started": 1000.250000,
  "updated": 1010.000000,
  "workers": [
    {"sname": "dbms", "queue": 2, "exe": "vexlan-dbms.exe", "state": "running", "pid": 101, "started": 1000.500000, "depend_on": []},
    {"sname": "schd", "queue": 1, "exe": "vexlan-scheduler.exe", "state": "initing", "pid": 102, "started": 1001.000000, "depend_on": [2, 11, 99]}
  ],
  "demand_load_idle": [
    {"sname": "keyg", "queue": 11, "exe": "vexlan-keygen.exe"}
  ]
}
)";

int show(const std::string& text, double now, bool alive, std::string& out) {
  std::ostringstream os;
  int rc = vexlanctl::printStatus(text, now, os, [&](long pid) { return alive && pid == 100; });
  out = os.str();
  return rc;
}

TEST(StatusText, WorkersTheirUptimeDependenciesAndIdleWorkers) {
  std::string out;
  EXPECT_EQ(show(kRunning, 1000.25 + 90061, true, out), vexlanctl::kOk);
  EXPECT_EQ(out,
            "vexland: running, pid 100, up 1d 01h 01m\n"
            "Vexlan v.4.6.2\n"
            "\n"
            "Workers (2):\n"
            "  NAME QUEUE STATE   PID UPTIME     DEPENDS ON   PROGRAM\n"
            "  dbms 2     running 101 1d 01h 01m -            vexlan-dbms.exe\n"
            "  schd 1     initing 102 1d 01h 01m dbms,keyg,99 vexlan-scheduler.exe\n"
            "\n"
            "Demand-loaded, not running (1):\n"
            "  NAME QUEUE PROGRAM\n"
            "  keyg 11    vexlan-keygen.exe\n");
  show(kRunning, 1000.25 + 3661, true, out);
  EXPECT_THAT(out, HasSubstr("up 1h 01m 01s\n"));
  show(kRunning, 1000.25 + 61, true, out);
  EXPECT_THAT(out, HasSubstr("up 1m 01s\n"));
  show(kRunning, 999, true, out);  // a clock set back shows no negative time
  EXPECT_THAT(out, HasSubstr("up 0s\n"));
}

// What the admin channel adds: restarts, events and bytes each way, the message area in use.
TEST(StatusText, FiguresFromTheChannelGetTheirColumns) {
  std::string text = kRunning;
  const std::string deps = "\"depend_on\": []}";
  text.replace(text.find(deps), deps.size(),
               "\"depend_on\": [], \"figures\": {\"restarts\": 2, \"events_received\": 12, "
               "\"events_sent\": 9, \"received_bytes\": 863, \"sent_bytes\": 1536, "
               "\"area_bytes\": 1572864, \"area_used_bytes\": 4096}}");
  std::string out;
  EXPECT_EQ(show(text, 1000.25 + 61, true, out), vexlanctl::kOk);
  EXPECT_THAT(out,
              HasSubstr("  NAME QUEUE STATE   PID UPTIME RESTARTS EVENTS IN/OUT BYTES IN/OUT "
                        "AREA USED    DEPENDS ON   PROGRAM\n"
                        "  dbms 2     running 101 1m 00s 2        12/9          863/1.5K     "
                        "4.0K of 1.5M -            vexlan-dbms.exe\n"
                        "  schd 1     initing 102 1m 00s -        -             -            -"));
}

TEST(StatusText, AServerThatEndedIsNotRunning) {
  std::string out;
  EXPECT_EQ(show(kRunning, 2000, false, out), vexlanctl::kNotRunning);
  EXPECT_EQ(out,
            "vexland is not running (pid 100 has gone while \"running\": it did not end in "
            "order)\n");
  std::string stopped = kRunning;
  stopped.replace(stopped.find("\"running\""), 9, "\"stopped\"");
  EXPECT_EQ(show(stopped, 2000, true, out), vexlanctl::kNotRunning);
  EXPECT_EQ(out, "vexland is not running (it ended normally; pid was 100)\n");
}

TEST(StatusText, MalformedFilesAreErrors) {
  const std::string good = kRunning;
  for (
      const std::string& bad : std::vector<std::string>{
          "", "{", good.substr(0, good.size() / 2), good + "}", "[]", "{\"state\": 1}",
          R"({"state": "running", "pid": 1, "started": 0, "workers": {}, "demand_load_idle": []})",
          R"({"state": "running", "pid": 100, "started": 0, "workers": [{"sname": "a"}], )"
          R"("demand_load_idle": []})",
          R"({"state": "running", "pid": 100, "started": 0, "workers": [], "demand_load_idle": [],)"
          R"( "x": "\u12"})",
          std::string(100, '[') + std::string(100, ']')}) {
    std::string out;
    EXPECT_THROW(show(bad, 0, true, out), error::EParseError) << bad;
  }
}

// vexlanctl status against the real server, its status file found as the server places it.
TEST(Status, OfARunningServerAndAfterItsEnd) {
  vxtest::Server s;
  Outcome o = vxtest::run(VX_VEXLANCTL, {"status"}, s.env());
  EXPECT_EQ(o.status, 3);
  EXPECT_EQ(o.out, "vexland is not running: no status file in " + s.dir() + "/run\n");

  s.start({{"VXW_SCHD_DEPEND_ON", "dbms,tsdb"}});
  ASSERT_TRUE(s.waitErr("Vexlan: Spawned OK.\n"));
  ASSERT_TRUE(s.waitLog("All children up and running"));
  o = vxtest::run(VX_VEXLANCTL, {"status"}, s.env());
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.err, "");
  EXPECT_THAT(o.out, HasSubstr("vexland: running, pid " + std::to_string(s.program().pid())));
  // The figures the supervisor counts come through its admin channel: every worker has sent
  // INIT_OK and more, and has been answered.
  EXPECT_THAT(o.out, testing::ContainsRegex(
                         "\n  schd +1 +running +[0-9]+ +[0-9]+s +0 +[1-9][0-9]*/[1-9][0-9]* +"
                         "[1-9][0-9.K]*/[1-9][0-9.K]* +[0-9.KM]+ of [0-9.]+K +dbms,tsdb +"
                         "vexlan-scheduler.exe\n"));
  EXPECT_THAT(o.out, testing::ContainsRegex("\n  keyg +11 +vexlan-keygen.exe\n"));

  // -s names the file directly.
  o = vxtest::run(VX_VEXLANCTL, {"status", "-s", s.statusPath()});
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_THAT(o.out, HasSubstr("EVENTS IN/OUT"));

  // Without the channel, the file alone, and standard error says why.
  std::string text = vxtest::readFile(s.statusPath());
  const std::string socket = s.dir() + "/run/admin-pid" + std::to_string(s.program().pid());
  ASSERT_NE(text.find(socket), std::string::npos) << text;
  text.replace(text.find(socket), socket.size(), s.dir() + "/nowhere");
  vxtest::writeFile(s.dir() + "/copy.json", text);
  o = vxtest::run(VX_VEXLANCTL, {"status", "-s", s.dir() + "/copy.json"});
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_THAT(o.err, HasSubstr("showing the status file without figures: Cannot connect to the "
                               "admin socket " +
                               s.dir() + "/nowhere.sock: No such file"));
  EXPECT_THAT(o.out, testing::ContainsRegex("\n  schd +1 +running +[0-9]+ +[0-9]+s +dbms,tsdb +"
                                            "vexlan-scheduler.exe\n"));

  const pid_t pid = s.program().pid();
  ASSERT_EQ(s.stop().status, 0);
  o = vxtest::run(VX_VEXLANCTL, {"status"}, s.env());
  EXPECT_EQ(o.status, 3);
  EXPECT_EQ(o.out,
            "vexland is not running (it ended normally; pid was " + std::to_string(pid) + ")\n");
}

TEST(Status, OfABackgroundServerFoundThroughItsPidFile) {
  vxtest::Server s;
  const std::string pid_file = s.dir() + "/vexland.pid";
  Outcome o = vxtest::run(VX_VEXLANCTL, {"status", "-p", pid_file}, s.env());
  EXPECT_EQ(o.status, 1);
  EXPECT_THAT(o.err, HasSubstr("vexland.pid: No such file or directory"));

  o = vxtest::run(VX_VEXLAND, {"-p", pid_file, "-f", s.configFile()}, s.env());
  ASSERT_EQ(o.status, 0) << o.err;
  o = vxtest::run(VX_VEXLANCTL, {"status", "-p", pid_file}, s.env());
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_THAT(o.out, HasSubstr("vexland: running"));

  o = vxtest::run(VX_VEXLAND, {"-w:shutdown", "-p", pid_file}, s.env());
  ASSERT_EQ(o.status, 0) << o.err;
  o = vxtest::run(VX_VEXLANCTL, {"status", "-p", pid_file}, s.env());
  EXPECT_EQ(o.status, 3);
  EXPECT_EQ(o.out, "vexland is not running (stale pid file " + pid_file + ")\n");
  EXPECT_TRUE(s.allGone());

  // Held, but by something that is no daemon.
  vxtest::writeFile(pid_file, "1234");
  entry::UniqueFd lock(::open(pid_file.c_str(), O_WRONLY | O_CLOEXEC));
  ASSERT_TRUE(entry::lockPidFile(lock.get()));
  o = vxtest::run(VX_VEXLANCTL, {"status", "-p", pid_file}, s.env());
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err, "Cannot read an event name from the pid file " + pid_file + "\n");
  vxtest::writeFile(pid_file, "Vexlan.sht.4000000000");
  o = vxtest::run(VX_VEXLANCTL, {"status", "-p", pid_file}, s.env());
  EXPECT_EQ(o.status, 3);
  EXPECT_THAT(o.out, HasSubstr("Vexlan.sht.4000000000 named in " + pid_file + " does not exist"));
}

TEST(Status, TwoBackgroundServersSharingARuntimeDirectoryEachReportTheirOwn) {
  // The place status files had before, prepared by somebody else: it must not matter.
  const std::string old_place = "/tmp/vexlan-status-" + std::to_string(::getuid()) + ".json";
  const bool planted = ::mkdir(old_place.c_str(), 0777) == 0;

  vxtest::TempDir shared;
  std::map<std::string, std::string> session = {{"RUNTIME_DIRECTORY", ""},
                                                {"XDG_RUNTIME_DIR", shared.path()}};
  vxtest::Server a, b;
  const std::string pa = a.dir() + "/a.pid", pb = b.dir() + "/b.pid";
  for (auto [server, pid_file] : {std::pair{&a, pa}, std::pair{&b, pb}}) {
    Outcome start =
        vxtest::run(VX_VEXLAND, {"-p", pid_file, "-f", server->configFile()}, server->env(session));
    ASSERT_EQ(start.status, 0) << start.err << server->log();
  }
  for (auto [server, pid_file] : {std::pair{&a, pa}, std::pair{&b, pb}}) {
    Outcome o = vxtest::run(VX_VEXLANCTL, {"status", "-p", pid_file}, server->env(session));
    EXPECT_EQ(o.status, 0) << o.err << server->log();
    EXPECT_THAT(o.out, HasSubstr("vexland: running, pid " + std::to_string(server->daemon())));
  }
  // Without -p there is no telling which one is meant.
  Outcome o = vxtest::run(VX_VEXLANCTL, {"status"}, a.env(session));
  EXPECT_EQ(o.status, 1);
  EXPECT_THAT(o.err, HasSubstr("Several servers have status files in " + shared.file("vexlan")));

  // Whatever sits in place of a status file gives a message, never a library's text.
  const std::string file = shared.file("vexlan/odd.json");
  ASSERT_EQ(::mkdir(file.c_str(), 0700), 0);
  o = vxtest::run(VX_VEXLANCTL, {"status", "-s", file});
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err, "Cannot read the status file " + file + ": not a regular file\n");
  ::rmdir(file.c_str());
  vxtest::writeFile(file, "{\"state\": ");
  o = vxtest::run(VX_VEXLANCTL, {"status", "-s", file});
  EXPECT_EQ(o.status, 1);
  EXPECT_THAT(o.err, testing::StartsWith("Cannot read the status file " + file + ": "));

  for (const std::string& pid_file : {pa, pb}) {
    Outcome stop = vxtest::run(VX_VEXLAND, {"-w:shutdown", "-p", pid_file});
    EXPECT_EQ(stop.status, 0) << stop.out << stop.err;
  }
  EXPECT_TRUE(a.allGone());
  EXPECT_TRUE(b.allGone());
  if (planted) ::rmdir(old_place.c_str());
}

}  // namespace
