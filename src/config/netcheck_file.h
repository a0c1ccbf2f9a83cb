// The custom NetCheck definitions file: "[name]" sections with "command=" and
// "result_pattern=" settings. The parser only validates; the database worker runs the checks.
#pragma once

#include <istream>
#include <string>
#include <vector>

namespace config {

struct NetCheckDefinition {
  std::string name;
  std::string command;
  std::string result_pattern;
  friend bool operator==(const NetCheckDefinition&, const NetCheckDefinition&) = default;
};

// In file order; what UPDATE_NETCHECKS carries to the database worker.
using NetCheckList = std::vector<NetCheckDefinition>;

// The pattern a check without result_pattern gets.
inline constexpr const char* kDefaultResultPattern =
    "^Result:[[:space:]]*([[:digit:]]+)[[:space:]]*$";

// The longest line accepted, without its line end.
inline constexpr std::size_t kMaxNetCheckLine = 1023;

// Parses the file at `path`. Every error is an error::EParseError ("Unable to open file " +
// path, or "Error at line N: ..."), and the first one ends the parse.
NetCheckList read_netcheck_file(const std::string& path);
NetCheckList parse_netchecks(std::istream& in);

// Compiles `pattern` as a POSIX extended regular expression; returns "" or the library's
// error text. Patterns whose repetition counts would expand into a huge automaton are refused
// before compilation, so a configuration file cannot exhaust the supervisor's memory.
std::string check_pattern(const std::string& pattern);

}  // namespace config
