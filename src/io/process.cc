// Starting a child: clone it sharing our memory until it execs (as posix_spawn does), prepare
// the child with async-signal-safe calls only (the parent may have other threads, whose locks
// the child must never touch), exec. Everything the child needs is built before the clone. The
// child reports a failed step through a close-on-exec pipe, so the caller gets the exception
// and the failed child is reaped at once.
#include "io/process.h"

#include <fcntl.h>
#include <linux/close_range.h>
#include <sched.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <filesystem>
#include <utility>

#include "error/assert.h"
#include "error/exception.h"
#include "io/exceptions.h"

namespace io {

namespace {

// Direct system calls: the C library's declarations of these lack C linkage for C++.
int pidfdOpen(pid_t pid) {
  return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
}

int pidfdSendSignal(int pidfd, int sig) {
  return static_cast<int>(::syscall(SYS_pidfd_send_signal, pidfd, sig, nullptr, 0));
}

// What the child reports on its error pipe.
enum Stage : int {
  kExec = 1,
  kChdir,
  kStdio,
  kInherit,
  kSetup,
  kPriorityRefused,  // a note: the child goes on at our priority
};

struct Report {
  int stage;
  int error;
};

// Closes a descriptor when the start fails half-way.
struct Fd {
  int fd = -1;
  Fd() = default;
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() { reset(); }
  void reset() {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
  int release() { return std::exchange(fd, -1); }
};

void makePipe(Fd& read_end, Fd& write_end) {
  int p[2];
  if (::pipe2(p, O_CLOEXEC) != 0) error::throwErrno("Unable to create pipe");
  read_end.fd = p[0];
  write_end.fd = p[1];
}

// Where our own executable lies: read once, as it cannot change while we run.
const std::string& ownDirectory() {
  static const std::string dir = [] {
    std::error_code ec;
    auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : exe.parent_path().string();
  }();
  return dir;
}

std::string searchPath() {
  if (const char* p = ::getenv("PATH")) return p;
  size_t n = ::confstr(_CS_PATH, nullptr, 0);
  std::string s(n, '\0');
  ::confstr(_CS_PATH, s.data(), n);
  s.resize(n > 0 ? n - 1 : 0);
  return s;
}

std::vector<char*> cStrings(std::vector<std::string>& v) {
  std::vector<char*> out;
  for (std::string& s : v)
    out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

// Everything the child does between clone and exec, prepared by the parent.
struct ChildPlan {
  pid_t parent = 0;
  int report_fd = -1;
  int std_src[3] = {-1, -1, -1};  // descriptor to become 0, 1, 2; -1 keeps ours
  bool stderr_to_stdout = false;
  bool own_group = true;
  bool die_with_parent = true;
  const char* directory = nullptr;
  bool set_nice = false;
  int nice = 0;
  int max_fd = 0;  // fallback bound when close_range cannot mark descriptors
  std::vector<int> inherit;
  std::vector<char*> argv;
  std::vector<char*> envp;
  std::vector<char*> candidates;
};

// The child runs in our memory, on a stack of its own, until it execs or exits. Code running
// there must not change anything of ours: system calls on its own descriptors and signal
// state, and its own stack. The address sanitizer would mark that stack's frames in the
// shadow memory we share, so it is kept out of the child's functions.
#define VX_CHILD_SIDE __attribute__((no_sanitize("address")))

VX_CHILD_SIDE void report(const ChildPlan& plan, int stage, int err) {
  Report r{stage, err};
  [[maybe_unused]] ssize_t n = ::write(plan.report_fd, &r, sizeof r);
}

[[noreturn]] VX_CHILD_SIDE void fail(const ChildPlan& plan, int stage, int err) {
  report(plan, stage, err);
  ::_exit(127);
}

VX_CHILD_SIDE bool retryableExecError(int err) {
  return err == ENOENT || err == ENOTDIR || err == EACCES || err == ENODEV || err == ESTALE ||
         err == ETIMEDOUT || err == ELOOP || err == ENAMETOOLONG;
}

// Runs in the child: async-signal-safe calls only.
[[noreturn]] VX_CHILD_SIDE void runChild(const ChildPlan& plan) {
  // All signals arrive blocked (see start); handlers of the parent must not run here.
  struct sigaction dfl = {};
  dfl.sa_handler = SIG_DFL;
  for (int sig = 1; sig < NSIG; ++sig) {
    if (sig != SIGKILL && sig != SIGSTOP) ::sigaction(sig, &dfl, nullptr);
  }
  sigset_t none;
  ::sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);

  if (plan.own_group && ::setpgid(0, 0) != 0) fail(plan, kSetup, errno);
  if (plan.die_with_parent) {
    if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0) fail(plan, kSetup, errno);
    // The parent may have ended before the request took effect.
    if (::getppid() != plan.parent) ::_exit(127);
  }
  if (plan.directory != nullptr && ::chdir(plan.directory) != 0) fail(plan, kChdir, errno);

