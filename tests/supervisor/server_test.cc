// The server end to end: vexland with the reference workers (and the probe worker of
// probe_worker.cc as the extra process), driven through the workers' test behaviours.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include "config/registry.h"
#include "config/sqlite_registry.h"
#include "config/variable_store.h"
#include "security/entropy_pool.h"
#include "supervisor/server_harness.h"

namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;
using ::testing::Not;
using vxtest::Outcome;
using vxtest::Server;

// The programs the log says were started, in order.
std::vector<std::string> spawned(const std::string& log) {
  std::vector<std::string> out;
  std::regex re("Spawned (\\S+) with pid");
  for (std::sregex_iterator it(log.begin(), log.end(), re), end; it != end; ++it)
    out.push_back((*it)[1]);
  return out;
}

size_t at(const std::string& log, const std::string& text) {
  size_t pos = log.find(text);
  EXPECT_NE(pos, std::string::npos) << "missing: " << text;
  return pos;
}

bool waitFile(const std::string& path, const std::string& text,
              std::chrono::milliseconds limit = vxtest::kWaitLimit) {
  for (auto until = std::chrono::steady_clock::now() + limit;
       std::chrono::steady_clock::now() < until; std::this_thread::sleep_for(5ms)) {
    if (vxtest::readFile(path).find(text) != std::string::npos) return true;
  }
  return false;
}

TEST(Server, StartsTheDefaultTableAndStopsItInDependencyOrder) {
  Server s("passive = false");
  s.start({{"VXW_SCHD_DEPEND_ON", "dbms,tsdb"}, {"VXW_DBMS_STDERR", "dbms says hello"}});
  // Sixteen workers: under the sanitizers on a loaded machine that takes a while.
  ASSERT_TRUE(s.waitUp());
  ASSERT_TRUE(s.waitLog("All children up and running"));
  EXPECT_EQ(
      spawned(s.log()),
      (std::vector<std::string>{
          "vexlan-dbms.exe", "vexlan-tsdb.exe", "vexlan-scheduler.exe", "vexlan-remcheck.exe",
          "vexlan-socketio.exe", "vexlan-alarm.exe", "vexlan-alert.exe", "vexlan-snmp.exe",
          "vexlan-esxi.exe", "vexlan-broadcast.exe", "vexlan-forecast.exe", "vexlan-netscan.exe",
          "vexlan-report.exe", "vexlan-router.exe", "vexlan-nodeclass.exe", "vexlan-uplink.exe"}));
  EXPECT_THAT(s.log(), HasSubstr("Process [dbms]: dbms says hello"));
  std::string status = s.status();
  EXPECT_THAT(status, HasSubstr("\"state\": \"running\""));
  EXPECT_THAT(status, HasSubstr("{\"sname\": \"schd\", \"queue\": 1, \"exe\": "
                                "\"vexlan-scheduler.exe\", \"state\": \"running\""));
  EXPECT_THAT(status, HasSubstr("\"depend_on\": [2, 20]}"));
  EXPECT_THAT(status, HasSubstr("{\"sname\": \"keyg\", \"queue\": 11, \"exe\": "
                                "\"vexlan-keygen.exe\"}"));

  Outcome o = s.stop(SIGINT);
  EXPECT_EQ(o.status, 0) << o.err;
  std::string log = s.log();
  // The scheduler needs dbms and tsdb while it shuts down: they are told only after its end.
  size_t schd_gone = at(log, "Process [schd] successfully shut down");
  EXPECT_LT(at(log, "Telling vexlan-scheduler.exe to exit"), schd_gone);
  EXPECT_GT(at(log, "Telling vexlan-dbms.exe to exit"), schd_gone);
  EXPECT_GT(at(log, "Telling vexlan-tsdb.exe to exit"), schd_gone);
  EXPECT_LT(at(log, "Telling vexlan-uplink.exe to exit"), schd_gone);
  EXPECT_EQ(s.countLog("successfully shut down"), 16u);
  // What the workers' transport says about the scheduler leaving first, and about its own end.
  EXPECT_THAT(log, testing::ContainsRegex("Process \\[dbms\\]: [^\n]* got ack for all messages, "
                                          "allowing 1 to shutdown"));
  EXPECT_THAT(log,
              testing::ContainsRegex("Process \\[dbms\\]: [^\n]*Shutting down FIFO for sibling 1"));
  EXPECT_THAT(log, testing::ContainsRegex(
                       "Process \\[schd\\]: [^\n]*Adding EOS for sibling 0 input stream"));
  EXPECT_THAT(o.err, Not(HasSubstr("Double siblingGone()")));
  EXPECT_THAT(log, HasSubstr("Vexlan shutdown complete\n"));
  EXPECT_TRUE(s.allGone());
  EXPECT_THAT(s.status(), HasSubstr("\"state\": \"stopped\""));
  EXPECT_THAT(s.status(), HasSubstr("\"workers\": []"));
}

