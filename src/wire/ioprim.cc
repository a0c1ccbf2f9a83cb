#include "wire/ioprim.h"

#include <cstring>

#include "error/assert.h"
#include "io/wait.h"

namespace protocol {

ioprim::~ioprim() {
  if (in_ != nullptr && rused_ > 0) {
    try {
      in_->readCommit(rused_);
    } catch (const error::Exception&) {
      // The stream has gone away; nothing is left to give back.
    }
  }
}

void ioprim::nextReadArea() {
  VX_ASSERT(in_ != nullptr, "ioprim has no input stream");
  do {
    io::waitReady(*in_);
    rsize_ = in_->readBegin(rarea_);
  } while (rsize_ == 0);
  rused_ = 0;
}

// An area consumed entirely goes back to the stream at once, so the writer can reuse it even
// while this reader waits for the next one.
void ioprim::areaDone() {
  size_t size = rsize_;
  rarea_ = nullptr;
  rsize_ = rused_ = 0;
  in_->readCommit(size);
}

ioprim& ioprim::readAcross(size_t n, void* dst) {
  auto* out = static_cast<uint8_t*>(dst);
  while (n > 0) {
    if (rused_ == rsize_) nextReadArea();
    size_t k = std::min(n, rsize_ - rused_);
    std::memcpy(out, rarea_ + rused_, k);
    out += k;
    n -= k;
    consumedInArea(k);
  }
  return *this;
}

ioprim& ioprim::readAppend(size_t n, std::string& out) {
  while (n > 0) {
    if (rused_ == rsize_) nextReadArea();
    size_t k = std::min(n, rsize_ - rused_);
    out.append(reinterpret_cast<const char*>(rarea_ + rused_), k);
    n -= k;
    consumedInArea(k);
  }
  return *this;
}

void ioprim::nextWriteArea() {
  VX_ASSERT(out_ != nullptr, "ioprim has no output stream");
  if (wused_ > 0) out_->writeCommit(wused_);
  warea_ = nullptr;
  wsize_ = wused_ = 0;
  do {
    io::waitReady(*out_);
    wsize_ = out_->writeBegin(warea_);
  } while (wsize_ == 0);
}

ioprim& ioprim::writeField(size_t n, const void* src) {
  const auto* in = static_cast<const uint8_t*>(src);
  while (n > 0) {
    if (wused_ == wsize_) nextWriteArea();
    size_t k = std::min(n, wsize_ - wused_);
    std::memcpy(warea_ + wused_, in, k);
    in += k;
    n -= k;
    wused_ += k;
  }
  return *this;
}

void ioprim::nextAreaFor(size_t n) {
  nextWriteArea();
  VX_ASSERT(wsize_ >= n, "New write area of size ", wsize_, " too small for primitive write");
}

void ioprim::endWrite() {
  if (wused_ == 0) return;
  out_->writeCommit(wused_);
  warea_ = nullptr;
  wsize_ = wused_ = 0;
  io::waitReady(*out_);
}

void ioprim::inputExceeded(const std::string& what) const {
  throw EBadInput(what + " exceeds the " + std::to_string(input_left_.value_or(0)) + " bytes left");
}

ioprim::EventLevel::EventLevel(ioprim& io) : io_(io) {
  if (io_.event_depth_ >= kMaxEventDepth) {
    throw EBadInput("Events nested deeper than " + std::to_string(kMaxEventDepth) + " levels");
  }
  ++io_.event_depth_;
}

ioprim::StructLevel::StructLevel(ioprim& io) : io_(io) {
  if (io_.struct_depth_ >= kMaxStructDepth) {
    throw EBadInput("Structures nested deeper than " + std::to_string(kMaxStructDepth) + " levels");
  }
  ++io_.struct_depth_;
}

}  // namespace protocol
