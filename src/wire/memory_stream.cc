#include "wire/memory_stream.h"

#include "error/assert.h"
#include "io/exceptions.h"

namespace protocol {

MemoryIStream::MemoryIStream(std::string bytes, size_t area)
    : bytes_(std::move(bytes)), area_(area) {
  VX_ASSERT(area_ > 0, "MemoryIStream needs an area of at least one byte");
}

size_t MemoryIStream::readBegin(const uint8_t*& p) {
  if (pos_ == bytes_.size()) throw io::EEndOfStream(describe());
  offered_ = std::min(area_, bytes_.size() - pos_);
  p = reinterpret_cast<const uint8_t*>(bytes_.data()) + pos_;
  return offered_;
}

void MemoryIStream::readCommit(size_t n) {
  VX_ASSERT(n <= offered_, "MemoryIStream: committed ", n, " bytes of ", offered_, " offered");
  pos_ += n;
  offered_ = 0;
  ++commits_;
}

size_t MemoryOStream::writeBegin(uint8_t*& p) {
  if (buf_.size() != area_) buf_.assign(area_, 0);
  offered_ = area_;
  p = buf_.data();
  return area_;
}

void MemoryOStream::writeCommit(size_t n) {
  VX_ASSERT(n <= offered_, "MemoryOStream: committed ", n, " bytes of ", offered_, " offered");
  bytes_.append(reinterpret_cast<const char*>(buf_.data()), n);
  commits_.push_back({offered_, n});
  offered_ = 0;
}

}  // namespace protocol
