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

__attribute__((target("aes,sse2"))) void encryptHardware(const uint8_t* enc_keys,
                                                          uint8_t* block) {
  const __m128i* k = reinterpret_cast<const __m128i*>(enc_keys);
  __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block));
  x = _mm_xor_si128(x, _mm_loadu_si128(k));
  for (int r = 1; r < kRounds; ++r) x = _mm_aesenc_si128(x, _mm_loadu_si128(k + r));
  x = _mm_aesenclast_si128(x, _mm_loadu_si128(k + kRounds));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(block), x);
}

__attribute__((target("aes,sse2"))) void decryptHardware(const uint8_t* dec_keys,
                                                          uint8_t* block) {
  const __m128i* k = reinterpret_cast<const __m128i*>(dec_keys);
  __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block));
  x = _mm_xor_si128(x, _mm_loadu_si128(k));
  for (int r = 1; r < kRounds; ++r) x = _mm_aesdec_si128(x, _mm_loadu_si128(k + r));
  x = _mm_aesdeclast_si128(x, _mm_loadu_si128(k + kRounds));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(block), x);
}

}  // namespace security::aes

#else

namespace security::aes {

bool hardwareAvailable() { return false; }

void encryptHardware(const uint8_t*, uint8_t*) {
  VX_ASSERT(false, "No AES instructions on this processor");
}

void decryptHardware(const uint8_t*, uint8_t*) {
  VX_ASSERT(false, "No AES instructions on this processor");
}

}  // namespace security::aes

#endif
