// Running the server as an unprivileged user when root starts it (the configuration option
// "run_as_user"). The daemon creates what it needs as root (runtime directory, server log,
// registry databases, pid file), hands those over to the user, and then drops root for good,
// keeping only the capabilities its workers need to monitor a network:
//
//   CAP_NET_RAW           raw sockets (ICMP echo, traceroute-like probes)
//   CAP_NET_BIND_SERVICE  listening on ports below 1024
//
// as permitted, effective, inheritable and ambient capabilities, so that the workers it
// starts have them too; every other capability leaves the bounding set, so that nothing it
// starts can regain one.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace supervisor {

struct TargetUser {
  std::string name;
  uid_t uid;
  gid_t gid;
};

// The user to change to: none when `name` is empty or names the user this process runs as
// already (the service manager started it as that user). Raises error::EFatal when the user
// does not exist ("run_as_user "x": no such user") or when this process is not root and so
// cannot change to another user.
std::optional<TargetUser> userToRunAs(const std::string& name);

// The capabilities kept, as their numbers.
std::vector<int> keptCapabilities();

// Gives `path` to the user (owner and group), if it exists; failures raise
// error::ESystemError.
void handOver(const std::string& path, const TargetUser& user);

// Drops root for the user, keeping only the capabilities above (those of them this process
// has). Failures raise error::ESystemError; on success there is no way back.
void becomeUser(const TargetUser& user);

}  // namespace supervisor
