// A block cipher behind an abstract interface, so that the random generator does not depend on
// which cipher or which implementation of it runs underneath.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace security {

class BlockCipher {
 public:
  virtual ~BlockCipher() = default;
  virtual size_t keySize() const = 0;
  virtual size_t blockSize() const = 0;
  // The key as hexadecimal text.
  virtual void setKey(const std::string& key_text) = 0;
  // One block of blockSize() bytes, transformed in place.
  virtual void encrypt(uint8_t* block) = 0;
  virtual void decrypt(uint8_t* block) = 0;
};

}  // namespace security
