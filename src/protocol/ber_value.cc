#include "protocol/ber_value.h"

#include <string>
#include <typeinfo>

namespace protocol {

namespace {

// A heap block costs more than it holds: a header and rounding, and whole pages for the large
// blocks the allocator maps on their own.
size_t blockCost(size_t bytes) {
  return bytes + 32 + bytes / 32;
}

}  // namespace

void DecodeBudget::require(size_t bytes) const {
  if (bytes > limit_ || blockCost(bytes) > limit_ - used_) {
    throw EBer("Message exceeds the decoding budget of " + std::to_string(limit_) + " bytes");
  }
}

void DecodeBudget::charge(size_t bytes) {
  require(bytes);
  used_ += blockCost(bytes);
}

int BerValue::orderClasses(const BerValue& other) const {
  const std::type_info& mine = typeid(*this);
  const std::type_info& theirs = typeid(other);
  if (mine == theirs) return 0;
  return mine.before(theirs) ? -1 : 1;
}

bool BerValue::equals(const BerValue& other) const {
  return orderClasses(other) == 0 && compareTo(other) == 0;
}

bool BerValue::less(const BerValue& other) const {
  const int byClass = orderClasses(other);
  return byClass != 0 ? byClass < 0 : compareTo(other) < 0;
}

bool BerValue::greater(const BerValue& other) const {
  const int byClass = orderClasses(other);
  return byClass != 0 ? byClass > 0 : compareTo(other) > 0;
}

bool operator==(const BerValue& a, const BerValue& b) {
  return a.equals(b);
}
bool operator<(const BerValue& a, const BerValue& b) {
  return a.less(b);
}

std::ostream& operator<<(std::ostream& os, const BerValue& v) {
  v.print(os);
  return os;
}

}  // namespace protocol
