#include "sdk/log_levels.h"

#include <spdlog/spdlog.h>

namespace worker {

std::vector<std::string> applyLogLevels(const control::Set_Log_Level_Data& levels) {
  std::vector<std::string> problems;
  for (const auto& [key, number] : levels.logger_level) {
    if (number < spdlog::level::trace || number > spdlog::level::off) {
      problems.push_back("Log level " + std::to_string(number) + " for \"" + key +
                         "\" is not a level (0 trace to 6 off)");
      continue;
    }
    auto level = static_cast<spdlog::level::level_enum>(number);
    if (key == "*" || key.empty()) {
      spdlog::apply_all([level](const std::shared_ptr<spdlog::logger>& l) { l->set_level(level); });
      if (auto d = spdlog::default_logger()) d->set_level(level);
    } else if (key == "default") {
      if (auto d = spdlog::default_logger()) d->set_level(level);
    } else if (auto l = spdlog::get(key)) {
      l->set_level(level);
    } else {
      problems.push_back("No logger \"" + key + "\" for log level " + std::to_string(number));
    }
  }
  return problems;
}

}  // namespace worker
