// The catalogue as a whole: every number round-trips, names and queue names.
#include <gtest/gtest.h>

#include "random_fill.h"
#include "stream_pair.h"

namespace {

using namespace queues;

TEST(Catalogue, EveryNumberRoundTripsWithRandomPayloads) {
  vxtest::Rng r(20261206);
  for (int round = 0; round < 8; ++round) {
    for (event_t n = 1; n <= kLastEvent; ++n) {
      SCOPED_TRACE(eventName(n) + " round " + std::to_string(round));
      std::unique_ptr<event> sent = vxtest::randomEvent(n, r);
      ASSERT_EQ(sent->type, n);
      std::string bytes = vxtest::encode(*sent, 8 + r.below(64));
      std::unique_ptr<event> got = vxtest::decode(bytes, 1 + r.below(40));
      ASSERT_EQ(got->type, n);
      ASSERT_TRUE(got->equals(*sent)) << eventText(*got) << "\nsent:\n" << eventText(*sent);
      EXPECT_EQ(vxtest::encode(*got), bytes);
      std::unique_ptr<event> copy = got->clone();
      EXPECT_TRUE(copy->equals(*got));
      EXPECT_EQ(eventText(*copy), eventText(*sent));
    }
  }
}

TEST(Catalogue, DefaultEventsOfEveryNumberRoundTripAndNameThemselves) {
  for (event_t n = 1; n <= kLastEvent; ++n) {
    SCOPED_TRACE(eventName(n));
    std::unique_ptr<event> e = makeEvent(n, QUEUE_DBMS, 4);
    EXPECT_EQ(e->type, n);
    EXPECT_EQ(e->exception, n == MESSAGE_EXCEPTION);
    EXPECT_EQ(e->data == nullptr, n == MESSAGE_EXCEPTION);
    if (n == SCHEDULE_EVENT_ABSOLUTE || n == SCHEDULE_EVENT_RELATIVE) continue;  // need an event
    std::unique_ptr<event> got = vxtest::decode(vxtest::encode(*e), 3);
    EXPECT_TRUE(got->equals(*e));
    EXPECT_EQ(eventText(*got).rfind(eventName(n) + " {\n", 0), 0u);
  }
}

TEST(Catalogue, AnExceptionWordMakesAnyNumberAnExceptionReply) {
  for (event_t n = 1; n <= kLastEvent; ++n) {
    std::string bytes =
        vxtest::fromHex("00000000 05000000 0b000000 01000000 0200000000000000 6869");
    bytes[0] = static_cast<char>(n);
    std::unique_ptr<event> got = vxtest::decode(bytes, 2);
    ASSERT_TRUE(got->exception) << n;
    EXPECT_EQ(got->type, MESSAGE_EXCEPTION);
    EXPECT_TRUE(got->equals(exevent(QUEUE_ALRM, 11, "hi")));
  }
}

TEST(Catalogue, EventAndQueueNames) {
  EXPECT_EQ(eventName(0), "INVALID_HEAD");
  EXPECT_EQ(eventName(1), "DAEMONIZE_SYSTEM");
  EXPECT_EQ(eventName(115), "UPDATE_NETCHECKS");
  EXPECT_EQ(eventName(203), "EPSECCHANGENOTIFICATION");
  EXPECT_EQ(eventName(204), "MESSAGE_EXCEPTION");
  EXPECT_EQ(eventName(205), "INVALID_TAIL");
  EXPECT_EQ(eventName(300), "(event_t)300");
  EXPECT_EQ(queueName(-1), "none");
  EXPECT_EQ(queueName(0), "main");
  EXPECT_EQ(queueName(7), "snmp");
  EXPECT_EQ(queueName(24), "extra");
  EXPECT_EQ(queueName(25), "xx25");
  EXPECT_EQ(queueName(3), "rmch");
  EXPECT_EQ(queueName(-2), "xx-2");
  EXPECT_EQ(queueName(12345), "12345");
}

TEST(Catalogue, AsFindsOnlyTheRequestedNumber) {
  ev<SYS_EXIT> e(QUEUE_SCHD, 0, {1, QUEUE_MAIN, "bye"});
  event& base = e;
  ASSERT_NE(as<SYS_EXIT>(base), nullptr);
  EXPECT_EQ(as<SYS_EXIT>(base)->payload.error_msg, "bye");
  EXPECT_EQ(as<INIT_OK>(base), nullptr);
  EXPECT_EQ(base.data, &e.payload);
  auto copy = e.clone();
  EXPECT_EQ(copy->data, &as<SYS_EXIT>(*copy)->payload);
}

}  // namespace
