#include "supervisor/entry/shutdown_client.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <thread>

#include "error/system_text.h"
#include "supervisor/entry/named_event.h"
#include "supervisor/entry/pid_file.h"

namespace entry {

namespace {

// The number N of a shutdown event name "Vexlan.sht.N" read from a pid file, if it is one.
// Only names of that form are used: a pid file is outside input, and the clients must not
// send requests to whatever other socket it might name.
std::optional<std::string> eventNumber(const std::string& name) {
  std::string prefix = kShutdownEventPrefix;
  if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) return {};
  std::string digits = name.substr(prefix.size());
  if (digits.size() > 10 || digits.find_first_not_of("0123456789") != std::string::npos) return {};
  return digits;
}

// The number of the event named in the pid file; an empty result after a message on `err`.
// `fd` is left open on the pid file, so that its daemon's lock can be watched.
std::optional<std::string> readPidFile(const std::string& pid_file, std::FILE* err,
                                       const char* missing_event, UniqueFd& fd) {
  // Non-blocking: a FIFO in its place must not hold the client.
  fd = UniqueFd(::open(pid_file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (!fd.valid()) {
    std::fprintf(err, "Could not open pid file '%s': %s\n", pid_file.c_str(),
                 error::systemText(errno).c_str());
    return {};
  }
  // The event a stale pid file names may belong to another daemon by now.
  if (!pidFileHeld(fd.get())) {
    std::fprintf(err, "Vexlan is not running (stale pid file %s)\n", pid_file.c_str());
    return {};
  }
  // An event name has at most 63 bytes; a 64th byte means the file holds something else.
  char buf[64];
  ssize_t n;
  do {
    n = ::read(fd.get(), buf, sizeof buf);
  } while (n < 0 && errno == EINTR);
  if (n <= 0) {
    std::fprintf(err, "Cannot read an event name from the pid file\n");
    return {};
  }
  std::optional<std::string> number;
  if (n < static_cast<ssize_t>(sizeof buf)) {
    number = eventNumber(std::string(buf, static_cast<size_t>(n)));
  }
  if (!number) std::fprintf(err, "%s\n", missing_event);
  return number;
}

}  // namespace

int runShutdownClient(const std::string& pid_file, const ShutdownTiming& timing, std::FILE* out,
                      std::FILE* err) {
  const char* missing = "Cannot open shutdown event designated in .pid file";
  UniqueFd pid_fd;
  std::optional<std::string> number = readPidFile(pid_file, err, missing, pid_fd);
  if (!number) return 1;
  // The socket stays connected to this daemon's event: once the daemon has gone, the name may
  // be bound by another daemon, which a repeat sent by name would stop.
  UniqueFd event = openEvent(kShutdownEventPrefix + *number);
  if (!event.valid() || !setEvent(event)) {
    std::fprintf(err, "%s\n", missing);
    return 1;
  }
  auto start = std::chrono::steady_clock::now();
  std::fputs("Waiting", out);
  std::fflush(out);
  for (;;) {
    if (std::chrono::steady_clock::now() - start >= timing.limit) {
      std::fputs(" timeout. Shutdown failed.\n", out);
      std::fflush(out);
      return 1;
    }
    // The daemon's lock on its pid file goes only with the daemon.
    if (!pidFileHeld(pid_fd.get())) {
      std::fputs(" succeeded\n", out);
      std::fflush(out);
      return 0;
    }
    std::fputc('.', out);
    std::fflush(out);
    std::this_thread::sleep_for(timing.repeat);
    // Every repeat reaches the daemon as one more request (it logs its progress then).
    setEvent(event);
  }
}

int runRotationClient(const std::string& pid_file, std::FILE* out, std::FILE* err) {
  const char* missing = "Cannot open log rotation event designated in .pid file";
  UniqueFd pid_fd;
  std::optional<std::string> number = readPidFile(pid_file, err, missing, pid_fd);
  if (!number) return 1;
  UniqueFd event = openEvent(kRotationEventPrefix + *number);
  if (!event.valid() || !setEvent(event)) {
    std::fprintf(err, "%s\n", missing);
    return 1;
  }
  std::fputs("Log rotation requested\n", out);
  std::fflush(out);
  return 0;
}

}  // namespace entry
