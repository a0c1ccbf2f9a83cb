// The daemon's runtime directory: the one place where it keeps what lives only as long as it
// runs (its status file, its FIFO directories) and what only its own user may reach. Clients
// (vexlanctl) find a daemon's files there by the same rules.
//
// The directory, in this order:
//   1. $RUNTIME_DIRECTORY (its first entry): the service manager made it for the service;
//   2. $XDG_RUNTIME_DIR/vexlan, when $XDG_RUNTIME_DIR names a directory: the user's session;
//   3. /run/vexlan-<uid> for root, /tmp/vexlan-<uid> for anybody else.
// Whatever the rule, the directory is created (mode 0700) when it is missing, and an existing
// one is used only when it is a directory owned by this process's effective uid and writable
// by nobody else; under rules 2 and 3 a symbolic link is refused as well (the service manager
// may link the one of rule 1). Anything else is refused rather than repaired: somebody else
// prepared it, and whatever they left inside cannot be trusted.
#pragma once

#include <string>

namespace io {

// The path the rules give, without creating or checking anything.
std::string runtimeDirectoryPath();

// The path, created when missing and checked as above. A directory that cannot be created or
// that fails the check raises error::Exception "Runtime directory <path> ...", saying why.
std::string runtimeDirectory();

// The check alone: `path` must be a directory (a symbolic link to one only when
// `follow_links`), owned by the effective uid, without write permission for group or others.
// Raises error::Exception as above.
void requirePrivateDirectory(const std::string& path, bool follow_links);

}  // namespace io
