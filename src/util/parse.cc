#include "util/parse.h"

#include <cerrno>
#include <cstdlib>

namespace util {

uint32_t parse_hex(const std::string& text) {
  const char* begin = text.c_str();
  char* end = nullptr;
  errno = 0;
  unsigned long long value = std::strtoull(begin, &end, 16);
  if (errno == ERANGE || value > 0xffffffffULL) {
    throw error::EParseError("Value \"" + text + "\" out of range");
  }
  if (*end != '\0') {
    throw error::EParseError(std::string("Unexpected character: ") + *end + " in hex string " +
                             text);
  }
  return static_cast<uint32_t>(value);
}

}  // namespace util
