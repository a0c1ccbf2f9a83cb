// Object identifiers: up to three 32-bit components stored inline.
#pragma once

#include <array>
#include <compare>
#include <cstdint>
#include <initializer_list>
#include <string>

#include "wire/codec.h"

namespace tql {

class id_t {
 public:
  static constexpr size_t kCapacity = 3;

  id_t() = default;
  // More than three components raise error::ERange.
  id_t(std::initializer_list<uint32_t> components);

  size_t size() const { return n_; }
  bool empty() const { return n_ == 0; }
  // Growing fills with zeros; more than three components raise error::ERange
  // ("small vector resize overflow 4 > 3").
  void resize(size_t n);
  void push_back(uint32_t c) { resize(n_ + 1), c_[n_ - 1] = c; }
  // Component i; i not below size() raises error::ERange.
  uint32_t& operator[](size_t i);
  uint32_t operator[](size_t i) const;
  const uint32_t* begin() const { return c_.data(); }
  const uint32_t* end() const { return c_.data() + n_; }

  // The components joined by "."; the empty identifier prints "null".
  std::string toString() const;

  friend bool operator==(const id_t& a, const id_t& b) {
    return a.n_ == b.n_ && std::equal(a.begin(), a.end(), b.begin());
  }
  friend std::strong_ordering operator<=>(const id_t& a, const id_t& b);

 private:
  void check(size_t i) const;
  std::array<uint32_t, kCapacity> c_{};
  uint32_t n_ = 0;
};

}  // namespace tql

namespace wire {

// u32 component count, then the components. The count is applied before the components are
// read, so a count above 3 fails at once.
template <>
struct Codec<tql::id_t> {
  static constexpr size_t kMinSize = 4;
  static void write(protocol::ioprim& io, const tql::id_t& v);
  static void read(protocol::ioprim& io, tql::id_t& v);
  static void print(std::ostream& os, const tql::id_t& v, int) { os << v.toString() << '\n'; }
};

}  // namespace wire
