// The admin channel's protocol: what an operator's tool (vexlanctl) asks the running server
// over the Unix stream socket in its runtime directory, and how the server answers.
//
// A request is one line of printable ASCII words separated by single blanks, ended by "\n":
//
//   status                         the server and its workers, with the figures it keeps
//   metrics tree|openmetrics|prometheus [P]
//                                  the meter trees (P: a path such as "dbms/events")
//   log-level TARGET LEVEL         SET_LOG_LEVEL for "sname", "sname/area", "*" or "*/area"
//
// A reply is "OK <length>\n" followed by exactly <length> bytes, or "ERROR <text>\n". A
// connection may carry several requests, one after the other: the next request is read once
// the reply to the last has been written.
//
// Whatever a client sends is hostile input: every length is bounded, and anything else is an
// error::EParseError whose text the server sends back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace supervisor::admin {

// A request line, its "\n" included.
inline constexpr size_t kMaxRequestBytes = 1024;
// Elements of a metric path, and bytes of one element or of a log-level target.
inline constexpr size_t kMaxPathElements = 16;
inline constexpr size_t kMaxWordBytes = 128;
// The body of one reply (a client refuses more; the server never sends more).
inline constexpr size_t kMaxReplyBytes = size_t{64} << 20;
// The header line of a reply, its "\n" included.
inline constexpr size_t kMaxReplyHeaderBytes = 512;

enum class Command { Status, Metrics, LogLevel };
enum class MetricFormat { Tree, OpenMetrics, Prometheus };

struct Request {
  Command command = Command::Status;
  MetricFormat format = MetricFormat::Tree;
  std::vector<std::string> path;  // metrics
  std::string target;             // log-level: the SET_LOG_LEVEL key
  int32_t level = 0;              // log-level
  friend bool operator==(const Request&, const Request&) = default;
};

// One request line without its "\n" (a trailing "\r" is allowed and dropped).
Request parseRequest(std::string_view line);
// The line a client sends for `r`, "\n" included.
std::string requestLine(const Request& r);

// "dbms/events" -> {"dbms", "events"}; "" -> {}. Empty elements and more than
// kMaxPathElements are refused.
std::vector<std::string> parseMetricPath(std::string_view text);
std::string metricPathText(const std::vector<std::string>& path);

// Replies.
std::string okReply(std::string_view body);
// The text is kept to one line (control characters escaped) and cut to fit the header.
std::string errorReply(std::string_view text);

struct ReplyHeader {
  bool ok = false;
  size_t length = 0;  // ok: the bytes of the body that follow
  std::string error;  // not ok: the server's text
};
// A reply's header line without its "\n". Refuses a malformed line or a length above
// kMaxReplyBytes.
ReplyHeader parseReplyHeader(std::string_view line);

}  // namespace supervisor::admin
