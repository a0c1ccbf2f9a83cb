#include "security/entropy_pool.h"

#include <gtest/gtest.h>

#include <cstring>

#include "entropy_test_support.h"
#include "error/exception.h"
#include "security/random_generator.h"

namespace {

using security::EntropyPool;
using security::Md5;
using security::RandomGenerator;
using security::TimingCollector;
using vxtest::countingBytes;
using vxtest::savedPool;

TEST(EntropyPool, TakeServesTheEndOfThePoolInStoredOrder) {
  EntropyPool pool;
  pool.restore(savedPool(countingBytes(40)));
  ASSERT_EQ(pool.available(), 40u);
  EXPECT_EQ(pool.take(3), countingBytes(3, 37));
  EXPECT_EQ(pool.take(0), "");
  EXPECT_EQ(pool.bytes(), countingBytes(37));
}

TEST(EntropyPoolDeathTest, TakingMoreThanAvailableAborts) {
  EntropyPool pool;
  pool.restore(savedPool(countingBytes(4)));
  EXPECT_DEATH(pool.take(5), "Assertion failed: Not enough entropy");
}

// 256 credited samples make one digest: the MD5 of the samples' little-endian bytes.
TEST(EntropyPool, DigestAfterSixteenSamplesPerByteAndOnlyWithRoom) {
  EntropyPool pool;
  Md5 expected;
  for (uint32_t i = 0; i < 255; ++i) {
    pool.feed(i * 1000, 1);
    uint8_t le[4] = {static_cast<uint8_t>(i * 1000), static_cast<uint8_t>(i * 1000 >> 8),
                     static_cast<uint8_t>(i * 1000 >> 16), 0};
    expected.update(4, le);
  }
  EXPECT_EQ(pool.available(), 0u);
  EXPECT_EQ(pool.count(), 255u);
  pool.feed(7, 1);
  expected.update(4, "\x07\0\0\0");
  uint8_t digest[16];
  expected.final(digest);
  EXPECT_EQ(pool.bytes(), std::string(reinterpret_cast<char*>(digest), 16));
  EXPECT_EQ(pool.count(), 0u);

  // A full pool keeps counting; the digest comes as soon as there is room again.
  EntropyPool full;
  full.restore(savedPool(std::string(EntropyPool::kMaxBytes, 'x'), 300));
  full.feed(1, 1);
  EXPECT_EQ(full.count(), 301u);
  EXPECT_EQ(full.available(), EntropyPool::kMaxBytes);
  full.take(1);
  full.collect();
  EXPECT_EQ(full.available(), EntropyPool::kMaxBytes - 1 + 16);
  EXPECT_EQ(full.count(), 0u);
}

TEST(EntropyPool, StretchedTakeMakesOneDigestPerFourReadings) {
  vxtest::FakeClock clock;
  EntropyPool pool;
  pool.restore(savedPool(countingBytes(5)));
  std::string seed = pool.stretchedTake(32, clock.fn());
  EXPECT_EQ(clock.readings, 8);  // two digests on top of the 5 bytes
  EXPECT_EQ(seed.size(), 32u);
  EXPECT_EQ(pool.available(), 5u + 32u - 32u);
  EXPECT_EQ(pool.bytes(), countingBytes(5));
}

TEST(EntropyPool, SaveRestoreRoundTrip) {
  EntropyPool pool;
  for (uint32_t i = 0; i < 600; ++i)
    pool.feed(i * 7919, 1);  // two digests and 88 credits
  ASSERT_EQ(pool.available(), 32u);
  std::string saved = pool.save();
  EXPECT_EQ(saved.substr(64, 4), ":88:");
  EXPECT_EQ(saved.size(), 64u + 4u + Md5::kStateTextSize);

  EntropyPool copy;
  copy.restore(saved);
  EXPECT_EQ(copy.save(), saved);
  // The restored hash continues where the saved one stood.
  for (uint32_t i = 0; i < 168; ++i) {
    pool.feed(i, 1);
    copy.feed(i, 1);
  }
  EXPECT_EQ(copy.available(), 48u);
  EXPECT_EQ(copy.bytes(), pool.bytes());
}

TEST(EntropyPool, RestoreOfAnEmptyPoolKeepsCountAndHash) {
  EntropyPool pool;
  pool.restore(savedPool(countingBytes(20), 17));
  const std::string state = pool.save().substr(pool.save().rfind(':'));
  for (const char* text : {"::", "a:5:x", ":junk:junk"}) {
    pool.restore(text);
    EXPECT_EQ(pool.available(), 0u) << text;
    EXPECT_EQ(pool.count(), 17u) << text;
  }
  EXPECT_EQ(pool.save(), ":17" + state);
}

TEST(EntropyPool, OddLastDigitIsIgnored) {
  EntropyPool pool;
  pool.restore("0a0b0:3:" + Md5().stateText());
  EXPECT_EQ(pool.bytes(), "\x0a\x0b");
  EXPECT_EQ(pool.count(), 3u);
}

TEST(EntropyPool, MalformedSavedTextChangesNothing) {
  const std::string state = Md5().stateText();
  const std::string bad[] = {
      "",
      "0a0b:1",
      "0a0b:1:" + state + ":",
      "0a0x:1:" + state,
      "0a0b:one:" + state,
      "0a0b:1:" + state.substr(1),
      std::string(2 * EntropyPool::kMaxBytes + 2, 'a') + ":1:" + state,
  };
  EntropyPool pool;
  pool.restore(savedPool(countingBytes(3), 9));
  const std::string before = pool.save();
  for (const std::string& text : bad) {
    EXPECT_THROW(pool.restore(text), error::EParseError) << text.substr(0, 40);
    EXPECT_EQ(pool.save(), before);
  }
}

TEST(TimingCollector, CreditsOnlyIntervalsWellAboveTheShortest) {
  EntropyPool pool;
  TimingCollector tc;
  const std::string fresh = pool.save();
  TimeValue t(1700000000, 250);
  tc.sample(pool, t);
  // The first reading is mixed in without credit.
  EXPECT_EQ(pool.count(), 0u);
  EXPECT_NE(pool.save(), fresh);
  EXPECT_EQ(tc.last(), t);

  auto step = [&](int32_t usec) {
    t = t + TimeValue::make(0, usec);
    tc.sample(pool, t);
  };
  step(1000);  // becomes the shortest, and is below three times itself
  EXPECT_EQ(pool.count(), 0u);
  EXPECT_EQ(tc.min_interval(), TimeValue(0, 1000));
  step(2999);
  EXPECT_EQ(pool.count(), 0u);
  step(3000);
  EXPECT_EQ(pool.count(), 1u);
  step(500);  // a new shortest raises the bar for the next ones
  step(1400);
  EXPECT_EQ(pool.count(), 1u);
  step(1500);
  EXPECT_EQ(pool.count(), 2u);
}

TEST(TimingCollector, ClockStandingStillOrGoingBackIsNoEntropy) {
  EntropyPool pool;
  TimingCollector tc;
  TimeValue t(1700000000, 0);
  tc.sample(pool, t);
  tc.sample(pool, t + TimeValue(0, 10));
  const std::string before = pool.save();
  tc.sample(pool, t + TimeValue(0, 10));
  tc.sample(pool, t - TimeValue(5, 0));
  EXPECT_EQ(pool.save(), before);
  EXPECT_EQ(tc.min_interval(), TimeValue(0, 10));
  EXPECT_EQ(tc.last(), t - TimeValue(5, 0));
  // Regular steps of the old size still earn nothing; the filter was not disabled.
  tc.sample(pool, t - TimeValue(5, 0) + TimeValue(0, 10));
  EXPECT_EQ(pool.count(), 0u);
}

TEST(RandomGenerator, CounterModeStreamFromTheSeed) {
  // Key 00..0f and counter ff..ff fe: the stream is E(ff..fe), E(ff..ff), E(0), E(1) with the
  // counter counted little-endian and wrapping at the top.
  std::string seed = countingBytes(16) + std::string(16, '\xff');
  seed[16] = '\xfe';
  RandomGenerator gen(seed);
  uint8_t out[64];
  gen.generate(sizeof out, out);
  EXPECT_EQ(gen.produced(), 64u);

  security::Rijndael aes("000102030405060708090a0b0c0d0e0f");
  uint8_t expected[64] = {};
  std::memcpy(expected, seed.data() + 16, 16);
  std::memset(expected + 16, 0xff, 16);
  expected[48] = 1;
  for (int i = 0; i < 4; ++i)
    aes.encrypt(expected + 16 * i);
  EXPECT_EQ(security::toHex(out, 64), security::toHex(expected, 64));
}

TEST(RandomGenerator, SameSeedSameStreamWhateverTheRequestSizes) {
  const std::string seed = countingBytes(32, 100);
  RandomGenerator whole(seed), pieces(seed);
  uint8_t a[300], b[300];
  whole.generate(sizeof a, a);
  size_t done = 0;
  for (size_t n : {0u, 1u, 15u, 16u, 17u, 3u, 32u, 200u}) {
    pieces.generate(n, b + done);
    done += n;
  }
  pieces.generate(sizeof b - done, b + done);
  EXPECT_EQ(security::toHex(a, sizeof a), security::toHex(b, sizeof b));
  EXPECT_EQ(pieces.produced(), 300u);

  RandomGenerator other(countingBytes(32, 101));
  other.generate(16, b);
  EXPECT_NE(security::toHex(a, 16), security::toHex(b, 16));
}

TEST(RandomGeneratorDeathTest, SeedOfWrongSizeAborts) {
  EXPECT_DEATH(RandomGenerator(countingBytes(31)), "Assertion failed: Entropy of wrong size");
}

}  // namespace
