#include "config/config_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <ext/stdio_filebuf.h>
#include <istream>

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
  auto fail = [&](const std::string& why, int code) {
    throw error::EFStreamError("Cannot open configuration file \"" + path + "\": " + why, code);
  };
  // Opened without blocking, so that a FIFO (or a device) in its place cannot hold the start;
  // only a regular file, or a symbolic link to one, is read.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    const int code = errno;
    fail(error::systemText(code), code);
  }
  struct stat st = {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    const int code = S_ISDIR(st.st_mode) ? EISDIR : 0;
    ::close(fd);
    fail(code != 0 ? error::systemText(code) : "not a regular file", code);
  }
  __gnu_cxx::stdio_filebuf<char> buf(fd, std::ios::in);  // closes fd
  std::istream in(&buf);
  read_config_stream(in, map);
}

}  // namespace config
