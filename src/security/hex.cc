#include "security/hex.h"

namespace security {

std::string toHex(const uint8_t* data, size_t size) {
  static constexpr char digits[] = "0123456789abcdef";
  std::string text(2 * size, '0');
  for (size_t i = 0; i < size; ++i) {
    text[2 * i] = digits[data[i] >> 4];
    text[2 * i + 1] = digits[data[i] & 15];
  }
  return text;
}

bool fromHex(std::string_view text, uint8_t* out, size_t size) {
  if (text.size() != 2 * size) return false;
  for (size_t i = 0; i < size; ++i) {
    int hi = hexDigit(text[2 * i]);
    int lo = hexDigit(text[2 * i + 1]);
    if (hi < 0 || lo < 0) return false;
    out[i] = static_cast<uint8_t>(hi << 4 | lo);
  }
  return true;
}

bool hexNumber(std::string_view text, uint64_t& value) {
  if (text.size() > 16) return false;
  value = 0;
  for (char c : text) {
    int d = hexDigit(c);
    if (d < 0) return false;
    value = value << 4 | static_cast<uint64_t>(d);
  }
  return true;
}

}  // namespace security