  // Move the sources above 2 first, so that placing one cannot overwrite another.
  int moved[3] = {-1, -1, -1};
  for (int i = 0; i < 3; ++i) {
    if (plan.std_src[i] < 0) continue;
    moved[i] = ::fcntl(plan.std_src[i], F_DUPFD_CLOEXEC, 3);
    if (moved[i] < 0) fail(plan, kStdio, errno);
  }
  for (int i = 0; i < 3; ++i) {
    if (moved[i] >= 0) {
      if (::dup2(moved[i], i) < 0) fail(plan, kStdio, errno);
    } else if (!(i == 2 && plan.stderr_to_stdout)) {
      int flags = ::fcntl(i, F_GETFD);  // inherited: make sure it survives exec
      if (flags >= 0 && (flags & FD_CLOEXEC)) ::fcntl(i, F_SETFD, flags & ~FD_CLOEXEC);
    }
  }
  if (plan.stderr_to_stdout && ::dup2(1, 2) < 0) fail(plan, kStdio, errno);

  // Nothing above 2 survives exec except what a passable asked for.
  if (::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC) != 0) {
    for (int fd = 3; fd < plan.max_fd; ++fd)
      ::fcntl(fd, F_SETFD, FD_CLOEXEC);
  }
  for (int fd : plan.inherit) {
    if (::fcntl(fd, F_SETFD, 0) != 0) fail(plan, kInherit, errno);
  }

  if (plan.set_nice && ::setpriority(PRIO_PROCESS, 0, plan.nice) != 0) {
    report(plan, kPriorityRefused, errno);
  }

  int err = ENOENT;
  bool denied = false;
  for (char* const* c = plan.candidates.data(); *c != nullptr; ++c) {
    ::execve(*c, plan.argv.data(), plan.envp.data());
    err = errno;
    if (!retryableExecError(err)) break;
    denied = denied || err == EACCES;
  }
  fail(plan, kExec, retryableExecError(err) && denied ? EACCES : err);
}

VX_CHILD_SIDE int childEntry(void* plan) {
  runChild(*static_cast<const ChildPlan*>(plan));
}

// The child's stack: enough for the system call wrappers and the dynamic linker's binding of
// their first calls. One per thread, kept for every later start: the child is done with it when
// clone returns (it has exec'd or exited), and mapping a fresh one each time cost a map, the
// child's page faults on it and an unmap with its TLB flush per start.
class ChildStack {
 public:
  static constexpr size_t kSize = 256 * 1024;
  static void* top() {
    thread_local ChildStack stack;
    return stack.base_ + kSize;
  }

