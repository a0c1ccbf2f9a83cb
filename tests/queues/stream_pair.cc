#include "stream_pair.h"

#include <gtest/gtest.h>

namespace vxtest {

std::string toHex(const std::string& bytes) {
  static const char kHex[] = "0123456789abcdef";
  std::string s;
  for (unsigned char c : bytes) {
    s += kHex[c >> 4];
    s += kHex[c & 15];
  }
  return s;
}

std::string fromHex(const std::string& hex) {
  std::string digits;
  for (char c : hex) {
    if (c != ' ' && c != '\n') digits += c;
  }
  std::string out;
  for (size_t i = 0; i + 1 < digits.size(); i += 2) {
    out += static_cast<char>(std::stoi(digits.substr(i, 2), nullptr, 16));
  }
  return out;
}

std::string encode(const queues::event& ev, size_t area) {
  WaitingOStream out(area);
  protocol::ioprim prim(nullptr, &out);
  prim << ev;
  prim.endWrite();
  return out.take();
}

std::unique_ptr<queues::event> decode(const std::string& bytes, size_t area) {
  WaitingIStream in(bytes, area);
  protocol::ioprim prim(&in);
  auto ev = queues::readEvent(prim);
  EXPECT_EQ(in.left(), 0u) << "bytes left after the event";
  EXPECT_EQ(in.held(), 0u) << "a consumed area was not given back";
  return ev;
}

}  // namespace vxtest
