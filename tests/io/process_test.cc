#include "io/process.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "io/exceptions.h"
#include "io/selector.h"
#include "io/timer.h"
#include "support/test_support.h"

extern char** environ;

namespace {

// ---- children (the test binary re-executed) ----

void put(int fd, const std::string& s) {
  for (size_t off = 0; off < s.size();) {
    ssize_t n = ::write(fd, s.data() + off, s.size() - off);
    if (n <= 0) std::_Exit(90);
    off += static_cast<size_t>(n);
  }
}

// Describes the child as it finds itself, one "key=value" line per fact.
VXTEST_CHILD(report) {
  std::ostringstream os;
  std::string cmdline = vxtest::readFile("/proc/self/cmdline");
  for (size_t i = 0; i < cmdline.size();) {
    size_t z = cmdline.find('\0', i);
    os << "arg=" << cmdline.substr(i, z - i) << "\n";
    i = z + 1;
  }
  for (char** e = environ; *e != nullptr; ++e)
    os << "env=" << *e << "\n";
  os << "cwd=" << std::filesystem::current_path().string() << "\n";
  DIR* d = ::opendir("/proc/self/fd");
  while (dirent* de = ::readdir(d)) {
    if (de->d_name[0] != '.' && std::atoi(de->d_name) != ::dirfd(d)) {
      os << "fd=" << de->d_name << "\n";
    }
  }
  ::closedir(d);
  if (const char* m = std::getenv("smem::mapfile")) {
    char buf[16] = {};
    ssize_t n = ::pread(std::atoi(m), buf, sizeof buf - 1, 0);
    os << "passed=" << std::string(buf, n > 0 ? static_cast<size_t>(n) : 0) << "\n";
  }
  int sig = 0;
  ::prctl(PR_GET_PDEATHSIG, &sig);
  os << "pdeathsig=" << sig << "\n";
  os << "own_group=" << (::getpgid(0) == ::getpid()) << "\n";
  os << "nice=" << ::getpriority(PRIO_PROCESS, 0) << "\n";
  put(1, os.str());
  return 0;
}

// Echoes every line of standard input to standard error, one write per line.
VXTEST_CHILD(echo_stderr) {
  std::string line;
  char c;
  while (::read(0, &c, 1) == 1) {
    line += c;
    if (c == '\n') {
      put(2, line);
      line.clear();
    }
  }
  return 3;
}

VXTEST_CHILD(both_outputs) {
  char c;
  put(1, ::read(0, &c, 1) == 0 ? "stdin-at-eof\n" : "stdin-had-data\n");
  put(2, "to-stderr\n");
  return 0;
}

// Exits with the code given, or ends by SIGTERM for "term".
VXTEST_CHILD(exit_with) {
  if (args.at(0) == "term") ::raise(SIGTERM);
  return std::atoi(args.at(0).c_str());
}

VXTEST_CHILD(burst) {
  put(1, std::string(std::atoi(args.at(0).c_str()), 'z'));
  return 0;
}

// ---- helpers ----

// A selector that fails the test instead of waiting past its limit.
struct Bounded {
  io::BareSelector sel;
  io::Timer guard{TimeValue::now() + TimeValue(30, 0)};
  Bounded() { sel.add(guard); }
  ~Bounded() { sel.remove(guard); }
  // Null when the limit passed.
  io::Selectable* wait() {
    io::Selectable* s = &sel.wait();
    if (s == &guard) ADD_FAILURE() << "child did not finish in time";
    return s == &guard ? nullptr : s;
  }
};

// Reads one chunk into `to`; false at end of stream.
bool readChunk(io::PipeIStream& in, std::string& to) {
  const uint8_t* p;
  try {
    size_t n = in.readBegin(p);
    to.append(reinterpret_cast<const char*>(p), n);
    in.readCommit(n);
    return true;
  } catch (const io::EEndOfStream&) {
    return false;
  }
}

struct Outcome {
  std::string out, err;
  int code = -1;
};

// Serves the child's output pipes and its end through one selector until all three are over.
Outcome runToEnd(io::Process& p) {
  Outcome o;
  Bounded b;
  std::vector<io::Selectable*> live{&p};
  for (io::PipeIStream* s : {&p.stdOut(), &p.stdErr()})
    if (s->isOpen()) live.push_back(s);
  for (io::Selectable* s : live)
    b.sel.add(*s);
  while (!live.empty()) {
    io::Selectable* s = b.wait();
    if (s == nullptr) {
      p.kill();
      break;
    }
    if (s == &p) {
      o.code = p.exitCode();
    } else if (readChunk(*dynamic_cast<io::PipeIStream*>(s), s == &p.stdOut() ? o.out : o.err)) {
      continue;
    }
    b.sel.remove(*s);
    live.erase(std::find(live.begin(), live.end(), s));
  }
  for (io::Selectable* s : live)
    b.sel.remove(*s);
  return o;
}

io::ProcessSpec childSpec(const std::string& child, std::vector<std::string> args = {}) {
  io::ProcessSpec spec;
  spec.program = vxtest::selfExe();
  spec.arguments = std::move(args);
  spec.variables["VXTEST_CHILD"] = child;
  return spec;
}

std::vector<std::string> values(const std::string& report, const std::string& key) {
  std::vector<std::string> out;
  std::istringstream in(report);
  for (std::string line; std::getline(in, line);)
    if (line.rfind(key + "=", 0) == 0) out.push_back(line.substr(key.size() + 1));
  return out;
}

std::string value(const std::string& report, const std::string& key) {
  auto v = values(report, key);
  return v.size() == 1 ? v[0] : "<" + std::to_string(v.size()) + " values>";
}

// Passes a memory file holding "pool" and a variable that later passables overwrite.
class FakePool : public io::Passable {
 public:
  FakePool() {
    fd_ = ::memfd_create("vxtest-pool", MFD_CLOEXEC);
    EXPECT_EQ(::write(fd_, "pool", 4), 4);
  }
  ~FakePool() override { ::close(fd_); }
  void pass(io::Variables& vars, const std::string& prefix, std::vector<int>& inherit) override {
    vars[prefix + "::mapfile"] = std::to_string(fd_);
    vars["VXTEST_LAST_PASSABLE"] = prefix;
    inherit.push_back(fd_);
  }
  int fd() const { return fd_; }

