// Supervisor benchmark: the real server (vexland and the reference workers of this build's bin
// directory), each figure next to a peer measured in the same run.
//
//   bench_supervisor [--rounds N] [--requests N] [--cycles N] [--idle SECONDS]
//                    [--keep] [benchmark options]
//
//   Start/*        launch to "Vexlan: Spawned OK." (logged after "All children up and
//                  running") with the default table, against starting (posix_spawn) and reaping
//                  as many processes of the worker program (`vexlan-worker --help`), the floor
//                  of any start;
//   Stop/*         SIGINT to the end of the orderly shutdown, against killing and reaping as
//                  many idle processes; also the part until the status file lists no worker
//                  (the rest saves the entropy and the variables, waiting for the disk);
//   Requests/*     blocking REQUEST_SERVER_CONFIGURATION and REQUEST_SERVER_VARIABLE_FIELDS
//                  round trips of a worker (this program as the extra process), against the
//                  same request and reply sizes over an AF_UNIX socketpair between two
//                  processes;
//   DemandLoad/*   REQUEST_SPAWN_PROCESS for keygen, which attaches and leaves at once, until
//                  the supervisor has logged its end, against starting and reaping the worker
//                  program as often;
//   Idle/*         the supervisor's CPU time and resident memory with all workers up and
//                  nothing to do, against an idle worker's (dbms) over the same period.
//
// The servers' runtime directories (status file, FIFOs) are made on /dev/shm when that is a
// memory file system, as /run is for a service; logs and the registry stay in /tmp. All
// servers share one registry, as a server restarted on the same machine does.
//
// Iteration times are the measured times (manual time); the summary prints ours / peer.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/epoll.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/statfs.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "io/selectable.h"
#include "queues/events_control.h"
#include "sdk/worker.h"
#include "wire/memory_stream.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

double since(Clock::time_point t) {
  return std::chrono::duration<double>(Clock::now() - t).count();
}

const fs::path& binDir() {
  static const fs::path dir = fs::read_symlink("/proc/self/exe").parent_path();
  return dir;
}

[[noreturn]] void die(const std::string& what) {
  std::fprintf(stderr, "bench_supervisor: %s\n", what.c_str());
  std::exit(1);
}

// Ready when a file was written to since the last drain (inotify).
class LogWatch : public io::Selectable {
 public:
  explicit LogWatch(const std::string& path) : fd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
    if (fd_ < 0 || ::inotify_add_watch(fd_, path.c_str(), IN_MODIFY) < 0) die("inotify " + path);
  }
  ~LogWatch() override {
    leaveAllSelectors();
    ::close(fd_);
  }
  void drain() {
    char events[4096];
    while (::read(fd_, events, sizeof events) > 0) {
    }
    ready_ = false;
  }
  std::string describe() const override { return "LogWatch"; }
  bool isReady() const override { return ready_; }
  int ioDescriptor() const override { return fd_; }
  uint32_t ioInterest() const override { return ready_ ? 0 : uint32_t{EPOLLIN}; }
  void ioReady(uint32_t) override { ready_ = true; }

 private:
  int fd_;
  bool ready_ = false;
};

// ---- The client: this program as the server's extra process ----

