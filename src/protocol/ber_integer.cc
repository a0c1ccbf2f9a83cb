// INTEGER and ENUMERATED content. Values are handled as 128-bit numbers while they are decoded
// and range-checked, so that a content that does not fit the field is reported with its true
// value instead of wrapping around.
#include <string>

#include "protocol/ber_primitives.h"

namespace protocol {
namespace {

using Wide = __int128;
using UWide = unsigned __int128;

template <typename T>
constexpr const char* integerTypeName() {
  if constexpr (std::is_same_v<T, int32_t>) return "int";
  if constexpr (std::is_same_v<T, uint32_t>) return "unsigned int";
  if constexpr (std::is_same_v<T, int64_t>) return "__int64";
  if constexpr (std::is_same_v<T, uint64_t>) return "unsigned __int64";
}

std::string wideText(Wide v) {
  const bool negative = v < 0;
  UWide u = negative ? UWide(0) - UWide(v) : UWide(v);
  std::string digits;
  do {
    digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(u % 10)));
    u /= 10;
  } while (u != 0);
  return negative ? "-" + digits : digits;
}

template <typename T>
[[noreturn]] void outOfRange(const char* operation, T min, Wide value, T max) {
  throw EBer(std::string("data out of range in BerIntegerTemplate<") + integerTypeName<T>() +
             ">::" + operation + " " + wideText(min) + " <= " + wideText(value) +
             " <= " + wideText(max));
}

}  // namespace

template <typename T>
void BerIntegerTemplate<T>::readDone() {
  const std::string& c = this->content();
  UWide bits = 0;
  if (!c.empty() && (static_cast<uint8_t>(c[0]) & 0x80) != 0) bits = ~UWide(0);
  for (char octet : c)
    bits = (bits << 8) | static_cast<uint8_t>(octet);
  const Wide value = static_cast<Wide>(bits);
  if (value < min_ || value > max_) outOfRange<T>("readDone", min_, value, max_);
  *this->field_ = static_cast<T>(value);
}

template <typename T>
void BerIntegerTemplate<T>::write(BerOutput& out, bool) const {
  const T value = *this->field_;
  if (value < min_ || value > max_) outOfRange<T>("write", min_, value, max_);
  // Big-endian two's complement in one octet more than T, then drop every leading octet that
  // only repeats the sign of the next one.
  uint8_t octets[kMaxOctets + 1];
  const UWide bits = static_cast<UWide>(static_cast<Wide>(value));
  for (size_t i = 0; i <= kMaxOctets; ++i) {
    octets[i] = static_cast<uint8_t>(bits >> (8 * (kMaxOctets - i)));
  }
  size_t first = 0;
  while (first < kMaxOctets && ((octets[first] == 0x00 && (octets[first + 1] & 0x80) == 0) ||
                                (octets[first] == 0xFF && (octets[first + 1] & 0x80) != 0))) {
    ++first;
  }
  this->writeElement(out, tag_, octets + first, kMaxOctets + 1 - first);
}

template <typename T>
void BerIntegerTemplate<T>::print(std::ostream& os) const {
  os << +*this->field_;
}

template class BerIntegerTemplate<int32_t>;
template class BerIntegerTemplate<uint32_t>;
template class BerIntegerTemplate<int64_t>;
template class BerIntegerTemplate<uint64_t>;

}  // namespace protocol
