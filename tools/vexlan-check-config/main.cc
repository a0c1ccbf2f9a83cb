// vexlan-check-config: reads the server configuration the way the server does at start-up
// and prints every field, or the exact error the server would stop with.
//   vexlan-check-config [-f cfg_file]
// Without a file the registry is read (VX_REGISTRY_USER / VX_REGISTRY_MACHINE locate it).
#include <cstring>
#include <iostream>
#include <optional>

#include "config/server_config.h"
#include "error/exception.h"
#include "fields_printer.h"

int main(int argc, char** argv) {
  std::optional<std::string> file;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "-f") == 0 && i + 1 < argc) {
      file = argv[++i];
    } else {
      std::cerr << "usage: vexlan-check-config [-f cfg_file]\n";
      return 2;
    }
  }
  control::Server_Configuration_Fields cfg;
  try {
    config::load_server_config(file, cfg);
  } catch (const std::exception& e) {
    std::cerr << e.what() << "\n";
    return 1;
  }
  printFields(std::cout, cfg);
  return 0;
}
