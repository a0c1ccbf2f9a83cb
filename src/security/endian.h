// Little-endian loads and stores of the cipher, digest and generator state. The compiler turns
// each into one move on this host.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace security {

static_assert(std::endian::native == std::endian::little);

template <typename Word>
inline Word loadLe(const uint8_t* p) {
  Word v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

template <typename Word>
inline void storeLe(uint8_t* p, Word v) {
  std::memcpy(p, &v, sizeof v);
}

inline uint32_t load32(const uint8_t* p) {
  return loadLe<uint32_t>(p);
}
inline uint64_t load64(const uint8_t* p) {
  return loadLe<uint64_t>(p);
}

}  // namespace security