 private:
  ChildStack() {
    void* p = ::mmap(nullptr, kSize, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
    if (p == MAP_FAILED) error::throwErrno("Unable to allocate a stack to start a process");
    base_ = static_cast<char*>(p);
  }
  ~ChildStack() { ::munmap(base_, kSize); }
  ChildStack(const ChildStack&) = delete;
  ChildStack& operator=(const ChildStack&) = delete;

  char* base_;
};

}  // namespace

Process::Process(const ProcessSpec& spec)
    : name_(spec.program),
      stdin_("stdin[" + spec.program + "]"),
      stdout_("stdout[" + spec.program + "]"),
      stderr_("stderr[" + spec.program + "]") {
  start(spec);
}

Process::~Process() {
  leaveAllSelectors();
  if (pidfd_ >= 0) {
    if (!exit_code_) {
      siginfo_t si = {};
      ::waitid(static_cast<idtype_t>(P_PIDFD), static_cast<id_t>(pidfd_), &si, WEXITED | WNOHANG);
    }
    ::close(pidfd_);
  }
}

void Process::start(const ProcessSpec& spec) {
  VX_ASSERT(spec.priority >= 0 && spec.priority <= 2, "Unknown priority ", spec.priority, " for ",
            spec.program);
  ChildPlan plan;
  plan.parent = ::getpid();
  plan.own_group = spec.own_process_group;
  plan.die_with_parent = spec.die_with_parent;
  plan.stderr_to_stdout = spec.stderr_to_stdout;

  std::vector<int> inherit;
  Variables vars = childEnvironment(spec, inherit);
  std::vector<std::string> env;
  env.reserve(vars.size());
  for (const auto& [name, value] : vars)
    env.push_back(name + "=" + value);
  std::vector<std::string> args = childArguments(spec);
  std::vector<std::string> candidates = programCandidates(
      spec.program, ownDirectory(),
      spec.program_dir.empty() ? searchPath() : spec.program_dir + ":" + searchPath());
  plan.envp = cStrings(env);
  plan.argv = cStrings(args);
  plan.candidates = cStrings(candidates);
  for (int fd : inherit)
    VX_ASSERT(fd > 2, "Descriptor ", fd, " passed to ", spec.program,
              " would replace a standard descriptor");
  plan.inherit = inherit;
  struct rlimit rl = {};
  plan.max_fd = ::getrlimit(RLIMIT_NOFILE, &rl) == 0 && rl.rlim_cur < 65536
                    ? static_cast<int>(rl.rlim_cur)
                    : 65536;
  if (!spec.working_directory.empty()) plan.directory = spec.working_directory.c_str();
  if (spec.priority != 1) {
    errno = 0;
    int ours = ::getpriority(PRIO_PROCESS, 0);
    if (errno != 0) ours = 0;
    plan.set_nice = true;
    plan.nice = std::clamp(ours + (spec.priority == 0 ? -5 : 5), -20, 19);
  }

  // Parent's ends [0] stdin write, [1] stdout read, [2] stderr read; the child's ends beside.
  Fd parent_end[3], child_end[3], null_dev;
  StdMode modes[3] = {spec.stdin_mode, spec.stdout_mode,
                      spec.stderr_to_stdout ? StdMode::Inherit : spec.stderr_mode};
  for (int i = 0; i < 3; ++i) {
    if (modes[i] == StdMode::Pipe) {
      if (i == 0) {
        makePipe(child_end[0], parent_end[0]);
      } else {
        makePipe(parent_end[i], child_end[i]);
      }
      plan.std_src[i] = child_end[i].fd;
    } else if (modes[i] == StdMode::Null) {
      if (null_dev.fd < 0) {
        null_dev.fd = ::open("/dev/null", O_RDWR | O_CLOEXEC);
        if (null_dev.fd < 0) error::throwErrno("Unable to open /dev/null");
      }
      plan.std_src[i] = null_dev.fd;
    }
  }
  Fd report_read, report_write;
  makePipe(report_read, report_write);
  plan.report_fd = report_write.fd;

  // The child shares our memory and we wait until it has exec'd or exited (CLONE_VM |
  // CLONE_VFORK): no page tables are copied, the copy is not torn down again by the exec, and
  // neither process takes copy-on-write faults afterwards, which made a fork several times
  // dearer than this. Our waiting is no loss: the exec report below waits for the same moment.
  // The child starts with every signal blocked until it has reset the dispositions.
  void* stack_top = ChildStack::top();
  sigset_t all, old;
  ::sigfillset(&all);
  ::pthread_sigmask(SIG_SETMASK, &all, &old);
  pid_t pid = ::clone(childEntry, stack_top, CLONE_VM | CLONE_VFORK | SIGCHLD, &plan);
  int clone_errno = errno;
  ::pthread_sigmask(SIG_SETMASK, &old, nullptr);
  if (pid < 0) error::throwSystemError("Unable to execute: " + spec.program, clone_errno);

  report_write.reset();
  for (Fd& fd : child_end)
    fd.reset();
  null_dev.reset();
  if (spec.own_process_group) ::setpgid(pid, pid);  // also here: no window for group signals

  // The reports end when exec succeeds (the pipe closes) or the child exits.
  Report fatal{0, 0};
  Report r;
  for (;;) {
    ssize_t n = ::read(report_read.fd, &r, sizeof r);
    if (n < 0 && errno == EINTR) continue;
    if (n != static_cast<ssize_t>(sizeof r)) break;
    if (r.stage == kPriorityRefused) {
      priority_refused_ = true;
    } else {
      fatal = r;
    }
  }
  int pidfd = fatal.stage == 0 ? pidfdOpen(pid) : -1;
  if (fatal.stage == 0 && pidfd < 0) {
    fatal = Report{kSetup, errno};
    ::kill(pid, SIGKILL);
  }
  if (fatal.stage != 0) {
    while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    switch (fatal.stage) {
      case kExec:
        if (fatal.error == ENOENT || fatal.error == ENOTDIR) {
          throw error::EFileNotFoundError("File not found: " + spec.program);
        }
        throw error::ESystemError("Unable to execute: " + spec.program, fatal.error);
      case kChdir:
        error::throwSystemError("Unable to change to directory: " + spec.working_directory,
                                fatal.error);
      case kStdio:
        throw error::ESystemError("Unable to set up standard handles of " + spec.program,
                                  fatal.error);
      case kInherit:
        throw error::ESystemError("Unable to pass a descriptor to " + spec.program, fatal.error);
      default:
        throw error::ESystemError("Unable to execute: " + spec.program, fatal.error);
    }
  }
  pid_ = pid;
  pidfd_ = pidfd;
  if (parent_end[0].fd >= 0) stdin_.attach(parent_end[0].release());
  if (parent_end[1].fd >= 0) stdout_.attach(parent_end[1].release());
  if (parent_end[2].fd >= 0) stderr_.attach(parent_end[2].release());
}

int Process::exitCode() {
  if (exit_code_) return *exit_code_;
  siginfo_t si = {};
  if (::waitid(static_cast<idtype_t>(P_PIDFD), static_cast<id_t>(pidfd_), &si, WEXITED | WNOHANG) !=
      0) {
    error::throwErrno("Unable to get process exit information");
  }
  if (si.si_pid == 0) throw ENotReady(describe());
  if (si.si_code == CLD_EXITED) {
    exit_code_ = si.si_status;
  } else {
    term_signal_ = si.si_status;
    exit_code_ = 128 + si.si_status;
  }
  return *exit_code_;
}

void Process::kill() {
  if (exit_code_) return;  // reaped: the pid may belong to someone else by now
  if (pidfdSendSignal(pidfd_, SIGKILL) != 0 && errno != ESRCH) {
    throw error::ESystemError("Cannot kill process " + name_ + " with PID " + std::to_string(pid_),
                              errno);
  }
}

}  // namespace io
