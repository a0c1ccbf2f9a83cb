// The reference worker's environment from anywhere: behaviours or an error::EParseError that
// names the variable, whatever the values.
#include <cstddef>
#include <cstdint>
#include <map>
#include <sstream>
#include <string>

#include "error/exception.h"
#include "reference/behaviours.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // One NAME=VALUE per line, as an environment holds them.
  std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
  std::map<std::string, std::string> vars;
  for (std::string line; std::getline(in, line);) {
    size_t eq = line.find('=');
    if (eq != std::string::npos) vars[line.substr(0, eq)] = line.substr(eq + 1);
  }
  try {
    reference::Behaviours::parse(vars, "VXW_X_");
  } catch (const error::EParseError&) {
  }
  return 0;
}
