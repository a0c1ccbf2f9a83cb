// SET_LOG_LEVEL applied to this process's spdlog loggers.
//
// Each entry maps an area key to a level. The area key names a logger:
//   "*" or ""   every registered logger and the default logger;
//   "default"   the default logger (the one with the empty name);
//   any other   the registered logger of that name (spdlog::get).
// The level is spdlog's number: 0 trace, 1 debug, 2 info, 3 warn, 4 error, 5 critical, 6 off.
// An entry with an unknown logger or a level outside 0 to 6 changes nothing and is reported.
#pragma once

#include <string>
#include <vector>

#include "queues/control/control_payloads.h"

namespace worker {

// Applies every entry in key order; returns one text per entry that changed nothing.
std::vector<std::string> applyLogLevels(const control::Set_Log_Level_Data& levels);

}  // namespace worker