int client() {
  worker::Worker w(worker::Identity::forQueue(queues::QUEUE_EXTRA));
  w.initOk();
  const int requests = std::atoi(std::getenv("BENCH_REQUESTS"));
  const int cycles = std::atoi(std::getenv("BENCH_CYCLES"));
  std::ofstream out(std::getenv("BENCH_OUT"));

  control::Server_Configuration_Fields cfg = w.requestConfiguration();  // warm-up
  auto t = Clock::now();
  for (int i = 0; i < requests; ++i)
    w.requestConfiguration();
  out << "config " << since(t) << "\n";
  // A server's usual handful of variables, so that the reply carries some.
  std::map<std::string, std::string> vars;
  for (int i = 0; i < 10; ++i)
    vars["variable" + std::to_string(i)] = std::string(32, static_cast<char>('a' + i));
  w.storeVariables(vars);
  w.requestVariables();
  t = Clock::now();
  for (int i = 0; i < requests; ++i)
    w.requestVariables();
  out << "vars " << since(t) << "\n";

  // Sizes on the wire, for the peer to copy.
  auto size = [](const queues::event& ev) {
    protocol::MemoryOStream os;
    protocol::ioprim prim(nullptr, &os);
    prim << ev;
    prim.endWrite();
    return os.bytes().size();
  };
  queues::ev<queues::SERVER_CONFIGURATION> config_reply(queues::QUEUE_MAIN, 1, cfg);
  queues::ev<queues::RETURN_SERVER_VARIABLE_FIELDS> vars_reply(queues::QUEUE_MAIN, 1,
                                                               {w.requestVariables()});
  out << "sizes " << size(queues::ev<queues::REQUEST_SERVER_CONFIGURATION>()) << " "
      << size(config_reply) << " " << size(vars_reply) << "\n";
  out.flush();

  // Demand-load cycles: keygen is asked for, attaches and leaves at once. Its end is seen in
  // the server log ("Process [keyg] successfully shut down"), looked at whenever the log grew
  // (inotify), while this worker's loop serves the leave handshakes it takes part in.
  // Only what was added since the last look is read: the log grows with every cycle, and
  // this process shares the machine with the server it measures.
  const std::string log_file = std::getenv("BENCH_LOG");
  const std::string line = "Process [keyg] successfully";
  std::ifstream log(log_file);
  LogWatch grew(log_file);
  std::string tail;
  int seen = 0;
  auto ended = [&] {
    log.clear();
    char buf[4096];
    while (log.read(buf, sizeof buf) || log.gcount() > 0) {
      tail.append(buf, static_cast<size_t>(log.gcount()));
      if (log.eof()) break;
    }
    for (size_t at = tail.find(line); at != std::string::npos; at = tail.find(line)) {
      ++seen;
      tail.erase(0, at + line.size());
    }
    if (tail.size() > line.size()) tail.erase(0, tail.size() - line.size());
    return seen;
  };
  int done = 0;
  auto start = Clock::now();
  auto check = [&] {
    grew.drain();
    if (done == cycles || ended() <= done) return;
    if (++done == cycles) {
      out << "cycles " << done << " " << since(start) << "\n";
      out << "done" << std::endl;
      return;
    }
    w.requestSpawn(queues::QUEUE_KEYG);
  };
  if (cycles > 0) {
    w.watch(grew, check);
    w.requestSpawn(queues::QUEUE_KEYG);
  } else {
    out << "done" << std::endl;
  }
  return w.run();
}

// ---- The server ----

// The server's runtime directory for a run whose files are in `dir`.
fs::path runtimeDir(const fs::path& dir);
// Where the registry databases are: one for all runs.
fs::path registryDir();

