#include "config/netcheck_file.h"

#include <regex.h>

#include <cctype>
#include <fstream>
#include <optional>

#include "config/pattern_cost.h"
#include "error/exception.h"
#include "util/text.h"

namespace config {

namespace {

class Parser {
 public:
  explicit Parser(std::istream& in) : buf_(*in.rdbuf()) {}

  NetCheckList run() {
    std::string line;
    bool pending = next(line);
    while (pending) {
      if (line.size() < 2 || line.front() != '[' || line.back() != ']') {
        fail("Expected [checkname]");
      }
      NetCheckDefinition check;
      check.name = line.substr(1, line.size() - 2);
      if (check.name.empty()) fail("Check without a name encountered");
      bool hasCommand = false;
      bool hasPattern = false;
      while ((pending = next(line)) && line.front() != '[') {
        setting(line, check, hasCommand, hasPattern);
      }
      if (!hasCommand) fail("No command found for check");
      if (!hasPattern) {
        check.result_pattern = kDefaultResultPattern;
        compile(check.result_pattern);
      }
      checks_.push_back(std::move(check));
    }
    return std::move(checks_);
  }

 private:
  [[noreturn]] void fail(const std::string& what) {
    throw error::EParseError("Error at line " + util::udec(number_) + ": " + what);
  }

  // The next line that is neither empty nor a comment, trimmed; false at the end.
  bool next(std::string& line) {
    for (;;) {
      if (!readRaw(line)) return false;
      while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
        line.pop_back();
      std::size_t i = 0;
      while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i])))
        ++i;
      line.erase(0, i);
      if (!line.empty() && line.front() != '#') return true;
    }
  }

  // One line without its line feed, refused past kMaxNetCheckLine characters so that memory
  // stays bounded, and refused with a NUL byte, which would cut the command or pattern short
  // where C strings are used but not in the list sent on.
  bool readRaw(std::string& line) {
    line.clear();
    int c = buf_.sbumpc();
    if (c == std::char_traits<char>::eof()) return false;
    ++number_;
    for (; c != std::char_traits<char>::eof() && c != '\n'; c = buf_.sbumpc()) {
      if (c == '\0') fail("NUL character in line");
      if (line.size() == kMaxNetCheckLine) {
        if (c == '\r' && buf_.sgetc() == '\n') continue;
        fail("Line too long");
      }
      line.push_back(static_cast<char>(c));
    }
    return true;
  }

  void setting(const std::string& line, NetCheckDefinition& check, bool& hasCommand,
               bool& hasPattern) {
    const std::size_t eq = line.find('=');
    if (eq == std::string::npos) fail("Expected '='");
    const std::string key = line.substr(0, eq);
    std::size_t v = eq + 1;
    while (v < line.size() && std::isspace(static_cast<unsigned char>(line[v])))
      ++v;
    std::string value = line.substr(v);
    if (key == "command") {
      if (value.empty()) fail("Command expected");
      check.command = std::move(value);
      hasCommand = true;
    } else if (key == "result_pattern") {
      if (value.empty()) fail("Pattern expected");
      compile(value);
      check.result_pattern = std::move(value);
      hasPattern = true;
    } else {
      fail("Unknown option: " + key);
    }
  }

  void compile(const std::string& pattern) {
    std::string err = check_pattern(pattern);
    if (!err.empty()) fail(err);
  }

  std::streambuf& buf_;
  uint32_t number_ = 0;
  NetCheckList checks_;
};

}  // namespace

std::string check_pattern(const std::string& pattern) {
  if (pattern_cost(pattern) > kMaxPatternCost) return "Pattern too complex";
  regex_t re;
  const int rc = regcomp(&re, pattern.c_str(), REG_EXTENDED);
  if (rc != 0) {
    char text[256];
    regerror(rc, &re, text, sizeof text);
    return text;
  }
  regfree(&re);
  return "";
}

NetCheckList parse_netchecks(std::istream& in) {
  return Parser(in).run();
}

NetCheckList read_netcheck_file(const std::string& path) {
  std::ifstream in(path, std::ios::in | std::ios::binary);
  if (!in) throw error::EParseError("Unable to open file " + path);
  return parse_netchecks(in);
}

}  // namespace config
