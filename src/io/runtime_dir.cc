#include "io/runtime_dir.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "error/exception.h"
#include "error/system_text.h"

namespace io {

namespace {

struct Choice {
  std::string path;
  bool follow_links;
};

std::string env(const char* name) {
  const char* v = std::getenv(name);
  return v != nullptr ? v : "";
}

bool isDirectory(const std::string& path) {
  struct stat st;
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

Choice choose() {
  // The service manager lists several directories separated by colons; the first is ours.
  if (std::string d = env("RUNTIME_DIRECTORY"); !d.empty()) {
    d = d.substr(0, d.find(':'));
    if (!d.empty()) return {d, true};
  }
  if (std::string d = env("XDG_RUNTIME_DIR"); isDirectory(d)) return {d + "/vexlan", false};
  const uid_t uid = ::geteuid();
  return {(uid == 0 ? "/run/vexlan-" : "/tmp/vexlan-") + std::to_string(uid), false};
}

[[noreturn]] void refuse(const std::string& path, const std::string& why) {
  throw error::Exception("Runtime directory " + path + " " + why);
}

}  // namespace

std::string runtimeDirectoryPath() {
  return choose().path;
}

void requirePrivateDirectory(const std::string& path, bool follow_links) {
  struct stat st;
  if ((follow_links ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st)) != 0) {
    refuse(path, "cannot be examined: " + error::systemText(errno));
  }
  if (S_ISLNK(st.st_mode)) refuse(path, "is a symbolic link: refusing to use it");
  if (!S_ISDIR(st.st_mode)) refuse(path, "is not a directory: refusing to use it");
  const uid_t uid = ::geteuid();
  if (st.st_uid != uid) {
    refuse(path, "belongs to uid " + std::to_string(st.st_uid) + ", not to uid " +
                     std::to_string(uid) + ": refusing to use it");
  }
  if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
    refuse(path, std::string("is writable by others (mode ") + mode + "): refusing to use it");
  }
}

std::string runtimeDirectory() {
  Choice c = choose();
  if (::mkdir(c.path.c_str(), 0700) != 0 && errno != EEXIST) {
    refuse(c.path, "cannot be created: " + error::systemText(errno));
  }
  requirePrivateDirectory(c.path, c.follow_links);
  return c.path;
}

}  // namespace io
