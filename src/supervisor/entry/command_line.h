// The daemon's command line: what it accepts, the usage text and the banner.
#pragma once

#include <optional>
#include <string>

namespace entry {

struct CommandLine {
  bool daemon = true;             // -v clears it: run in the foreground
  bool shutdown_request = false;  // -w:shutdown
  bool rotate_request = false;    // -w:sigusr1
  std::optional<std::string> pid_file;
  std::optional<std::string> config_file;
};

// Every argument after the program name must be one of the options, compared as whole
// strings; "-p" and "-f" take the next argument and are ignored when they come last. The
// first argument that is none of them makes the result empty: the caller prints the usage.
std::optional<CommandLine> parseCommandLine(int argc, const char* const* argv);

// The usage text, ending in an empty line.
std::string usageText();

// The banner printed before a foreground run: version, maker and web site between rules.
std::string bannerText();

}  // namespace entry
