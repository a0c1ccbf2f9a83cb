// MD5 (RFC 1321). The running state can be written out as text and read back, so that an
// unfinished digest (the entropy pool's) survives a restart of the server.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "security/hash.h"

namespace security {

class Md5 final : public Hash {
 public:
  static constexpr size_t kDigestSize = 16;
  // Length of the state text: four state words, the bit length and the 64-byte buffer.
  static constexpr size_t kStateTextSize = 4 * 8 + 16 + 64 * 2;

  Md5() { reset(); }

  void reset() override;
  size_t digestSize() const override { return kDigestSize; }
  void update(size_t length, const void* data) override;
  void update(uint8_t byte) override;
  void final(uint8_t* digest) override;

  // Convenience for a whole message.
  static std::array<uint8_t, kDigestSize> digestOf(const void* data, size_t length);

  // 176 lower-case hexadecimal digits: A, B, C and D as 8-digit numbers, the message length in
  // bits as a 16-digit number, then the 64 buffer bytes.
  std::string stateText() const;
  // Reads a text written by stateText(). The text usually comes from stored server state, so a
  // wrong length or a non-digit raises error::EParseError "Malformed md5 state" and leaves
  // this object unchanged.
  void setStateText(const std::string& text);

 private:
  void compress(const uint8_t* block);

  uint32_t state_[4];
  uint64_t bit_length_;
  uint8_t buffer_[64];
};

// The 16 bytes of a 32-digit digest text (either case). A wrong length or any other character
// raises error::EParseError "Malformed md5 sum".
std::array<uint8_t, Md5::kDigestSize> parseMd5Sum(const std::string& text);

}  // namespace security
