// The admin channel's protocol, the text forms of the metrics, and metric collection, without a
// server: hostile request lines, reply headers, OpenMetrics that a strict reader accepts, and a
// collection that ends at its deadline without the workers that did not answer.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "error/exception.h"
#include "meter/group.h"
#include "meter/metric.h"
#include "meter/table.h"
#include "queues/events_control.h"
#include "supervisor/admin_protocol.h"
#include "supervisor/metric_collector.h"
#include "supervisor/metric_export.h"
#include "supervisor/supervisor_meters.h"
#include "support/openmetrics_check.h"

namespace supervisor {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
namespace admin = supervisor::admin;

TEST(AdminProtocol, RequestsRoundTripAndHostileLinesAreRefusedWithAReason) {
  admin::Request metrics;
  metrics.command = admin::Command::Metrics;
  metrics.format = admin::MetricFormat::OpenMetrics;
  metrics.path = {"dbms", "events"};
  admin::Request level;
  level.command = admin::Command::LogLevel;
  level.target = "*/events";
  level.level = -3;
  for (const admin::Request& r : {admin::Request{}, metrics, level}) {
    std::string line = admin::requestLine(r);
    ASSERT_EQ(line.back(), '\n');
    line.pop_back();
    EXPECT_EQ(admin::parseRequest(line), r) << line;
    EXPECT_EQ(admin::parseRequest(line + "\r"), r) << "a terminal's CR LF";
  }
  EXPECT_EQ(admin::requestLine(metrics), "metrics openmetrics dbms/events\n");

  struct Bad {
    std::string line;
    std::string why;
  };
  for (const Bad& b : std::vector<Bad>{
           {"", "Empty request"},
           {"status now", "status takes no arguments"},
           {"status  ", "empty word"},
           {" status", "empty word"},
           {"stat\tus", "not printable ASCII"},
           {std::string("status\0", 7), "not printable ASCII"},
           {"st\xc3\xa4tus", "not printable ASCII"},
           {"metrics", "usage: metrics"},
           {"metrics json", "Unknown metric format: json"},
           {"metrics tree a//b", "empty element"},
           {"metrics tree /a", "empty element"},
           {"metrics tree " + std::string(200, 'a'), "longer than 128 bytes"},
           {"metrics tree a/b/c/d/e/f/g/h/i/j/k/l/m/n/o/p/q", "more than 16 elements"},
           {"log-level dbms", "usage: log-level"},
           {"log-level dbms/ 1", "empty part"},
           {"log-level /x 1", "empty part"},
           {"log-level dbms 1.5", "decimal number"},
           {"log-level dbms 99999999999", "decimal number"},
           {"a b c d e", "too many words"},
           {"shutdown", "Unknown request: shutdown"},
           {std::string(2000, 'x'), "longer than 1024 bytes"},
       }) {
    try {
      admin::parseRequest(b.line);
      ADD_FAILURE() << "accepted: " << b.line;
    } catch (const error::EParseError& e) {
      EXPECT_THAT(e.what(), HasSubstr(b.why)) << b.line;
    }
  }
}

TEST(AdminProtocol, ReplyHeadersAreBounded) {
  const std::string ok = admin::okReply("hello\n");
  EXPECT_EQ(ok, "OK 6\nhello\n");
  admin::ReplyHeader h = admin::parseReplyHeader("OK 6");
  EXPECT_TRUE(h.ok);
  EXPECT_EQ(h.length, 6u);
  // An error text stays one line of bounded length whatever it held.
  const std::string err = admin::errorReply("bad\nline" + std::string(1000, 'x'));
  EXPECT_EQ(err.find('\n'), err.size() - 1);
  EXPECT_LE(err.size(), admin::kMaxReplyHeaderBytes);
  h = admin::parseReplyHeader(err.substr(0, err.size() - 1));
  EXPECT_FALSE(h.ok);
  EXPECT_THAT(h.error, testing::StartsWith("bad\\nline"));
  for (const char* bad :
       {"OK", "OK ", "OK -1", "OK 1x", "OK 99999999999999999999", "HELLO", "OK 67108865"}) {
    EXPECT_THROW(admin::parseReplyHeader(bad), error::EParseError) << bad;
  }
}

// A supervisor tree and two workers' listings, with what would trip up a scraper: names and
// texts from workers with quotes, line ends and non-ASCII bytes, a family one worker gives
// another type, a counter and a gauge that would share sample names.
MetricSnapshot sampleSnapshot() {
  MetricSnapshot snap;
  auto add = [&](std::vector<std::string> path, meter::MetricValue v, std::string unit = "",
                 meter::MetricType type = meter::MetricType::Integer, bool level = false,
                 size_t table_at = MetricSample::kNotInTable, std::string desc = "") {
    MetricSample s;
    s.path = std::move(path);
    s.value = std::move(v);
    s.unit = std::move(unit);
    s.type = type;
    s.level = level;
    s.table_at = table_at;
    s.desc = std::move(desc);
    snap.samples.push_back(std::move(s));
  };
  add({"vexland", "workers", "by_worker", "dbms", "events_received"}, uint64_t{12});
  add({"vexland", "workers", "by_worker", "schd", "events_received"}, uint64_t{3});
  add({"vexland", "workers", "by_worker", "dbms", "area_used_bytes"}, uint64_t{4096}, "bytes",
      meter::MetricType::Integer, true);
  add({"vexland", "control", "by_kind", "INIT_OK", "handling"},
      meter::TimingData{2, 10, 1500000, 1500010, 0}, "us", meter::MetricType::Timing);
  add({"vexland", "uptime"}, uint64_t{61}, "s");
  for (const char* w : {"dbms", "schd"}) {
    add({w, "events", "by_type", "SYS_EXIT", "count"}, uint64_t{1}, "", meter::MetricType::Integer,
        false, 2, "Events of this \"type\"\nread");
    add({w, "peers", "q\"uo\nte\xc3\xa9", "sent"}, uint64_t{2}, "", meter::MetricType::Integer,
        false, 1);
    add({w, "load"}, 0.25, "", meter::MetricType::Double);
  }
  add({"schd", "events", "by_type", "SYS_EXIT", "count"}, uint64_t{9});  // the same labels again
  add({"dbms", "mixed"}, uint64_t{1});
  add({"schd", "mixed"}, meter::TimingData{1, 1, 1, 1, 1}, "us", meter::MetricType::Timing);
  add({"dbms", "clash"}, uint64_t{1});                               // vexlan_clash_total
  add({"dbms", "clash_total"}, 0.5, "", meter::MetricType::Double);  // would be vexlan_clash_total
  add({"dbms", "broken"}, meter::MetricError{"Unknown metric"});
  snap.missing = {"rmch"};
  return snap;
}

TEST(MetricExport, OpenMetricsPassesAStrictReaderWithWorkerLabelsUnitsAndTypes) {
  const std::string text = openMetricsText(sampleSnapshot());
  std::map<std::string, vxtest::OmFamily> f;
  ASSERT_NO_THROW(f = vxtest::parseOpenMetrics(text)) << text;

  ASSERT_TRUE(f.count("vexland_workers_events_received")) << text;
  EXPECT_EQ(f["vexland_workers_events_received"].type, "counter");
  ASSERT_EQ(f["vexland_workers_events_received"].samples.size(), 2u);
  const vxtest::OmSample& dbms = f["vexland_workers_events_received"].samples[0];
  EXPECT_EQ(dbms.name, "vexland_workers_events_received_total");
  EXPECT_EQ(dbms.labels, (std::map<std::string, std::string>{{"worker", "dbms"}}));
  EXPECT_EQ(dbms.value, 12);

  EXPECT_EQ(f["vexland_workers_area_used_bytes"].type, "gauge");
  EXPECT_EQ(f["vexland_workers_area_used_bytes"].unit, "bytes");
  EXPECT_EQ(f["vexland_uptime_seconds"].type, "counter");

  const vxtest::OmFamily& handling = f["vexland_control_handling_seconds"];
  EXPECT_EQ(handling.type, "summary");
  EXPECT_EQ(handling.unit, "seconds");
  ASSERT_EQ(handling.samples.size(), 2u);
  EXPECT_EQ(handling.samples[0].labels.at("kind"), "INIT_OK");
  EXPECT_DOUBLE_EQ(handling.samples[1].value, 1.50001);  // microseconds as seconds, exactly

  // A worker's metrics carry its name; a by_X table its rows as label X, another table "key".
  const vxtest::OmFamily& by_type = f["vexlan_events_count"];
  ASSERT_EQ(by_type.samples.size(), 2u) << "schd's repeated sample is left out";
  EXPECT_EQ(by_type.samples[1].labels,
            (std::map<std::string, std::string>{{"worker", "schd"}, {"type", "SYS_EXIT"}}));
  EXPECT_EQ(by_type.samples[1].value, 1);
  EXPECT_EQ(by_type.help, "Events of this \"type\"\nread");
  ASSERT_EQ(f["vexlan_peers_sent"].samples.size(), 2u) << text;
  EXPECT_EQ(f["vexlan_peers_sent"].samples[0].labels.at("key"), "q\"uo\nte??");
  EXPECT_EQ(f["vexlan_load"].type, "gauge");
  // What would clash is left out, not written twice.
  EXPECT_EQ(f["vexlan_mixed"].samples.size(), 1u);
  EXPECT_EQ(f.count("vexlan_clash") + f.count("vexlan_clash_total"), 1u);
  EXPECT_EQ(f.count("vexlan_broken"), 0u);
  EXPECT_EQ(f["vexland_metrics_unanswered"].samples[0].labels.at("worker"), "rmch");
}

TEST(MetricExport, ThePrometheusFormNamesCountersWithTheirTotalAndHasNoUnitsOrEof) {
  const std::string text = prometheusText(sampleSnapshot());
  EXPECT_THAT(text, HasSubstr("# TYPE vexland_workers_events_received_total counter\n"
                              "vexland_workers_events_received_total{worker=\"dbms\"} 12\n"));
  EXPECT_THAT(text, HasSubstr("# TYPE vexland_control_handling_seconds summary\n"));
  EXPECT_EQ(text.find("# UNIT"), std::string::npos);
  EXPECT_EQ(text.find("# EOF"), std::string::npos);
}

TEST(MetricExport, TheTreeShowsEachGroupOnceAndEveryValueWithItsUnit) {
  MetricSnapshot snap;
  meter::Group root(nullptr, "root-for-test");
  meter::Group events(&root, "events");
  meter::IntegerCounter received(&events, "received", "events", "");
  received += 5;
  meter::Table table(&events, "by_type", {{"count", "", ""}});
  table.add("SYS_EXIT", 0, 2);
  meter::MicroSecondTiming rtt(&root, "round_trip", "");
  rtt.record(uint64_t{10});
  rtt.record(uint64_t{30});
  meter::MicroSecondTiming idle(&root, "idle", "");
  ComputedMetric level(&root, "level", "bytes", "", ComputedMetric::Kind::Level,
                       [] { return uint64_t{7}; });
  sampleGroup(root, {"dbms"}, snap.samples);
  snap.missing = {"rmch"};
  EXPECT_EQ(treeText(snap),
            "dbms\n"
            "  events\n"
            "    by_type\n"
            "      SYS_EXIT\n"
            "        count: 2\n"
            "    received: 5 events\n"
            "  idle: n=0\n"
            "  level: 7 bytes\n"
            "  round_trip: n=2 mean=20 min=10 max=30 us\n"
            "rmch: no answer\n");
  EXPECT_TRUE(snap.samples[3].level);  // known as a gauge for OpenMetrics
}

// A stand-in for the supervisor: two suppliers; the test answers their questions by hand.
class FakeSource : public MetricCollector::Source {
 public:
  struct Asked {
    queues::queue_t queue;
    std::unique_ptr<queues::event> ev;
    MetricCollector::Answer answer;
  };
  std::vector<Asked> asked;
  meter::Group own{nullptr, "own-for-test"};
  meter::IntegerCounter starts{&own, "starts", "", ""};

