#include "supervisor/entry/command_line.h"

#include <cstring>

#include "log/version.h"

namespace entry {

std::optional<CommandLine> parseCommandLine(int argc, const char* const* argv) {
  CommandLine cl;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (std::strcmp(arg, "-v") == 0) {
      cl.daemon = false;
    } else if (std::strcmp(arg, "-w:shutdown") == 0) {
      cl.shutdown_request = true;
    } else if (std::strcmp(arg, "-w:sigusr1") == 0) {
      cl.rotate_request = true;
    } else if (std::strcmp(arg, "-p") == 0) {
      if (i + 1 < argc) cl.pid_file = argv[++i];
    } else if (std::strcmp(arg, "-f") == 0) {
      if (i + 1 < argc) cl.config_file = argv[++i];
    } else {
      return std::nullopt;
    }
  }
  return cl;
}

std::string usageText() {
  return "Usage: \n"
         " vexland [-v] [-w:{shutdown|sigusr1}] [-p pid_file] [-f cfg_file]\n"
         " -v           run in foreground\n"
         " -w:shutdown  shut down running Vexlan\n"
         " -w:sigusr1   send SIGUSR1 to running Vexlan (log rotate)\n"
         " -p pid_file  write PID to given file\n"
         " -f cfg_file  read configuration from given file\n"
         "\n";
}

std::string bannerText() {
  const std::string rule(49, '-');
  return rule + "\n" + logging::kVersionBanner + "\n" + "Made by the Vexlan developers\n" + rule +
         "\n" + "See https://vexlan.example.org\n" + rule + "\n";
}

}  // namespace entry
