// The supervisor's server log, "server.log" in the configured log directory, and the age
// test its main loop runs after every handler.
#pragma once

#include <ctime>
#include <string>

#include "log/log_file.h"

namespace logging {

// The one server log of this process.
LogFile& server_log();

// Opens logdir + "/server.log" as the server log; a file that cannot be opened throws
// error::ESystemError ("Cannot open log file 'PATH': reason"), since the server must not run
// without its log. Later write and rotation failures are only reported.
void open_server_log(const std::string& logdir);

// Rotates every open log when the oldest is more than `log_days` days old at `now`;
// true when it did.
bool rotate_if_due(time_t now, int log_days);

// Registers spdlog's default logger (empty name, standard error) for library code that logs
// through spdlog; the server log does not go through it.
void init_default_logger();

}  // namespace logging
