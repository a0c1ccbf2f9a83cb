// Raw options as loaded from a configuration file or a registry key, before typed lookups
// turn them into values. A map lives only while the configuration is being read.
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace config {

struct ConfigValue {
  std::string value;
  // 1-based line of a file; for a registry value its enumeration index less one, so the
  // first value shows as -1 in messages (they print it as a signed number).
  uint32_t line = 0;
  // Registry values are plain texts: string lookups return them without the quoting rules.
  bool from_registry = false;
};

// Names compare bytewise (case-sensitive). The first occurrence of a name wins.
using ConfigMap = std::map<std::string, ConfigValue>;

}  // namespace config
