// The processor's AES instructions. Only the functions below are compiled for them (target
// attributes), so the rest of the program still runs on processors without them; callers
// check hardwareAvailable() first.
#include "error/assert.h"
#include "security/aes_engines.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <immintrin.h>

namespace security::aes {

bool hardwareAvailable() {
  static const bool available = [] {
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (__get_cpuid(1, &a, &b, &c, &d) == 0) return false;
    return (c & bit_AES) != 0 && (d & bit_SSE2) != 0;
  }();
  return available;
}

__attribute__((target("aes,sse2"))) void encryptHardware(const uint8_t* enc_keys, uint8_t* block) {
  const __m128i* k = reinterpret_cast<const __m128i*>(enc_keys);
  __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block));
  x = _mm_xor_si128(x, _mm_loadu_si128(k));
  for (int r = 1; r < kRounds; ++r)
    x = _mm_aesenc_si128(x, _mm_loadu_si128(k + r));
  x = _mm_aesenclast_si128(x, _mm_loadu_si128(k + kRounds));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(block), x);
}

__attribute__((target("aes,sse2"))) void decryptHardware(const uint8_t* dec_keys, uint8_t* block) {
  const __m128i* k = reinterpret_cast<const __m128i*>(dec_keys);
  __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block));
  x = _mm_xor_si128(x, _mm_loadu_si128(k));
  for (int r = 1; r < kRounds; ++r)
    x = _mm_aesdec_si128(x, _mm_loadu_si128(k + r));
  x = _mm_aesdeclast_si128(x, _mm_loadu_si128(k + kRounds));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(block), x);
}

__attribute__((target("aes,sse2"))) void encryptBlocksHardware(const uint8_t* enc_keys,
                                                               uint8_t* blocks, size_t count) {
  constexpr size_t kLanes = 8;
  const __m128i* k = reinterpret_cast<const __m128i*>(enc_keys);
  __m128i* p = reinterpret_cast<__m128i*>(blocks);
  for (; count >= kLanes; count -= kLanes, p += kLanes) {
    __m128i x[kLanes];
    __m128i key = _mm_loadu_si128(k);
    for (size_t j = 0; j < kLanes; ++j)
      x[j] = _mm_xor_si128(_mm_loadu_si128(p + j), key);
    for (int r = 1; r < kRounds; ++r) {
      key = _mm_loadu_si128(k + r);
      for (size_t j = 0; j < kLanes; ++j)
        x[j] = _mm_aesenc_si128(x[j], key);
    }
    key = _mm_loadu_si128(k + kRounds);
    for (size_t j = 0; j < kLanes; ++j)
      _mm_storeu_si128(p + j, _mm_aesenclast_si128(x[j], key));
  }
  for (; count != 0; --count, ++p)
    encryptHardware(enc_keys, reinterpret_cast<uint8_t*>(p));
}

}  // namespace security::aes

#else

namespace security::aes {

bool hardwareAvailable() {
  return false;
}

void encryptHardware(const uint8_t*, uint8_t*) {
  VX_ASSERT(false, "No AES instructions on this processor");
}

void decryptHardware(const uint8_t*, uint8_t*) {
  VX_ASSERT(false, "No AES instructions on this processor");
}

void encryptBlocksHardware(const uint8_t*, uint8_t*, size_t) {
  VX_ASSERT(false, "No AES instructions on this processor");
}

}  // namespace security::aes

#endif
