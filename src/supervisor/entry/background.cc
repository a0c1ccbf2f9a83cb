#include "supervisor/entry/background.h"

#include <fcntl.h>
#include <linux/close_range.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "error/exception.h"
#include "error/system_text.h"
#include "supervisor/entry/named_event.h"

extern char** environ;

namespace entry {

namespace {

void setInheritable(int fd, bool inheritable) {
  int flags = ::fcntl(fd, F_GETFD);
  if (flags < 0 || ::fcntl(fd, F_SETFD, inheritable ? flags & ~FD_CLOEXEC : flags | FD_CLOEXEC)) {
    error::throwErrno("Unable to set the inheritance of descriptor " + std::to_string(fd));
  }
}

void writeAll(int fd, const std::string& text, const std::string& what) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) error::throwErrno("Cannot write " + what);
    done += static_cast<size_t>(n);
  }
}

// Waits for the first of: a byte on `started` (0), the child's end (1); 2 when waiting fails.
int waitForChild(int started, pid_t pid) {
  UniqueFd pidfd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
  if (!pidfd.valid()) return 2;
  pollfd fds[2] = {{started, POLLIN, 0}, {pidfd.get(), POLLIN, 0}};
  for (;;) {
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return 2;
    }
    // The started notice wins when both are there: the daemon came up and ended since.
    if (fds[0].revents != 0) {
      char byte;
      ssize_t n = ::read(started, &byte, 1);
      if (n < 0 && errno == EINTR) continue;
      if (n == 1) return 0;
      break;  // closed without a notice: the child has ended (or is ending)
    }
    if (fds[1].revents != 0) break;
  }
  ::waitpid(pid, nullptr, 0);
  return 1;
}

// The program to start as the daemon: this one, by its real path so that the daemon's process
// name is ours; /proc/self/exe when that path is unknown or has been replaced meanwhile.
std::string ownProgram() {
  char buf[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  std::string path = n > 0 ? std::string(buf, static_cast<size_t>(n)) : "";
  struct stat st;
  if (path.empty() || path[0] != '/' || ::stat(path.c_str(), &st) != 0) return "/proc/self/exe";
  return path;
}

int parseDescriptor(std::string_view text) {
  int fd = -1;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), fd);
  if (ec != std::errc() || end != text.data() + text.size() || fd < 3) return -1;
  return fd;
}

void requireDatagramSocket(int fd, const char* prefix) {
  int type = 0;
  socklen_t len = sizeof type;
  if (::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &len) != 0 || type != SOCK_DGRAM) {
    throw error::Exception("descriptor " + std::to_string(fd) + " is not an event socket");
  }
  if (boundEventName(fd).rfind(prefix, 0) != 0) {
    throw error::Exception("descriptor " + std::to_string(fd) + " is not a " + prefix + "N event");
  }
}

// Whatever else the daemon inherited (a caller's pipes, a terminal) would stay open for as
// long as it runs, and a caller waiting for the end of such a pipe would wait as long.
void closeOtherDescriptors(std::vector<int> keep) {
  std::sort(keep.begin(), keep.end());
  unsigned next = 3;
  for (int fd : keep) {
    if (static_cast<unsigned>(fd) > next) ::close_range(next, static_cast<unsigned>(fd) - 1, 0);
    next = static_cast<unsigned>(fd) + 1;
  }
  ::close_range(next, ~0U, 0);
}

// An event socket inherited from the launcher, set through a second socket connected to it.
std::unique_ptr<io::Signal> adoptEvent(int fd) {
  setInheritable(fd, false);
  int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) {
    error::throwErrno("Unable to make descriptor " + std::to_string(fd) + " non-blocking");
  }
  std::string name = boundEventName(fd);
  UniqueFd setter = openEvent(name);
  if (!setter.valid()) throw error::Exception("Cannot open event " + name);
  return std::make_unique<io::Signal>(io::Signal::Adopt{}, fd, setter.release(), name);
}

}  // namespace

int runLauncher(const std::string& pid_file, char** argv) {
  UniqueFd pid_fd(::open(pid_file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
  if (!pid_fd.valid()) {
    std::fprintf(stderr, "Could not create pid file '%s': %s\n", pid_file.c_str(),
                 error::systemText(errno).c_str());
    return 1;
  }
  unsigned number = 0;
  std::vector<UniqueFd> events =
      bindFirstFree({kShutdownEventPrefix, kRotationEventPrefix}, number);
  writeAll(pid_fd.get(), kShutdownEventPrefix + std::to_string(number),
           "pid file '" + pid_file + "'");
  pid_fd.reset();

  int p[2];
  if (::pipe2(p, O_CLOEXEC) != 0) error::throwErrno("Unable to create pipe");
  UniqueFd started_read(p[0]), started_write(p[1]);

  // Only the child gets the descriptors: they are inheritable just for the spawn.
  std::string value = std::to_string(started_write.get()) + ":" + std::to_string(events[0].get()) +
                      ":" + std::to_string(events[1].get());
  for (int fd : {started_write.get(), events[0].get(), events[1].get()})
    setInheritable(fd, true);
  ::setenv(kBackgroundVariable, value.c_str(), 1);
  pid_t pid = -1;
  int err = ::posix_spawn(&pid, ownProgram().c_str(), nullptr, nullptr, argv, environ);
  ::unsetenv(kBackgroundVariable);
  started_write.reset();  // the child's copy is the only one left: its end closes the pipe
  if (err != 0) {
    std::fprintf(stderr, "Could not start child vexland: %s\n", error::systemText(err).c_str());
    return 1;
  }
  return waitForChild(started_read.get(), pid);
}

Background adoptBackground(const std::string& value) {
  Background bg;
  try {
    size_t a = value.find(':');
    size_t b = a == std::string::npos ? a : value.find(':', a + 1);
    if (b == std::string::npos) throw error::Exception("expected started:shutdown:rotation");
    std::string_view v(value);
    int started = parseDescriptor(v.substr(0, a));
    int shutdown = parseDescriptor(v.substr(a + 1, b - a - 1));
    int rotation = parseDescriptor(v.substr(b + 1));
    if (started < 0 || shutdown < 0 || rotation < 0) {
      throw error::Exception("expected three descriptor numbers above 2");
    }
    struct stat st;
    if (::fstat(started, &st) != 0 || !S_ISFIFO(st.st_mode)) {
      throw error::Exception("descriptor " + std::to_string(started) + " is not a pipe");
    }
    requireDatagramSocket(shutdown, kShutdownEventPrefix);
    requireDatagramSocket(rotation, kRotationEventPrefix);
    closeOtherDescriptors({started, shutdown, rotation});
    setInheritable(started, false);
    bg.started.reset(started);
    bg.shutdown = adoptEvent(shutdown);
    bg.rotation = adoptEvent(rotation);
  } catch (const error::Exception& e) {
    throw error::Exception("Invalid " + std::string(kBackgroundVariable) + " value '" + value +
                           "': " + e.what());
  }
  return bg;
}

void signalStarted(UniqueFd& started) {
  std::fflush(nullptr);
  int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
  if (null >= 0) {
    for (int fd = 0; fd < 3; ++fd)
      ::dup2(null, fd);
    ::close(null);
  }
  if (!started.valid()) return;
  char byte = 1;
  while (::write(started.get(), &byte, 1) < 0 && errno == EINTR) {
  }
  started.reset();
}

}  // namespace entry
