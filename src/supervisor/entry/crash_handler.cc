#include "supervisor/entry/crash_handler.h"

#include <cxxabi.h>
#include <execinfo.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <exception>
#include <typeinfo>

#include "log/version.h"

namespace entry {

namespace {

constexpr int kFatalSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE};
constexpr const char* kFallbackPath = "tolvane.dmp";

char report_path[PATH_MAX + 8] = "tolvane.dmp";
std::atomic<CrashNotice> notice{nullptr};
std::atomic<bool> reporting{false};
std::terminate_handler previous_terminate = nullptr;
// Large enough for the handler's frames under the sanitizers as well.
alignas(16) char alternate_stack[256 * 1024];

// Text assembled without allocation; what does not fit is cut off.
class Text {
 public:
  Text& add(const char* s) {
    while (*s != '\0' && len_ + 1 < sizeof buf_)
      buf_[len_++] = *s++;
    buf_[len_] = '\0';
    return *this;
  }
  Text& add(long v) {
    char digits[24];
    int n = 0;
    unsigned long u = v < 0 ? 0UL - static_cast<unsigned long>(v) : static_cast<unsigned long>(v);
    do {
      digits[n++] = static_cast<char>('0' + u % 10);
      u /= 10;
    } while (u != 0);
    if (v < 0) add("-");
    char out[24];
    for (int i = 0; i < n; ++i)
      out[i] = digits[n - 1 - i];
    out[n] = '\0';
    return add(out);
  }
  Text& hex(uintptr_t v) {
    char out[2 * sizeof v + 1];
    for (int i = 2 * sizeof v - 1; i >= 0; --i, v >>= 4)
      out[i] = "0123456789abcdef"[v & 15];
    out[2 * sizeof v] = '\0';
    return add("0x").add(out);
  }
  const char* c_str() const { return buf_; }
  size_t size() const { return len_; }

