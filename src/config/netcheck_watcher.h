// Watches the custom NetCheck file: each run compares the file's identity (modification time,
// size and inode) with the one last seen and, when it changed, parses the file and hands the
// list on. The time alone is not enough: file times advance in clock ticks, so a file
// truncated, read half-written and finished within one tick, or replaced by a rename within
// one, would keep its time and the finished version would never be read. The owner runs
// it from a timer and re-arms the timer for the deadline it returns, so the class needs no
// reactor and tests drive it with explicit times.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "config/netcheck_file.h"
#include "util/time_value.h"

namespace config {

class NetCheckWatcher {
 public:
  static constexpr int32_t kIntervalSeconds = 5;

  using Send = std::function<void(const NetCheckList&)>;
  using Log = std::function<void(const std::string&)>;

  // An empty `path` watches nothing. `send` delivers a new list; `log` takes the server-log
  // lines about failures.
  NetCheckWatcher(std::string path, Send send, Log log);

  // One run at time `now`; returns the next deadline, now + 5 seconds.
  //  - A changed identity: the file is parsed and the list sent. A parse or send error
  //    (error::Exception) is logged as "Error reading custom NetChecks: " + its text; the
  //    receiver keeps its previous list and the file is read again only after it changes
  //    once more.
  //  - A file that cannot be examined (gone, unreadable) is logged once as "Could not stat: "
  //    + path + ": " + the reason, the last list stays in force and the server runs on; when
  //    the file comes back it is read again whatever its identity.
  TimeValue run(TimeValue now);

 private:
  std::string path_;
  Send send_;
  Log log_;
  struct Identity {
    int64_t mtime_ns = 0;  // 0 before the first look
    int64_t size = 0;
    uint64_t inode = 0;
    bool operator==(const Identity&) const = default;
  };
  Identity seen_;
  bool missing_ = false;
};

}  // namespace config
