// The primitive kinds of BER elements: integers and enumerations, booleans, nulls, reals,
// strings, big numbers, and the skippers that consume elements nobody wants. Each is a view
// bound by reference to a field owned elsewhere.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "protocol/ber_value.h"

namespace protocol {

// The field type of a NULL element: it carries no data.
struct Null {
  friend bool operator==(Null, Null) { return true; }
};

// An unsigned number of any size, as its big-endian magnitude. Leading zero octets carry no
// value: they are ignored by comparison and never written.
struct BigNum {
  std::vector<uint8_t> magnitude;
};
int compareBigNums(const BigNum& a, const BigNum& b);
inline bool operator==(const BigNum& a, const BigNum& b) {
  return compareBigNums(a, b) == 0;
}

// NaN equals NaN and sorts above every number, so that values holding reals keep a strict
// weak order and a decoded NaN compares equal to itself.
int compareReals(double a, double b);

// Writes `text` in double quotes with C escapes for anything but printable ASCII.
void printQuoted(std::ostream& os, std::string_view text);

// A primitive whose content is collected whole before conversion; it never holds more than a
// fixed number of octets, so an announced length above that is refused before any content.
class BerShortValue : public BerPrimitive {
 public:
  void beginContent(size_t length) override;
  void appendContent(const uint8_t* bytes, size_t count) override;
  size_t maxLength() const { return maxLength_; }

 protected:
  explicit BerShortValue(size_t maxLength) : maxLength_(maxLength) {}
  const std::string& content() const { return content_; }
  // Tag, definite length and the content octets.
  static void writeElement(BerOutput& out, TagCode tag, const uint8_t* content, size_t size);

 private:
  size_t maxLength_;
  std::string content_;
};

// INTEGER or ENUMERATED bound to a field of type T (int32_t, uint32_t, int64_t, uint64_t) with an
// inclusive range that is checked on write and after reading. The content is the shortest
// two's-complement form; up to one octet longer than T, so that every unsigned value fits.
template <typename T>
class BerIntegerTemplate : public BerShortValue {
  static_assert(std::is_same_v<T, int32_t> || std::is_same_v<T, uint32_t> ||
                std::is_same_v<T, int64_t> || std::is_same_v<T, uint64_t>);

 public:
  static constexpr size_t kMaxOctets = sizeof(T) + (std::is_unsigned_v<T> ? 1 : 0);

  BerIntegerTemplate(T& field, T min, T max, TagCode tag = BE_INTEGER)
      : BerShortValue(kMaxOctets), field_(&field), min_(min), max_(max), tag_(tag) {}

  std::unique_ptr<BerValue> clone() const override;
  TagCode tag(bool) const override { return tag_; }
  void readDone() override;
  void write(BerOutput& out, bool legacy) const override;
  void print(std::ostream& os) const override;

 protected:
  int compareTo(const BerValue& other) const override;

 private:
  T* field_;
  T min_;
  T max_;
  TagCode tag_;
};

extern template class BerIntegerTemplate<int32_t>;
extern template class BerIntegerTemplate<uint32_t>;
extern template class BerIntegerTemplate<int64_t>;
extern template class BerIntegerTemplate<uint64_t>;

// The base of the enumeration classes: ENUMERATED over the whole signed 32-bit range.
class BerEnumerated : public BerIntegerTemplate<int32_t> {
 public:
  explicit BerEnumerated(int32_t& field)
      : BerIntegerTemplate(field, INT32_MIN, INT32_MAX, BE_ENUMERATED) {}
};

// Reads any non-zero first octet as true and writes 01; an empty content is false.
class BerBoolean : public BerShortValue {
 public:
  static constexpr size_t kMaxOctets = 4;
  explicit BerBoolean(bool& field) : BerShortValue(kMaxOctets), field_(&field) {}
  std::unique_ptr<BerValue> clone() const override;
  TagCode tag(bool) const override { return BE_BOOLEAN; }
  void readDone() override;
  void write(BerOutput& out, bool legacy) const override;
  void print(std::ostream& os) const override;

 protected:
  int compareTo(const BerValue& other) const override;

 private:
  bool* field_;
};

class BerNull : public BerShortValue {
 public:
  BerNull() : BerShortValue(0) {}
  std::unique_ptr<BerValue> clone() const override;
  TagCode tag(bool) const override { return BE_NULL; }
  void write(BerOutput& out, bool legacy) const override;
  void print(std::ostream& os) const override;

