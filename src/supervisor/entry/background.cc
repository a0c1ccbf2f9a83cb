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
#include <cstring>
#include <vector>

#include "error/exception.h"
#include "error/system_text.h"
#include "supervisor/entry/event_signal.h"
#include "supervisor/entry/named_event.h"
#include "supervisor/entry/pid_file.h"

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
  return std::make_unique<EventSignal>(fd, setter.release(), name);
}

}  // namespace

namespace {

// Removes the pid file a failed start created, unless somebody has put another file there
// meanwhile.
class PidFileCleanup {
 public:
  PidFileCleanup(const std::string& path, int fd) : path_(path) {
    struct stat st;
    if (::fstat(fd, &st) == 0) {
      dev_ = st.st_dev;
      ino_ = st.st_ino;
    }
  }
  ~PidFileCleanup() {
    struct stat st;
    if (armed_ && ::lstat(path_.c_str(), &st) == 0 && st.st_dev == dev_ && st.st_ino == ino_) {
      ::unlink(path_.c_str());
    }
  }
  void keep() { armed_ = false; }

 private:
  std::string path_;
  dev_t dev_ = 0;
  ino_t ino_ = 0;
  bool armed_ = true;
};

}  // namespace

int runLauncher(const std::string& pid_file, char** argv) {
  // Nobody else may open it for writing before the lock is taken (0600); it is readable by
  // everybody once it is, as pid files are.
  UniqueFd pid_fd(::open(pid_file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
  if (!pid_fd.valid()) {
    std::fprintf(stderr, "Could not create pid file '%s': %s\n", pid_file.c_str(),
                 error::systemText(errno).c_str());
    return 1;
  }
  PidFileCleanup cleanup(pid_file, pid_fd.get());
  if (!lockPidFile(pid_fd.get())) {
    std::fprintf(stderr, "Could not lock pid file '%s': %s\n", pid_file.c_str(),
                 error::systemText(errno).c_str());
    return 1;
  }
  ::fchmod(pid_fd.get(), 0644);
  unsigned number = 0;
  std::vector<UniqueFd> events =
      bindFirstFree({kShutdownEventPrefix, kRotationEventPrefix}, number);
  // From here on every datagram carries its sender's credentials, also those that arrive
  // before the daemon has taken the sockets over.
  for (const UniqueFd& e : events)
    passCredentials(e.get());
  writeAll(pid_fd.get(), kShutdownEventPrefix + std::to_string(number),
           "pid file '" + pid_file + "'");

  int p[2];
  if (::pipe2(p, O_CLOEXEC) != 0) error::throwErrno("Unable to create pipe");
  UniqueFd started_read(p[0]), started_write(p[1]);

  // Only the child gets the descriptors: they are inheritable just for the spawn. The pid
  // file's descriptor carries its lock, which the daemon holds from then on.
  std::string value = std::to_string(started_write.get()) + ":" + std::to_string(events[0].get()) +
                      ":" + std::to_string(events[1].get()) + ":" + std::to_string(pid_fd.get());
  for (int fd : {started_write.get(), events[0].get(), events[1].get(), pid_fd.get()})
    setInheritable(fd, true);
  ::setenv(kBackgroundVariable, value.c_str(), 1);
  pid_t pid = -1;
  int err = ::posix_spawn(&pid, ownProgram().c_str(), nullptr, nullptr, argv, environ);
  ::unsetenv(kBackgroundVariable);
  started_write.reset();  // the child's copy is the only one left: its end closes the pipe
  pid_fd.reset();
  if (err != 0) {
    std::fprintf(stderr, "Could not start child vexland: %s\n", error::systemText(err).c_str());
    return 1;
  }
  int result = waitForChild(started_read.get(), pid);
  // 2: the wait failed, and the daemon may well be running.
  if (result != 1) cleanup.keep();
  return result;
}

Background adoptBackground(const std::string& value) {
  Background bg;
  try {
    std::vector<int> fds;
    std::string_view rest(value);
    for (;;) {
      size_t colon = rest.find(':');
      fds.push_back(parseDescriptor(rest.substr(0, colon)));
      if (colon == std::string_view::npos) break;
      rest.remove_prefix(colon + 1);
    }
    if (fds.size() != 4) throw error::Exception("expected started:shutdown:rotation:pidfile");
    if (std::find(fds.begin(), fds.end(), -1) != fds.end()) {
      throw error::Exception("expected four descriptor numbers above 2");
    }
    const int started = fds[0], shutdown = fds[1], rotation = fds[2], pid_lock = fds[3];
    struct stat st;
    if (::fstat(started, &st) != 0 || !S_ISFIFO(st.st_mode)) {
      throw error::Exception("descriptor " + std::to_string(started) + " is not a pipe");
    }
    requireDatagramSocket(shutdown, kShutdownEventPrefix);
    requireDatagramSocket(rotation, kRotationEventPrefix);
    if (::fstat(pid_lock, &st) != 0 || !S_ISREG(st.st_mode)) {
      throw error::Exception("descriptor " + std::to_string(pid_lock) + " is not a pid file");
    }
    closeOtherDescriptors(fds);
    setInheritable(started, false);
    // Workers must not hold the lock: it says that the daemon runs.
    setInheritable(pid_lock, false);
    bg.started.reset(started);
    bg.pid_lock.reset(pid_lock);
    bg.shutdown = adoptEvent(shutdown);
    bg.rotation = adoptEvent(rotation);
    const std::string name = boundEventName(shutdown);
    std::string_view digits = std::string_view(name).substr(std::strlen(kShutdownEventPrefix));
    std::from_chars(digits.data(), digits.data() + digits.size(), bg.number);
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
