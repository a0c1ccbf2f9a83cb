#include "security/md5.h"

#include <cstring>

#include "error/exception.h"
#include "security/endian.h"
#include "security/hex.h"

namespace security {
namespace {

inline uint32_t rotl(uint32_t x, int s) {
  return x << s | x >> (32 - s);
}

constexpr uint32_t kInitial[4] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};

}  // namespace

void Md5::reset() {
  std::memcpy(state_, kInitial, sizeof state_);
  bit_length_ = 0;
  // A fresh object has a defined state text: the unused buffer reads as zeros.
  std::memset(buffer_, 0, sizeof buffer_);
}

// The round functions are written in the forms that keep the dependency chain through `a`
// short: F and I select with xor, and G's two halves are added separately because they never
// have a bit set in the same place.
#define VX_MD5_F(x, y, z) ((z) ^ ((x) & ((y) ^ (z))))
#define VX_MD5_H(x, y, z) ((x) ^ (y) ^ (z))
#define VX_MD5_I(x, y, z) ((y) ^ ((x) | ~(z)))
#define VX_MD5_STEP(f, a, b, c, d, k, t, s) \
  a += f(b, c, d) + w[k] + (t);             \
  a = rotl(a, s) + (b)
#define VX_MD5_STEP_G(a, b, c, d, k, t, s)      \
  a += ((c) & ~(d)) + w[k] + (t) + ((b) & (d)); \
  a = rotl(a, s) + (b)

