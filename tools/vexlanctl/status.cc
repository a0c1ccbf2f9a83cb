// status: what the running server reports about itself in its status file (which workers
// run, in which state, since when, what they wait for, and the demand-loaded workers not
// running), checked against the process table so that a file left by a crashed server is
// not mistaken for a running one.
#include "status.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <vector>

#include "commands.h"
#include "error/exception.h"
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

const char* const kHelp =
    "usage: vexlanctl status [-p PID_FILE] [-s STATUS_FILE]\n"
    "Shows the state of the running server and of each worker: queue, state, pid, uptime,\n"
    "the queues it depends on, its program; then the demand-loaded workers not running.\n"
    "Each server writes its own status file in its runtime directory ($RUNTIME_DIRECTORY,\n"
    "else $XDG_RUNTIME_DIR/vexlan, else /run/vexlan-0 for root or /tmp/vexlan-UID):\n"
    "-p finds the one of the background server started with that pid file, after checking\n"
    "that the server still holds the file; -s names the file. Without either: $VX_STATUS_FILE,\n"
    "else the service's status.json (in the runtime directory, or /run/vexlan), else the\n"
    "only status file in the runtime directory.\n"
    "Exit status: 0 running, 3 not running, 1 on any other failure.\n";

std::string uptime(double seconds) {
  long s = seconds < 0 ? 0 : static_cast<long>(seconds);
  char buf[48];
  if (s >= 86400) {
    std::snprintf(buf, sizeof buf, "%ldd %02ldh %02ldm", s / 86400, s % 86400 / 3600,
                  s % 3600 / 60);
  } else if (s >= 3600) {
    std::snprintf(buf, sizeof buf, "%ldh %02ldm %02lds", s / 3600, s % 3600 / 60, s % 60);
  } else if (s >= 60) {
    std::snprintf(buf, sizeof buf, "%ldm %02lds", s / 60, s % 60);
  } else {
    std::snprintf(buf, sizeof buf, "%lds", s);
  }
  return buf;
}

using Row = std::vector<std::string>;

void table(std::ostream& out, const std::vector<Row>& rows) {
  std::vector<size_t> width;
  for (const Row& r : rows) {
    width.resize(std::max(width.size(), r.size()));
    for (size_t i = 0; i < r.size(); ++i)
      width[i] = std::max(width[i], r[i].size());
  }
  for (const Row& r : rows) {
    std::string line = " ";
    for (size_t i = 0; i < r.size(); ++i)
      line += " " + r[i] + (i + 1 < r.size() ? std::string(width[i] - r[i].size(), ' ') : "");
    out << line << "\n";
  }
}

std::string number(double v) {
  return std::to_string(static_cast<long long>(v));
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

// The whole status file. It is read without blocking and only when it is a regular file of a
// sane size, so that whatever sits in its place gives a message, never a hang.
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

}  // namespace

bool processExists(long pid) {
  // EPERM: it exists but belongs to someone else (the service runs as another user).
  return pid > 0 && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM);
}

