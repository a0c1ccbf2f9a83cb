// Finding the server a command means, and asking it over its admin channel.
#include "admin_client.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "error/system_text.h"
#include "io/runtime_dir.h"
#include "json.h"
#include "supervisor/entry/named_event.h"
#include "supervisor/entry/pid_file.h"
#include "supervisor/entry/unique_fd.h"
#include "supervisor/status_file.h"

namespace vexlanctl {

namespace {

constexpr const char* kServiceStatusFile = "/run/vexlan/status.json";
// Far beyond what a server with every worker running writes.
constexpr long kMaxStatusBytes = 1 << 20;

using Clock = std::chrono::steady_clock;

// Waits until `fd` is ready for `events` or the deadline has passed (EChannelUnavailable).
void waitFor(int fd, short events, Clock::time_point deadline, const std::string& socket) {
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) {
      throw EChannelUnavailable("No answer from the admin socket " + socket + " in time");
    }
    pollfd p = {fd, events, 0};
    int n = ::poll(&p, 1, static_cast<int>(left.count()));
    if (n > 0) return;
    if (n < 0 && errno != EINTR) error::throwErrno("Cannot wait for the admin socket");
  }
}

// The number N of the shutdown event "Vexlan.sht.N" that a background server's pid file
// names, once the server is known to hold the file; "" after a message on `out` when it does
// not (the server is not running).
std::string eventNumber(const std::string& pid_file, std::ostream& out) {
  entry::UniqueFd fd(::open(pid_file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (!fd.valid()) {
    throw error::Exception("Cannot open the pid file " + pid_file + ": " +
                           error::systemText(errno));
  }
  if (!entry::pidFileHeld(fd.get())) {
    out << "vexland is not running (stale pid file " << pid_file << ")\n";
    return "";
  }
  char buf[64];
  ssize_t n = ::read(fd.get(), buf, sizeof buf);
  std::string text(buf, n > 0 ? static_cast<size_t>(n) : 0);
  const std::string prefix = entry::kShutdownEventPrefix;
  bool ok = text.size() > prefix.size() && text.size() <= prefix.size() + 10 &&
            text.compare(0, prefix.size(), prefix) == 0;
  for (size_t i = prefix.size(); ok && i < text.size(); ++i)
    ok = text[i] >= '0' && text[i] <= '9';
  if (!ok) throw error::EParseError("Cannot read an event name from the pid file " + pid_file);
  return text.substr(prefix.size());
}

// The status files of the runtime directory `dir`, in name order.
std::vector<std::string> statusFilesIn(const std::string& dir) {
  std::vector<std::string> found;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("status", 0) == 0 && name.size() > 5 &&
        name.compare(name.size() - 5, 5, ".json") == 0) {
      found.push_back(entry.path().string());
    }
  }
  std::sort(found.begin(), found.end());
  return found;
}

}  // namespace

std::string askServer(const std::string& socket, const supervisor::admin::Request& request,
                      std::chrono::milliseconds timeout) {
  namespace admin = supervisor::admin;
  const Clock::time_point deadline = Clock::now() + timeout;
  sockaddr_un addr = {};
  addr.sun_family = AF_UNIX;
  if (socket.size() >= sizeof addr.sun_path) {
    throw EChannelUnavailable("The admin socket's path is too long: " + socket);
  }
  std::memcpy(addr.sun_path, socket.c_str(), socket.size() + 1);
  entry::UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!fd.valid()) error::throwErrno("Cannot create a socket");
  if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    if (errno != EINPROGRESS && errno != EAGAIN) {
      throw EChannelUnavailable("Cannot connect to the admin socket " + socket + ": " +
                                error::systemText(errno));
    }
    waitFor(fd.get(), POLLOUT, deadline, socket);
  }
  const std::string line = admin::requestLine(request);
  for (size_t done = 0; done < line.size();) {
    ssize_t n = ::send(fd.get(), line.data() + done, line.size() - done, MSG_NOSIGNAL);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
      waitFor(fd.get(), POLLOUT, deadline, socket);
    } else {
      throw EChannelUnavailable("Cannot send to the admin socket " + socket + ": " +
                                error::systemText(errno));
    }
  }
  // The header line, then exactly the length it announces.
  std::string in;
  std::optional<admin::ReplyHeader> header;
  size_t body_at = 0;
  for (;;) {
    if (!header) {
      if (size_t nl = in.find('\n'); nl != std::string::npos) {
        header = admin::parseReplyHeader(std::string_view(in).substr(0, nl));
        body_at = nl + 1;
        if (!header->ok) throw EServerRefused(header->error);
      } else if (in.size() >= admin::kMaxReplyHeaderBytes) {
        throw error::EParseError("The server's reply has no header line");
      }
    }
    if (header && in.size() - body_at >= header->length) {
      return in.substr(body_at, header->length);
    }
    char buf[65536];
    ssize_t n = ::recv(fd.get(), buf, sizeof buf, 0);
    if (n > 0) {
      in.append(buf, static_cast<size_t>(n));
    } else if (n == 0) {
      throw EChannelUnavailable("The admin socket " + socket + " closed before its reply ended");
    } else if (errno == EAGAIN || errno == EINTR) {
      waitFor(fd.get(), POLLIN, deadline, socket);
    } else {
      throw EChannelUnavailable("Cannot read from the admin socket " + socket + ": " +
                                error::systemText(errno));
    }
  }
}

