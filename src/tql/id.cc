#include "tql/id.h"

#include <algorithm>

#include "error/exception.h"

namespace tql {

id_t::id_t(std::initializer_list<uint32_t> components) {
  resize(components.size());
  std::copy(components.begin(), components.end(), c_.begin());
}

void id_t::resize(size_t n) {
  if (n > kCapacity) {
    throw error::ERange("small vector resize overflow " + std::to_string(n) + " > " +
                        std::to_string(kCapacity));
  }
  for (size_t i = n_; i < n; ++i)
    c_[i] = 0;
  n_ = static_cast<uint32_t>(n);
}

void id_t::check(size_t i) const {
  if (i >= n_) {
    throw error::ERange("small vector reference overflow " + std::to_string(i) +
                        " >= " + std::to_string(n_));
  }
}

uint32_t& id_t::operator[](size_t i) {
  check(i);
  return c_[i];
}

uint32_t id_t::operator[](size_t i) const {
  check(i);
  return c_[i];
}

std::string id_t::toString() const {
  if (n_ == 0) return "null";
  std::string s;
  for (size_t i = 0; i < n_; ++i) {
    if (i > 0) s += '.';
    s += std::to_string(c_[i]);
  }
  return s;
}

std::strong_ordering operator<=>(const id_t& a, const id_t& b) {
  return std::lexicographical_compare_three_way(a.begin(), a.end(), b.begin(), b.end());
}

}  // namespace tql

namespace wire {

void Codec<tql::id_t>::write(protocol::ioprim& io, const tql::id_t& v) {
  detail::putRaw<uint32_t>(io, static_cast<uint32_t>(v.size()));
  for (uint32_t c : v)
    detail::putRaw(io, c);
}

void Codec<tql::id_t>::read(protocol::ioprim& io, tql::id_t& v) {
  v.resize(detail::getRaw<uint32_t>(io));
  for (size_t i = 0; i < v.size(); ++i)
    v[i] = detail::getRaw<uint32_t>(io);
}

}  // namespace wire
