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
  size_t allocated() const override;
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

// A short value bound to a field of type T; `Self` compares two such fields.
template <typename Self, typename T>
class BerShortField : public BerShortValue {
 public:
  std::unique_ptr<BerValue> clone() const override {
    return std::make_unique<Self>(static_cast<const Self&>(*this));
  }

 protected:
  BerShortField(T& field, size_t maxLength) : BerShortValue(maxLength), field_(&field) {}
  int compareTo(const BerValue& other) const override {
    return Self::compareFields(*field_, *static_cast<const BerShortField&>(other).field_);
  }

  T* field_;
};

// INTEGER or ENUMERATED bound to a field of type T (int32_t, uint32_t, int64_t, uint64_t) with an
// inclusive range that is checked on write and after reading. The content is the shortest
// two's-complement form; up to one octet longer than T, so that every unsigned value fits.
template <typename T>
class BerIntegerTemplate : public BerShortField<BerIntegerTemplate<T>, T> {
  static_assert(std::is_same_v<T, int32_t> || std::is_same_v<T, uint32_t> ||
                std::is_same_v<T, int64_t> || std::is_same_v<T, uint64_t>);

 public:
  static constexpr size_t kMaxOctets = sizeof(T) + (std::is_unsigned_v<T> ? 1 : 0);

  BerIntegerTemplate(T& field, T min, T max, TagCode tag = BE_INTEGER)
      : BerShortField<BerIntegerTemplate<T>, T>(field, kMaxOctets),
        min_(min),
        max_(max),
        tag_(tag) {}

  TagCode tag(bool) const override { return tag_; }
  void readDone() override;
  void write(BerOutput& out, bool legacy) const override;
  void print(std::ostream& os) const override;
  static int compareFields(T a, T b) { return a < b ? -1 : a > b ? 1 : 0; }

 private:
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
  std::unique_ptr<BerValue> clone() const override {
    return std::make_unique<BerEnumerated>(*this);
  }
};

// Reads any non-zero first octet as true and writes 01; an empty content is false.
class BerBoolean : public BerShortField<BerBoolean, bool> {
 public:
  static constexpr size_t kMaxOctets = 4;
  explicit BerBoolean(bool& field) : BerShortField(field, kMaxOctets) {}
  TagCode tag(bool) const override { return BE_BOOLEAN; }
  void readDone() override;
  void write(BerOutput& out, bool legacy) const override;
  void print(std::ostream& os) const override;
  static int compareFields(bool a, bool b) { return int(a) - int(b); }
};

class BerNull : public BerShortValue {
 public:
  BerNull() : BerShortValue(0) {}
  std::unique_ptr<BerValue> clone() const override { return std::make_unique<BerNull>(); }
  TagCode tag(bool) const override { return BE_NULL; }
  void write(BerOutput& out, bool legacy) const override;
  void print(std::ostream& os) const override { os << "null"; }

 protected:
  int compareTo(const BerValue&) const override { return 0; }
};

// Zero has no content; infinities and NaN are the octets 40, 41 and 60; any other value is 00
// followed by its decimal text in exponent form. The text has six fraction digits, as peers
// have always written it, unless that would change the value: then it carries the seventeen
// significant digits that restore it exactly.
class BerReal : public BerShortField<BerReal, double> {
 public:
  static constexpr size_t kMaxOctets = 64;
  explicit BerReal(double& field) : BerShortField(field, kMaxOctets) {}
  TagCode tag(bool) const override { return BE_REAL; }
  void readDone() override;
  void write(BerOutput& out, bool legacy) const override;
  void print(std::ostream& os) const override;
  static int compareFields(double a, double b) { return compareReals(a, b); }
};

// The big-endian magnitude without leading zero octets, at most 1040 octets.
class BerBigNum : public BerShortField<BerBigNum, BigNum> {
 public:
  static constexpr size_t kMaxOctets = 1040;
  explicit BerBigNum(BigNum& field, TagCode tag = BE_INTEGER)
      : BerShortField(field, kMaxOctets), tag_(tag) {}
  TagCode tag(bool) const override { return tag_; }
  void readDone() override;
  size_t allocated() const override;
  void write(BerOutput& out, bool legacy) const override;
  void print(std::ostream& os) const override;
  static int compareFields(const BigNum& a, const BigNum& b) { return compareBigNums(a, b); }

 private:
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
  size_t allocated() const override;
  void write(BerOutput& out, bool legacy) const override;
  void print(std::ostream& os) const override;

 protected:
  int compareTo(const BerValue& other) const override;

 private:
  std::string* field_;
  size_t maxLength_;
  TagCode tag_;
};

// Consumes an element whose content is not wanted (a field added by a newer peer). Skippers
// exist only while decoding: writing or comparing one is a programming error.
[[noreturn]] void skipperMisuse(const char* before, const char* skipper, const char* after);

template <typename Base>
class BerSkipper : public Base {
 public:
  TagCode tag(bool) const override { return tag_; }
  bool equals(const BerValue&) const override {
    skipperMisuse("Cannot call operator== for ", name(), "");
  }
  bool less(const BerValue&) const override {
    skipperMisuse("Cannot call operator< for ", name(), "");
  }
  bool greater(const BerValue&) const override {
    skipperMisuse("Cannot call operator> for ", name(), "");
  }
  void write(BerOutput&, bool) const override { skipperMisuse("", name(), "::write invoked"); }
  void print(std::ostream& os) const override { os << "<skipped " << tag_ << '>'; }

 protected:
  explicit BerSkipper(TagCode tag) : tag_(tag) {}
  int compareTo(const BerValue&) const override {
    skipperMisuse("Cannot call operator< for ", name(), "");
  }
  virtual const char* name() const = 0;

 private:
  TagCode tag_;
};

class BerPrimitiveSkipper final : public BerSkipper<BerPrimitive> {
 public:
  explicit BerPrimitiveSkipper(TagCode tag) : BerSkipper(tag) {}
  std::unique_ptr<BerValue> clone() const override {
    return std::make_unique<BerPrimitiveSkipper>(*this);
  }
  void beginContent(size_t) override {}
  void appendContent(const uint8_t*, size_t) override {}

 protected:
  const char* name() const override { return "BerPrimitiveSkipper"; }
};

// Consumes a constructed element and everything in it.
class BerConstructedSkipper final : public BerSkipper<BerConstructed> {
 public:
  explicit BerConstructedSkipper(TagCode tag) : BerSkipper(tag) {}
  std::unique_ptr<BerValue> clone() const override {
    return std::make_unique<BerConstructedSkipper>(*this);
  }
  BerValue& createChild(size_t index, TagCode tag, bool legacy, ChildSlot& slot) override;
  size_t count() const override { return 0; }
  bool isRepeated() const override { return false; }

 protected:
  const char* name() const override { return "BerConstructedSkipper"; }
};

// A skipper for an element with this tag: constructed or primitive by the tag's constructed bit.
BerValue& makeSkipper(TagCode tag, ChildSlot& slot);

}  // namespace protocol
