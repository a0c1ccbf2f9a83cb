// vexlanctl metrics and log-level against a real server (vexland with the reference workers):
// its OpenMetrics pass a strict reader and carry every worker, the tree and path filter, the
// refresh, and a log level that reaches the worker it names and no other.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "supervisor/server_harness.h"
#include "support/openmetrics_check.h"

#include <set>

namespace {

using testing::HasSubstr;
using testing::Not;
using vxtest::Outcome;

TEST(Metrics, OfARunningServerParseStrictlyAndCarryEveryWorker) {
  vxtest::Server s;
  s.start();
  ASSERT_TRUE(s.waitErr("Vexlan: Spawned OK.\n"));
  Outcome o = vxtest::run(VX_VEXLANCTL, {"metrics", "--format=openmetrics"}, s.env());
  ASSERT_EQ(o.status, 0) << o.err;
  std::map<std::string, vxtest::OmFamily> f;
  ASSERT_NO_THROW(f = vxtest::parseOpenMetrics(o.out)) << o.out;

  // Every worker of a passive server answers, under its own label.
  std::set<std::string> workers;
  for (const vxtest::OmSample& x : f["vexlan_uptime_seconds"].samples)
    workers.insert(x.labels.at("worker"));
  EXPECT_EQ(workers,
            (std::set<std::string>{"brdc", "dbms", "grid", "schd", "skio", "tsdb", "upln"}));
  EXPECT_EQ(f["vexlan_requests_round_trip_seconds"].type, "summary");
  EXPECT_EQ(f.count("vexland_metrics_unanswered"), 0u);
  // The supervisor's own: what it exchanged with each worker, its start-up once.
  ASSERT_EQ(f["vexland_workers_events_received"].samples.size(), 7u);
  for (const vxtest::OmSample& x : f["vexland_workers_events_received"].samples)
    EXPECT_GE(x.value, 4) << x.labels.at("worker") << ": configuration, variables, INIT_OK, ...";
  EXPECT_EQ(f["vexland_startup_seconds"].samples.at(0).name, "vexland_startup_seconds_count");
  EXPECT_EQ(f["vexland_startup_seconds"].samples.at(0).value, 1);
  EXPECT_EQ(f["vexland_workers_area_bytes"].type, "gauge");

  // A path narrows it down; the tree shows it.
  o = vxtest::run(VX_VEXLANCTL, {"metrics", "dbms/events"}, s.env());
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_THAT(o.out, testing::StartsWith("dbms\n  events\n"));
  EXPECT_THAT(o.out, HasSubstr("\n    received: "));
  EXPECT_THAT(o.out, Not(HasSubstr("uptime")));
  EXPECT_THAT(o.out, Not(HasSubstr("schd")));

  // Refreshed: two snapshots, the second counting the first's questions.
  o = vxtest::run(VX_VEXLANCTL,
                  {"metrics", "vexland/admin/requests", "--watch", "0.1", "--count", "2"}, s.env());
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_THAT(o.out,
              testing::ContainsRegex("requests: ([0-9]+)\n\nvexland\n  admin\n    requests: "));

  o = vxtest::run(VX_VEXLANCTL, {"metrics", "--format=yaml"}, s.env());
  EXPECT_EQ(o.status, 2);
  ASSERT_EQ(s.stop().status, 0);
  o = vxtest::run(VX_VEXLANCTL, {"metrics"}, s.env());
  EXPECT_EQ(o.status, 3);
  EXPECT_THAT(o.out, HasSubstr("vexland is not running"));
}

TEST(LogLevel, ReachesTheWorkerItNamesAndNoOther) {
  vxtest::Server s;
  s.start();
  ASSERT_TRUE(s.waitErr("Vexlan: Spawned OK.\n"));
  Outcome o = vxtest::run(VX_VEXLANCTL, {"log-level", "dbms/events", "debug"}, s.env());
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.out, "log level dbms/events=1 sent to [dbms]\n");
  // The reference worker logs every event it reads at debug level on its logger "events":
  // the metrics questions the next request makes are the events.
  o = vxtest::run(VX_VEXLANCTL, {"metrics"}, s.env());
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_TRUE(s.waitLog("Process [dbms]: events debug: got GET_METRIC from main"));
  EXPECT_EQ(s.countLog("Process [schd]: events debug"), 0u);
  EXPECT_TRUE(s.waitLog("Admin channel: log level dbms/events=1 sent to [dbms]"));

  o = vxtest::run(VX_VEXLANCTL, {"log-level", "*", "off"}, s.env());
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_THAT(o.out, HasSubstr("sent to [schd] [dbms] [skio] [brdc] [grid] [tsdb] [upln]\n"));

  o = vxtest::run(VX_VEXLANCTL, {"log-level", "rmch", "info"}, s.env());
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err, "No running worker for rmch/*\n");
  o = vxtest::run(VX_VEXLANCTL, {"log-level", "dbms", "loud"}, s.env());
  EXPECT_EQ(o.status, 2);
  EXPECT_THAT(o.err, HasSubstr("Cannot parse int: \"loud\""));
  ASSERT_EQ(s.stop().status, 0);
}

}  // namespace
