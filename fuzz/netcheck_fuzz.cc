// Custom NetCheck files from anywhere: a list or an error::EParseError, with bounded memory
// and time, whatever the bytes (patterns included).
#include <cstddef>
#include <cstdint>
#include <sstream>

#include "config/netcheck_file.h"
#include "error/exception.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
  try {
    config::parse_netchecks(in);
  } catch (const error::EParseError&) {
  }
  return 0;
}
