#include "protocol/ber_primitives.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <iomanip>

#include "error/assert.h"

namespace protocol {
namespace {

size_t leadingZeros(const std::vector<uint8_t>& octets) {
  size_t n = 0;
  while (n < octets.size() && octets[n] == 0)
    ++n;
  return n;
}

// The heap buffer behind a string: none while it fits inline.
size_t heapOf(const std::string& s) {
  static const size_t inlineCapacity = std::string().capacity();
  return s.capacity() > inlineCapacity ? s.capacity() + 1 : 0;
}

}  // namespace

int compareBigNums(const BigNum& a, const BigNum& b) {
  const size_t za = leadingZeros(a.magnitude), zb = leadingZeros(b.magnitude);
  const size_t la = a.magnitude.size() - za, lb = b.magnitude.size() - zb;
  if (la != lb) return la < lb ? -1 : 1;
  for (size_t i = 0; i < la; ++i) {
    const uint8_t x = a.magnitude[za + i], y = b.magnitude[zb + i];
    if (x != y) return x < y ? -1 : 1;
  }
  return 0;
}

int compareReals(double a, double b) {
  const bool na = std::isnan(a), nb = std::isnan(b);
  if (na || nb) return na == nb ? 0 : na ? 1 : -1;
  return a < b ? -1 : a > b ? 1 : 0;
}

void printQuoted(std::ostream& os, std::string_view text) {
  static const char hexDigits[] = "0123456789abcdef";
  os << '"';
  for (char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '"' || c == '\\') {
      os << '\\' << ch;
    } else if (c >= 0x20 && c < 0x7F) {
      os << ch;
    } else {
      os << "\\x" << hexDigits[c >> 4] << hexDigits[c & 15];
    }
  }
  os << '"';
}

// --- BerShortValue ---------------------------------------------------------------------------

void BerShortValue::beginContent(size_t length) {
  if (length > maxLength_) {
    throw EBer("Data value exceeds maximum allowed length " + std::to_string(length) + " > " +
               std::to_string(maxLength_));
  }
  content_.clear();
}

void BerShortValue::appendContent(const uint8_t* bytes, size_t count) {
  VX_ASSERT(content_.size() + count <= maxLength_, "BerShortValue content beyond its length");
  content_.append(reinterpret_cast<const char*>(bytes), count);
}

size_t BerShortValue::allocated() const {
  return heapOf(content_);
}

void BerShortValue::writeElement(BerOutput& out, TagCode tag, const uint8_t* content, size_t size) {
  writeTag(out, tag);
  writeLength(out, size);
  if (size != 0) out.append(content, size);
}

// --- BerBoolean, BerNull ---------------------------------------------------------------------

void BerBoolean::readDone() {
  *field_ = !content().empty() && content()[0] != 0;
}

void BerBoolean::write(BerOutput& out, bool) const {
  const uint8_t octet = *field_ ? 1 : 0;
  writeElement(out, BE_BOOLEAN, &octet, 1);
}

void BerBoolean::print(std::ostream& os) const {
  os << (*field_ ? "true" : "false");
}

void BerNull::write(BerOutput& out, bool) const {
  writeElement(out, BE_NULL, nullptr, 0);
}

// --- BerReal ---------------------------------------------------------------------------------

void BerReal::readDone() {
  const std::string& c = content();
  if (c.empty()) {
    *field_ = 0.0;
    return;
  }
  switch (static_cast<uint8_t>(c[0])) {
    case 0x40:
      *field_ = HUGE_VAL;
      return;
    case 0x41:
      *field_ = -HUGE_VAL;
      return;
    case 0x60:
      *field_ = std::nan("");
      return;
    case 0x00:
      break;
    default:
      throw EBer("Unsupported real number format revceived");
  }
  const char* first = c.data() + 1;
  const char* last = c.data() + c.size();
  if (first != last && *first == '+') ++first;
  double value = 0;
  const auto [end, ec] = std::from_chars(first, last, value);
  if (first == last || ec != std::errc() || end != last) throw EBer("Parse error in real number");
  *field_ = value;
}