int printStatus(const std::string& text, double now, std::ostream& out,
                const std::function<bool(long)>& alive) {
  const Json doc = parseJson(text);
  const std::string& state = doc.at("state", Json::Type::String).string;
  const long pid = static_cast<long>(doc.at("pid", Json::Type::Number).number);
  const double started = doc.at("started", Json::Type::Number).number;
  const auto& workers = doc.at("workers", Json::Type::Array).array;
  const auto& idle = doc.at("demand_load_idle", Json::Type::Array).array;

  if (state == "stopped" || state == "failed") {
    out << "vexland is not running (it ended "
        << (state == "failed" ? "after a failure" : "normally") << "; pid was " << pid << ")\n";
    return kNotRunning;
  }
  if (!alive(pid)) {
    out << "vexland is not running (pid " << pid << " has gone while \"" << state
        << "\": it did not end in order)\n";
    return kNotRunning;
  }
  out << "vexland: " << state << ", pid " << pid << ", up " << uptime(now - started) << "\n";
  if (auto v = doc.object.find("version"); v != doc.object.end()) out << v->second.string << "\n";

  // Dependencies read better by name; every queue in the file has one.
  std::map<long, std::string> names;
  for (const auto* list : {&workers, &idle})
    for (const Json& w : *list)
      names[static_cast<long>(w.at("queue", Json::Type::Number).number)] =
          w.at("sname", Json::Type::String).string;

  out << "\nWorkers (" << workers.size() << "):\n";
  std::vector<Row> rows{{"NAME", "QUEUE", "STATE", "PID", "UPTIME", "DEPENDS ON", "PROGRAM"}};
  for (const Json& w : workers) {
    std::string deps;
    for (const Json& d : w.at("depend_on", Json::Type::Array).array) {
      if (d.type != Json::Type::Number)
        throw error::EParseError("Malformed status file: depend_on");
      auto it = names.find(static_cast<long>(d.number));
      deps += (deps.empty() ? "" : ",") + (it != names.end() ? it->second : number(d.number));
    }
    rows.push_back(
        {w.at("sname", Json::Type::String).string, number(w.at("queue", Json::Type::Number).number),
         w.at("state", Json::Type::String).string, number(w.at("pid", Json::Type::Number).number),
         uptime(now - w.at("started", Json::Type::Number).number), deps.empty() ? "-" : deps,
         w.at("exe", Json::Type::String).string});
  }
  table(out, rows);
  if (!idle.empty()) {
    out << "\nDemand-loaded, not running (" << idle.size() << "):\n";
    rows = {{"NAME", "QUEUE", "PROGRAM"}};
    for (const Json& w : idle) {
      rows.push_back({w.at("sname", Json::Type::String).string,
                      number(w.at("queue", Json::Type::Number).number),
                      w.at("exe", Json::Type::String).string});
    }
    table(out, rows);
  }
  return kOk;
}

int statusCommand(const Args& args, std::ostream& out, std::ostream& err) {
  std::string pid_file;
  std::string status_file;
  for (size_t i = 0; i < args.size(); ++i) {
    if (isHelp(args[i])) {
      out << kHelp;
      return kOk;
    }
    if ((args[i] == "-p" || args[i] == "-s") && i + 1 < args.size()) {
      (args[i] == "-p" ? pid_file : status_file) = args[i + 1];
      ++i;
    } else {
      err << kHelp;
      return kUsage;
    }
  }
  try {
    if (!pid_file.empty()) {
      const std::string number = eventNumber(pid_file, out);
      if (number.empty()) return kNotRunning;
      const std::string name = entry::kShutdownEventPrefix + number;
      if (!entry::openEvent(name).valid()) {
        out << "vexland is not running: the event " << name << " named in " << pid_file
            << " does not exist\n";
        return kNotRunning;
      }
      if (status_file.empty()) {
        status_file =
            io::runtimeDirectoryPath() + "/" +
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
          return kNotRunning;
        }
        if (found.size() > 1) {
          err << "Several servers have status files in " << dir
              << "; name one with -p PID_FILE or -s STATUS_FILE:\n";
          for (const std::string& f : found)
            err << "  " << f << "\n";
          return kFailed;
        }
        status_file = found.front();
      }
    }
    struct stat st;
    if (::lstat(status_file.c_str(), &st) != 0 && errno == ENOENT) {
      out << "vexland is not running: no status file " << status_file << "\n";
      return kNotRunning;
    }
    std::string text = readStatusFile(status_file);
    struct timeval tv;
    ::gettimeofday(&tv, nullptr);
    try {
      return printStatus(text, static_cast<double>(tv.tv_sec) + tv.tv_usec / 1e6, out,
                         processExists);
    } catch (const std::exception& e) {
      throw error::Exception("Cannot read the status file " + status_file + ": " + e.what());
    }
  } catch (const std::exception& e) {
    err << e.what() << "\n";
    return kFailed;
  }
}

}  // namespace vexlanctl
