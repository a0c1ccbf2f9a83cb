#include "log/server_log.h"

#include <spdlog/sinks/stdout_sinks.h>
#include <spdlog/spdlog.h>

namespace logging {

LogFile& server_log() {
  static LogFile log;
  return log;
}

void open_server_log(const std::string& logdir) {
  server_log().openOrThrow(logdir + "/server.log");
}

bool rotate_if_due(time_t now, int log_days) {
  if (now - LogFile::oldest_created() <= static_cast<time_t>(log_days) * 86400) return false;
  LogFile::rotate_all();
  return true;
}

void init_default_logger() {
  auto logger =
      std::make_shared<spdlog::logger>("", std::make_shared<spdlog::sinks::stderr_sink_mt>());
  spdlog::set_default_logger(std::move(logger));
}

}  // namespace logging
