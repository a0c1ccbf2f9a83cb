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

// Options of the daemon itself, which workers are not sent.
struct DaemonOptions {
  // run_as_user: the user a daemon started by root runs as; empty: no change.
  std::string run_as_user;
};
DaemonOptions read_daemon_options(const ConfigMap& map);

// The start-up reading: the file if one is named, else the registry roots on disk. The
// daemon's own options go to `daemon` when given.
void load_server_config(const std::optional<std::string>& file,
                        control::Server_Configuration_Fields& cfg, DaemonOptions* daemon = nullptr);

// The number of processors the system reports (0 when it reports none).
unsigned processorCount();

}  // namespace config
