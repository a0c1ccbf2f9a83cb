#include "protocol/ber_encoding.h"

#include "error/assert.h"

namespace protocol {

std::string tagName(TagCode tag) {
  switch (tag) {
    case BE_BOOLEAN:
      return "BE_BOOLEAN";
    case BE_INTEGER:
      return "BE_INTEGER";
    case BE_STRING_CURRENT:
      return "BE_STRING_CURRENT";
    case BE_NULL:
      return "BE_NULL";
    case BE_REAL:
      return "BE_REAL";
    case BE_ENUMERATED:
      return "BE_ENUMERATED";
    case BE_STRING_LEGACY:
      return "BE_STRING_LEGACY";
    case BE_SEQ_LEGACY:
      return "BE_SEQ_LEGACY";
    case BE_SET_LEGACY:
      return "BE_SET_LEGACY";
    case BE_SEQ_CURRENT:
      return "BE_SEQ_CURRENT";
    case BE_SET_CURRENT:
      return "BE_SET_CURRENT";
    default:
      return std::to_string(tag);
  }
}

void writeTag(BerOutput& out, TagCode tag) {
  const uint32_t number = tag >> 3;
  const uint8_t leading = static_cast<uint8_t>(((tag >> 1) & 3) << 6 | (tag & 1) << 5);
  if (number < 31) {
    out.append(static_cast<uint8_t>(leading | number));
    return;
  }
  uint8_t octets[6];
  size_t n = 0;
  octets[n++] = leading | 31;
  int shift = 28;
  while (shift > 0 && (number >> shift) == 0)
    shift -= 7;
  for (; shift > 0; shift -= 7)
    octets[n++] = static_cast<uint8_t>(0x80 | ((number >> shift) & 0x7F));
  octets[n++] = static_cast<uint8_t>(number & 0x7F);
  out.append(octets, n);
}

void writeLength(BerOutput& out, size_t length) {
  VX_ASSERT(length <= 0xFFFFFFFFu, "BER length ", length, " needs more than 4 octets");
  if (length < 128) {
    out.append(static_cast<uint8_t>(length));
    return;
  }
  size_t k = 1;
  while (k < 4 && (length >> (8 * k)) != 0)
    ++k;
  uint8_t octets[5];
  octets[0] = static_cast<uint8_t>(0x80 + k);
  for (size_t i = 0; i < k; ++i)
    octets[1 + i] = static_cast<uint8_t>(length >> (8 * (k - 1 - i)));
  out.append(octets, k + 1);
}

void writeIndefiniteLength(BerOutput& out) {
  out.append(0x80);
}

void writeEndOfContents(BerOutput& out) {
  static const uint8_t eoc[2] = {0, 0};
  out.append(eoc, 2);
}

}  // namespace protocol
