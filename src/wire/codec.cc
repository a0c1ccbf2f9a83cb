#include "wire/codec.h"

#include <cstdio>

#include "util/text.h"

namespace wire {

std::string quoteString(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    switch (c) {
      case '\a':
        out += "\\a";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\v':
        out += "\\v";
        break;
      case '\f':
        out += "\\f";
        break;
      case '\r':
        out += "\\r";
        break;
      case '"':
        out += "\\\"";
        break;
      case '\'':
        out += "\\'";
        break;
      case '\\':
        out += "\\\\";
        break;
      default:
        if (c < 0x20 || c > 0x7e) {
          char buf[5];
          std::snprintf(buf, sizeof buf, "\\%03o", c);
          out += buf;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  out += '"';
  return out;
}

std::string calendarTime(const TimeValue& t) {
  return util::calendarText(t.sec, "%a %b %d %H:%M:%S %Y", true);
}

void printDuration(std::ostream& os, const TimeValue& t, int) {
  os << t.toString() << '\n';
}

void Codec<Bytes>::print(std::ostream& os, const Bytes& v, int) {
  static const char kHex[] = "0123456789abcdef";
  os << '<';
  for (uint8_t b : v)
    os << kHex[b >> 4] << kHex[b & 15];
  os << ">\n";
}

namespace detail {

uint32_t readCount(protocol::ioprim& io, size_t min_element_size) {
  auto n = getRaw<int32_t>(io);
  if (n < 1) return 0;
  auto count = static_cast<uint32_t>(n);
  if (count > protocol::kMaxElements) {
    throw protocol::EBadInput("Container of " + std::to_string(count) +
                              " elements exceeds the limit of " +
                              std::to_string(protocol::kMaxElements));
  }
  uint64_t bytes = uint64_t{count} * min_element_size;
  io.requireInput(bytes, [&] {
    return "Container of " + std::to_string(count) + " elements (" + std::to_string(bytes) +
           " bytes)";
  });
  return count;
}

size_t readLength(protocol::ioprim& io) {
  auto n = getRaw<uint64_t>(io);
  if (n > protocol::kMaxByteLength) {
    throw protocol::EBadInput("String of " + std::to_string(n) + " bytes exceeds the limit of " +
                              std::to_string(protocol::kMaxByteLength));
  }
  io.requireInput(n, [n] { return "String of " + std::to_string(n) + " bytes"; });
  return static_cast<size_t>(n);
}

}  // namespace detail
}  // namespace wire
