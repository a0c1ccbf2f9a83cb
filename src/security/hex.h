// Lower-case hexadecimal text of byte strings, as the key texts, the digest state and the saved
// entropy pool use it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace security {

// Two lower-case digits per byte, high nibble first.
std::string toHex(const uint8_t* data, size_t size);
inline std::string toHex(std::string_view bytes) {
  return toHex(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

// The value of one digit (0-9, a-f, A-F), or -1 for anything else.
constexpr int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Decodes exactly 2 * size digits of `text` into `out`. False if any character is not a digit
// or the text has another length; `out` is then unspecified.
bool fromHex(std::string_view text, uint8_t* out, size_t size);

// Reads exactly `text.size()` digits (at most 16) as one unsigned number. False on a non-digit.
bool hexNumber(std::string_view text, uint64_t& value);

}  // namespace security
