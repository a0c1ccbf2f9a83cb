// metrics: the meters of the supervisor and of every worker, as a tree or as the OpenMetrics
// text exposition for scrapers, once or every N seconds.
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <thread>

#include "admin_client.h"
#include "commands.h"
#include "util/parse.h"

namespace vexlanctl {

namespace {

namespace admin = supervisor::admin;

// Longer than the server's own deadline for its workers' answers (5 s).
constexpr std::chrono::milliseconds kTimeout{10000};

const char* const kHelp =
    "usage: vexlanctl metrics [PATH] [--format=tree|openmetrics|prometheus]\n"
    "                         [--watch SECONDS [--count N]]\n"
    "                         [-p PID_FILE] [-s STATUS_FILE] [--socket SOCKET]\n"
    "Shows what the running server measures: the supervisor's own meters (under \"vexland\")\n"
    "and those of every worker that supplies metrics (under its short name), read through the\n"
    "server's admin channel. PATH narrows it down (\"dbms\", \"vexland/workers\").\n"
    "--format=openmetrics writes the OpenMetrics text exposition (for the node exporter's\n"
    "textfile collector or any scraper): counters end in _total, timings are summaries in\n"
    "seconds, a worker's metrics carry the label worker=\"<sname>\". --format=prometheus is\n"
    "the same in the older Prometheus text format, which the node exporter's textfile\n"
    "collector reads.\n"
    "--watch refreshes every SECONDS (until interrupted, or N times with --count).\n"
    "-p, -s and --socket choose the server as for `status`.\n"
    "Exit status: 0 success, 3 no server running, 1 on any other failure.\n";

}  // namespace

int metricsCommand(const Args& args, std::ostream& out, std::ostream& err) {
  ServerChoice choice;
  admin::Request request;
  request.command = admin::Command::Metrics;
  double watch = 0;
  long count = 0;
  bool have_path = false;
  try {
    for (size_t i = 0; i < args.size(); ++i) {
      const std::string& a = args[i];
      if (isHelp(a)) {
        out << kHelp;
        return kOk;
      }
      if (a == "--format=tree") {
        request.format = admin::MetricFormat::Tree;
      } else if (a == "--format=openmetrics") {
        request.format = admin::MetricFormat::OpenMetrics;
      } else if (a == "--format=prometheus") {
        request.format = admin::MetricFormat::Prometheus;
      } else if (a == "--watch" && i + 1 < args.size()) {
        watch = util::parse<double>(args[++i]);
        if (!(watch > 0 && watch <= 86400))
          throw error::EParseError("--watch takes 0 to 86400 seconds");
      } else if (a == "--count" && i + 1 < args.size()) {
        count = util::parse<long>(args[++i]);
        if (count < 1) throw error::EParseError("--count takes a positive number");
      } else if (choice.take(args, i)) {
      } else if (!have_path && !a.empty() && a[0] != '-') {
        request.path = admin::parseMetricPath(a);
        have_path = true;
      } else {
        err << kHelp;
        return kUsage;
      }
    }
  } catch (const error::Exception& e) {
    err << "vexlanctl metrics: " << e.what() << "\n";
    return kUsage;
  }
  try {
    std::optional<std::string> socket = findAdminSocket(choice, out);
    if (!socket) return kNotRunning;
    const bool tty = ::isatty(STDOUT_FILENO) != 0 && &out == &std::cout;
    for (long shown = 0;;) {
      std::string body = askServer(*socket, request, kTimeout);
      if (watch > 0 && tty) out << "\033[H\033[2J";  // a fresh screen for each refresh
      out << body << std::flush;
      if (watch <= 0 || (count > 0 && ++shown >= count)) return kOk;
      if (!tty && request.format == admin::MetricFormat::Tree) out << "\n";
      std::this_thread::sleep_for(std::chrono::duration<double>(watch));
    }
  } catch (const std::exception& e) {
    err << e.what() << "\n";
    return kFailed;
  }
}

}  // namespace vexlanctl
