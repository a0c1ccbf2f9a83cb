// What a client sends the admin channel (request lines) and what a client reads back (reply
// headers), both written by another process. Any input either parses or raises
// error::EParseError; what parses is written back to the same request.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "error/exception.h"
#include "supervisor/admin_protocol.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  namespace admin = supervisor::admin;
  if (size == 0) return 0;
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  try {
    switch (data[0] % 3) {
      case 0: {
        admin::Request r = admin::parseRequest(text);
        std::string line = admin::requestLine(r);
        line.pop_back();
        if (!(admin::parseRequest(line) == r)) std::abort();
        break;
      }
      case 1: {
        admin::ReplyHeader h = admin::parseReplyHeader(text);
        if (h.ok && h.length > admin::kMaxReplyBytes) std::abort();
        break;
      }
      default: {
        auto path = admin::parseMetricPath(text);
        if (path.size() > admin::kMaxPathElements) std::abort();
        if (admin::metricPathText(path) != text) std::abort();
        break;
      }
    }
  } catch (const error::EParseError&) {
  }
  return 0;
}
