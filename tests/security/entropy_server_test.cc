#include "security/entropy_server.h"

#include <gtest/gtest.h>

#include "entropy_test_support.h"

namespace {

using security::EntropyServer;
using security::RandomGenerator;
using security::Requester;
using vxtest::countingBytes;
using vxtest::Reply;
using vxtest::savedPool;

class EntropyServerTest : public ::testing::Test {
 protected:
  vxtest::FakeClock clock;
  vxtest::RecordingReplies sink;
  std::vector<std::string> log;
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

  std::string generatorOutput(const std::string& seed, size_t n) {
    RandomGenerator gen(seed);
    std::string out(n, '\0');
    gen.generate(n, reinterpret_cast<uint8_t*>(out.data()));
    return out;
  }
};

TEST_F(EntropyServerTest, RequestsAreAnsweredOnlyByTheServiceStep) {
  server.enqueue_pseudo_random({3, 41}, 8, false);
  server.enqueue_pure_entropy({4, 42}, 0);
  EXPECT_TRUE(sink.replies.empty());
  EXPECT_EQ(server.waitingPseudoRandom(), 1u);
  EXPECT_EQ(server.waitingPureEntropy(), 1u);
  server.service();
  ASSERT_EQ(sink.replies.size(), 2u);
  EXPECT_EQ(sink.replies[0].kind, Reply::Pseudo);
  EXPECT_EQ(sink.replies[0].to.queue, 3);
  EXPECT_EQ(sink.replies[0].to.inresponse, 41u);
  EXPECT_EQ(sink.replies[0].bytes.size(), 8u);
  EXPECT_EQ(sink.replies[1].kind, Reply::Pure);
  EXPECT_EQ(sink.replies[1].to.inresponse, 42u);
  EXPECT_EQ(sink.replies[1].bytes, "");
}

TEST_F(EntropyServerTest, NoSeedingWithoutNeed) {
  server.service();
  EXPECT_FALSE(server.seeded());
  EXPECT_TRUE(log.empty());
}

TEST_F(EntropyServerTest, StretchedSeedThenReseedFromRealEntropy) {
  server.enqueue_pseudo_random({2, 1}, 0, false);
  server.service();
  EXPECT_EQ(log,
            std::vector<std::string>{"Seeding random number generator with stretched entropy"});
  EXPECT_TRUE(server.weak_seed());
  ASSERT_EQ(sink.replies.size(), 1u);
  EXPECT_EQ(sink.replies[0].kind, Reply::Pseudo);
  EXPECT_EQ(sink.replies[0].bytes, "");  // a 0-byte request gets an empty string

  // 511 credited samples: one real digest, and the next credit brings the second one. The
  // step that completes 32 real bytes replaces the weak seed with them.
  runCreditedSteps(511);
  EXPECT_EQ(log.size(), 1u);
  ASSERT_EQ(server.pool().available(), 16u);
  security::EntropyPool expected;
  expected.restore(server.save());
  expected.feed(20, 1);
  const std::string real_seed = expected.bytes();
  ASSERT_EQ(real_seed.size(), 32u);
  clock.advance(20);
  server.service();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[1], "Re-seeding random number generator");
  EXPECT_FALSE(server.weak_seed());
  EXPECT_EQ(server.pool().available(), 0u);

  server.enqueue_pseudo_random({2, 2}, 40, false);
  server.service();
  EXPECT_EQ(sink.replies.back().bytes, generatorOutput(real_seed, 40));
}

TEST_F(EntropyServerTest, SeedsFromThePoolWhenItHoldsEnough) {
  server.restore(savedPool(countingBytes(50)));
  server.service();
  EXPECT_EQ(log, std::vector<std::string>{"Seeding random number generator"});
  EXPECT_FALSE(server.weak_seed());
  EXPECT_EQ(server.pool().bytes(), countingBytes(18));

  server.enqueue_pseudo_random({5, 9}, 33, false);
  server.service();
  EXPECT_EQ(sink.replies.at(0).bytes, generatorOutput(countingBytes(32, 18), 33));
}

TEST_F(EntropyServerTest, StrongSeedIsReplacedAfterItsOutputLimit) {
  server.restore(savedPool(countingBytes(64)));
  server.service();
  server.enqueue_pseudo_random({1, 1}, EntropyServer::kMaxPseudoRandomRequest - 1, false);
  server.service();
  EXPECT_EQ(log.size(), 1u);
  server.enqueue_pseudo_random({1, 2}, 1, false);
  server.service();
  EXPECT_EQ(log.size(), 1u);  // the limit is reached by this request, not before it
  server.service();
  EXPECT_EQ(log.back(), "Re-seeding random number generator");
  EXPECT_EQ(server.pool().available(), 0u);
}

