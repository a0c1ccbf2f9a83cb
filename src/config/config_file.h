// The configuration file syntax: "name = value" lines, blank lines and "#" comment lines.
#pragma once

#include <istream>
#include <string>

#include "config/config_map.h"

namespace config {

// The longest line read; a longer one is cut there and ends the reading.
inline constexpr std::size_t kMaxConfigLine = 10239;

// Loads the file at `path` into `map`. A file that cannot be opened throws
// error::EFStreamError, and so does anything but a regular file or a symbolic link to one
// ("...: not a regular file"), at once: a FIFO in its place never holds the caller. A
// malformed line throws error::EParseError.
void read_config_file(const std::string& path, ConfigMap& map);

// The same over an open stream (CR LF line ends read as LF).
void read_config_stream(std::istream& in, ConfigMap& map);

}  // namespace config