TEST(Server, PassiveGridMasterWithTheExtraProcess) {
  Server s("wapi_enabled = true");
  s.start({{"VX_GRID_ROLE", "master"},
           {"VX_EXTRA_PROCESS", "vexlan-worker,"},
           {"VXW_EXTR_TRACE", "1"}});
  ASSERT_TRUE(s.waitLog("All children up and running"));
  EXPECT_EQ(spawned(s.log()),
            (std::vector<std::string>{"vexlan-dbms.exe", "vexlan-tsdb.exe", "vexlan-scheduler.exe",
                                      "vexlan-socketio.exe", "vexlan-broadcast.exe",
                                      "vexlan-router.exe", "vexlan-gridmaster.exe",
                                      "vexlan-uplink.exe", "vexlan-wapi.exe", "vexlan-worker"}));
  EXPECT_TRUE(s.waitLog("[extr]: configuration received"));
  EXPECT_THAT(s.log(), HasSubstr("passive 1)"));
  // SIGUSR1 rotates the server log at once; the server runs on.
  ::kill(s.program().pid(), SIGUSR1);
  EXPECT_TRUE(waitFile(s.dir() + "/log/server.log.1.txt", "Flushing log..."));
  ASSERT_TRUE(s.waitUp()) << s.log();
  Outcome o = s.stop(SIGTERM);
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_TRUE(s.allGone());
}

TEST(Server, DemandLoadsOnPeerRequestAndOnSpawnRequest) {
  Server s;
  s.start({{"VXW_SCHD_SEND", "keyg:3"},
           {"VXW_KEYG_TRACE", "1"},
           {"VXW_DBMS_REQUEST_SPAWN", "kngt"},
           {"VXW_KNGT_EXIT", "0:200"}});
  ASSERT_TRUE(s.waitLog("All children up and running"));
  // The scheduler's events wait for keygen, which starts on the request and reads all three.
  EXPECT_TRUE(s.waitLog("Spawned vexlan-keygen.exe with pid"));
  EXPECT_TRUE(s.waitLog("[keyg]: got REQUEST_RESULT from schd"));
  EXPECT_TRUE(s.waitLog("Will demand-load requested process kngt for [dbms]"));
  // A demand-loaded worker may end on its own: the server runs on.
  EXPECT_TRUE(s.waitLog("Process [kngt] successfully shut down"));
  EXPECT_EQ(s.countLog("All children up and running"), 1u);
  EXPECT_THAT(s.status(), HasSubstr("{\"sname\": \"kngt\", \"queue\": 14"));
  ASSERT_TRUE(s.waitUp()) << s.log();
  Outcome o = s.stop();
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_THAT(s.log(), HasSubstr("Process [keyg] successfully shut down"));
  EXPECT_TRUE(s.allGone());
}

TEST(Server, AnswersMetricsLogLevelsAndRandomBytes) {
  Server s;
  std::string out = s.dir() + "/probe.out";
  std::map<std::string, std::string> env = vxtest::probeWorker("metrics,loglevel,random", out);
  env["VXPW_SUPPLIERS"] = "7";
  s.start(env);
  ASSERT_TRUE(waitFile(out, "done")) << vxtest::readFile(out) << s.log();
  std::string answers = vxtest::readFile(out);
  EXPECT_THAT(answers, testing::ContainsRegex("uint64 [1-9][0-9]* \\(RETURN_METRIC_UINT64\\)\n"));
  EXPECT_THAT(answers, HasSubstr("type uptime s\n"));
  EXPECT_THAT(answers, HasSubstr("error Unknown metric\n"));
  // One group per supplier, named after it, in the order they answered.
  std::smatch list;
  ASSERT_TRUE(std::regex_search(answers, list, std::regex("list ([^\n]*)\n")));
  std::istringstream names(list[1].str());
  EXPECT_EQ(std::set<std::string>(std::istream_iterator<std::string>(names), {}),
            (std::set<std::string>{"schd", "dbms", "skio", "brdc", "grid", "tsdb", "upln"}));
  EXPECT_THAT(answers, HasSubstr("random 64\nrandom -1: Request for negative size\n"));
  EXPECT_THAT(s.log(), HasSubstr("Got bad metric request (empty) from process #24 "));
  EXPECT_TRUE(s.waitLog("Process [dbms]: events debug: got REQUEST_RESULT from extra"));
  EXPECT_THAT(s.log(), Not(HasSubstr("Process [tsdb]: events debug")));
  ASSERT_TRUE(s.waitUp()) << s.log();
  Outcome o = s.stop();
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_TRUE(s.allGone());
}

