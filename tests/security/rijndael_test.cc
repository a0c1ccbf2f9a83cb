#include "security/rijndael.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "security_test_support.h"

namespace {

using security::Rijndael;
using vxtest::bytesOf;
using vxtest::hexOf;

class RijndaelEngines : public ::testing::TestWithParam<Rijndael::Engine> {
 protected:
  void SetUp() override {
    if (GetParam() == Rijndael::Engine::Hardware && !Rijndael::hardwareAvailable()) {
      GTEST_SKIP() << "no AES instructions on this processor";
    }
  }
};

// FIPS 197 appendices B and C.1, and the all-zero key (AESAVS known-answer vectors), whose key
// texts "0" and "" are padded to 32 digits. The 31-digit text is the C.1 key without its
// leading zero.
const char* const kKnownAnswers[][3] = {
    {"2b7e151628aed2a6abf7158809cf4f3c", "3243f6a8885a308d313198a2e0370734",
     "3925841d02dc09fbdc118597196a0b32"},
    {"000102030405060708090a0b0c0d0e0f", "00112233445566778899aabbccddeeff",
     "69c4e0d86a7b0430d8cdb78070b4c55a"},
    {"00102030405060708090A0B0C0D0E0F", "00112233445566778899aabbccddeeff",
     "69c4e0d86a7b0430d8cdb78070b4c55a"},
    {"0", "00000000000000000000000000000000", "66e94bd4ef8a2c3b884cfa59ca342b2e"},
    {"0", "f34481ec3cc627bacd5dc3fb08f273e6", "0336763e966d92595a567cc9ce537f5e"},
    {"", "9798c4640bad75c7c3227db910174e72", "a9a1631bf4996954ebc093957b234589"},
};

TEST_P(RijndaelEngines, KnownAnswersBothWays) {
  for (const auto& [key, plain, cipher] : kKnownAnswers) {
    Rijndael aes(key, GetParam());
    EXPECT_EQ(aes.engine(), GetParam());
    vxtest::Bytes block = bytesOf(plain);
    aes.encrypt(block.data());
    EXPECT_EQ(hexOf(block), cipher) << key;
    aes.decrypt(block.data());
    EXPECT_EQ(hexOf(block), plain) << key;
  }
}

// Random keys and blocks against OpenSSL in both directions.
TEST_P(RijndaelEngines, AgreesWithOpenSslOnRandomKeys) {
  std::mt19937_64 rng(20240601);
  for (int i = 0; i < 500; ++i) {
    vxtest::Bytes key = vxtest::randomBytes(rng, 16);
    vxtest::Bytes block = vxtest::randomBytes(rng, 16);
    Rijndael aes(hexOf(key), GetParam());
    vxtest::Bytes ours = block;
    aes.encrypt(ours.data());
    ASSERT_EQ(ours, vxtest::opensslAes(key, block, true)) << "key " << hexOf(key);
    ours = block;
    aes.decrypt(ours.data());
    ASSERT_EQ(ours, vxtest::opensslAes(key, block, false)) << "key " << hexOf(key);
  }
}

// Counter mode against one block at a time, for counts around the hardware engine's 8-block
// stride and for carries out of the low 64 bits and out of the top that fall inside a stride.
TEST_P(RijndaelEngines, CountersAgreeWithSingleBlocks) {
  Rijndael aes("000102030405060708090a0b0c0d0e0f", GetParam());
  const uint64_t kAll = ~uint64_t{0};
  const std::pair<uint64_t, uint64_t> starts[] = {
      {0, 0}, {kAll - 2, 5}, {kAll - 11, kAll}, {0x0123456789abcdef, 0xfedcba9876543210}};
  for (const auto& [lo, hi] : starts) {
    for (size_t count : {0u, 1u, 7u, 8u, 9u, 16u, 19u}) {
      vxtest::Bytes expected(16 * count);
      uint64_t l = lo, h = hi;
      for (size_t i = 0; i < count; ++i) {
        std::memcpy(&expected[16 * i], &l, 8);
        std::memcpy(&expected[16 * i + 8], &h, 8);
        aes.encrypt(&expected[16 * i]);
        if (++l == 0) ++h;
      }
      uint8_t counter[16];
      std::memcpy(counter, &lo, 8);
      std::memcpy(counter + 8, &hi, 8);
      vxtest::Bytes out(16 * count);
      aes.encryptCounters(counter, out.data(), count);
      EXPECT_EQ(out, expected) << count << " from " << lo;
      uint64_t left_lo, left_hi;
      std::memcpy(&left_lo, counter, 8);
      std::memcpy(&left_hi, counter + 8, 8);
      EXPECT_EQ(left_lo, l);
      EXPECT_EQ(left_hi, h);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Engines, RijndaelEngines,
                         ::testing::Values(Rijndael::Engine::Portable, Rijndael::Engine::Hardware),
                         [](const auto& info) {
                           return info.param == Rijndael::Engine::Portable ? "Portable"
                                                                           : "Hardware";
                         });

TEST(Rijndael, AutomaticPrefersTheProcessorsInstructions) {
  Rijndael aes("0");
  EXPECT_EQ(aes.engine(), Rijndael::hardwareAvailable() ? Rijndael::Engine::Hardware
                                                        : Rijndael::Engine::Portable);
  EXPECT_EQ(aes.keySize() + aes.blockSize(), 32u);
}

TEST(RijndaelDeathTest, KeyMisuseAborts) {
  EXPECT_DEATH(Rijndael(std::string(33, '0')), "Assertion failed: Too long key used for Rijndael");
  EXPECT_DEATH(Rijndael("0g"), "Assertion failed: Malformed key used for Rijndael");
  EXPECT_DEATH(Rijndael("0").setKey("1"), "Assertion failed: Cannot alter Rijndael key on the fly");
}

}  // namespace
