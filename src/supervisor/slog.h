// The supervisor's one logging call. Lines go to the server log while it is open; before it
// is opened and after it is closed they are dropped (fatal errors reach standard error and the
// system log through entry::reportFatal instead).
#pragma once

#include <string>
#include <vector>

#include "log/server_log.h"

namespace supervisor {

inline void slog(const std::string& line) {
  if (logging::server_log().isOpen()) logging::server_log().write(line);
}

// Several lines in one write to the log.
inline void slogLines(const std::vector<std::string>& lines) {
  if (logging::server_log().isOpen()) logging::server_log().write(lines);
}

}  // namespace supervisor
