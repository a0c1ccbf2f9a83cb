// The processor's AES instructions. Only the functions below are compiled for them (target
// attributes), so the rest of the program still runs on processors without them; callers
// check hardwareAvailable() first.
#include "error/assert.h"
#include "security/aes_engines.h"
#include "security/endian.h"

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

namespace {

constexpr size_t kLanes = 8;

// Eight independent blocks through all rounds. Each round key is loaded once for the eight
// and the blocks stay in registers, so the instructions' latency overlaps: a block waits for
// its previous round, never for another block.
__attribute__((target("aes,sse2"), always_inline)) inline void encrypt8(const __m128i* k,
                                                                        __m128i (&x)[kLanes]) {
  __m128i key = _mm_loadu_si128(k);
#pragma GCC unroll 8
  for (size_t j = 0; j < kLanes; ++j)
    x[j] = _mm_xor_si128(x[j], key);
#pragma GCC unroll 9
  for (int r = 1; r < kRounds; ++r) {
    key = _mm_loadu_si128(k + r);
#pragma GCC unroll 8
    for (size_t j = 0; j < kLanes; ++j)
      x[j] = _mm_aesenc_si128(x[j], key);
  }
  key = _mm_loadu_si128(k + kRounds);
#pragma GCC unroll 8
  for (size_t j = 0; j < kLanes; ++j)
    x[j] = _mm_aesenclast_si128(x[j], key);
}

__attribute__((target("aes,sse2"), always_inline)) inline __m128i encrypt1(const __m128i* k,
                                                                           __m128i x) {
  x = _mm_xor_si128(x, _mm_loadu_si128(k));
  for (int r = 1; r < kRounds; ++r)
    x = _mm_aesenc_si128(x, _mm_loadu_si128(k + r));
  return _mm_aesenclast_si128(x, _mm_loadu_si128(k + kRounds));
}

// The counter block lo + 2^64 hi as its 16 little-endian bytes.
__attribute__((target("sse2"), always_inline)) inline __m128i counterBlock(uint64_t lo,
                                                                           uint64_t hi) {
  return _mm_set_epi64x(static_cast<long long>(hi), static_cast<long long>(lo));
}

}  // namespace

__attribute__((target("aes,sse2"))) void encryptHardware(const uint8_t* enc_keys, uint8_t* block) {
  __m128i* p = reinterpret_cast<__m128i*>(block);
  _mm_storeu_si128(p, encrypt1(reinterpret_cast<const __m128i*>(enc_keys), _mm_loadu_si128(p)));
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

__attribute__((target("aes,sse2"))) void encryptCountersHardware(const uint8_t* enc_keys,
                                                                 uint8_t* counter, uint8_t* out,
                                                                 size_t count) {
  const __m128i* k = reinterpret_cast<const __m128i*>(enc_keys);
  __m128i* p = reinterpret_cast<__m128i*>(out);
  // The counter is stepped in general registers; a carry out of the low half is rare but
  // may fall in the middle of a batch.
  uint64_t lo = loadLe<uint64_t>(counter);
  uint64_t hi = loadLe<uint64_t>(counter + 8);
  for (; count >= kLanes; count -= kLanes, p += kLanes) {
    __m128i x[kLanes];
#pragma GCC unroll 8
    for (size_t j = 0; j < kLanes; ++j) {
      x[j] = counterBlock(lo, hi);
      if (++lo == 0) ++hi;
    }
    encrypt8(k, x);
#pragma GCC unroll 8
    for (size_t j = 0; j < kLanes; ++j)
      _mm_storeu_si128(p + j, x[j]);
  }
  for (; count != 0; --count, ++p) {
    _mm_storeu_si128(p, encrypt1(k, counterBlock(lo, hi)));
    if (++lo == 0) ++hi;
  }
  storeLe<uint64_t>(counter, lo);
  storeLe<uint64_t>(counter + 8, hi);
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

void encryptCountersHardware(const uint8_t*, uint8_t*, uint8_t*, size_t) {
  VX_ASSERT(false, "No AES instructions on this processor");
}

}  // namespace security::aes

#endif