void BerReal::write(BerOutput& out, bool) const {
  const double value = *field_;
  uint8_t octets[60];
  size_t size = 0;
  if (value == 0) {
    size = 0;
  } else if (std::isnan(value)) {
    octets[size++] = 0x60;
  } else if (std::isinf(value)) {
    octets[size++] = value > 0 ? 0x40 : 0x41;
  } else {
    octets[size++] = 0x00;
    char* text = reinterpret_cast<char*>(octets + 1);
    char* const end = reinterpret_cast<char*>(octets + sizeof octets);
    auto result = std::to_chars(text, end, value, std::chars_format::scientific, 6);
    double back = 0;
    std::from_chars(text, result.ptr, back);
    if (result.ec == std::errc() && back != value) {
      result = std::to_chars(text, end, value, std::chars_format::scientific, 16);
    }
    VX_ASSERT(result.ec == std::errc(), "String representation of double larger than buffer");
    size += static_cast<size_t>(result.ptr - text);
  }
  writeElement(out, BE_REAL, octets, size);
}

void BerReal::print(std::ostream& os) const {
  char text[32];
  const auto result = std::to_chars(text, text + sizeof text, *field_);
  os.write(text, result.ptr - text);
}

// --- BerBigNum -------------------------------------------------------------------------------

void BerBigNum::readDone() {
  const std::string& c = content();
  size_t first = 0;
  while (first < c.size() && c[first] == 0)
    ++first;
  field_->magnitude.assign(c.begin() + static_cast<ptrdiff_t>(first), c.end());
}

size_t BerBigNum::allocated() const {
  return BerShortValue::allocated() + field_->magnitude.capacity();
}

void BerBigNum::write(BerOutput& out, bool) const {
  const std::vector<uint8_t>& m = field_->magnitude;
  const size_t first = leadingZeros(m);
  const size_t size = m.size() - first;
  if (size > kMaxOctets) {
    throw EBer("Data value exceeds maximum allowed length " + std::to_string(size) + " > " +
               std::to_string(kMaxOctets));
  }
  writeElement(out, tag_, m.data() + first, size);
}

void BerBigNum::print(std::ostream& os) const {
  const std::vector<uint8_t>& m = field_->magnitude;
  os << "0x";
  size_t first = leadingZeros(m);
  if (first == m.size()) os << '0';
  const auto flags = os.flags();
  for (; first < m.size(); ++first)
    os << std::hex << std::setw(2) << std::setfill('0') << +m[first];
  os.flags(flags);
}

// --- BerString -------------------------------------------------------------------------------

namespace {

[[noreturn]] void stringTooLong(size_t length, size_t maxLength) {
  throw EBer("String exceeds allowed length " + std::to_string(length) + " > " +
             std::to_string(maxLength));
}

}  // namespace

std::unique_ptr<BerValue> BerString::clone() const {
  return std::make_unique<BerString>(*this);
}

void BerString::beginContent(size_t length) {
  if (length > maxLength_) stringTooLong(length, maxLength_);
  field_->clear();
}

void BerString::appendContent(const uint8_t* bytes, size_t count) {
  field_->append(reinterpret_cast<const char*>(bytes), count);
}

size_t BerString::allocated() const {
  return heapOf(*field_);
}

void BerString::write(BerOutput& out, bool) const {
  if (field_->size() > maxLength_) stringTooLong(field_->size(), maxLength_);
  writeTag(out, tag_);
  writeLength(out, field_->size());
  out.append(reinterpret_cast<const uint8_t*>(field_->data()), field_->size());
}

void BerString::print(std::ostream& os) const {
  printQuoted(os, *field_);
}

int BerString::compareTo(const BerValue& other) const {
  const int c = field_->compare(*static_cast<const BerString&>(other).field_);
  return c < 0 ? -1 : c > 0 ? 1 : 0;
}

// --- Skippers --------------------------------------------------------------------------------

void skipperMisuse(const char* before, const char* skipper, const char* after) {
  error::assertionFailed(std::string(before) + skipper + after);
}

BerValue& BerConstructedSkipper::createChild(size_t, TagCode tag, bool, ChildSlot& slot) {
  return makeSkipper(tag, slot);
}

BerValue& makeSkipper(TagCode tag, ChildSlot& slot) {
  if (isConstructedTag(tag)) return slot.emplace<BerConstructedSkipper>(tag);
  return slot.emplace<BerPrimitiveSkipper>(tag);
}

}  // namespace protocol
