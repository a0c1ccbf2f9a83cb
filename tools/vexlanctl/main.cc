// vexlanctl: the administrator's tool beside vexland. One program, one subcommand per task.
#include <cstring>
#include <iostream>

#include "commands.h"

namespace {

const char* const kUsageText =
    "usage: vexlanctl COMMAND [ARGS]\n"
    "\n"
    "  check-config FILE              read FILE as vexland does; print the settings or the error\n"
    "  reg get|set|list|delete ...    read and edit the registry (settings and server variables)\n"
    "  status [-p PID_FILE] [-s FILE] show the running server, its workers and their state\n"
    "  metrics [PATH] [--format=tree|openmetrics] [--watch SECONDS]\n"
    "                                 what the server and its workers measure\n"
    "  log-level WORKER[/AREA] LEVEL  set a worker's log level through the server\n"
    "  event decode [--hex|--binary] [FILE]\n"
    "                                 print events given as bytes (standard input without FILE)\n"
    "  ber decode [--legacy] [--hex|--binary] [FILE]\n"
    "                                 print network messages given as BER octets\n"
    "\n"
    "vexlanctl COMMAND --help describes each command.\n";

}  // namespace

int main(int argc, char** argv) {
  using namespace vexlanctl;
  if (argc < 2) {
    std::cerr << kUsageText;
    return kUsage;
  }
  const std::string command = argv[1];
  const Args args(argv + 2, argv + argc);
  if (isHelp(command) || command == "help") {
    std::cout << kUsageText;
    return kOk;
  }
  if (command == "check-config") return checkConfigCommand(args, std::cout, std::cerr);
  if (command == "reg") return regCommand(args, std::cout, std::cerr);
  if (command == "status") return statusCommand(args, std::cout, std::cerr);
  if (command == "metrics") return metricsCommand(args, std::cout, std::cerr);
  if (command == "log-level") return logLevelCommand(args, std::cout, std::cerr);
  if (command == "event") return eventCommand(args, std::cout, std::cerr);
  if (command == "ber") return berCommand(args, std::cout, std::cerr);
  std::cerr << "vexlanctl: unknown command '" << command << "'\n" << kUsageText;
  return kUsage;
}
