#include "security/aes_engines.h"

#include <cstring>

#include "security/endian.h"

namespace security::aes {
namespace {

constexpr uint32_t rotl(uint32_t x, int s) {
  return x << s | x >> (32 - s);
}
constexpr uint8_t rotl8(uint8_t x, int s) {
  return static_cast<uint8_t>(x << s | x >> (8 - s));
}

constexpr uint8_t xtime(uint8_t x) {
  return static_cast<uint8_t>(x << 1 ^ ((x & 0x80) != 0 ? 0x1b : 0));
}

constexpr uint8_t gmul(uint8_t a, uint8_t b) {
  uint8_t r = 0;
  for (; b != 0; b >>= 1, a = xtime(a)) {
    if ((b & 1) != 0) r ^= a;
  }
  return r;
}

struct Tables {
  uint8_t sbox[256];
  uint8_t inv_sbox[256];
  uint32_t te[256];  // SubBytes then MixColumns of one byte in row 0
  uint32_t td[256];  // InvSubBytes then InvMixColumns of one byte in row 0
};

// Derived from the field arithmetic rather than typed in, so a mistyped constant cannot hide;
// the known-answer tests pin the result.
constexpr Tables makeTables() {
  Tables t{};
  // Walk the multiplicative group with generator 3: p runs through 3^i and q through 3^-i,
  // so q is the inverse of p, and the S-box is the affine transform of the inverse.
  uint8_t p = 1, q = 1;
  do {
    p = static_cast<uint8_t>(p ^ xtime(p));
    q = static_cast<uint8_t>(q ^ q << 1);
    q = static_cast<uint8_t>(q ^ q << 2);
    q = static_cast<uint8_t>(q ^ q << 4);
    if ((q & 0x80) != 0) q ^= 0x09;
    uint8_t x = static_cast<uint8_t>(q ^ rotl8(q, 1) ^ rotl8(q, 2) ^ rotl8(q, 3) ^ rotl8(q, 4));
    t.sbox[p] = x ^ 0x63;
  } while (p != 1);
  t.sbox[0] = 0x63;
  for (int i = 0; i < 256; ++i)
    t.inv_sbox[t.sbox[i]] = static_cast<uint8_t>(i);
  for (int i = 0; i < 256; ++i) {
    uint8_t s = t.sbox[i];
    t.te[i] = uint32_t{xtime(s)} | uint32_t{s} << 8 | uint32_t{s} << 16 |
              uint32_t{static_cast<uint8_t>(xtime(s) ^ s)} << 24;
    uint8_t v = t.inv_sbox[i];
    t.td[i] = uint32_t{gmul(v, 14)} | uint32_t{gmul(v, 9)} << 8 | uint32_t{gmul(v, 13)} << 16 |
              uint32_t{gmul(v, 11)} << 24;
  }
  return t;
}

constexpr Tables kT = makeTables();

inline uint32_t b0(uint32_t w) {
  return w & 0xff;
}
inline uint32_t b1(uint32_t w) {
  return (w >> 8) & 0xff;
}
inline uint32_t b2(uint32_t w) {
  return (w >> 16) & 0xff;
}
inline uint32_t b3(uint32_t w) {
  return w >> 24;
}

inline uint32_t subWord(uint32_t w) {
  return uint32_t{kT.sbox[b0(w)]} | uint32_t{kT.sbox[b1(w)]} << 8 | uint32_t{kT.sbox[b2(w)]} << 16 |
         uint32_t{kT.sbox[b3(w)]} << 24;
}

inline uint32_t invMixColumn(uint32_t w) {
  // td of sbox[x] undoes the S-box, leaving InvMixColumns alone.
  return kT.td[kT.sbox[b0(w)]] ^ rotl(kT.td[kT.sbox[b1(w)]], 8) ^ rotl(kT.td[kT.sbox[b2(w)]], 16) ^
         rotl(kT.td[kT.sbox[b3(w)]], 24);
}

}  // namespace

void expandKey(const uint8_t* key, uint8_t* enc_keys, uint8_t* dec_keys) {
  uint32_t w[4 * (kRounds + 1)];
  for (int i = 0; i < 4; ++i)
    w[i] = load32(key + 4 * i);
  uint8_t rcon = 1;
  for (int i = 4; i < 4 * (kRounds + 1); ++i) {
    uint32_t t = w[i - 1];
    if (i % 4 == 0) {
      t = subWord(rotl(t, 24)) ^ rcon;  // RotWord moves byte 1 to byte 0
      rcon = xtime(rcon);
    }
    w[i] = w[i - 4] ^ t;
  }
  for (int i = 0; i < 4 * (kRounds + 1); ++i)
    storeLe<uint32_t>(enc_keys + 4 * i, w[i]);
  for (int r = 0; r <= kRounds; ++r) {
    for (int j = 0; j < 4; ++j) {
      uint32_t k = w[4 * (kRounds - r) + j];
      storeLe<uint32_t>(dec_keys + 16 * r + 4 * j, r == 0 || r == kRounds ? k : invMixColumn(k));
    }
  }
}

namespace {

// Rounds of either direction. Column words hold the four bytes of a column with row 0 in the
// lowest bits. Row i of output column j comes from input column j + i (ShiftRows) or j - i
// (InvShiftRows); the tables fold the (inverse) S-box and MixColumns for a byte in row 0, and
// rotating their entries serves the other rows.
template <bool kInverse>
void transform(const uint8_t* keys, uint8_t* block) {
  const uint32_t* table = kInverse ? kT.td : kT.te;
  const uint8_t* sbox = kInverse ? kT.inv_sbox : kT.sbox;
  auto mix = [table](uint32_t a, uint32_t b, uint32_t c, uint32_t d, const uint8_t* key) {
    return table[b0(a)] ^ rotl(table[b1(b)], 8) ^ rotl(table[b2(c)], 16) ^ rotl(table[b3(d)], 24) ^
           load32(key);
  };
  auto sub = [sbox](uint32_t a, uint32_t b, uint32_t c, uint32_t d, const uint8_t* key) {
    return (uint32_t{sbox[b0(a)]} | uint32_t{sbox[b1(b)]} << 8 | uint32_t{sbox[b2(c)]} << 16 |
            uint32_t{sbox[b3(d)]} << 24) ^
           load32(key);
  };
  uint32_t s0 = load32(block) ^ load32(keys), s1 = load32(block + 4) ^ load32(keys + 4),
           s2 = load32(block + 8) ^ load32(keys + 8), s3 = load32(block + 12) ^ load32(keys + 12);
  // One round: f applied to each output column with its four input columns.
  auto round = [&](auto f, const uint8_t* k) {
    uint32_t t0, t1, t2, t3;
    if constexpr (kInverse) {
      t0 = f(s0, s3, s2, s1, k), t1 = f(s1, s0, s3, s2, k + 4);
      t2 = f(s2, s1, s0, s3, k + 8), t3 = f(s3, s2, s1, s0, k + 12);
    } else {
      t0 = f(s0, s1, s2, s3, k), t1 = f(s1, s2, s3, s0, k + 4);
      t2 = f(s2, s3, s0, s1, k + 8), t3 = f(s3, s0, s1, s2, k + 12);
    }
    s0 = t0, s1 = t1, s2 = t2, s3 = t3;
  };
  for (int r = 1; r < kRounds; ++r)
    round(mix, keys + 16 * r);
  round(sub, keys + 16 * kRounds);
  storeLe<uint32_t>(block, s0);
  storeLe<uint32_t>(block + 4, s1);
  storeLe<uint32_t>(block + 8, s2);
  storeLe<uint32_t>(block + 12, s3);
}

}  // namespace

void encryptPortable(const uint8_t* enc_keys, uint8_t* block) {
  transform<false>(enc_keys, block);
}

void decryptPortable(const uint8_t* dec_keys, uint8_t* block) {
  transform<true>(dec_keys, block);
}

void encryptCountersPortable(const uint8_t* enc_keys, uint8_t* counter, uint8_t* out,
                             size_t count) {
  // The counter is worked on in registers: stepping it byte by byte in memory would make
  // every block wait for the store of the previous one.
  uint64_t lo = load64(counter);
  uint64_t hi = load64(counter + 8);
  for (size_t i = 0; i < count; ++i, out += 16) {
    storeLe<uint64_t>(out, lo);
    storeLe<uint64_t>(out + 8, hi);
    if (++lo == 0) ++hi;
    encryptPortable(enc_keys, out);
  }
  storeLe<uint64_t>(counter, lo);
  storeLe<uint64_t>(counter + 8, hi);
}

}  // namespace security::aes