// The server variables a test server saved, read as the server reads them.
std::map<std::string, std::string> savedVariables(const Server& s) {
  config::SqliteRegistry user(s.dir() + "/registry-user.db", {"SOFTWARE"});
  config::SqliteRegistry machine(s.dir() + "/registry-machine.db",
                                 config::registrySkeleton(config::RegistryRoot::Machine));
  config::VariableStore store(user, machine);
  store.load();
  return store.snapshot();
}

// Writes variables into both registries of a test server, as a previous run would have left
// them.
void plantVariables(const Server& s, const std::map<std::string, std::string>& vars) {
  for (const char* file : {"/registry-user.db", "/registry-machine.db"}) {
    config::SqliteRegistry reg(s.dir() + file,
                               config::registrySkeleton(config::RegistryRoot::Machine));
    config::write_registry(reg, config::kVariablesKey, vars);
  }
}

TEST(Server, VariablesAndTheEntropyPoolSurviveARestart) {
  Server s;
  s.start({{"VXW_DBMS_STORE_VAR", "colour=blue"}, {"VXW_DBMS_TRACE", "1"}});
  ASSERT_TRUE(s.waitLog("[dbms]: stored variable colour"));
  ASSERT_TRUE(s.waitUp());
  ASSERT_EQ(s.stop().status, 0);
  EXPECT_NE(savedVariables(s)["entropy"], "");  // the server's own, kept for the next run
  s.start({{"VXW_TSDB_TRACE", "1"}});
  ASSERT_TRUE(s.waitLog("[tsdb]: variables received: colour=blue"));
  ASSERT_TRUE(s.waitUp());
  EXPECT_EQ(s.stop().status, 0);
  EXPECT_THAT(s.log(), Not(HasSubstr("entropy=")));
}

// A worker's child that outlives its parent is handed to the supervisor, which reaps it when
// it ends (the look for such orphans waits until the loop is idle).
TEST(Server, ProcessesLeftBehindByAWorkerAreReaped) {
  Server s;
  const std::string out = s.dir() + "/probe.out";
  s.start(vxtest::probeWorker("orphan", out));
  ASSERT_TRUE(waitFile(out, "done")) << vxtest::readFile(out) << s.log();
  std::smatch m;
  const std::string answers = vxtest::readFile(out);
  ASSERT_TRUE(std::regex_search(answers, m, std::regex("orphan ([0-9]+)\n"))) << answers;
  EXPECT_TRUE(s.waitLog("Reaped process " + m[1].str() + ", left behind by a worker")) << s.log();
  EXPECT_EQ(s.stop().status, 0);
}

