// Pseudo-random bytes from AES-128 in counter mode, keyed and started from a 32-byte seed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "security/rijndael.h"

namespace security {

class RandomGenerator {
 public:
  static constexpr size_t kSeedSize = 32;

  // seed: 16 key bytes, then the 16-byte initial counter. Any other size is an assertion
  // ("Entropy of wrong size"); seeds are taken from this process's own pool.
  explicit RandomGenerator(std::string_view seed,
                           Rijndael::Engine engine = Rijndael::Engine::Automatic);
  ~RandomGenerator();
  RandomGenerator(const RandomGenerator&) = delete;
  RandomGenerator& operator=(const RandomGenerator&) = delete;

  // The next n bytes of the stream E(c), E(c+1), ... where c is the initial counter, read as
  // a 128-bit little-endian number that wraps at the top.
  void generate(size_t n, uint8_t* out);

  uint64_t produced() const { return produced_; }

 private:
  Rijndael cipher_;
  uint8_t counter_[16];
  uint8_t block_[16];
  size_t position_;  // read position in block_; 16 when it is used up
  uint64_t produced_ = 0;
};

}  // namespace security
