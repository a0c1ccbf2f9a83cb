// The status file as vexlanctl reads it: written by another process, possibly cut short or
// damaged. Any input either prints or raises error::Exception.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "error/exception.h"
#include "vexlanctl/status.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::ostringstream out;
  try {
    vexlanctl::printStatus(std::string(reinterpret_cast<const char*>(data), size), 1e9, out,
                           [](long) { return true; });
  } catch (const error::Exception&) {
  }
  return 0;
}
