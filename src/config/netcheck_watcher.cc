#include "config/netcheck_watcher.h"

#include <sys/stat.h>

#include <cerrno>

#include "error/exception.h"
#include "error/system_text.h"

namespace config {

NetCheckWatcher::NetCheckWatcher(std::string path, Send send, Log log)
    : path_(std::move(path)), send_(std::move(send)), log_(std::move(log)) {}

TimeValue NetCheckWatcher::run(TimeValue now) {
  const TimeValue next = now + TimeValue(kIntervalSeconds, 0);
  if (path_.empty()) return next;
  struct stat st;
  if (::stat(path_.c_str(), &st) != 0) {
    if (!missing_) log_("Could not stat: " + path_ + ": " + error::systemText(errno));
    missing_ = true;
    seen_ = Identity{};
    return next;
  }
  missing_ = false;
  const Identity now_seen{int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec,
                          int64_t{st.st_size}, uint64_t{st.st_ino}};
  if (now_seen == seen_) return next;
  seen_ = now_seen;
  try {
    send_(read_netcheck_file(path_));
  } catch (const error::Exception& e) {
    log_(std::string("Error reading custom NetChecks: ") + e.what());
  }
  return next;
}

}  // namespace config
