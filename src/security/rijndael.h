// AES-128 on single 16-byte blocks (ECB). The key is fixed for the object's life; the
// processor's AES instructions are used where they exist, a table-driven engine elsewhere.
#pragma once

#include <string>

#include "security/aes_engines.h"
#include "security/block_cipher.h"

namespace security {

class Rijndael final : public BlockCipher {
 public:
  enum class Engine { Automatic, Portable, Hardware };

  // key_text: the 16-byte key as hexadecimal digits (either case), high nibble first. A
  // shorter text is padded on the left with "0"; more than 32 digits or a non-digit is an
  // assertion, since keys are made by this process. Engine::Hardware on a processor without
  // the AES instructions is an assertion as well.
  explicit Rijndael(const std::string& key_text, Engine engine = Engine::Automatic);
  // Wipes the expanded keys, which would give the generator's key away.
  ~Rijndael() override;
  Rijndael(const Rijndael&) = delete;
  Rijndael& operator=(const Rijndael&) = delete;

  size_t keySize() const override { return 16; }
  size_t blockSize() const override { return 16; }
  // Always an assertion: a key is fixed for the object's life.
  void setKey(const std::string& key_text) override;
  void encrypt(uint8_t* block) override { encrypt_(enc_keys_, block); }
  void decrypt(uint8_t* block) override { decrypt_(dec_keys_, block); }
  // Counter mode: the encryptions of `count` successive counters into out (16 bytes each).
  // The counter is the 16 bytes at `counter`, read as a 128-bit little-endian number that
  // wraps at the top; it is left past the last one used. Faster than one call per block
  // where the engine can overlap the blocks.
  void encryptCounters(uint8_t* counter, uint8_t* out, size_t count) {
    encrypt_counters_(enc_keys_, counter, out, count);
  }

  Engine engine() const { return engine_; }
  static bool hardwareAvailable() { return aes::hardwareAvailable(); }

 private:
  using Transform = void (*)(const uint8_t*, uint8_t*);
  using CounterTransform = void (*)(const uint8_t*, uint8_t*, uint8_t*, size_t);

  alignas(16) uint8_t enc_keys_[aes::kExpandedSize];
  alignas(16) uint8_t dec_keys_[aes::kExpandedSize];
  Engine engine_;
  Transform encrypt_;
  Transform decrypt_;
  CounterTransform encrypt_counters_;
};

}  // namespace security