 private:
  char buf_[PATH_MAX + 512];
  size_t len_ = 0;
};

const char* signalName(int sig) {
  switch (sig) {
    case SIGSEGV:
      return "SIGSEGV";
    case SIGBUS:
      return "SIGBUS";
    case SIGILL:
      return "SIGILL";
    case SIGFPE:
      return "SIGFPE";
    default:
      return "signal";
  }
}

// False (with errno) when not everything could be written.
bool writeAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool copyMemoryMap(int out) {
  int in = ::open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  char buf[4096];
  bool ok = true;
  for (;;) {
    ssize_t n = ::read(in, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    if (!writeAll(out, buf, static_cast<size_t>(n))) {
      ok = false;
      break;
    }
  }
  int saved = errno;
  ::close(in);
  errno = saved;
  return ok;
}

int createReport(const char* path) {
  return ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
}

void tell(const Text& message) {
  if (CrashNotice fn = notice.load()) fn(message.c_str());
}

// `sig` 0 is a report for std::terminate, with `reason` saying so.
void writeReport(int sig, int code, const void* address, const char* reason) {
  const char* path = report_path;
  int fd = createReport(path);
  if (fd < 0 && std::strcmp(path, kFallbackPath) != 0) {
    // Beside an executable in a read-only place, the current directory is the only other
    // place known without asking anyone.
    int first_error = errno;
    fd = createReport(kFallbackPath);
    if (fd >= 0) {
      path = kFallbackPath;
    } else {
      errno = first_error;
    }
  }
  Text message;
  if (fd < 0) {
    tell(
        message.add("Failed to create dump file '").add(path).add("' (error ").add(errno).add(")"));
    return;
  }

  Text head;
  head.add(logging::kVersionBanner).add(" crash report\n").add("Process: ").add(::getpid());
  head.add("\n");
  if (sig != 0) {
    head.add("Signal: ").add(sig).add(" (").add(signalName(sig)).add("), code ").add(code);
    head.add("\nFault address: ").hex(reinterpret_cast<uintptr_t>(address)).add("\n");
  }
  if (reason != nullptr) head.add("Reason: ").add(reason).add("\n");
  head.add("\nBacktrace:\n");
  bool ok = writeAll(fd, head.c_str(), head.size());
  if (ok) {
    void* frames[64];
    int n = ::backtrace(frames, 64);
    ::backtrace_symbols_fd(frames, n, fd);
    const char kMap[] = "\nMemory map:\n";
    ok = writeAll(fd, kMap, sizeof kMap - 1) && copyMemoryMap(fd);
  }
  int error = ok ? 0 : errno;
  if (::close(fd) != 0 && ok) {
    ok = false;
    error = errno;
  }
  if (ok) {
    message.add("An application error has been detected. Please report this error and submit ")
        .add("the dump file in '")
        .add(path)
        .add("' along with your error report");
  } else {
    message.add("Failed to save dump file to '").add(path).add("' (error ").add(error).add(")");
  }
  tell(message);
}

void onFatalSignal(int sig, siginfo_t* info, void*) {
  int saved = errno;
  if (!reporting.exchange(true)) writeReport(sig, info->si_code, info->si_addr, nullptr);
  // Default action from here: a hardware fault repeats when the handler returns, a sent
  // signal is delivered again, and the system's core handling sees the original signal.
  struct sigaction dfl = {};
  dfl.sa_handler = SIG_DFL;
  ::sigemptyset(&dfl.sa_mask);
  ::sigaction(sig, &dfl, nullptr);
  ::raise(sig);
  errno = saved;
}

void onTerminate() {
  if (!reporting.exchange(true)) {
    Text reason;
    reason.add("std::terminate called (uncaught exception or pure virtual call)");
    if (const std::type_info* type = abi::__cxa_current_exception_type()) {
      reason.add(", exception type ").add(type->name());
    }
    writeReport(0, 0, nullptr, reason.c_str());
  }
  if (previous_terminate != nullptr) previous_terminate();
  ::abort();
}

}  // namespace

std::string crashReportPath(const std::string& executable) {
  if (executable.empty()) return kFallbackPath;
  size_t name = executable.rfind('/');
  name = name == std::string::npos ? 0 : name + 1;
  size_t dot = executable.rfind('.');
  // A dot in a directory name, or a hidden file's leading dot, does not start an extension.
  if (dot == std::string::npos || dot <= name) return executable + ".dmp";
  return executable.substr(0, dot) + ".dmp";
}

void installCrashHandler(CrashNotice fn) {
  notice.store(fn);
  static bool installed = false;
  if (installed) return;
  installed = true;

  char exe[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
  std::string path;
  if (n > 0) {
    path.assign(exe, static_cast<size_t>(n));
    // An executable replaced while running (an upgrade) keeps its old name plus this.
    const std::string deleted = " (deleted)";
    if (path.size() > deleted.size() &&
        path.compare(path.size() - deleted.size(), deleted.size(), deleted) == 0) {
      path.resize(path.size() - deleted.size());
    }
  }
  path = crashReportPath(path);
  if (path.size() < sizeof report_path) std::memcpy(report_path, path.c_str(), path.size() + 1);

  // The first backtrace() loads the unwinder, which allocates: never let that happen in the
  // handler.
  void* frames[2];
  ::backtrace(frames, 2);

  stack_t ss = {};
  ss.ss_sp = alternate_stack;
  ss.ss_size = sizeof alternate_stack;
  ::sigaltstack(&ss, nullptr);
  struct sigaction sa = {};
  sa.sa_sigaction = onFatalSignal;
  ::sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_SIGINFO | SA_ONSTACK;
  for (int sig : kFatalSignals)
    ::sigaction(sig, &sa, nullptr);
  previous_terminate = std::set_terminate(onTerminate);
}

bool sendSyslogDatagram(const char* socket_path, const char* message) {
  sockaddr_un addr = {};
  addr.sun_family = AF_UNIX;
  size_t len = std::strlen(socket_path);
  if (len >= sizeof addr.sun_path) return false;
  std::memcpy(addr.sun_path, socket_path, len);
  // Facility daemon (3) and priority error (3): <3 * 8 + 3>.
  Text line;
  line.add("<27>Vexlan[").add(::getpid()).add("]: ").add(message);
  int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  ssize_t sent =
      ::sendto(fd, line.c_str(), line.size(), 0, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  ::close(fd);
  return sent == static_cast<ssize_t>(line.size());
}

void crashNoticeToSyslog(const char* message) {
  int saved = errno;
  sendSyslogDatagram("/dev/log", message);
  Text line;
  line.add(message).add("\n");
  writeAll(2, line.c_str(), line.size());
  errno = saved;
}

}  // namespace entry
