#include "error/system_text.h"

#include <string.h>

#include <cstdio>

namespace error {

namespace {

// strerror_r has two signatures; both end up here.
[[maybe_unused]] const char* pick(int rc, const char* buf) {
  return rc == 0 ? buf : nullptr;
}
[[maybe_unused]] const char* pick(const char* result, const char*) {
  return result;
}

}  // namespace

std::string systemText(int code) {
  char buf[256];
  buf[0] = '\0';
  const char* text = pick(strerror_r(code, buf, sizeof buf), buf);
  std::string out;
  if (text == nullptr) {
    char num[64];
    std::snprintf(num, sizeof num, "%u (FormatMessage: %u)", static_cast<unsigned>(code),
                  static_cast<unsigned>(errno));
    return num;
  }
  out.assign(text, strnlen(text, 255));
  while (!out.empty() && (out.back() == '\r' || out.back() == '\n'))
    out.pop_back();
  if (out.empty()) out = std::to_string(static_cast<unsigned>(code));
  return out;
}

}  // namespace error