bool ServerChoice::take(const std::vector<std::string>& args, size_t& i) {
  if (i + 1 >= args.size()) return false;
  std::string* target = args[i] == "-p"         ? &pid_file
                        : args[i] == "-s"       ? &status_file
                        : args[i] == "--socket" ? &socket
                                                : nullptr;
  if (target == nullptr) return false;
  *target = args[++i];
  return true;
}

std::optional<std::string> findStatusFile(const ServerChoice& choice, std::ostream& out) {
  std::string status_file = choice.status_file;
  if (!choice.pid_file.empty()) {
    const std::string number = eventNumber(choice.pid_file, out);
    if (number.empty()) return std::nullopt;
    const std::string name = entry::kShutdownEventPrefix + number;
    if (!entry::openEvent(name).valid()) {
      out << "vexland is not running: the event " << name << " named in " << choice.pid_file
          << " does not exist\n";
      return std::nullopt;
    }
    if (status_file.empty()) {
      status_file = io::runtimeDirectoryPath() + "/" +
                    supervisor::statusFileName(static_cast<unsigned>(std::stoul(number)), false, 0);
    }
  }
  if (status_file.empty()) {
    const char* fixed = std::getenv("VX_STATUS_FILE");
    const std::string dir = io::runtimeDirectoryPath();
    const std::string service = dir + "/" + supervisor::kServiceStatusName;
    if (fixed != nullptr && *fixed != '\0') {
      status_file = fixed;
    } else if (::access(service.c_str(), F_OK) == 0) {
      status_file = service;
    } else if (std::getenv("RUNTIME_DIRECTORY") == nullptr &&
               ::access(kServiceStatusFile, F_OK) == 0) {
      // An administrator's shell lacks the service's RUNTIME_DIRECTORY.
      status_file = kServiceStatusFile;
    } else {
      std::vector<std::string> found = statusFilesIn(dir);
      if (found.empty()) {
        out << "vexland is not running: no status file in " << dir << "\n";
        return std::nullopt;
      }
      if (found.size() > 1) {
        std::string list;
        for (const std::string& f : found)
          list += "\n  " + f;
        throw error::Exception("Several servers have status files in " + dir +
                               "; name one with -p PID_FILE or -s STATUS_FILE:" + list);
      }
      status_file = found.front();
    }
  }
  struct stat st;
  if (::lstat(status_file.c_str(), &st) != 0 && errno == ENOENT) {
    out << "vexland is not running: no status file " << status_file << "\n";
    return std::nullopt;
  }
  return status_file;
}

std::string readStatusFile(const std::string& path) {
  auto fail = [&](const std::string& why) {
    throw error::Exception("Cannot read the status file " + path + ": " + why);
  };
  const std::string too_large = "larger than " + std::to_string(kMaxStatusBytes) + " bytes";
  entry::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (!fd.valid()) fail(error::systemText(errno));
  struct stat st = {};
  if (::fstat(fd.get(), &st) != 0) fail(error::systemText(errno));
  if (!S_ISREG(st.st_mode)) fail("not a regular file");
  if (st.st_size > kMaxStatusBytes) fail(too_large);
  std::string text;
  char buf[8192];
  for (;;) {
    ssize_t n = ::read(fd.get(), buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) fail(error::systemText(errno));
    if (n == 0) break;
    text.append(buf, static_cast<size_t>(n));
    if (text.size() > static_cast<size_t>(kMaxStatusBytes)) fail(too_large);
  }
  return text;
}

std::string adminSocketOf(const std::string& text) {
  const Json doc = parseJson(text);
  auto it = doc.object.find("admin_socket");
  return it != doc.object.end() && it->second.type == Json::Type::String ? it->second.string : "";
}

std::optional<std::string> findAdminSocket(const ServerChoice& choice, std::ostream& out) {
  if (!choice.socket.empty()) return choice.socket;
  std::optional<std::string> status_file = findStatusFile(choice, out);
  if (!status_file) return std::nullopt;
  std::string text = readStatusFile(*status_file);
  std::string socket;
  try {
    const Json doc = parseJson(text);
    const std::string& state = doc.at("state", Json::Type::String).string;
    if (state == "stopped" || state == "failed" || state == "emergency") {
      out << "vexland is not running (it ended; pid was "
          << static_cast<long>(doc.at("pid", Json::Type::Number).number) << ")\n";
      return std::nullopt;
    }
    socket = adminSocketOf(text);
  } catch (const std::exception& e) {
    throw error::Exception("Cannot read the status file " + *status_file + ": " + e.what());
  }
  if (socket.empty()) {
    throw EChannelUnavailable("The server of " + *status_file + " has no admin channel");
  }
  return socket;
}

}  // namespace vexlanctl
