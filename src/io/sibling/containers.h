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

// Pool offsets (multiples of 8 below 4 GiB, never 0) to a small value, by open addressing with
// linear probing and backward-shift deletion.
class OffsetMap {
 public:
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }

  void insert(uint32_t key, int32_t value) {
    VX_ASSERT(key != 0, "OffsetMap key 0");
    if ((size_ + 1) * 4 > slots_.size() * 3) grow();
    size_t i = slot(key);
    while (slots_[i].key != 0) {
      VX_ASSERT(slots_[i].key != key, "Offset ", key, " is outstanding twice");
      i = (i + 1) & mask_;
    }
    slots_[i] = Slot{key, value};
    ++size_;
  }
  // The value of `key`, or false.
  bool find(uint32_t key, int32_t& value) const {
    if (size_ == 0) return false;
    for (size_t i = slot(key);; i = (i + 1) & mask_) {
      if (slots_[i].key == key) {
        value = slots_[i].value;
        return true;
      }
      if (slots_[i].key == 0) return false;
    }
  }
  bool erase(uint32_t key) {
    if (size_ == 0) return false;
    size_t i = slot(key);
    while (slots_[i].key != key) {
      if (slots_[i].key == 0) return false;
      i = (i + 1) & mask_;
    }
    // Shift later members of the probe run back so that lookups never stop early.
    for (size_t j = (i + 1) & mask_; slots_[j].key != 0; j = (j + 1) & mask_) {
      size_t home = slot(slots_[j].key);
      bool movable = (j > i) ? (home <= i || home > j) : (home <= i && home > j);
      if (movable) {
        slots_[i] = slots_[j];
        i = j;
      }
    }
    slots_[i] = Slot{};
    --size_;
    return true;
  }
  // Calls f(key, value) for every entry; f must not change the map.
  template <typename F>
  void forEach(F f) const {
    for (const Slot& s : slots_) {
      if (s.key != 0) f(s.key, s.value);
    }
  }

 private:
  struct Slot {
    uint32_t key = 0;
    int32_t value = 0;
  };
  // Fibonacci hashing: the high bits of the product mix every bit of the offset.
  size_t slot(uint32_t key) const {
    return static_cast<uint32_t>((key >> 3) * 0x9E3779B1u) >> shift_;
  }
  void grow() {
    std::vector<Slot> old(slots_.empty() ? 256 : slots_.size() * 2);
    old.swap(slots_);
    mask_ = slots_.size() - 1;
    shift_ = 32 - static_cast<unsigned>(__builtin_ctzll(slots_.size()));
    size_ = 0;
    for (const Slot& s : old) {
      if (s.key != 0) insert(s.key, s.value);
    }
  }
  std::vector<Slot> slots_;
  size_t mask_ = 0;
  unsigned shift_ = 32;
  size_t size_ = 0;
};

}  // namespace io