  std::vector<std::pair<queues::queue_t, std::string>> metricSuppliers() const override {
    return {{queues::QUEUE_DBMS, "dbms"}, {queues::QUEUE_SCHD, "schd"}};
  }
  void askWorker(queues::queue_t q, queues::event& ev, MetricCollector::Answer a) override {
    asked.push_back({q, ev.clone(), std::move(a)});
  }
  const meter::Group& ownTree() const override { return own; }
};

control::Metric_Group listing(std::vector<std::string> names) {
  control::Metric_Group g;
  for (const std::string& n : names)
    g.metrics.push_back({n, "", "", 1});
  return g;
}

TEST(MetricCollector, AnswersComeTogetherAndAWorkerThatIsLateIsNamedNotWaitedFor) {
  FakeSource src;
  MetricCollector collector(src, TimeValue::fromMilliseconds(0));
  std::optional<MetricSnapshot> result;
  collector.collect({}, [&](MetricSnapshot s) { result = std::move(s); });
  ASSERT_EQ(src.asked.size(), 2u);  // a listing from each supplier
  EXPECT_FALSE(result);
  const size_t dbms = src.asked[0].queue == queues::QUEUE_DBMS ? 0 : 1;

  // dbms lists two metrics and answers both; schd never answers.
  queues::ev<queues::RETURN_LIST_METRICS> list(queues::QUEUE_MAIN, 0, listing({"a", "b"}));
  src.asked[dbms].answer(list);
  ASSERT_EQ(src.asked.size(), 4u);
  const auto* get = queues::as<queues::GET_METRIC>(*src.asked[2].ev);
  ASSERT_NE(get, nullptr);
  EXPECT_THAT(get->payload.id, ElementsAre("a"));  // the path below the worker
  src.asked[2].answer(queues::ev<queues::RETURN_METRIC_UINT64>(queues::QUEUE_MAIN, 0, 7));
  src.asked[3].answer(queues::ev<queues::RETURN_METRIC_ERROR>(queues::QUEUE_MAIN, 0, "gone"));
  EXPECT_FALSE(result) << "schd's listing is still awaited";

  collector.onTimer();  // the deadline (now) has passed
  ASSERT_TRUE(result);
  EXPECT_THAT(result->missing, ElementsAre("schd"));
  std::vector<std::string> paths;
  for (const MetricSample& s : result->samples)
    paths.push_back(admin::metricPathText(s.path));
  EXPECT_THAT(paths, ElementsAre("vexland/starts", "dbms/a", "dbms/b"));
  EXPECT_EQ(std::get<uint64_t>(result->samples[1].value), 7u);
  EXPECT_EQ(std::get<meter::MetricError>(result->samples[2].value).text, "gone");
  EXPECT_EQ(collector.running(), 0u);

  // A late answer finds nothing to add to.
  src.asked[1 - dbms].answer(list);
  EXPECT_EQ(src.asked.size(), 4u);
}

}  // namespace
}  // namespace supervisor
