// The reference worker's test behaviours as read from its environment.
#include <gtest/gtest.h>

#include "error/exception.h"
#include "reference/behaviours.h"

namespace reference {
namespace {

using namespace queues;

TEST(Behaviours, EveryVariableIsReadUnderTheWorkersOwnPrefix) {
  Behaviours b = Behaviours::parse({{"VXW_DBMS_DEPEND_ON", "tsdb,,schd,20"},
                                    {"VXW_DBMS_EXIT", "3:50"},
                                    {"VXW_DBMS_IGNORE_EXIT", "1"},
                                    {"VXW_DBMS_INIT_DELAY_MS", "250"},
                                    {"VXW_DBMS_SEND", "keyg:4"},
                                    {"VXW_DBMS_GARBAGE", "1"},
                                    {"VXW_DBMS_SECOND_INIT_OK", "1"},
                                    {"VXW_DBMS_STDERR", "a b: c"},
                                    {"VXW_DBMS_STORE_VAR", "k=v=w"},
                                    {"VXW_DBMS_REQUEST_SPAWN", "kngt"},
                                    {"VXW_DBMS_ENTROPY", "16"},
                                    {"VXW_DBMS_TRACE", "1"},
                                    {"VXW_DBMS_UNKNOWN", "x"},
                                    {"VXW_TSDB_EXIT", "bad"}},
                                   variablePrefix("DBMS"));
  EXPECT_EQ(b.depend_on, (std::set<queue_t>{QUEUE_TSDB, QUEUE_SCHD}));
  ASSERT_TRUE(b.exit);
  EXPECT_EQ(b.exit->code, 3);
  EXPECT_EQ(b.exit->after_ms, 50);
  EXPECT_TRUE(b.ignore_exit);
  EXPECT_EQ(b.init_delay_ms, 250);
  ASSERT_TRUE(b.send);
  EXPECT_EQ(b.send->queue, QUEUE_KEYG);
  EXPECT_EQ(b.send->count, 4);
  EXPECT_TRUE(b.garbage);
  EXPECT_TRUE(b.second_init_ok);
  EXPECT_EQ(b.stderr_text, "a b: c");
  EXPECT_EQ(b.store_var, (std::pair<std::string, std::string>{"k", "v=w"}));
  EXPECT_EQ(b.request_spawn, QUEUE_KNGT);
  EXPECT_EQ(b.entropy, 16);
  EXPECT_TRUE(b.trace);

  Behaviours none = Behaviours::parse({{"VXW_DBMS_TRACE", "1"}}, variablePrefix("SCHD"));
  EXPECT_FALSE(none.trace);
  EXPECT_FALSE(none.exit);
  EXPECT_TRUE(none.depend_on.empty());
}

TEST(Behaviours, UnusableValuesNameTheVariable) {
  const char* bad[][2] = {
      {"VXW_X_EXIT", "3"},           {"VXW_X_EXIT", ":5"},    {"VXW_X_EXIT", "-1:5"},
      {"VXW_X_INIT_DELAY_MS", "x"},  {"VXW_X_SEND", "keyg"},  {"VXW_X_SEND", "nobody:1"},
      {"VXW_X_DEPEND_ON", "dbms,?"}, {"VXW_X_TRACE", "yes"},  {"VXW_X_STORE_VAR", "=v"},
      {"VXW_X_REQUEST_SPAWN", ""},   {"VXW_X_ENTROPY", "-1"},
  };
  for (const auto& [name, value] : bad) {
    try {
      Behaviours::parse({{name, value}}, "VXW_X_");
      ADD_FAILURE() << name << "=" << value << " was accepted";
    } catch (const error::EParseError& e) {
      EXPECT_NE(std::string(e.what()).find(name), std::string::npos) << e.what();
    }
  }
}

}  // namespace
}  // namespace reference
