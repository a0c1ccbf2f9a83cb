#include "security/entropy_pool.h"

#include <gtest/gtest.h>

#include "security/random_generator.h"
#include "security_test_support.h"

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
  EXPECT_EQ(pool.take(3), countingBytes(3, 37));
  EXPECT_EQ(pool.take(0), "");
  EXPECT_EQ(pool.bytes(), countingBytes(37));
  EXPECT_DEATH(pool.take(38), "Assertion failed: Not enough entropy");
}

// 256 credited samples make one digest: the MD5 of the samples' little-endian bytes.
TEST(EntropyPool, DigestAfterSixteenSamplesPerByteAndOnlyWithRoom) {
  EntropyPool pool;
  Md5 expected;
  for (uint32_t i = 0; i < 256; ++i) {
    EXPECT_EQ(pool.available(), 0u);
    pool.feed(i * 1000, 1);
    uint32_t le = i * 1000;  // the host is little-endian
    expected.update(4, &le);
  }
  uint8_t digest[16];
  expected.final(digest);
  EXPECT_EQ(pool.bytes(), std::string(reinterpret_cast<char*>(digest), 16));
  EXPECT_EQ(pool.count(), 0u);

  // A full pool keeps counting; the digest comes as soon as there is room again.
  EntropyPool full;
  full.restore(savedPool(std::string(EntropyPool::kMaxBytes, 'x'), 300));
  full.feed(1, 1);
  EXPECT_EQ(full.count(), 301u);
  full.take(1);
  full.collect();
  EXPECT_EQ(full.available(), EntropyPool::kMaxBytes - 1 + 16);
  EXPECT_EQ(full.count(), 0u);
}

TEST(EntropyPool, StretchedTakeMakesOneDigestPerFourReadings) {
  vxtest::FakeClock clock;
  EntropyPool pool;
  pool.restore(savedPool(countingBytes(5)));
  EXPECT_EQ(pool.stretchedTake(32, clock.fn()).size(), 32u);
  EXPECT_EQ(clock.readings, 8);  // two digests on top of the 5 bytes
  EXPECT_EQ(pool.bytes(), countingBytes(5));
}

TEST(EntropyPool, SaveRestoreRoundTrip) {
  EntropyPool pool;
  for (uint32_t i = 0; i < 600; ++i)
    pool.feed(i * 7919, 1);  // two digests and 88 credits
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

TEST(EntropyPool, RestoreEdgeForms) {
  EntropyPool pool;
  pool.restore("0a0b0:3:" + Md5().stateText());  // an odd last digit is ignored
  EXPECT_EQ(pool.bytes(), "\x0a\x0b");
  EXPECT_EQ(pool.count(), 3u);
  // An empty pool field empties the pool and reads nothing else.
  const std::string state = pool.save().substr(4);
  for (const char* text : {"::", "a:5:x", ":junk:junk"}) {
    pool.restore(text);
    EXPECT_EQ(pool.save(), state) << text;
  }
}

TEST(EntropyPool, MalformedSavedTextChangesNothing) {
  const std::string state = Md5().stateText();
  const std::pair<std::string, const char*> bad[] = {
      {"", "Malformed entropy"},
      {"0a0b:1", "Malformed entropy"},
      {"0a0b:1:" + state + ":", "Malformed entropy"},
      {"0a0x:1:" + state, "Malformed entropy: bad pool digits"},
      {std::string(2 * EntropyPool::kMaxBytes + 2, 'a') + ":1:" + state,
       "Malformed entropy: pool too large"},
      {"0a0b:one:" + state, "Cannot parse unsigned int: \"one\""},
      {"0a0b:1:" + state.substr(1), "Malformed md5 state"},
  };
  EntropyPool pool;
  pool.restore(savedPool(countingBytes(3), 9));
  const std::string before = pool.save();
  for (const auto& [text, message] : bad) {
    vxtest::expectParseError([&] { pool.restore(text); }, message);
    EXPECT_EQ(pool.save(), before);
  }
}

TEST(TimingCollector, CreditsOnlyIntervalsWellAboveTheShortest) {
  EntropyPool pool;
  TimingCollector tc;
  const std::string fresh = pool.save();
  TimeValue t(1700000000, 250);
  tc.sample(pool, t);
  EXPECT_EQ(pool.count(), 0u);  // the first reading is mixed in without credit
  EXPECT_NE(pool.save(), fresh);

  // Each step: interval in µs, then the count expected after it.
  const std::pair<int32_t, uint32_t> steps[] = {
      {1000, 0},                       // the new shortest, below three times itself
      {2999, 0}, {3000, 1}, {500, 1},  // a new shortest raises the bar for the next ones
      {1400, 1}, {1500, 2},
  };
  for (const auto& [usec, count] : steps) {
    t = t + TimeValue::make(0, usec);
    tc.sample(pool, t);
    EXPECT_EQ(pool.count(), count) << usec;
  }
  EXPECT_EQ(tc.min_interval(), TimeValue(0, 500));
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
  // Regular steps of the old size still earn nothing: the filter was not disabled.
  tc.sample(pool, t - TimeValue(5, 0) + TimeValue(0, 10));
  EXPECT_EQ(pool.count(), 0u);
}

// Key 00..0f and counter ff..ff fe: the stream is E(ff..fe), E(ff..ff), E(0), E(1), with the
// counter counted little-endian and wrapping at the top, whatever the request sizes.
TEST(RandomGenerator, CounterModeStreamFromTheSeed) {
  std::string seed = countingBytes(16) + std::string(16, '\xff');
  seed[16] = '\xfe';
  vxtest::Bytes expected(64);
  std::copy_n(seed.data() + 16, 16, expected.begin());
  std::fill_n(expected.begin() + 16, 16, 0xff);
  expected[48] = 1;
  security::Rijndael aes("000102030405060708090a0b0c0d0e0f");
  for (int i = 0; i < 4; ++i)
    aes.encrypt(expected.data() + 16 * i);

  for (const auto& sizes : {std::vector<size_t>{64}, {0, 1, 15, 16, 17, 3, 12}, {20, 44}}) {
    RandomGenerator gen(seed);
    vxtest::Bytes out(64);
    size_t done = 0;
    for (size_t n : sizes)
      gen.generate(n, out.data() + done), done += n;
    EXPECT_EQ(out, expected) << sizes.size();
    EXPECT_EQ(gen.produced(), 64u);
  }
  EXPECT_DEATH(RandomGenerator(countingBytes(31)), "Assertion failed: Entropy of wrong size");
}

}  // namespace