void Md5::compress(const uint8_t* block) {
  uint32_t w[16];
  for (int i = 0; i < 16; ++i)
    w[i] = load32(block + 4 * i);
  uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];

  VX_MD5_STEP(VX_MD5_F, a, b, c, d, 0, 0xd76aa478, 7);
  VX_MD5_STEP(VX_MD5_F, d, a, b, c, 1, 0xe8c7b756, 12);
  VX_MD5_STEP(VX_MD5_F, c, d, a, b, 2, 0x242070db, 17);
  VX_MD5_STEP(VX_MD5_F, b, c, d, a, 3, 0xc1bdceee, 22);
  VX_MD5_STEP(VX_MD5_F, a, b, c, d, 4, 0xf57c0faf, 7);
  VX_MD5_STEP(VX_MD5_F, d, a, b, c, 5, 0x4787c62a, 12);
  VX_MD5_STEP(VX_MD5_F, c, d, a, b, 6, 0xa8304613, 17);
  VX_MD5_STEP(VX_MD5_F, b, c, d, a, 7, 0xfd469501, 22);
  VX_MD5_STEP(VX_MD5_F, a, b, c, d, 8, 0x698098d8, 7);
  VX_MD5_STEP(VX_MD5_F, d, a, b, c, 9, 0x8b44f7af, 12);
  VX_MD5_STEP(VX_MD5_F, c, d, a, b, 10, 0xffff5bb1, 17);
  VX_MD5_STEP(VX_MD5_F, b, c, d, a, 11, 0x895cd7be, 22);
  VX_MD5_STEP(VX_MD5_F, a, b, c, d, 12, 0x6b901122, 7);
  VX_MD5_STEP(VX_MD5_F, d, a, b, c, 13, 0xfd987193, 12);
  VX_MD5_STEP(VX_MD5_F, c, d, a, b, 14, 0xa679438e, 17);
  VX_MD5_STEP(VX_MD5_F, b, c, d, a, 15, 0x49b40821, 22);

  VX_MD5_STEP_G(a, b, c, d, 1, 0xf61e2562, 5);
  VX_MD5_STEP_G(d, a, b, c, 6, 0xc040b340, 9);
  VX_MD5_STEP_G(c, d, a, b, 11, 0x265e5a51, 14);
  VX_MD5_STEP_G(b, c, d, a, 0, 0xe9b6c7aa, 20);
  VX_MD5_STEP_G(a, b, c, d, 5, 0xd62f105d, 5);
  VX_MD5_STEP_G(d, a, b, c, 10, 0x02441453, 9);
  VX_MD5_STEP_G(c, d, a, b, 15, 0xd8a1e681, 14);
  VX_MD5_STEP_G(b, c, d, a, 4, 0xe7d3fbc8, 20);
  VX_MD5_STEP_G(a, b, c, d, 9, 0x21e1cde6, 5);
  VX_MD5_STEP_G(d, a, b, c, 14, 0xc33707d6, 9);
  VX_MD5_STEP_G(c, d, a, b, 3, 0xf4d50d87, 14);
  VX_MD5_STEP_G(b, c, d, a, 8, 0x455a14ed, 20);
  VX_MD5_STEP_G(a, b, c, d, 13, 0xa9e3e905, 5);
  VX_MD5_STEP_G(d, a, b, c, 2, 0xfcefa3f8, 9);
  VX_MD5_STEP_G(c, d, a, b, 7, 0x676f02d9, 14);
  VX_MD5_STEP_G(b, c, d, a, 12, 0x8d2a4c8a, 20);

  VX_MD5_STEP(VX_MD5_H, a, b, c, d, 5, 0xfffa3942, 4);
  VX_MD5_STEP(VX_MD5_H, d, a, b, c, 8, 0x8771f681, 11);
  VX_MD5_STEP(VX_MD5_H, c, d, a, b, 11, 0x6d9d6122, 16);
  VX_MD5_STEP(VX_MD5_H, b, c, d, a, 14, 0xfde5380c, 23);
  VX_MD5_STEP(VX_MD5_H, a, b, c, d, 1, 0xa4beea44, 4);
  VX_MD5_STEP(VX_MD5_H, d, a, b, c, 4, 0x4bdecfa9, 11);
  VX_MD5_STEP(VX_MD5_H, c, d, a, b, 7, 0xf6bb4b60, 16);
  VX_MD5_STEP(VX_MD5_H, b, c, d, a, 10, 0xbebfbc70, 23);
  VX_MD5_STEP(VX_MD5_H, a, b, c, d, 13, 0x289b7ec6, 4);
  VX_MD5_STEP(VX_MD5_H, d, a, b, c, 0, 0xeaa127fa, 11);
  VX_MD5_STEP(VX_MD5_H, c, d, a, b, 3, 0xd4ef3085, 16);
  VX_MD5_STEP(VX_MD5_H, b, c, d, a, 6, 0x04881d05, 23);
  VX_MD5_STEP(VX_MD5_H, a, b, c, d, 9, 0xd9d4d039, 4);
  VX_MD5_STEP(VX_MD5_H, d, a, b, c, 12, 0xe6db99e5, 11);
  VX_MD5_STEP(VX_MD5_H, c, d, a, b, 15, 0x1fa27cf8, 16);
  VX_MD5_STEP(VX_MD5_H, b, c, d, a, 2, 0xc4ac5665, 23);

  VX_MD5_STEP(VX_MD5_I, a, b, c, d, 0, 0xf4292244, 6);
  VX_MD5_STEP(VX_MD5_I, d, a, b, c, 7, 0x432aff97, 10);
  VX_MD5_STEP(VX_MD5_I, c, d, a, b, 14, 0xab9423a7, 15);
  VX_MD5_STEP(VX_MD5_I, b, c, d, a, 5, 0xfc93a039, 21);
  VX_MD5_STEP(VX_MD5_I, a, b, c, d, 12, 0x655b59c3, 6);
  VX_MD5_STEP(VX_MD5_I, d, a, b, c, 3, 0x8f0ccc92, 10);
  VX_MD5_STEP(VX_MD5_I, c, d, a, b, 10, 0xffeff47d, 15);
  VX_MD5_STEP(VX_MD5_I, b, c, d, a, 1, 0x85845dd1, 21);
  VX_MD5_STEP(VX_MD5_I, a, b, c, d, 8, 0x6fa87e4f, 6);
  VX_MD5_STEP(VX_MD5_I, d, a, b, c, 15, 0xfe2ce6e0, 10);
  VX_MD5_STEP(VX_MD5_I, c, d, a, b, 6, 0xa3014314, 15);
  VX_MD5_STEP(VX_MD5_I, b, c, d, a, 13, 0x4e0811a1, 21);
  VX_MD5_STEP(VX_MD5_I, a, b, c, d, 4, 0xf7537e82, 6);
  VX_MD5_STEP(VX_MD5_I, d, a, b, c, 11, 0xbd3af235, 10);
  VX_MD5_STEP(VX_MD5_I, c, d, a, b, 2, 0x2ad7d2bb, 15);
  VX_MD5_STEP(VX_MD5_I, b, c, d, a, 9, 0xeb86d391, 21);

  state_[0] += a;
  state_[1] += b;
  state_[2] += c;
  state_[3] += d;
}

