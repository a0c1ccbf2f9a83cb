// The reference worker, started under its table names by a stand-in supervisor.
#include <gtest/gtest.h>
#include <unistd.h>

#include "harness.h"
#include "support/test_support.h"

namespace vxtest {
namespace {

using namespace queues;

using Env = std::map<std::string, std::string>;

bool initialised(TestSupervisor& s, queue_t q) {
  return s.has(q) && !s.worker(q).init_oks.empty();
}

// Sends a request that the worker answers and returns the answer.
const event* ask(TestSupervisor& s, queue_t q, event& req) {
  s.send(q, req);
  TestSupervisor::Worker& w = s.worker(q);
  const event* found = nullptr;
  s.runUntil([&] {
    for (const auto& e : w.events) {
      if (e->inresponse == req.inresponse && e->type != req.type) found = e.get();
    }
    return found != nullptr;
  });
  return found;
}

TEST(ReferenceWorker, StartsLikeAWorkerAndLeavesOnSysExit) {
  TestSupervisor s;
  s.vars = {{"color", "blue"}, {"entropy", std::string(100, 'a')}};
  s.start("vexlan-dbms", QUEUE_DBMS,
          {{"VXW_DBMS_DEPEND_ON", "tsdb,schd"}, {"VXW_DBMS_TRACE", "1"}});
  ASSERT_TRUE(s.runUntil([&] { return initialised(s, QUEUE_DBMS); }));
  TestSupervisor::Worker& w = s.worker(QUEUE_DBMS);
  // Configuration and variables come first, then INIT_OK with the set asked for.
  std::vector<event_t> order;
  for (const auto& e : w.events) {
    if (e->type != SYSTEM_LOG_REQUEST) order.push_back(e->type);
  }
  ASSERT_GE(order.size(), 3u);
  EXPECT_EQ(std::vector<event_t>(order.begin(), order.begin() + 3),
            (std::vector<event_t>{REQUEST_SERVER_CONFIGURATION, REQUEST_SERVER_VARIABLE_FIELDS,
                                  INIT_OK}));
  EXPECT_EQ(w.init_oks.at(0), (std::set<queue_t>{QUEUE_TSDB, QUEUE_SCHD}));
  EXPECT_TRUE(w.hasLog("configuration received (host testhost, passive 0)"));
  EXPECT_TRUE(w.hasLog("variables received: color=blue, entropy=" + std::string(40, 'a') + "..."));
  ASSERT_TRUE(s.runUntil([&] { return !w.received(SUPPORTS_METRICS).empty(); }));

  ev<SYS_EXIT> bye;
  s.send(QUEUE_DBMS, bye);
  EXPECT_EQ(s.waitExit(QUEUE_DBMS), 0);
  EXPECT_TRUE(w.left_in_order);
  EXPECT_TRUE(w.hasLog("leaving on SYS_EXIT"));
  EXPECT_EQ(w.init_oks.size(), 1u);
}

TEST(ReferenceWorker, IgnoresSysExitWhenToldTo) {
  TestSupervisor s;
  s.start("vexlan-scheduler", QUEUE_SCHD, {{"VXW_SCHD_IGNORE_EXIT", "1"}});
  ASSERT_TRUE(s.runUntil([&] { return initialised(s, QUEUE_SCHD); }));
  ev<SYS_EXIT> bye;
  s.send(QUEUE_SCHD, bye);
  TestSupervisor::Worker& w = s.worker(QUEUE_SCHD);
  ASSERT_TRUE(s.runUntil([&] { return w.hasLog("ignoring SYS_EXIT"); }));
  s.runUntil([] { return false; }, 0.3);
  EXPECT_EQ(w.exit_code, -1);
  EXPECT_FALSE(w.stream_ended);
}

TEST(ReferenceWorker, EndsOnItsOwnWithTheCodeAsked) {
  TestSupervisor s;
  s.start("vexlan-tsdb", QUEUE_TSDB, {{"VXW_TSDB_EXIT", "3:50"}});
  s.start("vexlan-keygen", QUEUE_KEYG, {{"VXW_KEYG_EXIT", "0:50"}});
  EXPECT_EQ(s.waitExit(QUEUE_TSDB), 3);
  EXPECT_EQ(s.waitExit(QUEUE_KEYG), 0);
  // A failing worker just ends; one that ends with 0 leaves in order first.
  EXPECT_FALSE(s.worker(QUEUE_TSDB).left_in_order);
  EXPECT_TRUE(s.worker(QUEUE_KEYG).left_in_order);
  EXPECT_EQ(s.worker(QUEUE_KEYG).init_oks.size(), 1u);
}

TEST(ReferenceWorker, AnswersMetricQueriesWithTheRequestsInresponse) {
  TestSupervisor s;
  s.start("vexlan-dbms", QUEUE_DBMS);
  TestSupervisor::Worker& w = s.worker(QUEUE_DBMS);
  ASSERT_TRUE(s.runUntil([&] { return !w.received(SUPPORTS_METRICS).empty(); }));

  ev<GET_METRIC> uptime(QUEUE_MAIN, 11, {{"uptime"}});
  const event* r = ask(s, QUEUE_DBMS, uptime);
  ASSERT_TRUE(r && as<RETURN_METRIC_UINT64>(*r));

  ev<GET_METRIC> count(QUEUE_MAIN, 12, {{"events", "by_type", "GET_METRIC", "count"}});
  r = ask(s, QUEUE_DBMS, count);
  ASSERT_TRUE(r && as<RETURN_METRIC_UINT64>(*r));
  EXPECT_EQ(as<RETURN_METRIC_UINT64>(*r)->payload, 2u);  // the uptime query and this one

  ev<GET_METRIC> timing(QUEUE_MAIN, 13, {{"requests", "round_trip"}});
  r = ask(s, QUEUE_DBMS, timing);
  ASSERT_TRUE(r && as<RETURN_METRIC_TIMING>(*r));
  EXPECT_EQ(as<RETURN_METRIC_TIMING>(*r)->payload.n, 1u);  // configuration and variables, together

  ev<GET_METRIC> unknown(QUEUE_MAIN, 14, {{"no", "such"}});
  r = ask(s, QUEUE_DBMS, unknown);
  ASSERT_TRUE(r && as<RETURN_METRIC_ERROR>(*r));
  EXPECT_EQ(as<RETURN_METRIC_ERROR>(*r)->payload, "Unknown metric: no/such");

  ev<GET_METRIC_TYPE> type(QUEUE_MAIN, 15, {{"requests", "round_trip"}});
  r = ask(s, QUEUE_DBMS, type);
  ASSERT_TRUE(r && as<RETURN_GET_METRIC_TYPE>(*r));
  EXPECT_EQ(as<RETURN_GET_METRIC_TYPE>(*r)->payload.unit, "us");
  EXPECT_EQ(as<RETURN_GET_METRIC_TYPE>(*r)->payload.type, 3);

  ev<LIST_METRICS> list(QUEUE_MAIN, 16, 0);
  r = ask(s, QUEUE_DBMS, list);
  ASSERT_TRUE(r && as<RETURN_LIST_METRICS>(*r));
  const control::Metric_Group& g = as<RETURN_LIST_METRICS>(*r)->payload;
  EXPECT_EQ(g.name, "dbms");
  std::set<std::string> groups, metrics;
  for (const auto& sub : g.groups)
    groups.insert(sub.name);
  for (const auto& m : g.metrics)
    metrics.insert(m.name);
  EXPECT_EQ(groups, (std::set<std::string>{"events", "requests"}));
  EXPECT_EQ(metrics, (std::set<std::string>{"uptime"}));
}

TEST(ReferenceWorker, SetLogLevelReachesTheNamedLogger) {
  TestSupervisor s;
  s.start("vexlan-alert", QUEUE_ALRT);
  TestSupervisor::Worker& w = s.worker(QUEUE_ALRT);
  ASSERT_TRUE(s.runUntil([&] { return !w.received(SUPPORTS_METRICS).empty(); }));
  const std::string line = "events debug: got REQUEST_RESULT from main";

  ev<REQUEST_RESULT> quiet(QUEUE_MAIN, 0, 1);
  s.send(QUEUE_ALRT, quiet);
  ev<GET_METRIC> sync1(QUEUE_MAIN, 21, {{"uptime"}});
  ASSERT_TRUE(ask(s, QUEUE_ALRT, sync1));
  s.runUntil([] { return false; }, 0.2);
  EXPECT_EQ(w.stderr_text.find(line), std::string::npos) << w.stderr_text;

  ev<SET_LOG_LEVEL> levels(QUEUE_MAIN, 0, {{{"events", 1}, {"nosuch", 1}, {"default", 9}}});
  s.send(QUEUE_ALRT, levels);
  ev<REQUEST_RESULT> loud(QUEUE_MAIN, 0, 2);
  s.send(QUEUE_ALRT, loud);
  EXPECT_TRUE(s.runUntil([&] { return w.stderr_text.find(line) != std::string::npos; }))
      << w.stderr_text;
  EXPECT_TRUE(s.runUntil([&] {
    return w.stderr_text.find("No logger \"nosuch\"") != std::string::npos &&
           w.stderr_text.find("Log level 9 for \"default\" is not a level") != std::string::npos;
  })) << w.stderr_text;
}

TEST(ReferenceWorker, NoticesASupervisorThatHasGone) {
  TestSupervisor s;
  s.start("vexlan-router", QUEUE_GRID);
  ASSERT_TRUE(s.runUntil([&] { return initialised(s, QUEUE_GRID); }));
  TimeValue before = TimeValue::now();
  s.vanish();
  EXPECT_EQ(s.waitExit(QUEUE_GRID, 10), 2);
  EXPECT_LT((TimeValue::now() - before).asDouble(), 2.0);
  EXPECT_NE(s.worker(QUEUE_GRID).stderr_text.find("The supervisor has gone"), std::string::npos);
}

TEST(ReferenceWorker, WorkersTalkDirectlyAndPeerRequestsAreDecided) {
  TestSupervisor s;
  s.demand_load[QUEUE_KEYG] = {"vexlan-keygen", {{"VXW_KEYG_TRACE", "1"}}};
  s.start("vexlan-scheduler", QUEUE_SCHD, {{"VXW_SCHD_TRACE", "1"}});
  ASSERT_TRUE(s.runUntil([&] { return initialised(s, QUEUE_SCHD); }));
  s.start("vexlan-dbms", QUEUE_DBMS, {{"VXW_DBMS_SEND", "schd:5"}});
  s.start("vexlan-remcheck", QUEUE_RMCH, {{"VXW_RMCH_SEND", "keyg:3"}});
  s.start("vexlan-alarm", QUEUE_ALRM, {{"VXW_ALRM_SEND", "9:1"}});
  auto count = [&](queue_t q, const std::string& text) {
    if (!s.has(q)) return 0;
    int n = 0;
    for (const std::string& l : s.worker(q).logs)
      n += l.find(text) != std::string::npos;
    return n;
  };
  ASSERT_TRUE(s.runUntil([&] {
    return count(QUEUE_SCHD, "got REQUEST_RESULT from dbms") == 5 &&
           count(QUEUE_KEYG, "got REQUEST_RESULT from rmch") == 3 &&
           count(QUEUE_ALRM, "send to bnch refused by the supervisor") == 1;
  }));
  // schd was connected already; keygen was started on demand; bnch has no worker.
  std::set<std::pair<int32_t, int32_t>> requests(s.peer_requests.begin(), s.peer_requests.end());
  EXPECT_EQ(requests, (std::set<std::pair<int32_t, int32_t>>{{QUEUE_KEYG, QUEUE_RMCH},
                                                             {QUEUE_BNCH, QUEUE_ALRM}}));
}

TEST(ReferenceWorker, TestBehavioursReachTheSupervisor) {
  TestSupervisor s;
  s.demand_load[QUEUE_KNGT] = {"vexlan-keynegot", {}};
  s.start("vexlan-dbms", QUEUE_DBMS,
          {{"VXW_DBMS_STDERR", "hello there"},
           {"VXW_DBMS_SECOND_INIT_OK", "1"},
           {"VXW_DBMS_STORE_VAR", "answer=42"},
           {"VXW_DBMS_REQUEST_SPAWN", "kngt"},
           {"VXW_DBMS_INIT_DELAY_MS", "100"}});
  s.start("vexlan-tsdb", QUEUE_TSDB, {{"VXW_TSDB_GARBAGE", "1"}});
  TestSupervisor::Worker& dbms = s.worker(QUEUE_DBMS);
  TimeValue before = TimeValue::now();
  ASSERT_TRUE(s.runUntil([&] { return !dbms.init_oks.empty(); }));
  EXPECT_GE((TimeValue::now() - before).asDouble(), 0.1);
  ASSERT_TRUE(s.runUntil([&] {
    return dbms.init_oks.size() == 2 && s.vars["answer"] == "42" && initialised(s, QUEUE_KNGT) &&
           !s.worker(QUEUE_TSDB).read_error.empty() &&
           dbms.stderr_text.find("hello there\n") != std::string::npos;
  }));
  EXPECT_NE(s.worker(QUEUE_TSDB).read_error.find("unknown type index: 250"), std::string::npos);
}

TEST(ReferenceWorker, UnknownProgramNameRunsAsTheExtraProcess) {
  TempDir dir;
  std::string program = dir.file("my-extra");
  ASSERT_EQ(::symlink(binPath("vexlan-worker").c_str(), program.c_str()), 0);
  TestSupervisor s;
  s.start(program, QUEUE_EXTRA, {{"VXW_EXTR_TRACE", "1"}});
  ASSERT_TRUE(s.runUntil([&] { return initialised(s, QUEUE_EXTRA); }));
  EXPECT_TRUE(s.worker(QUEUE_EXTRA).hasLog("started as extr (queue 24"));
}

}  // namespace
}  // namespace vxtest
