// The status text, apart from where it is read, so that it can be shown for any moment and
// any set of live processes.
#pragma once

#include <functional>
#include <ostream>
#include <string>

namespace vexlanctl {

// True when process `pid` exists (whoever owns it).
bool processExists(long pid);

// Prints the status file's `text` as seen at `now` (seconds since the epoch); `alive` tells
// whether the server's pid still runs. Returns kOk, or kNotRunning when the server has ended.
// A malformed file raises error::EParseError.
int printStatus(const std::string& text, double now, std::ostream& out,
                const std::function<bool(long)>& alive);

}  // namespace vexlanctl
