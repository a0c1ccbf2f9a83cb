// Memory streams for tests that also make the reader and the writer wait: after every commit
// the stream reports "not ready" until a selector prepares a wait on it, so each new area is
// obtained through io::waitReady, as with a real peer.
#pragma once

#include <string>

#include "queues/event.h"
#include "wire/memory_stream.h"

namespace vxtest {

class WaitingIStream : public protocol::MemoryIStream {
 public:
  using MemoryIStream::MemoryIStream;
  bool isReady() const override { return ready_; }
  void prepareWait() override {
    ++waits;
    ready_ = true;
  }
  void readCommit(size_t n) override {
    MemoryIStream::readCommit(n);
    ready_ = false;
  }
  int waits = 0;

 private:
  bool ready_ = false;
};

class WaitingOStream : public protocol::MemoryOStream {
 public:
  using MemoryOStream::MemoryOStream;
  bool isReady() const override { return ready_; }
  void prepareWait() override {
    ++waits;
    ready_ = true;
  }
  void writeCommit(size_t n) override {
    MemoryOStream::writeCommit(n);
    ready_ = false;
  }
  int waits = 0;

 private:
  bool ready_ = false;
};

// Hex of bytes, lower case, no separators; and back (blanks in the text are ignored).
std::string toHex(const std::string& bytes);
std::string fromHex(const std::string& hex);

// The bytes of one event as the writer produces them in areas of `area` bytes.
std::string encode(const queues::event& ev, size_t area = 1024);
// Reads one event from the bytes in areas of `area` bytes; every byte must be consumed.
std::unique_ptr<queues::event> decode(const std::string& bytes, size_t area = 1024);

}  // namespace vxtest
