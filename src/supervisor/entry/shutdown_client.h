// The clients of a running background daemon, which they find through its pid file: -w:shutdown
// stops it and waits until it has gone, -w:sigusr1 asks it to rotate its logs.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>

namespace entry {

struct ShutdownTiming {
  std::chrono::milliseconds repeat{2000};   // between the checks, each followed by a new request
  std::chrono::milliseconds limit{300000};  // give up after this long
};

// Both refuse a pid file whose lock nobody holds (pid_file.h) with "Vexlan is not running
// (stale pid file <path>)" on `err`, and send nothing then.

// Sets the shutdown event named in `pid_file` until its daemon has gone (its lock on the pid
// file with it). Repeats go to that daemon's own socket, never to the name, which another
// daemon may have taken by then.
// Progress ("Waiting", a "." per repeat, " succeeded" or " timeout. Shutdown failed.") goes to
// `out`, failures to find the daemon to `err`. Returns 0 when the daemon has ended, else 1.
// Other failures raise error::Exception. The pid file is neither changed nor removed.
int runShutdownClient(const std::string& pid_file, const ShutdownTiming& timing = {},
                      std::FILE* out = stdout, std::FILE* err = stderr);

// Sets the rotation event of the daemon named in `pid_file` once: "Log rotation requested" on
// `out` and 0, or a message on `err` and 1.
int runRotationClient(const std::string& pid_file, std::FILE* out = stdout,
                      std::FILE* err = stderr);

}  // namespace entry
