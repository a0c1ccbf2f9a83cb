// Text forms that logs rely on, pinned for the control events and the payload kinds.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "queues/catalogue.h"

namespace {

using namespace queues;

template <event_t N>
std::string text(payload_t<N> p, queue_t dest = QUEUE_MAIN, uint32_t inresponse = 0) {
  return eventText(ev<N>(dest, inresponse, std::move(p)));
}

class PrintTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TZ", "UTC", 1);
    tzset();
  }
};

TEST_F(PrintTest, ScalarPayloadsPrintBareValues) {
  EXPECT_EQ(text<DAEMONIZE_SYSTEM>(-3, QUEUE_MAIN, 0xffffffff),
            "DAEMONIZE_SYSTEM {\n  dest: main\n  inresponse: -1\n-3\n}\n");
  EXPECT_EQ(text<REQUEST_SPAWN_PROCESS>(queue_t(25), QUEUE_MAIN, 4),
            "REQUEST_SPAWN_PROCESS {\n  dest: main\n  inresponse: 4\nxx25\n}\n");
  EXPECT_EQ(
      text<RETURN_PURE_ENTROPY>(std::string("\x01q\"\\\t\xff", 6), QUEUE_GMAS),
      "RETURN_PURE_ENTROPY {\n  dest: gmas\n  inresponse: 0\n\"\\001q\\\"\\\\\\t\\377\"\n}\n");
  EXPECT_EQ(text<RETURN_METRIC_UINT64>(18446744073709551615u),
            "RETURN_METRIC_UINT64 {\n  dest: main\n  inresponse: 0\n18446744073709551615\n}\n");
  EXPECT_EQ(text<RETURN_METRIC_DOUBLE>(0.25),
            "RETURN_METRIC_DOUBLE {\n  dest: main\n  inresponse: 0\n0.25\n}\n");
  EXPECT_EQ(
      eventText(exevent(QUEUE_DBMS, 3, "no such thing")),
      "MESSAGE_EXCEPTION {\n  dest: dbms\n  inresponse: 3\nException: \"no such thing\"\n}\n");
}

TEST_F(PrintTest, ControlStructures) {
  EXPECT_EQ(text<SYS_EXIT>({3, QUEUE_DBMS, "bad \"x\"\n"}, QUEUE_SCHD, 7),
            "SYS_EXIT {\n"
            "  dest: schd\n"
            "  inresponse: 7\n"
            "  reason: 3\n"
            "  requested_by: dbms\n"
            "  error_msg: \"bad \\\"x\\\"\\n\"\n"
            "}\n");
  EXPECT_EQ(text<INIT_OK>({{QUEUE_TSDB, QUEUE_DBMS}}),
            "INIT_OK {\n  dest: main\n  inresponse: 0\n  depend_on: set {\n    dbms\n    tsdb\n"
            "  }\n}\n");
  EXPECT_EQ(text<STORE_SERVER_VARIABLE_FIELDS>({{{"b", ""}, {"a", "1"}}}),
            "STORE_SERVER_VARIABLE_FIELDS {\n  dest: main\n  inresponse: 0\n  vars: map {\n"
            "    \"a\" => \"1\"\n    \"b\" => \"\"\n  }\n}\n");
  EXPECT_EQ(text<GET_PSEUDO_RANDOM>({16, true}),
            "GET_PSEUDO_RANDOM {\n  dest: main\n  inresponse: 0\n  bytes: 16\n"
            "  prefer_pure_entropy: true\n}\n");
  EXPECT_EQ(text<GET_METRIC>({{"skio", "conn"}}),
            "GET_METRIC {\n  dest: main\n  inresponse: 0\n  id: list {\n    \"skio\"\n"
            "    \"conn\"\n  }\n}\n");
  EXPECT_EQ(text<GET_METRIC_TYPE>({{}}),
            "GET_METRIC_TYPE {\n  dest: main\n  inresponse: 0\n  id: list {\n  }\n}\n");
  EXPECT_EQ(text<SET_LOG_LEVEL>({{{"dbms", 3}}}),
            "SET_LOG_LEVEL {\n  dest: main\n  inresponse: 0\n  logger_level: map {\n"
            "    \"dbms\" => 3\n  }\n}\n");
}

