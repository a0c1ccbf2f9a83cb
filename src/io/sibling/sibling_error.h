// A peer broke the protocol: what it put into the pool or onto a FIFO cannot be trusted. The
// messenger raises this instead of acting on the bad input and leaves the pool as it was; the
// supervisor turns it into its emergency path, a worker logs it.
//
// Who sent a message is known only where the kernel vouches for it: on a channel that only one
// child holds (the supervisor's input from each worker). On a FIFO that every process may open,
// the sender id in the message is a claim; the error then names the sender as claimed and says
// it is unverified, so that nobody takes it for proof against that sibling.
#pragma once

#include <cstdint>
#include <limits>
#include <string>

#include "error/exception.h"

namespace io {

class ESiblingProtocolError : public error::Exception {
 public:
  // The sender could not be told at all (bytes on a shared FIFO that are not whole messages,
  // or a change to our own area that any process could have made).
  static constexpr int32_t kUnknownSibling = std::numeric_limits<int32_t>::min();

  enum class Sender { Verified, Claimed };

  ESiblingProtocolError(int32_t sibling, const std::string& what, Sender sender = Sender::Verified)
      : Exception(text(sibling, what, sender)),
        sibling_(sibling),
        verified_(sibling != kUnknownSibling && sender == Sender::Verified) {}

  // The sibling that sent the bad input (as claimed, unless verified()); kUnknownSibling when
  // nobody can be named.
  int32_t sibling() const noexcept { return sibling_; }
  // True when the kernel vouches for sibling().
  bool verified() const noexcept { return verified_; }

 protected:
  enum class Text { AsIs };
  ESiblingProtocolError(int32_t sibling, const std::string& what, Text)
      : Exception(what), sibling_(sibling), verified_(false) {}

 private:
  static std::string text(int32_t sibling, const std::string& what, Sender sender) {
    if (sibling == kUnknownSibling) return "Protocol violation on input FIFO: " + what;
    if (sender == Sender::Claimed) {
      return "Protocol violation by an unknown sender claiming to be sibling " +
             std::to_string(sibling) + ": " + what;
    }
    return "Protocol violation by sibling " + std::to_string(sibling) + ": " + what;
  }

  int32_t sibling_;
  bool verified_;
};

}  // namespace io