class Server {
 public:
  Server(const fs::path& dir, bool passive, std::map<std::string, std::string> env) {
    const fs::path run = runtimeDir(dir);
    run_ = run;
    fs::create_directories(dir);
    fs::create_directories(run);
    std::ofstream(dir / "vexlan.conf")
        << "logdir = \"" << (dir / "log").string() << "\"\nworking_directory = \"" << dir.string()
        << "\"\nlayout_conf = \"x\"\ndbms_tsdb = \"x\"\ndbms_odb = \"x\"\npassive = "
        << (passive ? "true" : "false") << "\n";
    env["VX_REGISTRY_USER"] = (registryDir() / "user.db").string();
    env["VX_REGISTRY_MACHINE"] = (registryDir() / "machine.db").string();
    env["RUNTIME_DIRECTORY"] = run.string();
    // A fixed name, whatever the run mode: the stop watches it for the moment no worker is left.
    env["VX_STATUS_FILE"] = (run / "status.json").string();
    // Started as the peers start theirs (posix_spawn): the launch is measured, not the copy of
    // this process's page tables that a fork would add.
    std::vector<std::string> envs;
    for (char** e = environ; *e != nullptr; ++e) {
      std::string kv = *e;
      if (env.count(kv.substr(0, kv.find('='))) == 0) envs.push_back(kv);
    }
    for (const auto& [k, v] : env)
      envs.push_back(k + "=" + v);
    std::vector<char*> envp;
    for (std::string& kv : envs)
      envp.push_back(kv.data());
    envp.push_back(nullptr);
    std::string exe = (binDir() / "vexland").string(), conf = (dir / "vexlan.conf").string();
    char verbose[] = "-v", file[] = "-f";
    char* argv[] = {exe.data(), verbose, file, conf.data(), nullptr};
    int err[2];
    if (::pipe2(err, O_CLOEXEC) != 0) die("pipe");
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    start_ = Clock::now();
    if (::posix_spawn(&pid_, exe.c_str(), &actions, nullptr, argv, envp.data()) != 0) {
      die("posix_spawn " + exe);
    }
    ::posix_spawn_file_actions_destroy(&actions);
    ::close(err[1]);
    err_ = err[0];
  }
  ~Server() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    ::close(err_);
  }

  // Seconds from the launch until standard error holds `text`.
  double waitErr(const std::string& text, double limit = 60) {
    pollfd p = {err_, POLLIN, 0};
    while (text_.find(text) == std::string::npos) {
      if (since(start_) > limit || ::poll(&p, 1, 100) < 0) die("no \"" + text + "\":\n" + text_);
      char buf[4096];
      if (p.revents != 0) {
        ssize_t n = ::read(err_, buf, sizeof buf);
        if (n <= 0) die("vexland ended:\n" + text_);
        text_.append(buf, static_cast<size_t>(n));
      }
    }
    return since(start_);
  }
  // Seconds from the signal to the end of vexland. `workers_gone`, when given, gets the
  // seconds until the status file first lists no worker; what follows is the saving of the
  // entropy and the variables to the registry (whose writes wait for the disk) and the exit.
  double stop(double* workers_gone = nullptr) {
    int watch = -1;
    if (workers_gone != nullptr) {
      *workers_gone = -1;
      watch = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
      if (watch < 0 || ::inotify_add_watch(watch, run_.c_str(), IN_MOVED_TO) < 0) die("inotify");
    }
    const int ended = static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0));
    if (ended < 0) die("pidfd_open");
    auto t = Clock::now();
    ::kill(pid_, SIGINT);
    for (;;) {
      pollfd p[2] = {{ended, POLLIN, 0}, {watch, POLLIN, 0}};
      if (::poll(p, watch >= 0 ? 2 : 1, 60000) <= 0) die("vexland did not end:\n" + text_);
      if (watch >= 0 && p[1].revents != 0) {
        char events[4096];
        while (::read(watch, events, sizeof events) > 0) {
        }
        std::ifstream in(run_ / "status.json");
        std::string status((std::istreambuf_iterator<char>(in)), {});
        if (*workers_gone < 0 && status.find("\"workers\": []") != std::string::npos) {
          *workers_gone = since(t);
        }
      }
      if (p[0].revents != 0) break;
    }
    int status = 0;
    ::waitpid(pid_, &status, 0);
    double secs = since(t);
    ::close(ended);
    if (watch >= 0) ::close(watch);
    pid_ = -1;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) die("unclean end:\n" + text_);
    return secs;
  }
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  int err_ = -1;
  fs::path run_;
  Clock::time_point start_;
  std::string text_;
};

// ---- Peers ----