// The entropy pool is saved as soon as no worker can send anything more, while workers that
// have left are still ending: the registry's disk writes overlap their exits.
TEST(Server, TheEntropyPoolIsSavedWhileWorkersThatHaveLeftAreStillEnding) {
  Server s;
  // Every other worker depends on dbms, so dbms is told to leave last: once it has left, nobody
  // can send anything more, and it lingers before it ends.
  std::map<std::string, std::string> env = {{"VXW_DBMS_LINGER_MS", "2500"}};
  for (const char* sname : {"TSDB", "SCHD", "SKIO", "BRDC", "UPLN", "GRID"})
    env[std::string("VXW_") + sname + "_DEPEND_ON"] = "dbms";
  s.start(env);
  ASSERT_TRUE(s.waitUp());
  const pid_t dbms = s.workerPid("vexlan-dbms.exe");
  ASSERT_GT(dbms, 0);
  // The save is a commit: it grows the registry's write-ahead log, which is looked at without
  // taking any lock the server could wait for.
  const std::string wal = s.dir() + "/registry-machine.db-wal";
  auto walSize = [&] {
    struct stat st {};
    return ::stat(wal.c_str(), &st) == 0 ? st.st_size : off_t{-1};
  };
  const off_t before = walSize();
  ASSERT_EQ(::kill(s.program().pid(), SIGINT), 0);
  const auto until = std::chrono::steady_clock::now() + 2s;
  while (walSize() == before && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(10ms);
  EXPECT_NE(walSize(), before) << s.log();
  EXPECT_EQ(::kill(dbms, 0), 0) << "dbms ended before the save";
  EXPECT_EQ(s.wait().status, 0) << s.log();
  EXPECT_NE(savedVariables(s)["entropy"], "");
}

// Holds the write lock of both registries of a test server, as another program would, until
// release() or its end.
class RegistryWriteLock {
 public:
  explicit RegistryWriteLock(const Server& s) {
    for (const char* file : {"/registry-user.db", "/registry-machine.db"}) {
      sqlite3* db = nullptr;
      if (sqlite3_open((s.dir() + file).c_str(), &db) == SQLITE_OK &&
          sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK) {
        held_.push_back(db);
      } else {
        sqlite3_close(db);
      }
    }
  }
  ~RegistryWriteLock() { release(); }
  RegistryWriteLock(const RegistryWriteLock&) = delete;
  RegistryWriteLock& operator=(const RegistryWriteLock&) = delete;
  bool held() const { return held_.size() == 2; }
  void release() {
    for (sqlite3* db : held_) {
      sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
      sqlite3_close(db);
    }
    held_.clear();
  }

 private:
  std::vector<sqlite3*> held_;
};

// The save waits for the disk (here: for another program's write lock); the workers, whose
// leaves are all acknowledged by then, must not wait for it.
TEST(Server, NoWorkerWaitsForTheSaveOfTheState) {
  Server s;
  std::map<std::string, std::string> env = {{"VX_REGISTRY_BUSY_MS", "10000"}};
  s.start(env);
  ASSERT_TRUE(s.waitUp());
  const pid_t server = s.program().pid();
  std::vector<pid_t> workers;
  std::istringstream children(vxtest::readFile("/proc/" + std::to_string(server) + "/task/" +
                                               std::to_string(server) + "/children"));
  for (pid_t pid; children >> pid;)
    workers.push_back(pid);
  ASSERT_FALSE(workers.empty());
  RegistryWriteLock lock(s);
  ASSERT_TRUE(lock.held());
  // A worker that has ended is a zombie until the server, busy with the save, reaps it.
  auto ended = [](pid_t pid) {
    const std::string stat = vxtest::readFile("/proc/" + std::to_string(pid) + "/stat");
    const size_t paren = stat.rfind(')');
    return paren == std::string::npos || stat.compare(paren + 1, 2, " Z") == 0;
  };
  ASSERT_EQ(::kill(server, SIGINT), 0);
  const auto until = std::chrono::steady_clock::now() + 5s;
  auto all_ended = [&] { return std::all_of(workers.begin(), workers.end(), ended); };
  while (!all_ended() && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(10ms);
  EXPECT_TRUE(all_ended()) << "a worker waited for the save";
  lock.release();
  EXPECT_EQ(s.wait().status, 0) << s.log();
  EXPECT_NE(savedVariables(s)["entropy"], "");
}

TEST(Server, WorkersNeitherSeeNorSetTheSavedEntropyAndAKnownPoolDecidesNothing) {
  Server s;
  // A pool somebody knows byte for byte (as a worker that planted or read it would).
  security::EntropyPool known;
  const std::string planted = std::string(128, '4') + known.save();  // 64 bytes of 0x44
  std::vector<std::string> first_random, pure;
  for (int run = 0; run < 2; ++run) {
    plantVariables(s, {{"entropy", planted}, {"colour", "blue"}});
    const std::string out = s.dir() + "/probe" + std::to_string(run) + ".out";
    s.start(vxtest::probeWorker("randomhex,purehex,vars,store:entropy=41,store:size=9", out));
    ASSERT_TRUE(waitFile(out, "exception 7001 ")) << vxtest::readFile(out) << s.log();
    const std::string answers = vxtest::readFile(out);
    std::smatch m;
    ASSERT_TRUE(std::regex_search(answers, m, std::regex("random ([0-9a-f]{64})\n")));
    first_random.push_back(m[1]);
    ASSERT_TRUE(std::regex_search(answers, m, std::regex("pure ([0-9a-f]{64})\n")));
    pure.push_back(m[1]);
    ASSERT_TRUE(std::regex_search(answers, m, std::regex("vars ([^\n]*)\n")));
    EXPECT_THAT(m[1].str(), HasSubstr("colour"));
    EXPECT_THAT(m[1].str(), Not(HasSubstr("entropy")));
    EXPECT_THAT(answers, HasSubstr("exception 7001 Variable \"entropy\" is reserved\n"));
    EXPECT_TRUE(
        s.waitLog("Refused a store of server variables by [extr]: the variable "
                  "\"entropy\" is the server's own"));
    ASSERT_TRUE(s.waitUp()) << s.log();
    ASSERT_EQ(s.stop().status, 0);
    EXPECT_EQ(savedVariables(s)["size"], "9");  // an ordinary store still works
    EXPECT_NE(savedVariables(s)["entropy"].substr(0, 2), "41");
  }
  // Fresh kernel bytes are stirred into the pool at every start.
  EXPECT_NE(first_random[0], first_random[1]);
  EXPECT_NE(pure[0], pure[1]);
  for (const std::string& p : pure)
    EXPECT_NE(p, std::string(64, '4'));
}

TEST(Server, WorkerTextReachesTheLogEscapedOneLineEach) {
  Server s;
  const std::string out = s.dir() + "/probe.out";
  std::map<std::string, std::string> env = vxtest::probeWorker("lognl", out);
  env["VXW_DBMS_STDERR"] = "said\nThu Dec  3 14:05:09 2026: also forged\x1b[2J";
  s.start(env);
  ASSERT_TRUE(waitFile(out, "done"));
  ASSERT_TRUE(s.waitLog("[extr]: first line"));
  ASSERT_TRUE(s.waitLog("Process [dbms]: Thu Dec"));
  const std::string log = s.log();
  EXPECT_THAT(log, HasSubstr("[extr]: first line\\nThu Dec  3 14:05:09 2026: forged line\\r\n"));
  // Standard output and error are lines: one log line each.
  EXPECT_THAT(log, HasSubstr("Process [dbms]: said\n"));
  EXPECT_THAT(log, HasSubstr("Process [dbms]: Thu Dec  3 14:05:09 2026: also forged\\033[2J\n"));
  EXPECT_THAT(log, Not(HasSubstr("\nThu Dec  3 14:05:09 2026")));
  ASSERT_TRUE(s.waitUp()) << s.log();
  EXPECT_EQ(s.stop().status, 0);
}

TEST(Server, ABusyRegistryFailsTheStoreNotTheServer) {
  Server s;
  plantVariables(s, {{"colour", "blue"}});
  // Another program holds both registries for longer than the server waits.
  RegistryWriteLock lock(s);
  ASSERT_TRUE(lock.held());
  const std::string out = s.dir() + "/probe.out";
  std::map<std::string, std::string> env = vxtest::probeWorker("store:colour=red,vars", out);
  env["VX_REGISTRY_BUSY_MS"] = "300";
  s.start(env);
  ASSERT_TRUE(waitFile(out, "exception 7001 ")) << vxtest::readFile(out) << s.log();
  EXPECT_THAT(
      vxtest::readFile(out),
      HasSubstr("exception 7001 Cannot store server variables: Couldn't create registrykey"));
  EXPECT_THAT(s.log(), HasSubstr("Cannot store the server variables of [extr]: "));
  EXPECT_THAT(s.log(), HasSubstr("Device or resource busy"));
  lock.release();
  EXPECT_EQ(::kill(s.program().pid(), 0), 0);
  EXPECT_THAT(s.log(), Not(HasSubstr("Fatal")));
  ASSERT_TRUE(s.waitUp()) << s.log();
  EXPECT_EQ(s.stop().status, 0);
  EXPECT_EQ(savedVariables(s)["colour"], "red");  // kept, and saved at the end
}

// How many times the log says `text`: a line repeated at once is written only as "Last
// message repeated N times" (N counting the first), and only when a different line follows.
size_t countLogged(const std::string& log, const std::string& text) {
  std::istringstream lines(log);
  size_t n = 0;
  bool last = false;
  for (std::string line; std::getline(lines, line);) {
    size_t at = line.find(": Last message repeated ");
    if (at != std::string::npos) {
      if (last) n += std::stoul(line.substr(at + 24)) - 1;
    } else {
      last = line.find(text) != std::string::npos;
      n += last;
    }
  }
  return n;
}

TEST(Server, NetCheckFileChangesReachTheDatabaseWorker) {
  Server s;
  std::string file = s.dir() + "/netchecks.conf";
  vxtest::writeFile(file, "[disk]\ncommand=/bin/true\n");
  vxtest::writeFile(s.configFile(),
                    "custom_netcheck_conf = \"" + file + "\"\n" + vxtest::readFile(s.configFile()));
  s.start({{"VXW_DBMS_TRACE", "1"}, {"VX_NETCHECK_INTERVAL_MS", "50"}});
  ASSERT_TRUE(s.waitLog("[dbms]: got UPDATE_NETCHECKS from main"));
  // Replaced whole, so that no look at it finds it half-written; then ten more looks.
  vxtest::writeFile(file + ".new", "[disk]\ncommand=/bin/false\n[load]\ncommand=/bin/true\n");
  ASSERT_EQ(::rename((file + ".new").c_str(), file.c_str()), 0);
  std::this_thread::sleep_for(500ms);
  ASSERT_TRUE(s.waitUp()) << s.log();
  EXPECT_EQ(s.stop().status, 0);
  // Once at the start, once for the change, never for an unchanged file.
  EXPECT_EQ(countLogged(s.log(), "[dbms]: got UPDATE_NETCHECKS from main"), 2u) << s.log();
}

TEST(Server, WorkersThatNeedOneAnotherAreToldToExitTogether) {
  Server s;
  s.start({{"VXW_SCHD_DEPEND_ON", "dbms"},
           {"VXW_DBMS_DEPEND_ON", "schd"},
           {"VXW_GRID_DEPEND_ON", "schd"}});
  ASSERT_TRUE(s.waitLog("All children up and running"));
  ASSERT_TRUE(s.waitUp()) << s.log();
  Outcome o = s.stop();
  EXPECT_EQ(o.status, 0) << o.err;
  std::string log = s.log();
  size_t ring = at(log,
                   "Workers [schd] [dbms] need one another to shut down; telling them to "
                   "exit together");
  EXPECT_GT(ring, at(log, "Process [grid] successfully shut down"));
  EXPECT_GT(at(log, "Telling vexlan-dbms.exe to exit"), ring);
  EXPECT_TRUE(s.allGone());
}

TEST(Server, RepeatedSignalsShowProgressAndAStuckWorkerKilledFromOutsideEndsTheRun) {
  Server s;
  s.start({{"VXW_DBMS_IGNORE_EXIT", "1"}});
  ASSERT_TRUE(s.waitUp());
  ::kill(s.program().pid(), SIGINT);
  ASSERT_TRUE(s.waitLog("[dbms]: ignoring SYS_EXIT"));
  ASSERT_TRUE(s.waitLog("Process [upln] successfully shut down"));
  ::kill(s.program().pid(), SIGINT);
  pid_t dbms = s.workerPid("vexlan-dbms.exe");
  ASSERT_TRUE(s.waitLog("Shutdown already in progress. Be patient please..."));
  EXPECT_TRUE(s.waitLog("Waiting for vexlan-dbms.exe " + std::to_string(dbms) +
                        "...state=3 process_gone=0 istream_eos=0 stderr_eos=0 isDone says: 0"));
  ::kill(dbms, SIGKILL);
  Outcome o = s.wait();
  EXPECT_EQ(o.status, 1);
  EXPECT_THAT(o.err, HasSubstr("Vexlan fatal error: Process [dbms] terminated unexpectedly with "
                               "exit code 137\n"));
  EXPECT_THAT(s.log(), HasSubstr("Process [dbms] was killed by signal 9"));
  EXPECT_THAT(s.log(), HasSubstr(". Will shut down."));
  EXPECT_THAT(s.log(), Not(HasSubstr("Vexlan shutdown complete")));
  EXPECT_TRUE(s.allGone());
}

struct Failure {
  const char* name;
  std::map<std::string, std::string> env;
  std::string probe;  // probe worker script, if any
  std::string fatal;  // what reportFatal says
};

void PrintTo(const Failure& f, std::ostream* os) {
  *os << f.name;
}

class ServerFailure : public testing::TestWithParam<Failure> {};

// Every failure of a worker ends the run at once: reported, every process killed, exit 1.
TEST_P(ServerFailure, EndsTheRunAndLeavesNothingRunning) {
  const Failure& f = GetParam();
  Server s;
  std::map<std::string, std::string> env = f.env;
  if (!f.probe.empty()) env.merge(vxtest::probeWorker(f.probe, s.dir() + "/probe.out"));
  s.start(env);
  Outcome o = s.wait();
  EXPECT_EQ(o.status, 1);
  EXPECT_THAT(o.err, HasSubstr("Vexlan fatal error: " + f.fatal))
      << s.log() << vxtest::readFile(s.dir() + "/probe.out");
  EXPECT_THAT(s.log(), HasSubstr("Fatal error: " + f.fatal));
  EXPECT_THAT(s.log(), Not(HasSubstr("Vexlan shutdown complete")));
  EXPECT_TRUE(s.allGone());
}

INSTANTIATE_TEST_SUITE_P(
    Workers, ServerFailure,
    testing::Values(
        Failure{"ExitCode3",
                {{"VXW_SKIO_EXIT", "3:300"}},
                "",
                "Process [skio] terminated unexpectedly with exit code 3"},
        Failure{"LeavesOnItsOwn", {{"VXW_SKIO_EXIT", "0:300"}}, "", "Process [skio] shut down."},
        Failure{"EndsBeforeConnecting",
                {{"VX_EXTRA_PROCESS", "/bin/true"}},
                "",
                "Process [extr] shut down."},
        Failure{"SecondInitOk",
                {{"VXW_DBMS_SECOND_INIT_OK", "1"}},
                "",
                "Reading from process [dbms] caused: Child dbms sent Init_Ok while not in "
                "Initing state!"},
        Failure{"Garbage",
                {{"VXW_TSDB_GARBAGE", "1"}},
                "",
                "Reading from process [tsdb] caused: fdio >> event: unknown type index: 250"},
        Failure{"WrongDestination",
                {},
                "wrongdest",
                "Reading from process [extr] caused: Main got message not destined for main."},
        Failure{"LyingLength", {}, "lie", "Process [extr] sent only part of an event for 1000 ms"},
        Failure{"Flood", {}, "flood", "Process [extr] has not taken its events for 1000 ms: "},
        // The real sender is named, not the worker whose id it used.
        Failure{"SpeaksInAnotherWorkersName",
                {},
                "claim",
                "Process [extr] broke the messaging protocol: Protocol violation by sibling 24: "
                "IAmUp(2) [from:2] sent in the name of sibling 2"},
        // Other workers' areas are read-only to a worker: the stray write faults in the writer.
        Failure{"StrayWriteIntoAnotherArea",
                {},
                "stray",
                "Process [extr] terminated unexpectedly with exit code 139"}),
    [](const testing::TestParamInfo<Failure>& info) { return info.param.name; });

// What a worker asks of the supervisor about other workers, and what the supervisor says: a
// peer that cannot exist, a spawn of a worker that is not demand-loaded, an event the
// supervisor does not take, and a reply for a demand-loaded worker that has left meanwhile.
TEST(Server, RoutingAndControlRequestsAreLogged) {
  Server s;
  const std::string go = s.dir() + "/go", enough = s.dir() + "/enough";
  std::map<std::string, std::string> env =
      vxtest::probeWorker("await:" + go + ",jitter:" + enough, s.dir() + "/probe.out");
  env.insert({{"VXW_TSDB_SEND", "bnch:1"},
              {"VXW_DBMS_SEND", "main:1"},
              {"VXW_DBMS_REQUEST_SPAWN", "bnch"},
              {"VXW_SCHD_SEND", "keyg:1"},
              {"VXW_KEYG_ENTROPY", "32"},
              {"VXW_KEYG_EXIT", "0:300"}});
  s.start(env);
  ASSERT_TRUE(s.waitLog(" is neither running nor able to be autostarted.")) << s.log();
  ASSERT_TRUE(s.waitLog("!!! vexland got bad message REQUEST_RESULT from [dbms]. ignoring !!!"));
  ASSERT_TRUE(s.waitLog("[tsdb]: send to bnch refused by the supervisor: messages lost"));
  std::string log = s.log();
  EXPECT_THAT(log, HasSubstr(": Sender ID: 20\n"));
  EXPECT_THAT(log, HasSubstr(":  wanted to send message to ID: 9\n"));
  EXPECT_THAT(log, HasSubstr(": . But ID: 9\n"));
  EXPECT_THAT(log, HasSubstr("Ignoring request from [dbms] to spawn bnch: it is not a "
                             "demand-loaded worker"));
  // keyg, started for schd, asks for more entropy than the pool holds and leaves; once the
  // probe's traffic has filled the pool, the answer starts keyg again.
  ASSERT_TRUE(s.waitLog("Process [keyg] successfully shut down")) << s.log();
  EXPECT_THAT(s.log(), Not(HasSubstr("Auto-starting process")));
  vxtest::writeFile(go, "");
  EXPECT_TRUE(s.waitLog("Auto-starting process for queue [keyg]", 30s)) << s.log();
  vxtest::writeFile(enough, "");
  ASSERT_TRUE(s.waitUp()) << s.log();
  Outcome o = s.stop();
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_TRUE(s.allGone());
}

TEST(Server, AStopBeforeEveryWorkerIsUpNeverReportsTheServerUp) {
  Server s;
  // The scheduler comes up only after the stop has begun, and then asks for a peer and a
  // spawn: neither starts anything any more.
  s.start({{"VXW_SCHD_INIT_DELAY_MS", "3000"},
           {"VXW_SCHD_TRACE", "1"},
           {"VXW_SCHD_REQUEST_SPAWN", "kngt"},
           {"VXW_SCHD_SEND", "keyg:1"}});
  ASSERT_TRUE(s.waitLog("[schd]: started as")) << s.log();
  Outcome o = s.stop();
  const std::string log = s.log();
  // The last INIT_OK came after the stop had begun.
  ASSERT_LT(log.find("System shutdown initiated"), log.find("[schd]: INIT_OK sent")) << log;
  EXPECT_THAT(log, Not(HasSubstr("All children up and running")));
  EXPECT_THAT(o.err, Not(HasSubstr("Vexlan: Spawned OK.")));
  EXPECT_THAT(o.err, HasSubstr("Vexlan: Failed initializing.\n"));
  EXPECT_EQ(o.status, 1);
  EXPECT_THAT(log, HasSubstr("vexland ignoring request for spawn of demand-load process because "
                             "of shutdown in progress"));
  EXPECT_THAT(log, HasSubstr("Ignoring request to spawn keyg because of event from id schd"));
  EXPECT_THAT(log, Not(HasSubstr("Spawned vexlan-keygen")));
  EXPECT_TRUE(s.allGone());
}

// The server does not run without its log; once the log is open, every later failure of the
// start is in it as well.
TEST(Server, StartFailuresBeforeAnyWorker) {
  {
    Server s;
    vxtest::writeFile(s.dir() + "/log", "a file where the log directory belongs");
    s.start();
    Outcome o = s.wait();
    EXPECT_EQ(o.status, 1);
    EXPECT_THAT(o.err, HasSubstr("Vexlan fatal error: Cannot open log file '" + s.dir() +
                                 "/log/server.log': Not a directory\n"
                                 "Vexlan: Failed initializing.\n"));
    EXPECT_EQ(s.status(), "");  // nothing started, not even the status file
  }
  // A bad setting found while the worker table is made (the settings themselves are checked in
  // worker_entry_test.cc): reported in both places, nothing started.
  Server s;
  s.start({{"VX_GRID_ROLE", "bogus"}});
  Outcome o = s.wait();
  EXPECT_EQ(o.status, 1);
  const std::string fatal = "Invalid VX_GRID_ROLE \"bogus\": expected master, satellite or nothing";
  EXPECT_THAT(o.err,
              HasSubstr("Vexlan fatal error: " + fatal + "\nVexlan: Failed initializing.\n"));
  EXPECT_THAT(s.log(), HasSubstr(": Fatal error: " + fatal));
  EXPECT_THAT(s.log(), Not(HasSubstr("Spawned ")));
}

TEST(Server, AMissingProgramFailsTheStart) {
  Server s;
  s.start({{"VX_EXTRA_PROCESS", "vexlan-nonexistent"}});
  Outcome o = s.wait();
  EXPECT_EQ(o.status, 1);
  EXPECT_THAT(o.err, HasSubstr("Vexlan: Failed initializing.\n"));
  EXPECT_THAT(s.log(), HasSubstr("Fatal: File not found: vexlan-nonexistent"));
  // The workers started before it were killed.
  EXPECT_EQ(spawned(s.log()).size(), 7u);
  EXPECT_THAT(s.status(), HasSubstr("\"state\": \"failed\""));
}

}  // namespace
