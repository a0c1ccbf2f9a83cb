// Reads every server option into control::Server_Configuration_Fields: from a configuration
// file, or from the registry key "SOFTWARE\Vexlan\VXServer" (user root first, machine root
// on any error) when no file is named.
#pragma once

#include <optional>
#include <string>

#include "config/config_map.h"
#include "config/registry.h"
#include "queues/control/server_configuration_fields.h"

namespace config {

inline constexpr const char* kServerKey = "SOFTWARE\\Vexlan\\VXServer";

// Defaults chosen for this platform where the option has no fixed default text.
inline constexpr const char* kDefaultMailServer = "localhost";
inline constexpr const char* kDefaultMailFrom = "vexlan@localhost.localdomain";
inline constexpr const char* kDefaultClusterMembers = "localhost";
inline constexpr const char* kDefaultWebInterfaceUrl = "http://localhost/vexlan/index.cgi";

// The options of `file`, or of the server key in the registry when there is no file.
ConfigMap load_config_map(const std::optional<std::string>& file, Registry& user,
                          Registry& machine);

// Fills `cfg` from `map`, option by option in a fixed order; the first failing lookup throws
// and leaves `cfg` partly filled. `processors` is what a netcheck_process_pool_size of 0
// stands for.
void read_server_config(const ConfigMap& map, control::Server_Configuration_Fields& cfg,
                        unsigned processors);

// Options of the supervisor itself. They are read from the same file or registry key, after
// every option of the server configuration, but never sent to workers: the SERVER_CONFIGURATION
// payload stays as it is.
struct SupervisorSettings {
  // worker_stall_limit: how long, in seconds, a worker may leave an event half-sent, or leave
  // the supervisor's events for it untaken, before the server ends it.
  uint32_t worker_stall_limit = 120;
};

// Fills `s` from `map`; a value out of range throws as every other option does.
void read_supervisor_settings(const ConfigMap& map, SupervisorSettings& s);

// The start-up reading: the file if one is named, else the registry roots on disk. The
// supervisor's own settings are read when `settings` is given (vexlanctl checks them too).
void load_server_config(const std::optional<std::string>& file,
                        control::Server_Configuration_Fields& cfg,
                        SupervisorSettings* settings = nullptr);

// The number of processors the system reports (0 when it reports none).
unsigned processorCount();

}  // namespace config