// posix_spawn, the cheapest way a program starts another (the child shares our memory until
// its exec; a fork would copy this process's page tables and cost both copy-on-write faults).
pid_t startWorkerHelp() {
  static const std::string exe = (binDir() / "vexlan-worker").string();
  posix_spawn_file_actions_t actions;
  ::posix_spawn_file_actions_init(&actions);
  ::posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  char* argv[] = {const_cast<char*>(exe.c_str()), const_cast<char*>("--help"), nullptr};
  pid_t pid = -1;
  if (::posix_spawn(&pid, exe.c_str(), &actions, nullptr, argv, environ) != 0) die("posix_spawn");
  ::posix_spawn_file_actions_destroy(&actions);
  return pid;
}

// Starts n processes of the worker program back to back and reaps them.
double startProcesses(int n, bool one_by_one) {
  auto t = Clock::now();
  std::vector<pid_t> pids;
  for (int i = 0; i < n; ++i) {
    pids.push_back(startWorkerHelp());
    if (one_by_one) ::waitpid(pids.back(), nullptr, 0);
  }
  if (!one_by_one) {
    for (pid_t p : pids)
      ::waitpid(p, nullptr, 0);
  }
  return since(t);
}

// Kills and reaps n idle processes.
double killProcesses(int n) {
  std::vector<pid_t> pids;
  for (int i = 0; i < n; ++i) {
    pid_t p = ::fork();
    if (p == 0) {
      ::pause();
      ::_exit(0);
    }
    pids.push_back(p);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  auto t = Clock::now();
  for (pid_t p : pids)
    ::kill(p, SIGTERM);
  for (pid_t p : pids)
    ::waitpid(p, nullptr, 0);
  return since(t);
}

bool readAll(int fd, char* p, size_t n) {
  while (n > 0) {
    ssize_t k = ::read(fd, p, n);
    if (k <= 0) return false;
    p += k;
    n -= static_cast<size_t>(k);
  }
  return true;
}

// Round trips of `req` bytes answered with `reply` bytes over a socketpair to a child.
double socketpairRoundTrips(int n, size_t req, size_t reply) {
  int sv[2];
  ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv);
  pid_t child = ::fork();
  if (child == 0) {
    ::close(sv[0]);  // else our own copy keeps the stream from ending
    std::vector<char> in(req), out(reply, 'x');
    while (readAll(sv[1], in.data(), req)) {
      if (::write(sv[1], out.data(), reply) != static_cast<ssize_t>(reply)) break;
    }
    ::_exit(0);
  }
  ::close(sv[1]);
  std::vector<char> in(reply), out(req, 'r');
  auto t = Clock::now();
  for (int i = 0; i < n; ++i) {
    if (::write(sv[0], out.data(), req) != static_cast<ssize_t>(req)) die("socketpair write");
    if (!readAll(sv[0], in.data(), reply)) die("socketpair read");
  }
  double secs = since(t);
  ::close(sv[0]);
  ::waitpid(child, nullptr, 0);
  return secs;
}

// ---- Figures ----

long procTicks(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string st((std::istreambuf_iterator<char>(in)), {});
  std::istringstream rest(st.substr(st.rfind(')') + 2));
  std::string field;
  long utime = 0, stime = 0;
  for (int i = 3; rest >> field; ++i) {
    if (i == 14) utime = std::stol(field);
    if (i == 15) {
      stime = std::stol(field);
      break;
    }
  }
  return utime + stime;
}

// A /proc/<pid>/status figure in kB ("VmRSS", "RssAnon", "RssShmem").
double procStatusKb(pid_t pid, const std::string& key) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(key + ":", 0) == 0) return std::atof(line.c_str() + key.size() + 1);
  }
  return -1;
}

