// Configuration files from anywhere: the reader and every lookup must end in a value or an
// error::Exception, never a crash, whatever the bytes.
#include <climits>
#include <cstddef>
#include <cstdint>
#include <sstream>

#include "config/config_file.h"
#include "config/lookup.h"
#include "config/server_config.h"
#include "error/exception.h"

namespace {

void lookups(const config::ConfigMap& map) {
  for (const auto& [key, v] : map) {
    try {
      config::get_string_opt_unescaped(map, key, "");
    } catch (const error::Exception&) {
    }
    try {
      config::get_string_set(map, key, "");
    } catch (const error::Exception&) {
    }
    try {
      config::get_integer_opt(map, key, INT_MIN, INT_MAX, 0);
    } catch (const error::Exception&) {
    }
    try {
      config::get_integer_in(map, key, {1, 2, 3}, 0);
    } catch (const error::Exception&) {
    }
    try {
      config::get_bool_opt(map, key, false);
    } catch (const error::Exception&) {
    }
  }
  control::Server_Configuration_Fields cfg;
  try {
    config::read_server_config(map, cfg, 4);
  } catch (const error::Exception&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
  config::ConfigMap map;
  try {
    config::read_config_stream(in, map);
  } catch (const error::Exception&) {
  }
  lookups(map);
  // The same texts as registry values, which skip the quoting rules.
  for (auto& [key, v] : map)
    v.from_registry = true;
  lookups(map);
  return 0;
}
