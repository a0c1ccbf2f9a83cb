// check-config: the configuration read exactly as vexland reads it at start-up, so that an
// administrator sees the settings the server would run with, or the error it would stop with,
// before restarting it.
#include <unistd.h>

#include <optional>

#include "commands.h"
#include "config/server_config.h"
#include "queues/control/server_configuration_codec.h"

namespace vexlanctl {

namespace {

const char* const kHelp =
    "usage: vexlanctl check-config [FILE]\n"
    "Reads FILE as vexland -f FILE does (without FILE: the registry, as vexland without -f)\n"
    "and prints every setting, one \"name: value\" line each, in the order of the server\n"
    "configuration, then the settings of vexland itself. On a bad configuration it prints the\n"
    "error vexland would stop with (after \"Vexlan fatal error: \") and exits with 1.\n";

}  // namespace

int checkConfigCommand(const Args& args, std::ostream& out, std::ostream& err) {
  if (args.size() == 1 && isHelp(args[0])) {
    out << kHelp;
    return kOk;
  }
  if (args.size() > 1 || (args.size() == 1 && args[0].size() > 1 && args[0][0] == '-')) {
    err << kHelp;
    return kUsage;
  }
  std::optional<std::string> file;
  if (!args.empty()) file = args[0];
  control::Server_Configuration_Fields cfg;
  config::SupervisorSettings settings;
  try {
    config::load_server_config(file, cfg, &settings);
  } catch (const std::exception& e) {
    err << e.what() << "\n";
    return kFailed;
  }
  // The server takes the system's name when the configuration gives none.
  if (cfg.host_name.empty()) {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) == 0) cfg.host_name = name;
  }
  wire::printPayloadText(out, cfg, 0);
  out << "worker_stall_limit: " << settings.worker_stall_limit << "\n";
  return kOk;
}

}  // namespace vexlanctl
