#include "supervisor/entry/service.h"

#include <systemd/sd-daemon.h>

#include <algorithm>

#include "error/exception.h"
#include "error/system_text.h"

namespace entry {

void startService(const char* notify_socket) {
  if (notify_socket == nullptr || *notify_socket == '\0') {
    throw error::EFatal(
        "Unable to start service: not started by the service manager (NOTIFY_SOCKET is not set)");
  }
  int r = ::sd_notify(0, "STATUS=Starting");
  if (r < 0) throw error::EFatal("Unable to start service: " + error::systemText(-r));
}

void serviceNotify(const std::string& assignments) {
  ::sd_notify(0, assignments.c_str());
}

std::string statusAssignment(const std::string& text) {
  std::string line = "STATUS=" + text;
  std::replace(line.begin(), line.end(), '\n', ' ');
  std::replace(line.begin(), line.end(), '\r', ' ');
  return line;
}

}  // namespace entry
