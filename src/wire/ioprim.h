// The primitive field reader and writer over one stream pair. Every event travels through
// one of these: fixed-size values go straight into the stream's write area, strings and byte
// vectors are copied in pieces across areas, and read areas are given back to the stream as
// soon as they have been consumed.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>

#include "error/exception.h"
#include "io/stream.h"

namespace protocol {

// Fixed bounds on what a reader accepts from another process. They are far above anything the
// server sends and far below what would exhaust memory.
inline constexpr uint64_t kMaxByteLength = 256ull << 20;  // one string or byte vector
inline constexpr uint32_t kMaxElements = 1u << 24;        // one container
inline constexpr int kMaxEventDepth = 8;                  // events inside scheduler events
inline constexpr int kMaxStructDepth = 64;                // structures inside structures

class ioprim {
 public:
  // Either stream may be null when only one direction is used. The streams must outlive the
  // ioprim; destroying it does not close them.
  explicit ioprim(io::IStream* in, io::OStream* out = nullptr) : in_(in), out_(out) {}
  // Gives back the consumed part of a read area still held.
  ~ioprim();
  ioprim(const ioprim&) = delete;
  ioprim& operator=(const ioprim&) = delete;

  // Copies n bytes from the read side; a value may straddle read areas.
  ioprim& readField(size_t n, void* dst) {
    // Fast path: the bytes lie inside the current area.
    if (n <= rsize_ - rused_ && n != 0) {
      std::memcpy(dst, rarea_ + rused_, n);
      consumedInArea(n);
      return *this;
    }
    return readAcross(n, dst);
  }
  // Appends n bytes from the read side to out, growing it only as the bytes arrive.
  ioprim& readAppend(size_t n, std::string& out);
  // Replaces out with the next n bytes when they all lie in the current area (the usual case:
  // a message is one area) and returns true; otherwise reads nothing and returns false.
  template <typename Container>
  bool readWhole(size_t n, Container& out) {
    if (n > rsize_ - rused_ || n == 0) return false;
    const auto* p = reinterpret_cast<const typename Container::value_type*>(rarea_ + rused_);
    out.assign(p, p + n);
    consumedInArea(n);
    return true;
  }
  // Copies n bytes to the write side, split across write areas as needed.
  ioprim& writeField(size_t n, const void* src);
  // Writes a fixed-size value (4 or 8 bytes) that never straddles two write areas.
  ioprim& writePrimitive(size_t n, const void* src) {
    if (wsize_ - wused_ < n) nextAreaFor(n);
    std::memcpy(warea_ + wused_, src, n);
    wused_ += n;
    return *this;
  }
  // Commits the bytes pending in the current write area and waits for the stream.
  void endWrite();

  // When the caller knows how many bytes the input holds in all (a buffer, a file), lengths
  // and counts that could not fit are rejected before anything is allocated.
  void limitInput(uint64_t bytes) { input_left_ = bytes; }
  std::optional<uint64_t> inputLeft() const { return input_left_; }
  // Throws "<what()> exceeds the N bytes left" unless `bytes` more bytes may still follow.
  // The description is built only for the error.
  template <typename Describe>
  void requireInput(uint64_t bytes, Describe what) const {
    if (input_left_ && bytes > *input_left_) [[unlikely]]
      inputExceeded(what());
  }

  // Nesting guards for recursive data: each level holds one for as long as it reads, so the
  // depth is right again after an exception.
  class EventLevel {
   public:
    explicit EventLevel(ioprim& io);
    ~EventLevel() { --io_.event_depth_; }
    EventLevel(const EventLevel&) = delete;
    EventLevel& operator=(const EventLevel&) = delete;

   private:
    ioprim& io_;
  };
  class StructLevel {
   public:
    explicit StructLevel(ioprim& io);
    ~StructLevel() { --io_.struct_depth_; }
    StructLevel(const StructLevel&) = delete;
    StructLevel& operator=(const StructLevel&) = delete;

   private:
    ioprim& io_;
  };

  // The type and destination of the last event read through this ioprim (0, 0 before one).
  struct LastRead {
    uint32_t type = 0;
    uint32_t dest = 0;
  };
  const LastRead& lastRead() const { return last_read_; }
  void setLastRead(uint32_t type, uint32_t dest) { last_read_ = {type, dest}; }

  io::IStream* istream() const { return in_; }
  io::OStream* ostream() const { return out_; }
  // Bytes of the current read area not yet consumed, and bytes pending in the write area.
  size_t readPending() const { return rsize_ - rused_; }
  size_t writePending() const { return wused_; }

 private:
  ioprim& readAcross(size_t n, void* dst);
  // n bytes of the current area, all present, have been taken.
  void consumedInArea(size_t n) {
    rused_ += n;
    if (input_left_) *input_left_ -= std::min<uint64_t>(*input_left_, n);
    if (rused_ == rsize_) areaDone();
  }
  void areaDone();
  [[noreturn]] void inputExceeded(const std::string& what) const;
  void nextAreaFor(size_t n);
  void nextReadArea();
  void nextWriteArea();

  io::IStream* in_;
  io::OStream* out_;
  const uint8_t* rarea_ = nullptr;
  size_t rsize_ = 0;
  size_t rused_ = 0;
  uint8_t* warea_ = nullptr;
  size_t wsize_ = 0;
  size_t wused_ = 0;
  std::optional<uint64_t> input_left_;
  int event_depth_ = 0;
  int struct_depth_ = 0;
  LastRead last_read_;
};

// Raised for bytes that do not form a valid event; the half-built event is gone.
class EBadInput : public error::Exception {
 public:
  using Exception::Exception;
};

}  // namespace protocol
