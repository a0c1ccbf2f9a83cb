#include "supervisor/orphan_reaper.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

#include "support/test_support.h"

namespace supervisor {
namespace {

bool contains(const std::vector<pid_t>& v, pid_t p) {
  return std::find(v.begin(), v.end(), p) != v.end();
}

// Runs in a child of its own, so that the test binary never becomes a subreaper. Each failed
// step is its own exit code.
VXTEST_CHILD(orphan_reaper) {
  OrphanReaper reaper;
  int pipefd[2];
  if (::pipe(pipefd) != 0) return 10;
  pid_t parent = ::fork();
  if (parent == 0) {
    pid_t grandchild = ::fork();
    if (grandchild == 0) {
      ::pause();
      ::_exit(0);
    }
    [[maybe_unused]] ssize_t n = ::write(pipefd[1], &grandchild, sizeof grandchild);
    ::_exit(0);  // the grandchild is orphaned and comes to us
  }
  pid_t orphan = 0;
  if (::read(pipefd[0], &orphan, sizeof orphan) != sizeof orphan) return 11;
  if (::waitpid(parent, nullptr, 0) != parent) return 12;
  if (!contains(OrphanReaper::children(), orphan)) return 13;

  pid_t quick = ::fork();
  if (quick == 0) ::_exit(3);
  pollfd pfd = {reaper.signal().handle(), POLLIN, 0};
  if (::poll(&pfd, 1, 5000) != 1) return 14;  // SIGCHLD reached the signal
  // Our own children are left alone; an ended stranger is reaped, a running one is not.
  if (!reaper.reap([quick](pid_t p) { return p == quick; }).empty()) return 15;
  std::vector<pid_t> reaped;
  for (int i = 0; i < 500 && reaped.empty(); ++i) {
    reaped = reaper.reap([](pid_t) { return false; });
    if (reaped.empty()) ::usleep(10000);
  }
  if (reaped != std::vector<pid_t>{quick}) return 16;

  std::vector<pid_t> killed = reaper.killRest([](pid_t) { return false; });
  if (killed != std::vector<pid_t>{orphan}) return 17;
  if (!OrphanReaper::children().empty()) return 18;
  return 0;
}

TEST(OrphanReaper, AdoptsReapsAndKillsWhatWorkersLeaveBehind) {
  pid_t pid = ::fork();
  if (pid == 0) {
    ::setenv("VXTEST_CHILD", "orphan_reaper", 1);
    std::string self = vxtest::selfExe();
    ::execl(self.c_str(), self.c_str(), nullptr);
    ::_exit(99);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace supervisor
