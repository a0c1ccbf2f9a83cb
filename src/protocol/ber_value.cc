#include "protocol/ber_value.h"

#include <typeinfo>

namespace protocol {

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
