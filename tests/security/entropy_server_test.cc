#include "security/entropy_server.h"

#include <gtest/gtest.h>

#include "security_test_support.h"

namespace {

using security::EntropyServer;
using security::toHex;
using vxtest::countingBytes;
using vxtest::savedPool;
using Lines = std::vector<std::string>;

class EntropyServerTest : public ::testing::Test {
 protected:
  vxtest::FakeClock clock;
  vxtest::RecordingReplies sink;
  Lines log;
  EntropyServer server{sink, clock.fn(), [this](const std::string& line) { log.push_back(line); }};

  // Service steps of which every one is credited: a first 1 µs interval sets the shortest
  // interval, and the later ones are well above three times it.
  void runCreditedSteps(int steps) {
    if (server.collector().last() == TimeValue(0, 0)) server.service();
    if (server.collector().min_interval() != TimeValue(0, 1)) {
      clock.advance(1);
      server.service();
    }
    for (int i = 0; i < steps; ++i) {
      clock.advance(10 + i % 7);
      server.service();
    }
  }

  // What a generator seeded with `seed` gives first, in hex.
  static std::string stream(const std::string& seed, size_t n) {
    security::RandomGenerator gen(seed);
    std::string out(n, '\0');
    gen.generate(n, reinterpret_cast<uint8_t*>(out.data()));
    return toHex(out);
  }
};

TEST_F(EntropyServerTest, RequestsWaitForTheServiceStep) {
  server.service();
  EXPECT_FALSE(server.seeded());  // nothing asked, nothing in the pool: no seeding
  server.enqueue_pseudo_random({3, 41}, 0, false);
  server.enqueue_pure_entropy({4, 42}, 0);
  EXPECT_TRUE(sink.replies.empty());
  server.service();
  // 0-byte requests get empty strings, with the request's queue and inresponse.
  EXPECT_EQ(sink.replies, (Lines{"pseudo 3:41 ", "pure 4:42 "}));
  EXPECT_EQ(server.waitingPseudoRandom() + server.waitingPureEntropy(), 0u);
}

TEST_F(EntropyServerTest, StretchedSeedThenReseedFromRealEntropy) {
  server.enqueue_pseudo_random({2, 1}, 8, false);
  server.service();
  EXPECT_EQ(log, Lines{"Seeding random number generator with stretched entropy"});
  EXPECT_TRUE(server.weak_seed());
  EXPECT_EQ(sink.replies.at(0).size(), std::string("pseudo 2:1 ").size() + 16);

  // 511 credited samples: one real digest, and the next credit brings the second one. The
  // step that completes 32 real bytes replaces the weak seed with them.
  runCreditedSteps(511);
  EXPECT_EQ(log.size(), 1u);
  ASSERT_EQ(server.pool().available(), 16u);
  security::EntropyPool expected;
  expected.restore(server.save());
  expected.feed(20, 1);
  const std::string real_seed = expected.bytes();
  clock.advance(20);
  server.service();
  EXPECT_EQ(log.at(1), "Re-seeding random number generator");
  EXPECT_FALSE(server.weak_seed());
  EXPECT_EQ(server.pool().available(), 0u);

  server.enqueue_pseudo_random({2, 2}, 40, false);
  server.service();
  EXPECT_EQ(sink.replies.back(), "pseudo 2:2 " + stream(real_seed, 40));
}

TEST_F(EntropyServerTest, SeedsFromThePoolAndReseedsAfterTheOutputLimit) {
  server.restore(savedPool(countingBytes(70)));
  server.service();
  EXPECT_EQ(log, Lines{"Seeding random number generator"});
  EXPECT_EQ(server.pool().bytes(), countingBytes(38));
  server.enqueue_pseudo_random({5, 9}, 33, false);
  server.service();
  EXPECT_EQ(sink.replies.at(0), "pseudo 5:9 " + stream(countingBytes(32, 38), 33));

  server.enqueue_pseudo_random({1, 1}, EntropyServer::kMaxPseudoRandomRequest - 34, false);
  server.service();
  EXPECT_EQ(log.size(), 1u);  // one byte short of the limit
  server.enqueue_pseudo_random({1, 2}, 1, false);
  server.service();
  server.service();
  EXPECT_EQ(log, (Lines{"Seeding random number generator", "Re-seeding random number generator"}));
  EXPECT_EQ(server.pool().bytes(), countingBytes(6));
}

TEST_F(EntropyServerTest, PureEntropyRequestBlocksTheOnesBehindIt) {
  server.restore(savedPool(countingBytes(20)));
  server.enqueue_pure_entropy({1, 1}, 8);
  server.enqueue_pure_entropy({2, 2}, 24);
  server.enqueue_pure_entropy({3, 3}, 1);
  server.service();
  EXPECT_EQ(sink.replies, Lines{"pure 1:1 " + toHex(countingBytes(8, 12))});
  EXPECT_EQ(server.waitingPureEntropy(), 2u);  // 24 > 12 left, and the 1-byte one waits too

  server.restore(savedPool(countingBytes(30)));
  server.service();
  EXPECT_EQ(sink.replies, (Lines{"pure 1:1 " + toHex(countingBytes(8, 12)),
                                 "pure 2:2 " + toHex(countingBytes(24, 6)),
                                 "pure 3:3 " + toHex(countingBytes(1, 5))}));
}

TEST_F(EntropyServerTest, PreferPureEntropyTakesPoolBytesFirst) {
  server.restore(savedPool(countingBytes(32, 200)));
  server.service();  // the generator exists; then the pool holds 10 bytes
  server.restore(savedPool(countingBytes(10)));
  server.enqueue_pseudo_random({7, 70}, 16, true);
  server.service();
  EXPECT_EQ(sink.replies,
            Lines{"pseudo 7:70 " + toHex(countingBytes(10)) + stream(countingBytes(32, 200), 6)});
  EXPECT_EQ(server.pool().available(), 0u);
}

TEST_F(EntropyServerTest, BadSizesAreRefusedWithoutHoldingUpOthers) {
  server.restore(savedPool(countingBytes(40)));
  server.enqueue_pure_entropy({1, 1}, -1);
  server.enqueue_pure_entropy({2, 2}, security::EntropyPool::kMaxBytes + 1);
  server.enqueue_pure_entropy({3, 3}, 2);
  server.enqueue_pseudo_random({4, 4}, -5, true);
  server.enqueue_pseudo_random({5, 5}, EntropyServer::kMaxPseudoRandomRequest + 1, false);
  server.service();
  EXPECT_EQ(sink.replies, (Lines{"refused 4:4 Request for negative size",
                                 "refused 5:5 Request for too many random bytes",
                                 "refused 1:1 Request for negative size",
                                 "refused 2:2 Request for more entropy than the pool can hold",
                                 "pure 3:3 0607"}));
}

// Requests served in one step take consecutive pieces of one stream.
TEST_F(EntropyServerTest, RequestsInOneStepContinueOneStream) {
  server.restore(savedPool(countingBytes(32, 7)));
  for (int32_t n : {5, 16, 100})
    server.enqueue_pseudo_random({1, 0}, n, false);
  server.service();
  const std::string all = stream(countingBytes(32, 7), 121);
  EXPECT_EQ(sink.replies,
            (Lines{"pseudo 1:0 " + all.substr(0, 10), "pseudo 1:0 " + all.substr(10, 32),
                   "pseudo 1:0 " + all.substr(42)}));
}

TEST_F(EntropyServerTest, SaveRestoreAcrossARestart) {
  runCreditedSteps(300);  // one digest, and credit and hash state towards the next
  ASSERT_EQ(server.pool().available(), 16u);
  EntropyServer next(sink, clock.fn(), [this](const std::string& line) { log.push_back(line); });
  next.restore(server.save());
  EXPECT_EQ(next.save(), server.save());
  EXPECT_EQ(next.pool().count(), server.pool().count());

  next.restore("not:entropy");
  next.restore("00:1:short");
  EXPECT_EQ(log, (Lines{"Ignoring the stored entropy: Malformed entropy",
                        "Ignoring the stored entropy: Malformed md5 state"}));
  EXPECT_EQ(next.save(), server.save());
}

}  // namespace
