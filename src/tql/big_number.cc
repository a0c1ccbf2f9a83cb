#include "tql/big_number.h"

namespace {
constexpr size_t kMinWireBytes = 4;
}

BigNumber::BigNumber(uint64_t v) {
  for (; v != 0; v >>= 8)
    mag_.push_back(static_cast<uint8_t>(v));
}

BigNumber BigNumber::fromLittleEndian(const uint8_t* p, size_t n) {
  BigNumber b;
  b.mag_.assign(p, p + n);
  b.normalise();
  return b;
}

BigNumber BigNumber::fromBigEndian(const uint8_t* p, size_t n) {
  BigNumber b;
  b.mag_.assign(std::reverse_iterator(p + n), std::reverse_iterator(p));
  b.normalise();
  return b;
}

void BigNumber::normalise() {
  while (!mag_.empty() && mag_.back() == 0)
    mag_.pop_back();
}

size_t BigNumber::bitLength() const {
  if (mag_.empty()) return 0;
  size_t bits = (mag_.size() - 1) * 8;
  for (uint8_t top = mag_.back(); top != 0; top >>= 1)
    ++bits;
  return bits;
}

std::string BigNumber::toHex() const {
  static const char kHex[] = "0123456789abcdef";
  if (mag_.empty()) return "0x0";
  std::string s = "0x";
  bool leading = true;
  for (auto it = mag_.rbegin(); it != mag_.rend(); ++it) {
    if (!(leading && (*it >> 4) == 0)) s += kHex[*it >> 4];
    s += kHex[*it & 15];
    leading = false;
  }
  return s;
}

std::strong_ordering operator<=>(const BigNumber& a, const BigNumber& b) {
  if (a.mag_.size() != b.mag_.size()) return a.mag_.size() <=> b.mag_.size();
  return std::lexicographical_compare_three_way(a.mag_.rbegin(), a.mag_.rend(), b.mag_.rbegin(),
                                                b.mag_.rend());
}

namespace wire {

void Codec<BigNumber>::write(protocol::ioprim& io, const BigNumber& v) {
  const auto& m = v.littleEndian();
  size_t n = std::max(m.size(), kMinWireBytes);
  detail::putRaw<uint64_t>(io, n);
  io.writeField(m.size(), m.data());
  static const uint8_t kZeros[kMinWireBytes] = {};
  if (m.size() < n) io.writeField(n - m.size(), kZeros);
}

void Codec<BigNumber>::read(protocol::ioprim& io, BigNumber& v) {
  std::string s;
  Codec<std::string>::read(io, s);
  v = BigNumber::fromLittleEndian(reinterpret_cast<const uint8_t*>(s.data()), s.size());
}

}  // namespace wire
