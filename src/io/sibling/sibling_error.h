// A peer broke the protocol: what it put into the pool or onto a FIFO cannot be trusted. The
// messenger raises this instead of acting on the bad input and leaves the pool as it was; the
// supervisor turns it into its emergency path, a worker ends.
#pragma once

#include <cstdint>
#include <limits>
#include <string>

#include "error/exception.h"

namespace io {

class ESiblingProtocolError : public error::Exception {
 public:
  // The sender could not be told (bytes on the FIFO that are not whole messages).
  static constexpr int32_t kUnknownSibling = std::numeric_limits<int32_t>::min();

  ESiblingProtocolError(int32_t sibling, const std::string& what)
      : Exception(sibling == kUnknownSibling
                      ? "Protocol violation on input FIFO: " + what
                      : "Protocol violation by sibling " + std::to_string(sibling) + ": " + what),
        sibling_(sibling) {}
  int32_t sibling() const noexcept { return sibling_; }

 private:
  int32_t sibling_;
};

}  // namespace io
