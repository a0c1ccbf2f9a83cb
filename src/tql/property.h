// Typed property values of the object database. Every value carries its property number,
// a null flag and modifiers; the concrete classes (property_types.h) add the value itself.
// On the wire a value is tagged with its type code so a vector can hold any mix.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "wire/clone_ptr.h"
#include "wire/codec.h"

namespace tql {

// Relational operators of comparisons.
enum compare_op : uint32_t {
  OP_EQUAL = 1,
  OP_GREATER = 2,
  OP_LESS = 3,
  OP_GREATER_EQUAL = 4,
  OP_LESS_EQUAL = 5,
  OP_NOT_EQUAL = 6,
  OP_EQUAL_NOCASE = 7,
  OP_NOT_EQUAL_NOCASE = 8,
  OP_CONTAINS = 14,
};

class property_t {
 public:
  uint32_t name = 0;
  bool is_null = false;
  uint32_t modifiers = 0;

  virtual uint32_t typeCode() const = 0;
  virtual ~property_t() = default;
  virtual std::unique_ptr<property_t> clone() const = 0;
  // The value's text form ("null" for a null value).
  virtual std::string toString() const = 0;
  virtual std::string typeName() const = 0;
  // Evaluates `this op other`; values of another class and unknown operators raise
  // errors::tql_incomparable.
  virtual bool compare(uint32_t op, const property_t& other) const = 0;

  // Same class, header and value (a null value's payload still counts, as it travels).
  virtual bool equals(const property_t& other) const = 0;
  virtual void writeValue(protocol::ioprim& io) const = 0;
  virtual void readValue(protocol::ioprim& io) = 0;
};

using property_ptr = wire::clone_ptr<property_t>;

// A new default value of the class with that type code; null for codes outside 7 to 25.
std::unique_ptr<property_t> makeProperty(uint32_t type_code);

}  // namespace tql

namespace wire {

// The type code (0 for an absent value, then nothing follows), then name, is_null, modifiers
// and the value. A code that names no class is an error: its value's length is unknown, so
// nothing after it could be trusted.
template <>
struct Codec<tql::property_ptr> {
  static constexpr size_t kMinSize = 4;
  static void write(protocol::ioprim& io, const tql::property_ptr& v);
  static void read(protocol::ioprim& io, tql::property_ptr& v);
  static void print(std::ostream& os, const tql::property_ptr& v, int level);
};

}  // namespace wire
