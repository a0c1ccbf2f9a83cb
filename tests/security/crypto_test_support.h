// Shared helpers of the cipher and digest tests: hex conversion and OpenSSL as the reference.
#pragma once

#include <openssl/evp.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "security/hex.h"

namespace vxtest {

inline std::vector<uint8_t> bytesOf(const std::string& hex) {
  std::vector<uint8_t> out(hex.size() / 2);
  if (!security::fromHex(hex, out.data(), out.size())) out.clear();
  return out;
}

inline std::string hexOf(const uint8_t* data, size_t size) {
  return security::toHex(data, size);
}

inline std::vector<uint8_t> randomBytes(std::mt19937_64& rng, size_t n) {
  std::vector<uint8_t> out(n);
  for (auto& b : out)
    b = static_cast<uint8_t>(rng());
  return out;
}

// One block through OpenSSL's AES-128-ECB.
inline std::vector<uint8_t> opensslAes(const std::vector<uint8_t>& key,
                                       const std::vector<uint8_t>& block, bool encrypt) {
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  EVP_CipherInit_ex(ctx, EVP_aes_128_ecb(), nullptr, key.data(), nullptr, encrypt ? 1 : 0);
  EVP_CIPHER_CTX_set_padding(ctx, 0);
  std::vector<uint8_t> out(32);
  int len = 0;
  EVP_CipherUpdate(ctx, out.data(), &len, block.data(), static_cast<int>(block.size()));
  EVP_CIPHER_CTX_free(ctx);
  out.resize(static_cast<size_t>(len));
  return out;
}

inline std::vector<uint8_t> opensslMd5(const std::vector<uint8_t>& data) {
  std::vector<uint8_t> out(EVP_MAX_MD_SIZE);
  unsigned int len = 0;
  EVP_Digest(data.data(), data.size(), out.data(), &len, EVP_md5(), nullptr);
  out.resize(len);
  return out;
}

}  // namespace vxtest
