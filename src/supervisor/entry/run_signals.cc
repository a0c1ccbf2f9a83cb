#include "supervisor/entry/run_signals.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>

namespace entry {

namespace {

std::atomic<int> shutdown_fd{-1};
std::atomic<int> rotation_fd{-1};
static_assert(std::atomic<int>::is_always_lock_free, "the handlers read these");

void onSignal(int sig) {
  int saved = errno;
  int fd = (sig == SIGUSR1 ? rotation_fd : shutdown_fd).load(std::memory_order_relaxed);
  if (fd >= 0) {
    uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(fd, &one, sizeof one);
  }
  errno = saved;
}

void install(int sig, struct sigaction& old) {
  struct sigaction sa = {};
  sa.sa_handler = onSignal;
  ::sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  ::sigaction(sig, &sa, &old);
}

}  // namespace

RunSignals::RunSignals(const io::Signal& shutdown, const io::Signal& rotation) {
  shutdown_fd = shutdown.setFd();
  rotation_fd = rotation.setFd();
  install(SIGINT, old_int_);
  install(SIGTERM, old_term_);
  install(SIGUSR1, old_usr1_);
}

RunSignals::~RunSignals() {
  ::sigaction(SIGINT, &old_int_, nullptr);
  ::sigaction(SIGTERM, &old_term_, nullptr);
  ::sigaction(SIGUSR1, &old_usr1_, nullptr);
  shutdown_fd = -1;
  rotation_fd = -1;
}

}  // namespace entry
