#include "supervisor/orphan_reaper.h"

#include <dirent.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <fstream>

#include "error/exception.h"

namespace supervisor {

namespace {

std::atomic<int> g_sigchld_fd{-1};

void onSigchld(int) {
  int saved = errno;
  int fd = g_sigchld_fd.load(std::memory_order_relaxed);
  if (fd >= 0) {
    uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(fd, &one, sizeof one);
  }
  errno = saved;
}

}  // namespace

OrphanReaper::OrphanReaper() : signal_("child ended") {
  if (::prctl(PR_SET_CHILD_SUBREAPER, 1) != 0) error::throwErrno("Cannot become a child subreaper");
  g_sigchld_fd.store(signal_.setFd());
  struct sigaction sa {};
  sa.sa_handler = onSigchld;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART | SA_NOCLDSTOP;
  ::sigaction(SIGCHLD, &sa, &previous_);
}

OrphanReaper::~OrphanReaper() {
  ::sigaction(SIGCHLD, &previous_, nullptr);
  g_sigchld_fd.store(-1);
}

std::vector<pid_t> OrphanReaper::children() {
  std::vector<pid_t> out;
  DIR* tasks = ::opendir("/proc/self/task");
  if (tasks == nullptr) return out;
  while (dirent* t = ::readdir(tasks)) {
    if (t->d_name[0] == '.') continue;
    std::ifstream in(std::string("/proc/self/task/") + t->d_name + "/children");
    for (pid_t pid; in >> pid;)
      out.push_back(pid);
  }
  ::closedir(tasks);
  return out;
}

std::vector<pid_t> OrphanReaper::reap(const std::function<bool(pid_t)>& ours) {
  signal_.reset();
  std::vector<pid_t> reaped;
  for (pid_t pid : children()) {
    if (ours(pid)) continue;
    siginfo_t info{};
    if (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG) == 0 &&
        info.si_pid == pid) {
      reaped.push_back(pid);
    }
  }
  return reaped;
}

std::vector<pid_t> OrphanReaper::killRest(const std::function<bool(pid_t)>& ours) {
  std::vector<pid_t> killed;
  // Whatever a killed orphan had started comes to us in turn; a few rounds take those too.
  for (int round = 0; round < 8; ++round) {
    bool found = false;
    for (pid_t pid : children()) {
      if (ours(pid)) continue;
      found = true;
      // The pid stays ours until we reap it, so the signal cannot reach another process.
      ::kill(pid, SIGKILL);
      siginfo_t info{};
      while (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED) != 0 && errno == EINTR) {
      }
      killed.push_back(pid);
    }
    if (!found) break;
  }
  signal_.reset();
  return killed;
}

}  // namespace supervisor
