#include "util/text.h"

#include <cinttypes>
#include <cstdio>

namespace util {

namespace {
template <typename... A>
std::string format(const char* f, A... args) {
  char buf[64];
  int n = std::snprintf(buf, sizeof buf, f, args...);
  return std::string(buf, n < 0 ? 0 : static_cast<size_t>(n));
}
}  // namespace

std::string dec(int32_t v) {
  return format("%i", v);
}
std::string dec2(int32_t v) {
  return format("%02i", v);
}
std::string udec(uint32_t v) {
  return format("%u", v);
}
std::string udec2(uint32_t v) {
  return format("%02u", v);
}
std::string u64dec(uint64_t v) {
  return format("%" PRIu64, v);
}
std::string hex(uint32_t v, int width) {
  return format("%0*x", width, v);
}
std::string hex64(uint64_t v) {
  return format("%016" PRIX64, v);
}

std::string calendarText(time_t seconds, const char* fmt, bool local) {
  struct tm tm;
  if ((local ? localtime_r(&seconds, &tm) : gmtime_r(&seconds, &tm)) == nullptr) {
    return "invalid time";
  }
  char buf[1024];
  size_t n = std::strftime(buf, sizeof buf, fmt, &tm);
  return std::string(buf, n);
}

std::string escapeControls(std::string_view text) {
  static constexpr char kNamed[] = "abtnvfr";  // the escapes of 7 to 13
  std::string out;
  out.reserve(text.size());
  for (char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c >= 0x20 && c != 0x7f) {
      out += ch;
    } else if (c >= 7 && c <= 13) {
      out += '\\';
      out += kNamed[c - 7];
    } else {
      out += format("\\%03o", static_cast<unsigned>(c));
    }
  }
  return out;
}

}  // namespace util
