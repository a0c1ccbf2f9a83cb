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

#include "admin_client.h"
#include "commands.h"
#include "error/exception.h"
#include "json.h"

namespace vexlanctl {

namespace {

// How long status waits for the server's own answer before it shows the file alone.
constexpr std::chrono::milliseconds kChannelTimeout{3000};

const char* const kHelp =
    "usage: vexlanctl status [-p PID_FILE] [-s STATUS_FILE] [--socket SOCKET]\n"
    "Shows the state of the running server and of each worker: queue, state, pid, uptime,\n"
    "restarts, events and bytes it exchanged with the supervisor, its message area in use,\n"
    "the queues it depends on, its program; then the demand-loaded workers not running.\n"
    "The figures come from the server's admin channel; when that cannot be reached, the\n"
    "status file alone is shown (without them) and standard error says why.\n"
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

// 1536 -> "1.5K": bytes as an operator reads them at a glance.
std::string bytesText(double v) {
  const char* units[] = {"", "K", "M", "G", "T"};
  int u = 0;
  while (v >= 1024 && u < 4) {
    v /= 1024;
    ++u;
  }
  char buf[32];
  if (u == 0) {
    std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(v));
  } else {
    std::snprintf(buf, sizeof buf, "%.1f%s", v, units[u]);
  }
  return buf;
}

double figure(const Json& figures, const char* name) {
  return figures.at(name, Json::Type::Number).number;
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

  // Figures come with the admin channel's answer only.
  const bool figures = std::any_of(workers.begin(), workers.end(),
                                   [](const Json& w) { return w.object.count("figures") != 0; });
  out << "\nWorkers (" << workers.size() << "):\n";
  std::vector<Row> rows{{"NAME", "QUEUE", "STATE", "PID", "UPTIME", "DEPENDS ON", "PROGRAM"}};
  if (figures) {
    rows = {{"NAME", "QUEUE", "STATE", "PID", "UPTIME", "RESTARTS", "EVENTS IN/OUT", "BYTES IN/OUT",
             "AREA USED", "DEPENDS ON", "PROGRAM"}};
  }
  for (const Json& w : workers) {
    std::string deps;
    for (const Json& d : w.at("depend_on", Json::Type::Array).array) {
      if (d.type != Json::Type::Number)
        throw error::EParseError("Malformed status file: depend_on");
      auto it = names.find(static_cast<long>(d.number));
      deps += (deps.empty() ? "" : ",") + (it != names.end() ? it->second : number(d.number));
    }
    Row row{
        w.at("sname", Json::Type::String).string, number(w.at("queue", Json::Type::Number).number),
        w.at("state", Json::Type::String).string, number(w.at("pid", Json::Type::Number).number),
        uptime(now - w.at("started", Json::Type::Number).number)};
    if (figures) {
      auto f = w.object.find("figures");
      if (f == w.object.end() || f->second.type != Json::Type::Object) {
        row.insert(row.end(), {"-", "-", "-", "-"});
      } else {
        const Json& g = f->second;
        row.push_back(number(figure(g, "restarts")));
        row.push_back(number(figure(g, "events_received")) + "/" +
                      number(figure(g, "events_sent")));
        row.push_back(bytesText(figure(g, "received_bytes")) + "/" +
                      bytesText(figure(g, "sent_bytes")));
        row.push_back(bytesText(figure(g, "area_used_bytes")) + " of " +
                      bytesText(figure(g, "area_bytes")));
      }
    }
    row.push_back(deps.empty() ? "-" : deps);
    row.push_back(w.at("exe", Json::Type::String).string);
    rows.push_back(std::move(row));
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
  ServerChoice choice;
  for (size_t i = 0; i < args.size(); ++i) {
    if (isHelp(args[i])) {
      out << kHelp;
      return kOk;
    }
    if (!choice.take(args, i)) {
      err << kHelp;
      return kUsage;
    }
  }
  try {
    std::string status_file = choice.status_file;
    std::string text;
    if (choice.socket.empty() || !choice.pid_file.empty() || !choice.status_file.empty()) {
      std::optional<std::string> found = findStatusFile(choice, out);
      if (!found) return kNotRunning;
      status_file = *found;
      text = readStatusFile(status_file);
    }
    // The server's own answer carries the figures; the file is the fallback.
    std::string socket = choice.socket;
    try {
      // A server that has ended is shown as the file has it, without asking anybody.
      if (socket.empty()) {
        const Json doc = parseJson(text);
        const std::string& state = doc.at("state", Json::Type::String).string;
        if (state != "stopped" && state != "failed" &&
            processExists(static_cast<long>(doc.at("pid", Json::Type::Number).number))) {
          socket = adminSocketOf(text);
        }
      }
    } catch (const std::exception&) {
      // A malformed file is reported below, where it is printed.
    }
    bool live = false;
    if (!socket.empty()) {
      try {
        supervisor::admin::Request r;
        r.command = supervisor::admin::Command::Status;
        text = askServer(socket, r, kChannelTimeout);
        live = true;
        status_file = socket;
      } catch (const std::exception& e) {
        if (text.empty()) throw;
        err << "vexlanctl: showing the status file without figures: " << e.what() << "\n";
      }
    }
    struct timeval tv;
    ::gettimeofday(&tv, nullptr);
    try {
      return printStatus(
          text, static_cast<double>(tv.tv_sec) + tv.tv_usec / 1e6, out,
          live ? [](long) { return true; } : std::function<bool(long)>(processExists));
    } catch (const std::exception& e) {
      throw error::Exception(
          (live ? "Cannot read the status from " : "Cannot read the status file ") + status_file +
          ": " + e.what());
    }
  } catch (const std::exception& e) {
    err << e.what() << "\n";
    return kFailed;
  }
}

}  // namespace vexlanctl
