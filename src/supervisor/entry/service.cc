#include "supervisor/entry/service.h"

#include <dlfcn.h>
#include <systemd/sd-daemon.h>

#include <algorithm>

#include "error/exception.h"
#include "error/system_text.h"

namespace entry {

namespace {

// libsystemd is loaded only by a run under the service manager: its chain of libraries
// (compression, cryptography, capabilities) would otherwise be mapped and relocated by every
// start of the program, foreground runs and command-line clients included, for one call
// they never make. The library stays a dependency of the package.
using NotifyFn = decltype(&::sd_notify);
constexpr const char* kLibrary = "libsystemd.so.0";

NotifyFn& notifyFn() {
  static NotifyFn fn = nullptr;
  return fn;
}

// Loads the library once. Returns the reason on failure, "" on success.
std::string loadNotify() {
  if (notifyFn() != nullptr) return "";
  void* lib = ::dlopen(kLibrary, RTLD_NOW | RTLD_LOCAL);
  if (lib == nullptr) {
    const char* why = ::dlerror();
    return std::string("cannot load ") + kLibrary + (why != nullptr ? ": " + std::string(why) : "");
  }
  void* sym = ::dlsym(lib, "sd_notify");
  if (sym == nullptr) {
    ::dlclose(lib);
    return std::string("no sd_notify in ") + kLibrary;
  }
  notifyFn() = reinterpret_cast<NotifyFn>(sym);
  return "";
}

}  // namespace

void startService(const char* notify_socket) {
  if (notify_socket == nullptr || *notify_socket == '\0') {
    throw error::EFatal(
        "Unable to start service: not started by the service manager (NOTIFY_SOCKET is not set)");
  }
  if (std::string why = loadNotify(); !why.empty())
    throw error::EFatal("Unable to start service: " + why);
  int r = notifyFn()(0, "STATUS=Starting");
  if (r < 0) throw error::EFatal("Unable to start service: " + error::systemText(-r));
}

void serviceNotify(const std::string& assignments) {
  if (notifyFn() == nullptr && !loadNotify().empty()) return;
  notifyFn()(0, assignments.c_str());
}

std::string statusAssignment(const std::string& text) {
  std::string line = "STATUS=" + text;
  std::replace(line.begin(), line.end(), '\n', ' ');
  std::replace(line.begin(), line.end(), '\r', ' ');
  return line;
}

}  // namespace entry
