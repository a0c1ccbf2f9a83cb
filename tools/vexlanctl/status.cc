// status: what the running server reports about itself in its status file (which workers
// run, in which state, since when, what they wait for, and the demand-loaded workers not
// running), checked against the process table so that a file left by a crashed server is
// not mistaken for a running one.
#include "status.h"

#include <signal.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>

#include "commands.h"
#include "error/exception.h"
#include "input.h"
#include "json.h"
#include "supervisor/entry/named_event.h"
#include "supervisor/status_file.h"

namespace vexlanctl {

namespace {

constexpr const char* kServiceStatusFile = "/run/vexlan/status.json";

const char* const kHelp =
    "usage: vexlanctl status [-p PID_FILE] [-s STATUS_FILE]\n"
    "Shows the state of the running server and of each worker: queue, state, pid, uptime,\n"
    "the queues it depends on, its program; then the demand-loaded workers not running.\n"
    "The status file is found as the server finds it: $VX_STATUS_FILE, else status.json in\n"
    "$RUNTIME_DIRECTORY (/run/vexlan for the service), else vexlan-status.json in\n"
    "$XDG_RUNTIME_DIR, else /tmp/vexlan-status-UID.json; when that file does not exist, the\n"
    "service's /run/vexlan/status.json. -s names it. -p first checks that\n"
    "the background server started with that pid file is still there.\n"
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

// The shutdown event a background server's pid file names, if it names one.
std::string eventName(const std::string& pid_file) {
  std::string text = readAll(pid_file);
  const std::string prefix = entry::kShutdownEventPrefix;
  bool ok = text.size() < 64 && text.size() > prefix.size() &&
            text.compare(0, prefix.size(), prefix) == 0;
  for (size_t i = prefix.size(); ok && i < text.size(); ++i)
    ok = text[i] >= '0' && text[i] <= '9';
  if (!ok) throw error::EParseError("Cannot read an event name from the pid file " + pid_file);
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
  if (status_file.empty()) {
    status_file = supervisor::statusFilePath();
    // An administrator's shell lacks the service's RUNTIME_DIRECTORY: with no place of its
    // own, the installed service's file is the one meant.
    if (std::getenv("VX_STATUS_FILE") == nullptr && std::getenv("RUNTIME_DIRECTORY") == nullptr &&
        ::access(status_file.c_str(), F_OK) != 0 && ::access(kServiceStatusFile, F_OK) == 0) {
      status_file = kServiceStatusFile;
    }
  }
  try {
    if (!pid_file.empty()) {
      std::string name = eventName(pid_file);
      if (!entry::openEvent(name).valid()) {
        out << "vexland is not running: the event " << name << " named in " << pid_file
            << " does not exist\n";
        return kNotRunning;
      }
    }
    std::ifstream f(status_file, std::ios::binary);
    if (!f) {
      out << "vexland is not running: no status file " << status_file << "\n";
      return kNotRunning;
    }
    struct timeval tv;
    ::gettimeofday(&tv, nullptr);
    return printStatus(readAll(status_file), static_cast<double>(tv.tv_sec) + tv.tv_usec / 1e6, out,
                       processExists);
  } catch (const std::exception& e) {
    err << e.what() << "\n";
    return kFailed;
  }
}

}  // namespace vexlanctl