TEST_F(PrintTest, NestedStructuresAndListsIndentOneLevelPerStep) {
  control::Metric_Group io{"io", {}, {}, {{"reads", "ops", "", 1}}};
  control::Metric_Table peers{"peers", {{"in", "ops", "", 1}}, {"gmas"}};
  EXPECT_EQ(text<RETURN_LIST_METRICS>({"root", {io}, {peers}, {}}, QUEUE_MAIN, 2),
            "RETURN_LIST_METRICS {\n"
            "  dest: main\n"
            "  inresponse: 2\n"
            "  name: \"root\"\n"
            "  groups: list {\n"
            "    {\n"
            "      name: \"io\"\n"
            "      groups: list {\n"
            "      }\n"
            "      tables: list {\n"
            "      }\n"
            "      metrics: list {\n"
            "        {\n"
            "          name: \"reads\"\n"
            "          unit: \"ops\"\n"
            "          desc: \"\"\n"
            "          type: 1\n"
            "        }\n"
            "      }\n"
            "    }\n"
            "  }\n"
            "  tables: list {\n"
            "    {\n"
            "      name: \"peers\"\n"
            "      columns: list {\n"
            "        {\n"
            "          name: \"in\"\n"
            "          unit: \"ops\"\n"
            "          desc: \"\"\n"
            "          type: 1\n"
            "        }\n"
            "      }\n"
            "      rows: list {\n"
            "        \"gmas\"\n"
            "      }\n"
            "    }\n"
            "  }\n"
            "  metrics: list {\n"
            "  }\n"
            "}\n");
}

TEST_F(PrintTest, NestedEventsPrintOneLevelDeeperWithCalendarTimes) {
  scheduler::Schedule_Event_Relative_Data d{
      {5, 0}, std::make_unique<ev<REQUEST_SERVER_CONFIGURATION>>(QUEUE_MAIN, 1, 2)};
  EXPECT_EQ(text<SCHEDULE_EVENT_RELATIVE>(std::move(d), QUEUE_SCHD),
            "SCHEDULE_EVENT_RELATIVE {\n"
            "  dest: schd\n"
            "  inresponse: 0\n"
            "  time: Thu Jan 01 00:00:05 1970\n"
            "  ev: REQUEST_SERVER_CONFIGURATION {\n"
            "    dest: main\n"
            "    inresponse: 1\n"
            "2\n"
            "  }\n"
            "}\n");
}

TEST_F(PrintTest, WorkerPayloadKinds) {
  dbms::Tql_Create_Data c;
  c.parent_id = {1, 2};
  c.properties.push_back(std::make_unique<tql::property_string_t>(51, "web"));
  c.properties.emplace_back();
  c.properties.push_back(std::make_unique<tql::property_gid_t>(3400, 0x0a0b0c0d, false, 4));
  std::string t = text<TQL_CREATE>(std::move(c), QUEUE_DBMS);
  EXPECT_NE(t.find("  parent_id: 1.2\n  new_id: null\n  class_: 0\n"), std::string::npos) << t;
  EXPECT_NE(t.find("    name (string) = \"web\"\n    (absent)\n"
                   "    gid (uint32) = 0a:0b:0c:0d modifiers 4\n"),
            std::string::npos)
      << t;
  alert::Push_Notification_Data p{1, {0xde, 0xad}, "b", "p"};
  EXPECT_NE(text<PUSH_NOTIFICATION>(p).find("  token: <dead>\n"), std::string::npos);
  tsdb::Put_Data_Data put;
  put.orig_requester = QUEUE_ALRT;
  auto i = std::make_unique<tsdb::data_interval_incident_t>();
  i->sev = 2, i->msg = "down", i->itime = 77;
  put.data.push_back(std::move(i));
  EXPECT_NE(text<PUT_DATA>(std::move(put))
                .find("  orig_requester: alrt\n  handle: 0\n  operation: 0\n  data_type: 0\n"
                      "  data: list {\n    (t: incident)(sev: 2)(msg: \"down\")(itime: 77)\n  }\n"),
            std::string::npos);
  EXPECT_NE(text<RETURN_TQL_SELECT_DELETE_PATCH>({{9}, {1, 2}}).find("  seq: (1, 2)\n"),
            std::string::npos);
  EXPECT_NE(text<FINALKEYREPLY>({BigNumber(0xabc)}).find("  k: 0xabc\n"), std::string::npos);
}

}  // namespace
