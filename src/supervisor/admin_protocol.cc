#include "supervisor/admin_protocol.h"

#include <charconv>

#include "error/exception.h"
#include "util/text.h"

namespace supervisor::admin {

namespace {

[[noreturn]] void refuse(const std::string& why) {
  throw error::EParseError(why);
}

// The words of a line: printable ASCII without blanks, one blank between two words.
std::vector<std::string_view> words(std::string_view line) {
  std::vector<std::string_view> out;
  size_t start = 0;
  for (size_t i = 0; i <= line.size(); ++i) {
    if (i < line.size() && line[i] != ' ') {
      const unsigned char c = static_cast<unsigned char>(line[i]);
      if (c < 0x21 || c > 0x7e) refuse("The request holds a byte that is not printable ASCII");
      continue;
    }
    if (i == start) refuse("The request has an empty word (two blanks, or one at an end)");
    if (out.size() == 4) refuse("The request has too many words");
    out.push_back(line.substr(start, i - start));
    start = i + 1;
  }
  return out;
}

void checkWord(std::string_view w, const char* what) {
  if (w.size() > kMaxWordBytes) {
    refuse(std::string(what) + " is longer than " + std::to_string(kMaxWordBytes) + " bytes");
  }
}

int32_t parseLevel(std::string_view w) {
  int32_t v = 0;
  auto [end, ec] = std::from_chars(w.data(), w.data() + w.size(), v);
  if (ec != std::errc() || end != w.data() + w.size()) {
    refuse("The level must be a decimal number: " + std::string(w));
  }
  return v;
}

// "sname", "sname/area", "*" or "*/area": a short name or "*", then an optional area.
void checkTarget(std::string_view t) {
  checkWord(t, "The log-level target");
  size_t slash = t.find('/');
  if (slash == 0 || slash + 1 == t.size())
    refuse("The log-level target has an empty part: " + std::string(t));
}

}  // namespace

std::vector<std::string> parseMetricPath(std::string_view text) {
  std::vector<std::string> path;
  if (text.empty()) return path;
  size_t start = 0;
  for (;;) {
    size_t slash = text.find('/', start);
    std::string_view e =
        text.substr(start, slash == std::string_view::npos ? text.npos : slash - start);
    if (e.empty()) refuse("The metric path has an empty element: " + std::string(text));
    checkWord(e, "An element of the metric path");
    if (path.size() == kMaxPathElements) {
      refuse("The metric path has more than " + std::to_string(kMaxPathElements) + " elements");
    }
    path.emplace_back(e);
    if (slash == std::string_view::npos) return path;
    start = slash + 1;
  }
}

std::string metricPathText(const std::vector<std::string>& path) {
  std::string out;
  for (const std::string& e : path)
    out += (out.empty() ? "" : "/") + e;
  return out;
}

Request parseRequest(std::string_view line) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  if (line.size() + 1 > kMaxRequestBytes) {
    refuse("The request is longer than " + std::to_string(kMaxRequestBytes) + " bytes");
  }
  if (line.empty()) refuse("Empty request");
  std::vector<std::string_view> w = words(line);
  Request r;
  if (w[0] == "status") {
    if (w.size() != 1) refuse("status takes no arguments");
    r.command = Command::Status;
  } else if (w[0] == "metrics") {
    if (w.size() < 2 || w.size() > 3) refuse("usage: metrics tree|openmetrics|prometheus [PATH]");
    if (w[1] == "tree") {
      r.format = MetricFormat::Tree;
    } else if (w[1] == "openmetrics") {
      r.format = MetricFormat::OpenMetrics;
    } else if (w[1] == "prometheus") {
      r.format = MetricFormat::Prometheus;
    } else {
      refuse("Unknown metric format: " + std::string(w[1]));
    }
    r.command = Command::Metrics;
    if (w.size() == 3) r.path = parseMetricPath(w[2]);
  } else if (w[0] == "log-level") {
    if (w.size() != 3) refuse("usage: log-level TARGET LEVEL");
    r.command = Command::LogLevel;
    checkTarget(w[1]);
    r.target = std::string(w[1]);
    r.level = parseLevel(w[2]);
  } else {
    checkWord(w[0], "The command");
    refuse("Unknown request: " + std::string(w[0]));
  }
  return r;
}

std::string requestLine(const Request& r) {
  switch (r.command) {
    case Command::Status:
      return "status\n";
    case Command::Metrics: {
      const char* format = r.format == MetricFormat::Tree          ? "tree"
                           : r.format == MetricFormat::OpenMetrics ? "openmetrics"
                                                                   : "prometheus";
      std::string line = std::string("metrics ") + format;
      if (!r.path.empty()) line += " " + metricPathText(r.path);
      return line + "\n";
    }
    case Command::LogLevel:
      return "log-level " + r.target + " " + std::to_string(r.level) + "\n";
  }
  return "\n";
}

std::string okReply(std::string_view body) {
  return "OK " + std::to_string(body.size()) + "\n" + std::string(body);
}

std::string errorReply(std::string_view text) {
  std::string t = util::escapeControls(text);
  const size_t room = kMaxReplyHeaderBytes - 7;  // "ERROR " and "\n"
  if (t.size() > room) t.resize(room);
  return "ERROR " + t + "\n";
}

ReplyHeader parseReplyHeader(std::string_view line) {
  ReplyHeader h;
  if (line.size() + 1 > kMaxReplyHeaderBytes) refuse("The reply's header is too long");
  if (line.substr(0, 6) == "ERROR ") {
    h.error = std::string(line.substr(6));
    return h;
  }
  if (line.substr(0, 3) != "OK " || line.size() == 3)
    refuse("Not a reply: " + util::escapeControls(line));
  std::string_view n = line.substr(3);
  uint64_t length = 0;
  auto [end, ec] = std::from_chars(n.data(), n.data() + n.size(), length);
  if (ec != std::errc() || end != n.data() + n.size()) {
    refuse("Not a reply length: " + util::escapeControls(n));
  }
  if (length > kMaxReplyBytes) refuse("The reply is larger than the client takes");
  h.ok = true;
  h.length = static_cast<size_t>(length);
  return h;
}

}  // namespace supervisor::admin
