#include "security/rijndael.h"

#include <string.h>

#include "error/assert.h"
#include "security/hex.h"

namespace security {

Rijndael::Rijndael(const std::string& key_text, Engine engine) {
  VX_ASSERT(key_text.size() <= 32, "Too long key used for Rijndael");
  std::string padded = std::string(32 - key_text.size(), '0') + key_text;
  uint8_t key[16];
  VX_ASSERT(fromHex(padded, key, sizeof key), "Malformed key used for Rijndael");
  aes::expandKey(key, enc_keys_, dec_keys_);
  ::explicit_bzero(key, sizeof key);
  ::explicit_bzero(padded.data(), padded.size());

  if (engine == Engine::Automatic) {
    engine = aes::hardwareAvailable() ? Engine::Hardware : Engine::Portable;
  }
  VX_ASSERT(engine != Engine::Hardware || aes::hardwareAvailable(),
            "No AES instructions on this processor");
  engine_ = engine;
  if (engine == Engine::Hardware) {
    encrypt_ = aes::encryptHardware;
    decrypt_ = aes::decryptHardware;
    encrypt_counters_ = aes::encryptCountersHardware;
  } else {
    encrypt_ = aes::encryptPortable;
    decrypt_ = aes::decryptPortable;
    encrypt_counters_ = aes::encryptCountersPortable;
  }
}

Rijndael::~Rijndael() {
  ::explicit_bzero(enc_keys_, sizeof enc_keys_);
  ::explicit_bzero(dec_keys_, sizeof dec_keys_);
}

void Rijndael::setKey(const std::string&) {
  VX_ASSERT(false, "Cannot alter Rijndael key on the fly");
}

}  // namespace security