#undef VX_MD5_F
#undef VX_MD5_H
#undef VX_MD5_I
#undef VX_MD5_STEP
#undef VX_MD5_STEP_G

void Md5::update(size_t length, const void* data) {
  const uint8_t* p = static_cast<const uint8_t*>(data);
  size_t used = static_cast<size_t>(bit_length_ >> 3) & 63;
  bit_length_ += static_cast<uint64_t>(length) << 3;
  if (used != 0) {
    size_t fill = 64 - used;
    if (length < fill) {
      std::memcpy(buffer_ + used, p, length);
      return;
    }
    std::memcpy(buffer_ + used, p, fill);
    compress(buffer_);
    p += fill;
    length -= fill;
  }
  // Whole blocks are digested straight from the caller's memory.
  for (; length >= 64; p += 64, length -= 64)
    compress(p);
  if (length != 0) std::memcpy(buffer_, p, length);
}

void Md5::update(uint8_t byte) {
  update(1, &byte);
}

void Md5::final(uint8_t* digest) {
  // Padding works on a copy so that the object keeps its state.
  Md5 tail = *this;
  uint8_t length_bytes[8];
  for (int i = 0; i < 8; ++i)
    length_bytes[i] = static_cast<uint8_t>(bit_length_ >> (8 * i));
  static constexpr uint8_t kPadding[64] = {0x80};
  size_t used = static_cast<size_t>(bit_length_ >> 3) & 63;
  tail.update(used < 56 ? 56 - used : 120 - used, kPadding);
  tail.update(8, length_bytes);
  for (int i = 0; i < 4; ++i)
    storeLe<uint32_t>(digest + 4 * i, tail.state_[i]);
}

std::array<uint8_t, Md5::kDigestSize> Md5::digestOf(const void* data, size_t length) {
  Md5 md5;
  md5.update(length, data);
  std::array<uint8_t, kDigestSize> digest;
  md5.final(digest.data());
  return digest;
}

std::string Md5::stateText() const {
  std::string text;
  text.reserve(kStateTextSize);
  for (uint32_t word : state_) {
    uint8_t be[4] = {static_cast<uint8_t>(word >> 24), static_cast<uint8_t>(word >> 16),
                     static_cast<uint8_t>(word >> 8), static_cast<uint8_t>(word)};
    text += toHex(be, 4);
  }
  uint8_t length_be[8];
  for (int i = 0; i < 8; ++i)
    length_be[i] = static_cast<uint8_t>(bit_length_ >> (56 - 8 * i));
  text += toHex(length_be, 8);
  text += toHex(buffer_, sizeof buffer_);
  return text;
}

void Md5::setStateText(const std::string& text) {
  std::string_view t(text);
  uint32_t state[4];
  uint64_t value = 0;
  uint64_t bit_length = 0;
  uint8_t buffer[64];
  bool ok = t.size() == kStateTextSize;
  for (int i = 0; ok && i < 4; ++i) {
    ok = hexNumber(t.substr(8 * i, 8), value);
    state[i] = static_cast<uint32_t>(value);
  }
  ok = ok && hexNumber(t.substr(32, 16), bit_length) && fromHex(t.substr(48), buffer, 64);
  if (!ok) throw error::EParseError("Malformed md5 state");
  std::memcpy(state_, state, sizeof state_);
  bit_length_ = bit_length;
  std::memcpy(buffer_, buffer, sizeof buffer_);
}

std::array<uint8_t, Md5::kDigestSize> parseMd5Sum(const std::string& text) {
  std::array<uint8_t, Md5::kDigestSize> sum;
  if (!fromHex(text, sum.data(), sum.size())) throw error::EParseError("Malformed md5 sum");
  return sum;
}

}  // namespace security