TEST_F(EntropyServerTest, PureEntropyRequestBlocksTheOnesBehindIt) {
  server.restore(savedPool(countingBytes(20)));
  server.enqueue_pure_entropy({1, 1}, 8);
  server.enqueue_pure_entropy({2, 2}, 24);
  server.enqueue_pure_entropy({3, 3}, 1);
  server.service();
  ASSERT_EQ(sink.replies.size(), 1u);
  EXPECT_EQ(sink.replies[0].bytes, countingBytes(8, 12));
  EXPECT_EQ(server.waitingPureEntropy(), 2u);  // 24 > 12 left, and the 1-byte one waits too

  server.restore(savedPool(countingBytes(30)));
  server.service();
  ASSERT_EQ(sink.replies.size(), 3u);
  EXPECT_EQ(sink.replies[1].to.queue, 2);
  EXPECT_EQ(sink.replies[1].bytes, countingBytes(24, 6));
  EXPECT_EQ(sink.replies[2].to.queue, 3);
  EXPECT_EQ(sink.replies[2].bytes, countingBytes(1, 5));
}

TEST_F(EntropyServerTest, PreferPureEntropyTakesPoolBytesFirst) {
  // The generator exists already; the pool then holds 10 bytes.
  server.restore(savedPool(countingBytes(32, 200)));
  server.service();
  server.restore(savedPool(countingBytes(10)));
  server.enqueue_pseudo_random({7, 70}, 16, true);
  server.service();
  ASSERT_EQ(sink.replies.size(), 1u);
  const std::string& out = sink.replies[0].bytes;
  EXPECT_EQ(out.substr(0, 10), countingBytes(10));
  EXPECT_EQ(out.substr(10), generatorOutput(countingBytes(32, 200), 6));
  EXPECT_EQ(server.pool().available(), 0u);
}

TEST_F(EntropyServerTest, BadSizesAreRefusedWithoutHoldingUpOthers) {
  server.restore(savedPool(countingBytes(40)));
  server.enqueue_pure_entropy({1, 1}, -1);
  server.enqueue_pure_entropy({2, 2}, security::EntropyPool::kMaxBytes + 1);
  server.enqueue_pure_entropy({3, 3}, 4);
  server.enqueue_pseudo_random({4, 4}, -5, true);
  server.enqueue_pseudo_random({5, 5}, EntropyServer::kMaxPseudoRandomRequest + 1, false);
  server.service();
  ASSERT_EQ(sink.replies.size(), 5u);
  EXPECT_EQ(sink.replies[0].kind, Reply::Refused);
  EXPECT_EQ(sink.replies[0].to.queue, 4);
  EXPECT_EQ(sink.replies[0].bytes, "Request for negative size");
  EXPECT_EQ(sink.replies[1].bytes, "Request for too many random bytes");
  EXPECT_EQ(sink.replies[2].to.queue, 1);
  EXPECT_EQ(sink.replies[2].bytes, "Request for negative size");
  EXPECT_EQ(sink.replies[3].bytes, "Request for more entropy than the pool can hold");
  EXPECT_EQ(sink.replies[4].kind, Reply::Pure);
  EXPECT_EQ(sink.replies[4].bytes.size(), 4u);
  EXPECT_EQ(server.waitingPureEntropy() + server.waitingPseudoRandom(), 0u);
}

TEST_F(EntropyServerTest, SameSeedGivesTheSameStream) {
  vxtest::RecordingReplies other_sink;
  EntropyServer other(other_sink, clock.fn());
  server.restore(savedPool(countingBytes(32, 7)));
  other.restore(savedPool(countingBytes(32, 7)));
  for (int32_t n : {5, 16, 100}) {
    server.enqueue_pseudo_random({1, 0}, n, false);
    other.enqueue_pseudo_random({1, 0}, n, false);
  }
  server.service();
  other.service();
  ASSERT_EQ(sink.replies.size(), 3u);
  for (size_t i = 0; i < 3; ++i)
    EXPECT_EQ(sink.replies[i].bytes, other_sink.replies[i].bytes);
  EXPECT_EQ(sink.replies[0].bytes + sink.replies[1].bytes + sink.replies[2].bytes,
            generatorOutput(countingBytes(32, 7), 121));
}

TEST_F(EntropyServerTest, SaveRestoreRoundTripAcrossARestart) {
  runCreditedSteps(300);  // one digest, and credit and hash state towards the next
  const std::string saved = server.save();
  ASSERT_EQ(server.pool().available(), 16u);
  ASSERT_GT(server.pool().count(), 0u);

  vxtest::RecordingReplies next_sink;
  std::vector<std::string> next_log;
  EntropyServer next(next_sink, clock.fn(), [&](const std::string& l) { next_log.push_back(l); });
  next.restore(saved);
  EXPECT_EQ(next.save(), saved);
  EXPECT_EQ(next.pool().bytes(), server.pool().bytes());
  EXPECT_EQ(next.pool().count(), server.pool().count());
  EXPECT_TRUE(next_log.empty());
}

TEST_F(EntropyServerTest, MalformedStoredEntropyIsLoggedAndIgnored) {
  server.restore("not:entropy");
  server.restore("00:1:short");
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0], "Ignoring the stored entropy: Malformed entropy");
  EXPECT_EQ(log[1], "Ignoring the stored entropy: Malformed md5 state");
  EXPECT_EQ(server.pool().available(), 0u);
  EXPECT_EQ(server.save(), EntropyServer(sink).save());
}

}  // namespace
