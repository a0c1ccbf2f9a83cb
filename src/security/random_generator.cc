#include "security/random_generator.h"

#include <string.h>

#include <algorithm>

#include "error/assert.h"
#include "security/hex.h"

namespace security {
namespace {

std::string keyText(std::string_view seed) {
  VX_ASSERT(seed.size() == RandomGenerator::kSeedSize, "Entropy of wrong size");
  return toHex(seed.substr(0, 16));
}

}  // namespace

RandomGenerator::RandomGenerator(std::string_view seed, Rijndael::Engine engine)
    : cipher_(keyText(seed), engine), position_(sizeof block_) {
  static_assert(sizeof counter_ == 16 && sizeof block_ == 16);
  VX_ASSERT(cipher_.keySize() + cipher_.blockSize() == kSeedSize, "Entropy of wrong size");
  std::copy_n(seed.data() + 16, 16, reinterpret_cast<char*>(counter_));
}

RandomGenerator::~RandomGenerator() {
  ::explicit_bzero(counter_, sizeof counter_);
  ::explicit_bzero(block_, sizeof block_);
}

void RandomGenerator::generate(size_t n, uint8_t* out) {
  produced_ += n;
  size_t from_block = std::min(n, sizeof block_ - position_);
  std::copy_n(block_ + position_, from_block, out);
  position_ += from_block;
  out += from_block;
  n -= from_block;
  // Whole blocks are made in the caller's buffer; only a partial last block is kept.
  if (size_t whole = n / 16; whole != 0) {
    cipher_.encryptCounters(counter_, out, whole);
    out += 16 * whole;
    n -= 16 * whole;
  }
  if (n != 0) {
    cipher_.encryptCounters(counter_, block_, 1);
    std::copy_n(block_, n, out);
    position_ = n;
  }
}

}  // namespace security
