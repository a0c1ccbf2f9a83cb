// The reference worker's test behaviours as read from its environment.
#include <gtest/gtest.h>

#include "error/exception.h"
#include "reference/behaviours.h"

namespace reference {
namespace {

using namespace queues;

// Each behaviour is used, and so checked, by the server and reference worker tests; these are
// the parsing rules those tests do not reach.
TEST(Behaviours, ListsSkipEmptyPiecesAndOnlyTheWorkersOwnPrefixCounts) {
  Behaviours b = Behaviours::parse({{"VXW_DBMS_DEPEND_ON", "tsdb,,schd,20"},
                                    {"VXW_DBMS_STORE_VAR", "k=v=w"},
                                    {"VXW_DBMS_UNKNOWN", "x"},
                                    {"VXW_TSDB_EXIT", "bad"}},
                                   variablePrefix("DBMS"));
  EXPECT_EQ(b.depend_on, (std::set<queue_t>{QUEUE_TSDB, QUEUE_SCHD}));
  EXPECT_EQ(b.store_var, (std::pair<std::string, std::string>{"k", "v=w"}));
  EXPECT_FALSE(b.exit);

  Behaviours none = Behaviours::parse({{"VXW_DBMS_TRACE", "1"}}, variablePrefix("SCHD"));
  EXPECT_FALSE(none.trace);
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
