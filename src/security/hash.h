// A message digest behind an abstract interface, so that the entropy pool does not depend on
// the digest underneath.
#pragma once

#include <cstddef>
#include <cstdint>

namespace security {

class Hash {
 public:
  virtual ~Hash() = default;
  // Back to the initial state, as if nothing had been fed.
  virtual void reset() = 0;
  virtual size_t digestSize() const = 0;
  virtual void update(size_t length, const void* data) = 0;
  virtual void update(uint8_t byte) = 0;
  // Writes digestSize() bytes of the digest of everything fed since the last reset. The object
  // is left as it was: more input continues the same message, and callers reset it themselves.
  virtual void final(uint8_t* digest) = 0;
};

}  // namespace security
