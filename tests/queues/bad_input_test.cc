// Bytes another program wrote that are not a valid event: each is an error::Exception with a
// clear text, the half-built event is destroyed (the sanitizer run checks for leaks), and
// nothing is allocated for lengths the input cannot hold.
#include <gtest/gtest.h>

#include <cmath>

#include "io/exceptions.h"
#include "queues/catalogue.h"
#include "stream_pair.h"

namespace {

using namespace queues;
using vxtest::fromHex;

struct BadCase {
  const char* name;
  const char* hex;
  const char* message;  // exact text, or a prefix ending in "..."
};

const BadCase kBadCases[] = {
    {"number 0", "00000000 00000000", "fdio >> event: unknown type index: 0 old was 0 dest 0"},
    {"number 205", "cd000000", "fdio >> event: unknown type index: 205 old was 0 dest 0"},
    {"number 204 without the exception word",
     "cc000000 00000000 00000000 00000000 0000000000000000", "Found exevent with .exception == 0"},
    {"id with 4 components", "38000000 00000000 00000000 00000000 04000000 01000000",
     "small vector resize overflow 4 > 3"},
    {"id with a huge count", "38000000 00000000 00000000 00000000 ffffffff",
     "small vector resize overflow 4294967295 > 3"},
    {"string longer than the bound", "0c000000 00000000 00000000 00000000 ffffffffffffff7f",
     "String of 9223372036854775807 bytes exceeds the limit of 268435456"},
    {"string longer than the input", "0c000000 00000000 00000000 00000000 1000000000000000 6162",
     "String of 16 bytes exceeds the 2 bytes left"},
    {"count larger than the bound", "47000000 00000000 00000000 00000000 01000001",
     "Container of 16777217 elements exceeds the limit of 16777216"},
    {"count larger than the input", "47000000 00000000 00000000 00000000 00100000 00000000",
     "Container of 4096 elements (16384 bytes) exceeds the 4 bytes left"},
    {"unknown interval kind", "21000000 00000000 00000000 00000000 00000000 01000000 04000000",
     "Unknown data interval kind 4"},
    {"invalid statistic",
     "30000000 00000000 00000000 00000000 00000000"
     " 0000000000000000 0100000000000000 0000000000000000 00000000",
     "Trying to input invalid snmpcheck_stat_continuous (start=0, end=1, result=0, status=0)"},
    {"invalid enum statistic",
     "31000000 00000000 00000000 00000000 00000000"
     " 0100000000000000 0100000000000000 00000000 06000000",
     "Trying to input invalid snmpcheck_stat_enum ()"},
    {"truncated payload", "02000000 00000000 00000000 00000000 01000000", "EOS from..."},
};

void expectMessage(const std::string& got, const std::string& want) {
  if (want.size() > 3 && want.compare(want.size() - 3, 3, "...") == 0) {
    EXPECT_EQ(got.substr(0, want.size() - 3), want.substr(0, want.size() - 3));
  } else {
    EXPECT_EQ(got, want);
  }
}

TEST(BadInput, EachMalformedEventIsAnErrorWithAClearText) {
  for (const BadCase& c : kBadCases) {
    SCOPED_TRACE(c.name);
    for (size_t area : {1, 7, 1024}) {
      std::string bytes = fromHex(c.hex);
      protocol::MemoryIStream in(bytes, area);
      protocol::ioprim prim(&in);
      prim.limitInput(bytes.size());
      try {
        readEvent(prim);
        ADD_FAILURE() << "no error";
      } catch (const error::Exception& e) {
        expectMessage(e.what(), c.message);
      }
    }
  }
}

TEST(BadInput, AnUnknownNumberNamesTheLastEventReadFromTheSameIoprim) {
  std::string bytes = fromHex("14000000 05000000 00000000 00000000 00000000 d2000000");
  protocol::MemoryIStream in(bytes, 3);
  protocol::ioprim prim(&in);
  auto first = readEvent(prim);
  EXPECT_EQ(lastRead(prim).type, 20u);
  EXPECT_EQ(lastRead(prim).dest, 5u);
  try {
    readEvent(prim);
    FAIL();
  } catch (const EBadEvent& e) {
    EXPECT_STREQ(e.what(), "fdio >> event: unknown type index: 210 old was 20 dest 5");
  }
}

TEST(BadInput, AfterAnErrorTheBytesConsumedStayConsumed) {
  std::string bytes = fromHex(
      "38000000 00000000 00000000 00000000 04000000 0600000000000000000000000000000005000000");
  protocol::MemoryIStream in(bytes, 64);
  protocol::ioprim prim(&in);
  EXPECT_THROW(readEvent(prim), error::ERange);
  auto next = readEvent(prim);  // the count's components were not consumed
  EXPECT_EQ(next->type, 6u);
}

TEST(BadInput, ErrorsInsideStructuresLeaveNoNestingBehind) {
  // An invalid statistic fails two structures deep; many such failures on one ioprim must
  // not add up to the nesting bound.
  std::string bad = fromHex(
      "30000000 00000000 00000000 00000000 00000000"
      " 0000000000000000 0100000000000000 0000000000000000 00000000");
  std::string bytes;
  for (int i = 0; i < protocol::kMaxStructDepth + 1; ++i)
    bytes += bad;
  bytes += vxtest::encode(ev<DATA_SNMPCHECK_CONTINUOUS>(QUEUE_DBMS, 0, {}));
  protocol::MemoryIStream in(bytes, 5);
  protocol::ioprim prim(&in);
  for (int i = 0; i < protocol::kMaxStructDepth + 1; ++i) {
    EXPECT_THROW(readEvent(prim), protocol::EBadInput);
  }
  EXPECT_EQ(readEvent(prim)->type, DATA_SNMPCHECK_CONTINUOUS);
}

TEST(BadInput, SchedulerEventsNestNoDeeperThanTheBound) {
  auto build = [](int depth) {
    std::unique_ptr<event> e = std::make_unique<ev<DAEMONIZE_SYSTEM>>(QUEUE_MAIN, 0, 1);
    for (int i = 0; i < depth; ++i) {
      scheduler::Schedule_Event_Absolute_Data d{{1, 0}, std::move(e)};
      e = std::make_unique<ev<SCHEDULE_EVENT_ABSOLUTE>>(QUEUE_SCHD, 0, std::move(d));
    }
    return vxtest::encode(*e);
  };
  EXPECT_EQ(vxtest::decode(build(protocol::kMaxEventDepth - 1), 5)->type, SCHEDULE_EVENT_ABSOLUTE);
  std::string deep = build(protocol::kMaxEventDepth);
  protocol::MemoryIStream in(deep, 5);
  protocol::ioprim prim(&in);
  try {
    readEvent(prim);
    FAIL();
  } catch (const protocol::EBadInput& e) {
    EXPECT_STREQ(e.what(), "Events nested deeper than 8 levels");
  }
}

TEST(BadInput, RecursiveStructuresNestNoDeeperThanTheBound) {
  // A metric group whose first subgroup has a first subgroup ... : only the name and the
  // groups count of each level are present.
  std::string bytes = fromHex("15000000 00000000 00000000 00000000");
  for (int i = 0; i < protocol::kMaxStructDepth + 1; ++i)
    bytes += fromHex("0000000000000000 01000000");
  protocol::MemoryIStream in(bytes);
  protocol::ioprim prim(&in);
  try {
    readEvent(prim);
    FAIL();
  } catch (const protocol::EBadInput& e) {
    EXPECT_STREQ(e.what(), "Structures nested deeper than 64 levels");
  }
}

TEST(BadInputDeathTest, WritingAnInvalidStatisticIsABrokenInvariant) {
  dbms::Data_SnmpCheck_Continuous_Data d;
  d.stat.result = std::nan("");
  d.stat.status = 4;
  ev<DATA_SNMPCHECK_CONTINUOUS> e(QUEUE_DBMS, 0, d);
  EXPECT_DEATH(vxtest::encode(e),
               "Assertion failed: Trying to output invalid snmpcheck_stat_continuous "
               "\\(start=1, end=1, result=nan, status=4\\)");
  d.stat.status = 5;  // no result taken: NaN is fine
  EXPECT_TRUE(
      vxtest::decode(vxtest::encode(ev<DATA_SNMPCHECK_CONTINUOUS>(QUEUE_DBMS, 0, d)))->type ==
      DATA_SNMPCHECK_CONTINUOUS);
}

TEST(BadInputDeathTest, WritingAnUnknownNumberIsABrokenInvariant) {
  ev<DAEMONIZE_SYSTEM> e(QUEUE_MAIN, 0, 1);
  e.type = 205;
  EXPECT_DEATH(vxtest::encode(e), "Assertion failed: fdio << event: unknown type index: 205");
}

}  // namespace
