// Zero-copy byte streams. A reader asks for the bytes available (readBegin) and consumes some
// of them (readCommit); a writer asks for room (writeBegin) and commits what it filled
// (writeCommit). Committing more than was offered is a broken invariant in every
// implementation.
#pragma once

#include <cstddef>
#include <cstdint>

#include "io/selectable.h"

namespace io {

class IStream : public virtual Selectable {
 public:
  // Points p at the readable bytes and returns their number (0 or more).
  virtual size_t readBegin(const uint8_t*& p) = 0;
  // Consumes n of the bytes last offered.
  virtual void readCommit(size_t n) = 0;
  virtual void close() = 0;
};

class OStream : public virtual Selectable {
 public:
  // Points p at writable room and returns its size.
  virtual size_t writeBegin(uint8_t*& p) = 0;
  // Makes n of the bytes at p part of the stream.
  virtual void writeCommit(size_t n) = 0;
  // Pushes committed bytes on; true when nothing is left waiting.
  virtual bool flush() = 0;
  virtual void close() = 0;
};

}  // namespace io
