// Tag codes, the identifier and length octets of BER elements, the output they are written to,
// and the one exception every BER fault raises.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "error/exception.h"

namespace protocol {

// A tag held as one number: tag number × 8 + class × 2 + constructed bit, class being
// 0 universal, 1 application, 2 context-specific, 3 private. Messages print it in decimal.
using TagCode = uint32_t;

inline constexpr TagCode BE_BOOLEAN = 8;
inline constexpr TagCode BE_INTEGER = 16;
inline constexpr TagCode BE_STRING_CURRENT = 32;  // OCTET STRING
inline constexpr TagCode BE_NULL = 40;
inline constexpr TagCode BE_REAL = 72;
inline constexpr TagCode BE_ENUMERATED = 80;
inline constexpr TagCode BE_STRING_LEGACY = 176;  // IA5String
inline constexpr TagCode BE_SEQ_LEGACY = 1;       // constructed universal 0
inline constexpr TagCode BE_SET_LEGACY = 9;       // constructed universal 1
inline constexpr TagCode BE_SEQ_CURRENT = 129;    // SEQUENCE
inline constexpr TagCode BE_SET_CURRENT = 137;    // SET

// The largest tag number whose tag code still fits a TagCode.
inline constexpr uint32_t kMaxTagNumber = 0x1FFFFFFF;

constexpr TagCode applicationTag(uint32_t number) {
  return number * 8 + 3;
}  // constructed
constexpr TagCode contextTag(uint32_t number) {
  return number * 8 + 5;
}  // constructed
constexpr bool isConstructedTag(TagCode tag) {
  return (tag & 1) != 0;
}

// The tags that differ between the two dialects (legacy = true).
constexpr TagCode stringTag(bool legacy) {
  return legacy ? BE_STRING_LEGACY : BE_STRING_CURRENT;
}
constexpr TagCode sequenceTag(bool legacy) {
  return legacy ? BE_SEQ_LEGACY : BE_SEQ_CURRENT;
}
constexpr TagCode setTag(bool legacy) {
  return legacy ? BE_SET_LEGACY : BE_SET_CURRENT;
}

// The name of a universal tag code as error messages print it ("BE_INTEGER"); the decimal code
// for any other tag.
std::string tagName(TagCode tag);

// A protocol fault: malformed or hostile input, or a value that cannot be encoded.
class EBer : public error::EParseError {
 public:
  using EParseError::EParseError;
};

// Where encoded octets go. The stream behind it belongs to the connection that owns it.
class BerOutput {
 public:
  virtual void append(const uint8_t* bytes, size_t count) = 0;
  void append(uint8_t octet) { append(&octet, 1); }

 protected:
  ~BerOutput() = default;
};

// An output that collects the octets in memory.
class BerBytes final : public BerOutput {
 public:
  using BerOutput::append;
  void append(const uint8_t* bytes, size_t count) override {
    this->bytes.insert(this->bytes.end(), bytes, bytes + count);
  }
  std::vector<uint8_t> bytes;
};

void writeTag(BerOutput& out, TagCode tag);
// The shortest definite form; lengths need at most 4 octets.
void writeLength(BerOutput& out, size_t length);
void writeIndefiniteLength(BerOutput& out);
void writeEndOfContents(BerOutput& out);

}  // namespace protocol
