// Containers of the messenger's hot path. Each grows geometrically and never gives memory
// back, so once a process has seen its busiest moment no message costs an allocation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "error/assert.h"

namespace io {

// A FIFO queue in a power-of-two ring.
template <typename T>
class Ring {
 public:
  bool empty() const { return head_ == tail_; }
  size_t size() const { return tail_ - head_; }
  T& front() { return buf_[head_ & mask_]; }
  const T& operator[](size_t i) const { return buf_[(head_ + i) & mask_]; }
  T& at(size_t i) { return buf_[(head_ + i) & mask_]; }
  void push_back(const T& v) {
    if (size() == buf_.size()) grow();
    buf_[tail_++ & mask_] = v;
  }
  void pop_front() { ++head_; }
  void clear() { head_ = tail_ = 0; }
  // Keeps the entries for which keep(entry) is true, in order.
  template <typename F>
  void filter(F keep) {
    size_t out = head_;
    for (size_t i = head_; i != tail_; ++i) {
      const T& v = buf_[i & mask_];
      if (keep(v)) buf_[out++ & mask_] = v;
    }
    tail_ = out;
  }

 private:
  void grow() {
    std::vector<T> bigger(buf_.empty() ? 64 : buf_.size() * 2);
    for (size_t i = 0; i < size(); ++i)
      bigger[i] = (*this)[i];
    tail_ = size();
    head_ = 0;
    buf_.swap(bigger);
    mask_ = buf_.size() - 1;
  }
  std::vector<T> buf_;
  size_t mask_ = 0;
  size_t head_ = 0;
  size_t tail_ = 0;
};

// The peer each block of our own area was sent to, one slot per 8 bytes of the area. Sending
// and acknowledging walk the area in order, so the slots they touch are neighbours in memory;
// the table's pages are only backed once used.
class OutstandingTable {
 public:
  OutstandingTable() = default;
  OutstandingTable(const OutstandingTable&) = delete;
  OutstandingTable& operator=(const OutstandingTable&) = delete;
  ~OutstandingTable() { unmap(); }

  // Covers the area [offset, offset + size); forgets everything before.
  void bind(uint64_t offset, uint64_t size);
  size_t size() const { return count_; }
  bool empty() const { return count_ == 0; }

  // Values are small (a sibling id, possibly with a flag added, below kValueLimit).
  static constexpr int32_t kValueLimit = 8192;
  void insert(uint64_t offset, int32_t value) {
    int16_t& s = slot(offset);
    VX_ASSERT(s == 0, "Offset ", offset, " is outstanding twice");
    VX_ASSERT(value > -kBias && value < kValueLimit, "Outstanding value ", value);
    s = static_cast<int16_t>(value + kBias);
    ++count_;
  }
  // False for an offset that is not outstanding (or not a block offset of the area at all).
  bool find(uint64_t offset, int32_t& value) const {
    if (!covers(offset)) return false;
    int16_t s = slots_[(offset - base_) / 8];
    if (s == 0) return false;
    value = s - kBias;
    return true;
  }
  bool erase(uint64_t offset) {
    if (!covers(offset)) return false;
    int16_t& s = slots_[(offset - base_) / 8];
    if (s == 0) return false;
    s = 0;
    --count_;
    return true;
  }
  // Calls f(offset, value) for every entry; f must not change the table. Walks the whole area.
  template <typename F>
  void forEach(F f) const {
    for (uint64_t i = 0; i < n_ && count_ != 0; ++i) {
      if (slots_[i] != 0) f(base_ + 8 * i, slots_[i] - kBias);
    }
  }

 private:
  static constexpr int32_t kBias = 256;
  bool covers(uint64_t offset) const {
    return offset >= base_ && offset - base_ < 8 * n_ && offset % 8 == 0;
  }
  int16_t& slot(uint64_t offset) {
    VX_ASSERT(covers(offset), "Offset ", offset, " outside our area");
    return slots_[(offset - base_) / 8];
  }
  void unmap();
  int16_t* slots_ = nullptr;
  uint64_t base_ = 0;
  uint64_t n_ = 0;
  size_t count_ = 0;
};

}  // namespace io
