// Shared helpers of the security tests: OpenSSL as the reference for the cipher and the
// digest, and for the entropy server a clock the test moves and a sink that records replies.
#pragma once

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <random>
#include <string>
#include <vector>

#include "error/exception.h"
#include "security/entropy_server.h"
#include "security/hex.h"
#include "security/md5.h"

namespace vxtest {

using Bytes = std::vector<uint8_t>;

inline Bytes bytesOf(const std::string& hex) {
  Bytes out(hex.size() / 2);
  if (!security::fromHex(hex, out.data(), out.size())) out.clear();
  return out;
}

inline std::string hexOf(const Bytes& b) {
  return security::toHex(b.data(), b.size());
}

inline Bytes randomBytes(std::mt19937_64& rng, size_t n) {
  Bytes out(n);
  for (auto& b : out)
    b = static_cast<uint8_t>(rng());
  return out;
}

// One block through OpenSSL's AES-128-ECB.
inline Bytes opensslAes(const Bytes& key, const Bytes& block, bool encrypt) {
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  EVP_CipherInit_ex(ctx, EVP_aes_128_ecb(), nullptr, key.data(), nullptr, encrypt ? 1 : 0);
  EVP_CIPHER_CTX_set_padding(ctx, 0);
  Bytes out(32);
  int len = 0;
  EVP_CipherUpdate(ctx, out.data(), &len, block.data(), static_cast<int>(block.size()));
  EVP_CIPHER_CTX_free(ctx);
  out.resize(static_cast<size_t>(len));
  return out;
}

inline Bytes opensslMd5(const Bytes& data) {
  Bytes out(EVP_MAX_MD_SIZE);
  unsigned int len = 0;
  EVP_Digest(data.data(), data.size(), out.data(), &len, EVP_md5(), nullptr);
  out.resize(len);
  return out;
}

// Runs f, which must throw error::EParseError with exactly `message`.
template <typename F>
void expectParseError(F f, const std::string& message) {
  try {
    f();
    ADD_FAILURE() << "no error, expected " << message;
  } catch (const error::EParseError& e) {
    EXPECT_EQ(e.message(), message);
  }
}

struct FakeClock {
  TimeValue now{1700000000, 0};
  int readings = 0;
  void advance(int32_t usec) { now = now + TimeValue::make(0, usec); }
  security::EntropyServer::Clock fn() {
    return [this] {
      ++readings;
      return now;
    };
  }
};

// Each reply as "<kind> <queue>:<inresponse> <bytes in hex, or the refusal>".
struct RecordingReplies : security::EntropyReplies {
  std::vector<std::string> replies;
  void pureEntropy(const security::Requester& to, std::string bytes) override {
    add("pure", to, security::toHex(bytes));
  }
  void pseudoRandom(const security::Requester& to, std::string bytes) override {
    add("pseudo", to, security::toHex(bytes));
  }
  void refuse(const security::Requester& to, const std::string& message) override {
    add("refused", to, message);
  }
  void add(const char* kind, const security::Requester& to, const std::string& what) {
    replies.push_back(std::string(kind) + " " + std::to_string(to.queue) + ":" +
                      std::to_string(to.inresponse) + " " + what);
  }
};

// A saved pool text holding `bytes` and a fresh hash, for starting a pool with known bytes.
inline std::string savedPool(const std::string& bytes, uint32_t count = 0) {
  return security::toHex(bytes) + ":" + std::to_string(count) + ":" + security::Md5().stateText();
}

// n bytes start, start + 1, ...
inline std::string countingBytes(size_t n, int start = 0) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i)
    s[i] = static_cast<char>(start + i);
  return s;
}

}  // namespace vxtest