std::map<std::string, double> readResults(const fs::path& file, double limit) {
  auto t = Clock::now();
  for (;;) {
    std::ifstream in(file);
    std::string all((std::istreambuf_iterator<char>(in)), {});
    if (all.find("done") != std::string::npos) {
      std::map<std::string, double> r;
      std::istringstream lines(all);
      for (std::string line; std::getline(lines, line);) {
        std::istringstream f(line);
        std::string key;
        f >> key;
        double a = 0, b = 0, c = 0;
        f >> a >> b >> c;
        r[key] = a;
        r[key + "2"] = b;
        r[key + "3"] = c;
      }
      return r;
    }
    if (since(t) > limit) die("the client did not finish: " + all);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

struct Settings {
  int rounds = 3;
  int requests = 20000;
  int cycles = 100;
  bool keep = false;  // leave the run directories (logs, status files) for inspection
  double idle = 6;
  fs::path base;
  fs::path run_base;  // runtime directories (status file, FIFOs): in memory where possible
};
Settings g;
int g_workers = 0;  // start-up workers of the default table, counted in the first start
std::map<std::string, std::vector<double>> g_samples;

void keep(const std::string& key, double v) {
  g_samples[key].push_back(v);
}

// A service's runtime directory is /run/vexlan, in memory: the status file is replaced there
// after every change. A runtime directory on a disk would measure the file system's rename.
fs::path runtimeDir(const fs::path& dir) {
  return (g.run_base.empty() ? dir : g.run_base / dir.filename()) / "run";
}

// Every server of this benchmark is the same server started again: the first start creates
// the registry (waiting for the disk for each of its synchronous writes, up to 170 ms on the
// test machine), the others read it.
fs::path registryDir() {
  return g.base;
}

fs::path runDir() {
  static int n = 0;
  return g.base / ("run" + std::to_string(n++));
}

int countSpawned(const fs::path& dir) {
  std::ifstream log(dir / "log" / "server.log");
  int n = 0;
  for (std::string line; std::getline(log, line);)
    n += line.find(": Spawned ") != std::string::npos;
  return n;
}

void BM_Start_Vexland(benchmark::State& state) {
  for (auto _ : state) {
    fs::path dir = runDir();
    Server s(dir, false, {});
    double secs = s.waitErr("Vexlan: Spawned OK.");
    state.SetIterationTime(secs);
    keep("start/ours", secs);
    if (g_workers == 0) g_workers = countSpawned(dir);
    state.PauseTiming();
    s.stop();
    state.ResumeTiming();
  }
  state.counters["workers"] = g_workers;
}

void BM_Start_ProcessesPeer(benchmark::State& state) {
  for (auto _ : state) {
    double secs = startProcesses(g_workers, false);
    state.SetIterationTime(secs);
    keep("start/peer", secs);
  }
  state.counters["processes"] = g_workers;
}

void BM_Stop_Vexland(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    fs::path dir = runDir();
    Server s(dir, false, {});
    s.waitErr("Vexlan: Spawned OK.");
    // The peer kills as many processes (a filter may have left the start out).
    if (g_workers == 0) g_workers = countSpawned(dir);
    state.ResumeTiming();
    double gone = -1;
    double secs = s.stop(&gone);
    state.SetIterationTime(secs);
    keep("stop/ours", secs);
    if (gone >= 0) keep("stopworkers/ours", gone);
  }
}

void BM_Stop_KillPeer(benchmark::State& state) {
  for (auto _ : state) {
    double secs = killProcesses(g_workers);
    state.SetIterationTime(secs);
    keep("stop/peer", secs);
    keep("stopworkers/peer", secs);
  }
  state.counters["processes"] = g_workers;
}

// One server whose extra process is this program: it measures the round trips and the
// demand-load cycles from inside and writes them to a file.
std::map<std::string, double> g_client;

void BM_Requests_ClientSession(benchmark::State& state) {
  for (auto _ : state) {
    fs::path dir = runDir();
    fs::path out = dir / "client.out";
    Server s(dir, true,
             {{"VX_EXTRA_PROCESS", fs::read_symlink("/proc/self/exe").string()},
              {"BENCH_CLIENT", "1"},
              {"BENCH_OUT", out.string()},
              {"BENCH_REQUESTS", std::to_string(g.requests)},
              {"BENCH_CYCLES", std::to_string(g.cycles)},
              {"BENCH_LOG", (dir / "log" / "server.log").string()},
              {"VXW_KEYG_EXIT", "0:0"}});
    s.waitErr("Vexlan: Spawned OK.");
    g_client = readResults(out, 120);
    s.stop();
    state.SetIterationTime(g_client["config"] + g_client["vars"] + g_client["cycles2"]);
  }
  const double n = g.requests;
  keep("config/ours", g_client["config"] / n);
  keep("vars/ours", g_client["vars"] / n);
  keep("demand/ours", g_client["cycles2"] / g.cycles);
  state.counters["config_per_s"] = n / g_client["config"];
  state.counters["vars_per_s"] = n / g_client["vars"];
  state.counters["demand_cycle_ms"] = g_client["cycles2"] * 1e3 / g.cycles;
}

void BM_Requests_SocketpairPeer(benchmark::State& state) {
  const size_t req = static_cast<size_t>(g_client["sizes"]);
  const size_t config = static_cast<size_t>(g_client["sizes2"]);
  const size_t vars = static_cast<size_t>(g_client["sizes3"]);
  for (auto _ : state) {
    double c = socketpairRoundTrips(g.requests, req, config);
    double v = socketpairRoundTrips(g.requests, req, vars);
    state.SetIterationTime(c + v);
    keep("config/peer", c / g.requests);
    keep("vars/peer", v / g.requests);
    state.counters["config_per_s"] = g.requests / c;
    state.counters["vars_per_s"] = g.requests / v;
  }
  state.counters["request_bytes"] = static_cast<double>(req);
  state.counters["config_reply_bytes"] = static_cast<double>(config);
  state.counters["vars_reply_bytes"] = static_cast<double>(vars);
}

void BM_DemandLoad_ProcessPeer(benchmark::State& state) {
  for (auto _ : state) {
    double secs = startProcesses(g.cycles, true);
    state.SetIterationTime(secs);
    keep("demand/peer", secs / g.cycles);
  }
}

void BM_Idle_Vexland(benchmark::State& state) {
  const double tick = 1.0 / static_cast<double>(::sysconf(_SC_CLK_TCK));
  for (auto _ : state) {
    fs::path dir = runDir();
    Server s(dir, false, {});
    s.waitErr("Vexlan: Spawned OK.");
    // The dbms worker's pid, from "Spawned vexlan-dbms.exe with pid N".
    pid_t dbms = -1;
    std::ifstream log(dir / "log" / "server.log");
    for (std::string line; std::getline(log, line);) {
      size_t at = line.find("Spawned vexlan-dbms.exe with pid ");
      if (at != std::string::npos) dbms = std::atoi(line.c_str() + at + 33);
    }
    long before = procTicks(s.pid()), before_peer = dbms > 0 ? procTicks(dbms) : 0;
    std::this_thread::sleep_for(std::chrono::duration<double>(g.idle));
    double cpu = static_cast<double>(procTicks(s.pid()) - before) * tick;
    double cpu_peer = dbms > 0 ? static_cast<double>(procTicks(dbms) - before_peer) * tick : -1;
    state.SetIterationTime(g.idle);
    keep("idle/ours", cpu);
    keep("idle/peer", cpu_peer);
    state.counters["cpu_s"] = cpu;
    state.counters["idle_worker_cpu_s"] = cpu_peer;
    state.counters["rss_kb"] = procStatusKb(s.pid(), "VmRSS");
    state.counters["rss_anon_kb"] = procStatusKb(s.pid(), "RssAnon");
    state.counters["rss_pool_kb"] = procStatusKb(s.pid(), "RssShmem");
    state.counters["idle_worker_rss_kb"] = dbms > 0 ? procStatusKb(dbms, "VmRSS") : -1;
    s.stop();
  }
}

double best(const std::string& key) {
  auto it = g_samples.find(key);
  if (it == g_samples.end() || it->second.empty()) return 0;
  return *std::min_element(it->second.begin(), it->second.end());
}

void summary(const char* what, const std::string& key, double scale, const char* unit) {
  double ours = best(key + "/ours"), peer = best(key + "/peer");
  if (ours == 0 && peer == 0) return;
  std::printf("%-34s best %10.3f %s   peer %10.3f %s   ours/peer %.2f\n", what, ours * scale, unit,
              peer * scale, unit, peer > 0 ? ours / peer : 0.0);
}

}  // namespace