 protected:
  int compareTo(const BerValue&) const override { return 0; }
};

// Zero has no content; infinities and NaN are the octets 40, 41 and 60; any other value is 00
// followed by its decimal text in exponent form. The text has six fraction digits, as peers
// have always written it, unless that would change the value: then it carries the seventeen
// significant digits that restore it exactly.
class BerReal : public BerShortValue {
 public:
  static constexpr size_t kMaxOctets = 64;
  explicit BerReal(double& field) : BerShortValue(kMaxOctets), field_(&field) {}
  std::unique_ptr<BerValue> clone() const override;
  TagCode tag(bool) const override { return BE_REAL; }
  void readDone() override;
  void write(BerOutput& out, bool legacy) const override;
  void print(std::ostream& os) const override;

 protected:
  int compareTo(const BerValue& other) const override;

 private:
  double* field_;
};

// The big-endian magnitude without leading zero octets, at most 1040 octets.
class BerBigNum : public BerShortValue {
 public:
  static constexpr size_t kMaxOctets = 1040;
  explicit BerBigNum(BigNum& field, TagCode tag = BE_INTEGER)
      : BerShortValue(kMaxOctets), field_(&field), tag_(tag) {}
  std::unique_ptr<BerValue> clone() const override;
  TagCode tag(bool) const override { return tag_; }
  void readDone() override;
  void write(BerOutput& out, bool legacy) const override;
  void print(std::ostream& os) const override;

 protected:
  int compareTo(const BerValue& other) const override;

 private:
  BigNum* field_;
  TagCode tag_;
};

// The octets of a string, unchanged, with the dialect's string tag. Content goes straight into
// the field as it arrives; an announced length above the maximum is refused first.
class BerString : public BerPrimitive {
 public:
  BerString(std::string& field, size_t maxLength, TagCode tag)
      : field_(&field), maxLength_(maxLength), tag_(tag) {}
  std::unique_ptr<BerValue> clone() const override;
  TagCode tag(bool) const override { return tag_; }
  void beginContent(size_t length) override;
  void appendContent(const uint8_t* bytes, size_t count) override;
  void write(BerOutput& out, bool legacy) const override;
  void print(std::ostream& os) const override;

 protected:
  int compareTo(const BerValue& other) const override;

 private:
  std::string* field_;
  size_t maxLength_;
  TagCode tag_;
};

// Consumes a primitive element whose content is not wanted (a field added by a newer peer).
// Skippers exist only while decoding: writing or comparing one is a programming error.
class BerPrimitiveSkipper final : public BerPrimitive {
 public:
  explicit BerPrimitiveSkipper(TagCode tag) : tag_(tag) {}
  std::unique_ptr<BerValue> clone() const override;
  TagCode tag(bool) const override { return tag_; }
  void beginContent(size_t) override {}
  void appendContent(const uint8_t*, size_t) override {}
  bool equals(const BerValue& other) const override;
  bool less(const BerValue& other) const override;
  bool greater(const BerValue& other) const override;
  void write(BerOutput& out, bool legacy) const override;
  void print(std::ostream& os) const override;

 protected:
  int compareTo(const BerValue& other) const override;

 private:
  TagCode tag_;
};

// Consumes a constructed element and everything in it.
class BerConstructedSkipper final : public BerConstructed {
 public:
  explicit BerConstructedSkipper(TagCode tag) : tag_(tag) {}
  std::unique_ptr<BerValue> clone() const override;
  TagCode tag(bool) const override { return tag_; }
  BerValue& createChild(size_t index, TagCode tag, bool legacy, ChildSlot& slot) override;
  size_t count() const override { return 0; }
  bool isRepeated() const override { return false; }
  bool equals(const BerValue& other) const override;
  bool less(const BerValue& other) const override;
  bool greater(const BerValue& other) const override;
  void write(BerOutput& out, bool legacy) const override;
  void print(std::ostream& os) const override;

 protected:
  int compareTo(const BerValue& other) const override;

 private:
  TagCode tag_;
};

// A skipper for an element with this tag: constructed or primitive by the tag's constructed bit.
BerValue& makeSkipper(TagCode tag, ChildSlot& slot);

}  // namespace protocol
