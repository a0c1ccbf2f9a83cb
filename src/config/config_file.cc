#include "config/config_file.h"

#include <cctype>
#include <cerrno>
#include <filesystem>
#include <fstream>

#include "error/exception.h"
#include "error/system_text.h"
#include "util/text.h"

namespace config {

namespace {

bool isSpace(char c) {
  return std::isspace(static_cast<unsigned char>(c)) != 0;
}

// Reads one line into `line` without its line end, holding at most kMaxConfigLine
// characters, so an endless line costs no more memory than a long one. Returns false at the
// end of the input; sets `cut` when the line went on past the limit.
bool readLine(std::istream& in, std::string& line, bool& cut) {
  line.clear();
  cut = false;
  std::streambuf* buf = in.rdbuf();
  bool any = false;
  for (;;) {
    int c = buf->sbumpc();
    if (c == std::char_traits<char>::eof()) return any;
    any = true;
    if (c == '\n') break;
    if (line.size() == kMaxConfigLine) {
      if (c == '\r' && buf->sgetc() == '\n') {
        buf->sbumpc();
        break;
      }
      cut = true;
      return true;
    }
    line.push_back(static_cast<char>(c));
  }
  // Text-mode reading: a CR that ends the line belongs to a CR LF line end.
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return true;
}

void parseLine(const std::string& line, uint32_t number, ConfigMap& map) {
  std::size_t i = 0;
  const std::size_t n = line.size();
  while (i < n && isSpace(line[i]))
    ++i;
  if (i == n || line[i] == '#') return;
  const std::size_t nameBegin = i;
  while (i < n && !isSpace(line[i]) && line[i] != '=')
    ++i;
  const std::size_t nameEnd = i;
  while (i < n && isSpace(line[i]))
    ++i;
  if (i == n || line[i] != '=') {
    throw error::EParseError("Parse error in config file line " + util::udec(number) +
                             ": Whitespace in parameter name");
  }
  ++i;
  while (i < n && isSpace(line[i]))
    ++i;
  map.emplace(line.substr(nameBegin, nameEnd - nameBegin),
              ConfigValue{line.substr(i), number, false});
}

}  // namespace

void read_config_stream(std::istream& in, ConfigMap& map) {
  std::string line;
  bool cut = false;
  uint32_t number = 0;
  while (readLine(in, line, cut)) {
    parseLine(line, ++number, map);
    if (cut) break;
  }
}

void read_config_file(const std::string& path, ConfigMap& map) {
  std::ifstream in(path, std::ios::in | std::ios::binary);
  std::error_code ec;
  if (!in || std::filesystem::is_directory(path, ec)) {
    const int code = in ? EISDIR : errno;
    throw error::EFStreamError(
        "Cannot open configuration file \"" + path + "\": " + error::systemText(code), code);
  }
  read_config_stream(in, map);
}

}  // namespace config