int main(int argc, char** argv) {
  if (std::getenv("BENCH_CLIENT") != nullptr) return client();
  int kept = 1;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--rounds" && i + 1 < argc) {
      g.rounds = std::max(1, std::atoi(argv[++i]));
    } else if (a == "--requests" && i + 1 < argc) {
      g.requests = std::max(1, std::atoi(argv[++i]));
    } else if (a == "--cycles" && i + 1 < argc) {
      g.cycles = std::max(1, std::atoi(argv[++i]));
    } else if (a == "--keep") {
      g.keep = true;
    } else if (a == "--idle" && i + 1 < argc) {
      g.idle = std::max(1.0, std::atof(argv[++i]));
    } else {
      argv[kept++] = argv[i];
    }
  }
  argc = kept;
  char tmpl[] = "/tmp/bench_supervisor.XXXXXX";
  if (::mkdtemp(tmpl) == nullptr) die("mkdtemp");
  g.base = tmpl;
  struct statfs shm;
  char run_tmpl[] = "/dev/shm/bench_supervisor.XXXXXX";
  if (::statfs("/dev/shm", &shm) == 0 && shm.f_type == TMPFS_MAGIC &&
      ::mkdtemp(run_tmpl) != nullptr) {
    g.run_base = run_tmpl;
  }

  // Registered in this order on purpose: the peers use what the measurement before them found
  // (the number of workers, the sizes on the wire).
  const int r = g.rounds;
  benchmark::RegisterBenchmark("Start/Vexland", BM_Start_Vexland)->UseManualTime()->Iterations(r);
  benchmark::RegisterBenchmark("Start/ProcessesPeer", BM_Start_ProcessesPeer)
      ->UseManualTime()
      ->Iterations(r);
  benchmark::RegisterBenchmark("Stop/Vexland", BM_Stop_Vexland)->UseManualTime()->Iterations(r);
  benchmark::RegisterBenchmark("Stop/KillPeer", BM_Stop_KillPeer)->UseManualTime()->Iterations(r);
  benchmark::RegisterBenchmark("Requests/ClientSession", BM_Requests_ClientSession)
      ->UseManualTime()
      ->Iterations(1);
  benchmark::RegisterBenchmark("Requests/SocketpairPeer", BM_Requests_SocketpairPeer)
      ->UseManualTime()
      ->Iterations(1);
  benchmark::RegisterBenchmark("DemandLoad/ProcessPeer", BM_DemandLoad_ProcessPeer)
      ->UseManualTime()
      ->Iterations(1);
  benchmark::RegisterBenchmark("Idle/Vexland", BM_Idle_Vexland)->UseManualTime()->Iterations(1);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (g.keep) {
    std::printf("kept: %s %s\n", g.base.c_str(), g.run_base.c_str());
  } else {
    fs::remove_all(g.base);
    if (!g.run_base.empty()) fs::remove_all(g.run_base);
  }

  std::printf("\n");
  summary("start, all start-up workers up", "start", 1e3, "ms");
  summary("orderly stop", "stop", 1e3, "ms");
  summary("  of which until the workers are gone", "stopworkers", 1e3, "ms");
  summary("REQUEST_SERVER_CONFIGURATION trip", "config", 1e6, "us");
  summary("REQUEST_SERVER_VARIABLE_FIELDS trip", "vars", 1e6, "us");
  summary("demand-load cycle", "demand", 1e3, "ms");
  summary("idle CPU (peer: an idle worker)", "idle", 1.0, "s ");
  return 0;
}
