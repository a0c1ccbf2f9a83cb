// Byte streams over memory. They let events be encoded to and decoded from plain buffers
// (stored events, tests, fuzzing, measurements) through the same ioprim code that serves the
// shared-memory streams. The area size is chosen by the owner, down to single bytes, so
// callers can check that nothing depends on where areas end.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "io/stream.h"

namespace protocol {

// Reads a fixed byte sequence in areas of at most `area` bytes. Reading past the end raises
// io::EEndOfStream.
class MemoryIStream : public virtual io::IStream {
 public:
  explicit MemoryIStream(std::string bytes, size_t area = 65536);
  std::string describe() const override { return "MemoryIStream"; }
  bool isReady() const override { return true; }
  size_t readBegin(const uint8_t*& p) override;
  void readCommit(size_t n) override;
  void close() override { closed_ = true; }

  size_t consumed() const { return pos_; }
  size_t left() const { return bytes_.size() - pos_; }
  // Bytes offered by the last readBegin and not yet committed.
  size_t held() const { return offered_; }
  size_t commits() const { return commits_; }
  bool closed() const { return closed_; }

 private:
  std::string bytes_;
  size_t area_;
  size_t pos_ = 0;
  size_t offered_ = 0;
  size_t commits_ = 0;
  bool closed_ = false;
};

// Collects written bytes; every writeBegin offers a fresh area of `area` bytes. Each commit is
// recorded as (area offered, bytes committed).
class MemoryOStream : public virtual io::OStream {
 public:
  explicit MemoryOStream(size_t area = 65536) : area_(area) {}
  std::string describe() const override { return "MemoryOStream"; }
  bool isReady() const override { return true; }
  size_t writeBegin(uint8_t*& p) override;
  void writeCommit(size_t n) override;
  bool flush() override { return true; }
  void close() override { closed_ = true; }

  const std::string& bytes() const { return bytes_; }
  std::string take() { return std::move(bytes_); }
  struct Commit {
    size_t offered;
    size_t committed;
  };
  const std::vector<Commit>& commits() const { return commits_; }
  bool closed() const { return closed_; }

 private:
  size_t area_;
  std::vector<uint8_t> buf_;
  std::string bytes_;
  std::vector<Commit> commits_;
  size_t offered_ = 0;
  bool closed_ = false;
};

}  // namespace protocol