 private:
  int fd_;
};

// ---- what needs no child ----

TEST(ProcessSetup, ProgramCandidatesInLookupOrder) {
  using V = std::vector<std::string>;
  EXPECT_EQ(
      io::programCandidates("w.exe", "/opt/vx", "/usr/bin::/bin/"),
      (V{"/opt/vx/w", "/opt/vx/w.exe", "/usr/bin/w", "/usr/bin/w.exe", "/bin/w", "/bin/w.exe"}));
  EXPECT_EQ(io::programCandidates("w", "/opt/vx", "/opt/vx:/bin"), (V{"/opt/vx/w", "/bin/w"}));
  EXPECT_EQ(io::programCandidates(".exe", "", "/bin"), (V{"/bin/.exe"}));
  EXPECT_EQ(io::programCandidates("/usr/bin/w.exe", "/opt/vx", "/bin"),
            (V{"/usr/bin/w", "/usr/bin/w.exe"}));
  EXPECT_EQ(io::programCandidates("sub/w", "/opt/vx", "/bin"), (V{"/opt/vx/sub/w", "sub/w"}));
}

TEST(ProcessSetup, EnvironmentRejectsNamesAChildCouldNotSee) {
  std::vector<int> inherit;
  for (std::string bad : {std::string("A=B"), std::string(""), std::string("A\0B", 3)}) {
    io::ProcessSpec spec;
    spec.variables[bad] = "x";
    EXPECT_THROW(io::childEnvironment(spec, inherit), error::Exception) << bad;
  }
}

// ---- real children ----

TEST(Process, ChildGetsEnvironmentDirectoryArgumentsAndNothingElse) {
  vxtest::ScopedEnv inherited("VXTEST_INHERITED", "parent");
  vxtest::ScopedEnv overridden("VXTEST_OVERRIDDEN", "parent");
  int leaky = ::open("/dev/null", O_RDONLY);  // not close-on-exec, yet not for the child
  vxtest::TempDir dir;
  FakePool pool_a, pool_b;
  io::ProcessSpec spec = childSpec("report", {"one two", " three"});
  spec.working_directory = dir.path();
  spec.variables["VXTEST_OVERRIDDEN"] = "spec";
  spec.passables["smem"] = &pool_a;
  spec.passables["alpha"] = &pool_b;
  io::Process p(spec);
  Outcome o = runToEnd(p);
  ::close(leaky);
  ASSERT_EQ(o.code, 0) << o.err;

  EXPECT_EQ(values(o.out, "arg"), (std::vector<std::string>{spec.program, "one", "two", "three"}));
  EXPECT_EQ(value(o.out, "cwd"), std::filesystem::canonical(dir.path()).string());
  std::vector<std::string> env = values(o.out, "env");
  EXPECT_TRUE(
      std::is_sorted(env.begin(), env.end(), [](const std::string& a, const std::string& b) {
        return a.substr(0, a.find('=')) < b.substr(0, b.find('='));
      }));
  auto has = [&](const std::string& e) { return std::count(env.begin(), env.end(), e) == 1; };
  EXPECT_TRUE(has("VXTEST_INHERITED=parent"));
  EXPECT_TRUE(has("VXTEST_OVERRIDDEN=spec"));
  EXPECT_TRUE(has("VXTEST_LAST_PASSABLE=smem"));  // passables speak in prefix order
  EXPECT_TRUE(has("alpha::mapfile=" + std::to_string(pool_b.fd())));
  EXPECT_TRUE(has("smem::mapfile=" + std::to_string(pool_a.fd())));

  std::vector<std::string> fds = values(o.out, "fd");
  std::vector<std::string> want{"0", "1", "2", std::to_string(pool_a.fd()),
                                std::to_string(pool_b.fd())};
  std::sort(fds.begin(), fds.end());
  std::sort(want.begin(), want.end());
  EXPECT_EQ(fds, want);
  EXPECT_EQ(value(o.out, "passed"), "pool");
}

TEST(Process, ChildLeadsItsGroupDiesWithUsAndRunsAtItsPriority) {
  errno = 0;
  int ours = ::getpriority(PRIO_PROCESS, 0);
  io::ProcessSpec low = childSpec("report");
  low.priority = 2;
  io::Process p(low);
  Outcome o = runToEnd(p);
  EXPECT_EQ(value(o.out, "own_group"), "1");
  EXPECT_EQ(value(o.out, "pdeathsig"), std::to_string(SIGKILL));
  EXPECT_EQ(value(o.out, "nice"), std::to_string(std::min(ours + 5, 19)));

  io::ProcessSpec high = childSpec("report");
  high.priority = 0;
  io::Process h(high);
  o = runToEnd(h);
  EXPECT_EQ(o.code, 0);
  int expected = h.priorityRefused() ? ours : std::max(ours - 5, -20);
  EXPECT_EQ(value(o.out, "nice"), std::to_string(expected));
}

TEST(Process, InputLinesComeBackAsSeparateStderrChunksThenTheExitCode) {
  io::Process p(childSpec("echo_stderr"));
  EXPECT_EQ(p.describe(), "Process[" + vxtest::selfExe() + "]");
  EXPECT_EQ(p.stdErr().describe(), "PipeIStream(stderr[" + vxtest::selfExe() + "])");
  Bounded b;
  b.sel.add(p.stdErr());
  for (std::string line : {"first\n", "second line\n"}) {
    uint8_t* q;
    ASSERT_GE(p.stdIn().writeBegin(q), line.size());
    std::copy(line.begin(), line.end(), q);
    p.stdIn().writeCommit(line.size());
    EXPECT_TRUE(p.stdIn().flush());
    std::string chunk;
    while (chunk.size() < line.size()) {
      ASSERT_EQ(b.wait(), &p.stdErr());
      ASSERT_TRUE(readChunk(p.stdErr(), chunk));
    }
    EXPECT_EQ(chunk, line);
  }
  p.stdIn().close();  // the child sees end of input and exits
  std::string rest;
  ASSERT_EQ(b.wait(), &p.stdErr());
  EXPECT_FALSE(readChunk(p.stdErr(), rest));
  b.sel.remove(p.stdErr());
  b.sel.add(p);
  ASSERT_EQ(b.wait(), &p);
  EXPECT_EQ(p.exitCode(), 3);
  EXPECT_EQ(p.exitCode(), 3);  // answered again after the child was reaped
  EXPECT_EQ(p.terminatingSignal(), 0);
  b.sel.remove(p);
}

TEST(Process, StandardModesNullAndMergedStderr) {
  io::ProcessSpec spec = childSpec("both_outputs");
  spec.stdin_mode = io::StdMode::Null;
  spec.stderr_to_stdout = true;
  io::Process p(spec);
  EXPECT_FALSE(p.stdIn().isOpen());
  EXPECT_FALSE(p.stdErr().isOpen());
  Outcome o = runToEnd(p);
  EXPECT_EQ(o.out, "stdin-at-eof\nto-stderr\n");
  EXPECT_EQ(o.code, 0);
}

TEST(Process, ExitCodesAndSignals) {
  for (int code : {0, 7, 255}) {
    io::Process p(childSpec("exit_with", {std::to_string(code)}));
    EXPECT_EQ(runToEnd(p).code, code);
  }
  // Ignored and blocked here; the child must get the default action back.
  struct sigaction ign = {}, old_action;
  ign.sa_handler = SIG_IGN;
  ::sigaction(SIGTERM, &ign, &old_action);
  sigset_t term, old_mask;
  sigemptyset(&term);
  sigaddset(&term, SIGTERM);
  ::sigprocmask(SIG_BLOCK, &term, &old_mask);
  io::Process p(childSpec("exit_with", {"term"}));
  // The child ran in our memory but reset its own copy of the dispositions: ours stand.
  struct sigaction now = {};
  ::sigaction(SIGTERM, nullptr, &now);
  EXPECT_EQ(now.sa_handler, SIG_IGN);
  ::sigprocmask(SIG_SETMASK, &old_mask, nullptr);
  ::sigaction(SIGTERM, &old_action, nullptr);
  EXPECT_EQ(runToEnd(p).code, 128 + SIGTERM);
  EXPECT_EQ(p.terminatingSignal(), SIGTERM);
}

TEST(Process, KillEndsARunningChildAndIsSilentAfterItsEnd) {
  io::Process p(childSpec("echo_stderr"));  // waits for input forever
  EXPECT_THROW(p.exitCode(), io::ENotReady);
  p.kill();
  Bounded b;
  b.sel.add(p);
  EXPECT_EQ(b.wait(), &p);
  p.kill();  // ended, not yet reaped
  EXPECT_EQ(p.exitCode(), 128 + SIGKILL);
  p.kill();  // reaped
  b.sel.remove(p);
}

TEST(Process, EndedChildsPipeIsReadToTheLastByteBeforeEndOfStream) {
  const size_t size = 60000;  // fits the pipe, so the child ends before we read anything
  io::ProcessSpec spec = childSpec("burst", {std::to_string(size)});
  spec.stderr_mode = io::StdMode::Inherit;
  io::Process p(spec);
  {
    Bounded b;
    b.sel.add(p);
    ASSERT_EQ(b.wait(), &p);
    b.sel.remove(p);
  }
  EXPECT_EQ(p.exitCode(), 0);
  Bounded b;
  b.sel.add(p.stdOut());
  std::string data;
  for (;;) {
    ASSERT_EQ(b.wait(), &p.stdOut());
    if (!readChunk(p.stdOut(), data)) break;
  }
  b.sel.remove(p.stdOut());
  EXPECT_EQ(data, std::string(size, 'z'));
}

TEST(Process, ProgramIsFoundBesideUsThenThroughPath) {
  vxtest::TempDir dir;
  std::filesystem::create_symlink(vxtest::selfExe(), dir.file("vxtest-probe"));
  vxtest::ScopedEnv path("PATH", dir.path());
  // Beside this program, under its own name with the ".exe" the worker table writes.
  io::ProcessSpec own = childSpec("exit_with", {"5"});
  own.program = std::filesystem::path(vxtest::selfExe()).filename().string() + ".exe";
  io::Process a(own);
  EXPECT_EQ(runToEnd(a).code, 5);
  // Not beside us: found through PATH.
  io::ProcessSpec via_path = childSpec("exit_with", {"6"});
  via_path.program = "vxtest-probe.exe";
  io::Process b(via_path);
  EXPECT_EQ(runToEnd(b).code, 6);
}

TEST(Process, StartFailuresRaiseAndLeaveNoChildBehind) {
  vxtest::TempDir dir;
  vxtest::writeFile(dir.file("vxtest-noexec"), "#!/bin/sh\n");
  ::chmod(dir.file("vxtest-noexec").c_str(), 0644);
  vxtest::ScopedEnv path("PATH", dir.path());
  auto startError = [](io::ProcessSpec spec) -> std::string {
    try {
      io::Process p(spec);
    } catch (const error::EFileNotFoundError& e) {
      return std::string("not found: ") + e.what();
    } catch (const error::ESystemError& e) {
      return e.what();
    }
    return "started";
  };
  io::ProcessSpec missing = childSpec("exit_with", {"0"});
  missing.program = "vxtest-no-such-program.exe";
  EXPECT_EQ(startError(missing), "not found: File not found: vxtest-no-such-program.exe");
  io::ProcessSpec noexec = childSpec("exit_with", {"0"});
  noexec.program = "vxtest-noexec";
  EXPECT_EQ(startError(noexec), "Unable to execute: vxtest-noexec: Permission denied");
  io::ProcessSpec nodir = childSpec("exit_with", {"0"});
  nodir.working_directory = dir.file("gone");
  EXPECT_EQ(startError(nodir), "not found: Unable to change to directory: " + dir.file("gone") +
                                   ": No such file or directory");
  errno = 0;
  EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);  // every failed child was reaped
  EXPECT_EQ(errno, ECHILD);
}

}  // namespace
