// log-level: sets the level of a worker's loggers through the server (SET_LOG_LEVEL).
#include <map>

#include "admin_client.h"
#include "commands.h"
#include "util/parse.h"

namespace vexlanctl {

namespace {

namespace admin = supervisor::admin;

constexpr std::chrono::milliseconds kTimeout{5000};

const char* const kHelp =
    "usage: vexlanctl log-level WORKER[/AREA] LEVEL [-p PID_FILE] [-s STATUS_FILE]\n"
    "                           [--socket SOCKET]\n"
    "Sets the log level of a running worker through the server. WORKER is its short name\n"
    "(dbms, schd, ...) or * for every worker; AREA names one of its loggers (all of them\n"
    "without it). LEVEL is trace, debug, info, warn, error, critical or off, or the number\n"
    "the worker takes (0 to 6 for workers built on the SDK).\n"
    "-p, -s and --socket choose the server as for `status`.\n"
    "Exit status: 0 sent, 3 no server running, 1 on any other failure (no such worker).\n";

const std::map<std::string, int32_t> kLevels = {{"trace", 0},    {"debug", 1},   {"info", 2},
                                                {"warn", 3},     {"warning", 3}, {"error", 4},
                                                {"critical", 5}, {"off", 6}};

}  // namespace

int logLevelCommand(const Args& args, std::ostream& out, std::ostream& err) {
  ServerChoice choice;
  std::vector<std::string> words;
  for (size_t i = 0; i < args.size(); ++i) {
    if (isHelp(args[i])) {
      out << kHelp;
      return kOk;
    }
    if (!choice.take(args, i)) words.push_back(args[i]);
  }
  if (words.size() != 2) {
    err << kHelp;
    return kUsage;
  }
  admin::Request request;
  request.command = admin::Command::LogLevel;
  // A key "WORKER/AREA" as the relay reads it; a worker alone means all its loggers.
  request.target = words[0];
  if (words[0] != "*" && words[0].find('/') == std::string::npos) request.target.append("/*");
  try {
    auto named = kLevels.find(words[1]);
    request.level = named != kLevels.end() ? named->second : util::parse<int32_t>(words[1]);
    // The server would refuse what does not parse; say so before looking for it.
    std::string line = admin::requestLine(request);
    line.pop_back();
    admin::parseRequest(line);
  } catch (const error::Exception& e) {
    err << "vexlanctl log-level: " << e.what() << "\n";
    return kUsage;
  }
  try {
    std::optional<std::string> socket = findAdminSocket(choice, out);
    if (!socket) return kNotRunning;
    out << askServer(*socket, request, kTimeout);
    return kOk;
  } catch (const std::exception& e) {
    err << e.what() << "\n";
    return kFailed;
  }
}

}  // namespace vexlanctl
