// An arbitrary-precision unsigned integer as it travels in key-exchange payloads and property
// values: its magnitude bytes, least significant first. The value is kept normalised (no
// zero bytes at the top), so equal numbers compare equal whatever padding they arrived with.
#pragma once

#include <compare>
#include <cstdint>
#include <string>
#include <vector>

#include "wire/codec.h"

class BigNumber {
 public:
  BigNumber() = default;
  explicit BigNumber(uint64_t v);
  static BigNumber fromLittleEndian(const uint8_t* p, size_t n);
  static BigNumber fromBigEndian(const uint8_t* p, size_t n);

  // Least significant byte first, without zero bytes at the top (empty for zero).
  const std::vector<uint8_t>& littleEndian() const { return mag_; }
  std::vector<uint8_t> bigEndian() const { return {mag_.rbegin(), mag_.rend()}; }
  bool isZero() const { return mag_.empty(); }
  size_t bitLength() const;
  // "0x" and lower-case hexadecimal digits, most significant first ("0x0" for zero).
  std::string toHex() const;

  friend bool operator==(const BigNumber&, const BigNumber&) = default;
  friend std::strong_ordering operator<=>(const BigNumber& a, const BigNumber& b);

 private:
  void normalise();
  std::vector<uint8_t> mag_;
};

namespace wire {

// A string whose bytes are the magnitude, least significant first, padded with zero bytes to
// at least 4 bytes.
template <>
struct Codec<BigNumber> {
  static constexpr size_t kMinSize = 8;
  static void write(protocol::ioprim& io, const BigNumber& v);
  static void read(protocol::ioprim& io, BigNumber& v);
  static void print(std::ostream& os, const BigNumber& v, int) { os << v.toHex() << '\n'; }
};

}  // namespace wire
