#include <gtest/gtest.h>

#include "meter/query.h"
#include "meter/registry.h"

namespace {

using meter::Group;
using meter::IntegerCounter;
using meter::MetricError;
using meter::MetricInfo;
using meter::MetricType;
using meter::MetricValue;
using meter::Registry;
using meter::TimingData;

// Built during static initialisation, before anything can have started the registry.
IntegerCounter early_counter(nullptr, "early_counter", "events", "built before main");
Group early_group(nullptr, "early_group");
meter::Timing early_timing(&early_group, "early_timing", "ms", "child of an early group");
const bool early_was_pending = !Registry::started() && early_counter.parent() == nullptr;

TEST(MeterRegistry, StaticMetricsAreListedOnceTheRegistryStarts) {
  EXPECT_TRUE(early_was_pending);
  Registry::start();
  Registry::start();  // a second start changes nothing
  EXPECT_EQ(early_counter.parent(), &Registry::root());
  EXPECT_EQ(Registry::root().find("early_counter"), &early_counter);
  EXPECT_EQ(early_timing.parent(), &early_group);
  EXPECT_EQ(meter::readMetric(Registry::root(), {"early_group", "early_timing"}),
            MetricValue(TimingData{}));
  // After the start, a metric without a group goes straight to the root.
  {
    IntegerCounter late(nullptr, "late", "", "");
    EXPECT_EQ(Registry::root().find("late"), &late);
  }
  EXPECT_EQ(Registry::root().find("late"), nullptr);
}

TEST(MeterDeathTest, DuplicateNameInOneGroupAborts) {
  EXPECT_DEATH(
      {
        Group g(nullptr, "dups");
        IntegerCounter a(&g, "x", "", "");
        Group b(&g, "x");
      },
      "Assertion failed: Attempt to add duplicate metric name: x");
  EXPECT_DEATH(meter::Table(nullptr, "t", {{"c", "", ""}, {"c", "", ""}}),
               "Assertion failed: Attempt to add duplicate metric name: c");
}

TEST(Meter, TimingsAccumulate) {
  meter::Timing t(nullptr, "timing_accumulates", "ms", "");
  EXPECT_EQ(t.data(), (TimingData{0, ~uint64_t{0}, 0, 0, 0}));  // nothing recorded yet
  t.record(5);
  t.record(3);
  t.record(0x100000000);  // its square wraps to 0
  EXPECT_EQ(t.data(), (TimingData{3, 3, 0x100000000, 0x100000008, 34}));

  meter::MicroSecondTiming us(nullptr, "us_timing", "time per step");
  EXPECT_EQ(us.unit(), "us");
  us.record(TimeValue(2, 5));
  us.record(TimeValue(0, 0) - TimeValue(1, 0));  // a clock set back counts as 0
  static uint64_t fake_now = 1000;
  {
    meter::MicroSecondTiming::Scope scope(us, [] { return fake_now; });
    fake_now += 250;
  }
  EXPECT_EQ(us.data(), (TimingData{3, 0, 2000005, 2000255, 4000020000025 + 62500}));
}

// A metric kind of a worker's own, answering with a double.
class Ratio : public meter::Metric {
 public:
  Ratio(Group* parent, std::string name) : Metric(parent, std::move(name), "", "a ratio") {}
  MetricType type() const override { return MetricType::Double; }
  MetricValue value() const override { return 0.25; }
};

class MeterQuery : public ::testing::Test {
 protected:
  const bool started_ = (Registry::start(), true);
  Group top{&Registry::root(), "query_test"};
  Group io{&top, "io"};
  IntegerCounter reads{&io, "reads", "calls", "read calls"};
  meter::Timing latency{&io, "latency", "ms", "time per read"};
  Ratio ratio{&top, "ratio"};
  meter::Table peers{&top, "peers", {{"sent", "messages", "sent to"}, {"got", "messages", ""}}};
};

TEST_F(MeterQuery, ReadsValuesByPath) {
  reads += 41;
  ++reads;
  latency.record(9);
  peers.add("dbms", peers.column("got"), 7);
  EXPECT_EQ(meter::readMetric(top, {"io", "reads"}), MetricValue(uint64_t{42}));
  EXPECT_EQ(meter::readMetric(Registry::root(), {"query_test", "io", "reads"}),
            MetricValue(uint64_t{42}));
  EXPECT_EQ(meter::readMetric(top, {"io", "latency"}), MetricValue(TimingData{1, 9, 9, 9, 81}));
  EXPECT_EQ(meter::readMetric(top, {"ratio"}), MetricValue(0.25));
  EXPECT_EQ(meter::readMetric(top, {"peers", "dbms", "got"}), MetricValue(uint64_t{7}));
  EXPECT_EQ(meter::readMetric(top, {"peers", "dbms", "sent"}), MetricValue(uint64_t{0}));
}

TEST_F(MeterQuery, PathsThatNameNoMetricGiveErrors) {
  peers.add("dbms", 0);
  const std::pair<meter::Path, const char*> cases[] = {
      {{}, "Empty metric path"},
      {{"nothing"}, "Unknown metric: nothing"},
      {{"io"}, "Not a metric: io"},
      {{"io", "reads", "more"}, "Unknown metric: io/reads/more"},
      {{"io", "", "reads"}, "Unknown metric: io//reads"},
      {{"peers"}, "Unknown metric: peers"},
      {{"peers", "dbms"}, "Unknown metric: peers/dbms"},
      {{"peers", "skio", "sent"}, "Unknown metric: peers/skio/sent"},
      {{"peers", "dbms", "lost"}, "Unknown metric: peers/dbms/lost"},
      {{"peers", "dbms", "sent", "x"}, "Unknown metric: peers/dbms/sent/x"},
  };
  for (const auto& [path, text] : cases) {
    EXPECT_EQ(meter::readMetric(top, path), MetricValue(MetricError{text}));
    EXPECT_EQ(meter::describeMetric(top, path),
              (std::variant<MetricError, MetricInfo>(MetricError{text})));
  }
}

TEST_F(MeterQuery, DescribesMetricsAndTableColumns) {
  using Answer = std::variant<MetricError, MetricInfo>;
  EXPECT_EQ(meter::describeMetric(top, {"io", "latency"}),
            Answer(MetricInfo{"latency", "ms", "time per read", MetricType::Timing}));
  peers.set("grid", 0, 3);
  EXPECT_EQ(meter::describeMetric(top, {"peers", "grid", "sent"}),
            Answer(MetricInfo{"sent", "messages", "sent to", MetricType::Integer}));
}

TEST_F(MeterQuery, ListsTheTreeInNameOrder) {
  IntegerCounter alpha(&top, "alpha", "", "");
  peers.add("snmp", 1);
  peers.add("alrm", 0);
  meter::GroupInfo info = meter::describeGroup(top);
  EXPECT_EQ(info.name, "query_test");
  ASSERT_EQ(info.groups.size(), 1u);
  EXPECT_EQ(info.groups[0].name, "io");
  EXPECT_EQ(info.groups[0].metrics,
            (std::vector<MetricInfo>{{"latency", "ms", "time per read", MetricType::Timing},
                                     {"reads", "calls", "read calls", MetricType::Integer}}));
  EXPECT_EQ(info.metrics, (std::vector<MetricInfo>{{"alpha", "", "", MetricType::Integer},
                                                   {"ratio", "", "a ratio", MetricType::Double}}));
  EXPECT_EQ(info.tables,
            (std::vector<meter::TableInfo>{{"peers",
                                            {{"sent", "messages", "sent to", MetricType::Integer},
                                             {"got", "messages", "", MetricType::Integer}},
                                            {"alrm", "snmp"}}}));
  peers.removeRow("snmp");
  EXPECT_EQ(meter::describeGroup(top).tables[0].rows, std::vector<std::string>{"alrm"});
}

TEST(Meter, ObjectsOutlivingTheirGroupAreUnlisted) {
  Registry::start();
  auto group = std::make_unique<Group>(&Registry::root(), "short_lived");
  IntegerCounter survivor(group.get(), "survivor", "", "");
  group.reset();
  EXPECT_EQ(survivor.parent(), nullptr);
  EXPECT_EQ(Registry::root().find("short_lived"), nullptr);
  ++survivor;  // still usable, and its later destruction touches nothing
}

}  // namespace
