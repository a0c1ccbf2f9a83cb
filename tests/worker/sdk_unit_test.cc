// The SDK's pieces that need no other process: metric answers, log levels, names.
#include <gtest/gtest.h>
#include <spdlog/sinks/null_sink.h>
#include <spdlog/spdlog.h>

#include "meter/registry.h"
#include "meter/table.h"
#include "queues/worker_table.h"
#include "sdk/identity.h"
#include "sdk/log_levels.h"
#include "sdk/metrics.h"

namespace worker {
namespace {

using namespace queues;

class MetricAnswers : public ::testing::Test {
 protected:
  void SetUp() override {
    meter::Registry::start();
    root_ = std::make_unique<meter::Group>(nullptr, "metric_answers");
    count_ = std::make_unique<meter::IntegerCounter>(root_.get(), "count", "n", "a counter");
    count_->set(5);
    sub_ = std::make_unique<meter::Group>(root_.get(), "sub");
    time_ = std::make_unique<meter::MicroSecondTiming>(sub_.get(), "time", "a timing");
    time_->record(uint64_t{3});
    time_->record(uint64_t{4});
    table_ = std::make_unique<meter::Table>(
        root_.get(), "peers", std::vector<meter::Table::Column>{{"sent", "events", "sent"}});
    table_->add("dbms", 0, 9);
  }
  std::unique_ptr<meter::Group> root_, sub_;
  std::unique_ptr<meter::IntegerCounter> count_;
  std::unique_ptr<meter::MicroSecondTiming> time_;
  std::unique_ptr<meter::Table> table_;
};

TEST_F(MetricAnswers, ValueQueriesGiveTheReplyOfTheMetricsKind) {
  struct Case {
    std::vector<std::string> path;
    event_t reply;
  } cases[] = {
      {{"count"}, RETURN_METRIC_UINT64},
      {{"sub", "time"}, RETURN_METRIC_TIMING},
      {{"peers", "dbms", "sent"}, RETURN_METRIC_UINT64},
      {{"sub"}, RETURN_METRIC_ERROR},
      {{"nothing"}, RETURN_METRIC_ERROR},
      {{}, RETURN_METRIC_ERROR},
  };
  uint32_t inresponse = 100;
  for (const Case& c : cases) {
    ev<GET_METRIC> req(QUEUE_MAIN, ++inresponse, {c.path});
    auto reply = answerMetricRequest(req, root_.get(), "test");
    ASSERT_TRUE(reply) << meter::pathText(c.path);
    EXPECT_EQ(reply->type, c.reply) << meter::pathText(c.path);
    EXPECT_EQ(reply->inresponse, inresponse);
  }
  ev<GET_METRIC> timing(QUEUE_MAIN, 1, {{"sub", "time"}});
  auto t = answerMetricRequest(timing, root_.get(), "test");
  const auto& data = as<RETURN_METRIC_TIMING>(*t)->payload;
  EXPECT_EQ(std::tie(data.n, data.min, data.max, data.sum, data.sum_squares),
            std::make_tuple(2u, 3u, 4u, 7u, 25u));
  ev<GET_METRIC> cell(QUEUE_MAIN, 1, {{"peers", "dbms", "sent"}});
  EXPECT_EQ(as<RETURN_METRIC_UINT64>(*answerMetricRequest(cell, root_.get(), "t"))->payload, 9u);
}

// A listing of a real worker is checked in reference_worker_test.cc; here what that worker
// has not: a table.
TEST_F(MetricAnswers, TypeQueriesAndListsDescribeTheTree) {
  ev<GET_METRIC_TYPE> type(QUEUE_MAIN, 8, {{"sub", "time"}});
  auto t = answerMetricRequest(type, root_.get(), "test");
  ASSERT_TRUE(as<RETURN_GET_METRIC_TYPE>(*t));
  EXPECT_EQ(t->inresponse, 8u);
  const control::Metric& m = as<RETURN_GET_METRIC_TYPE>(*t)->payload;
  EXPECT_EQ(std::tie(m.name, m.unit, m.desc, m.type),
            std::make_tuple(std::string("time"), std::string("us"), std::string("a timing"), 3));
  ev<GET_METRIC_TYPE> missing(QUEUE_MAIN, 9, {{"sub", "nothing"}});
  EXPECT_EQ(answerMetricRequest(missing, root_.get(), "test")->type, RETURN_METRIC_ERROR);

  ev<LIST_METRICS> list(QUEUE_MAIN, 10, 0);
  auto l = answerMetricRequest(list, root_.get(), "dbms");
  ASSERT_TRUE(as<RETURN_LIST_METRICS>(*l));
  const control::Metric_Group& g = as<RETURN_LIST_METRICS>(*l)->payload;
  ASSERT_EQ(g.tables.size(), 1u);
  EXPECT_EQ(g.tables[0].rows, std::vector<std::string>{"dbms"});
  EXPECT_EQ(g.tables[0].columns.at(0).name, "sent");
}

TEST_F(MetricAnswers, AWorkerWithoutMetricsStillAnswers) {
  ev<GET_METRIC> get(QUEUE_MAIN, 3, {{"count"}});
  auto r = answerMetricRequest(get, nullptr, "keyg");
  ASSERT_TRUE(as<RETURN_METRIC_ERROR>(*r));
  EXPECT_EQ(as<RETURN_METRIC_ERROR>(*r)->payload, "Metrics not supported");
  ev<LIST_METRICS> list(QUEUE_MAIN, 4, 0);
  auto l = answerMetricRequest(list, nullptr, "keyg");
  EXPECT_EQ(as<RETURN_LIST_METRICS>(*l)->payload.name, "keyg");
  EXPECT_TRUE(as<RETURN_LIST_METRICS>(*l)->payload.metrics.empty());
  ev<SYS_EXIT> other;
  EXPECT_EQ(answerMetricRequest(other, root_.get(), "x"), nullptr);
}

TEST(LogLevels, KeysNameLoggersAndBadEntriesChangeNothing) {
  auto make = [](const std::string& name) {
    auto l =
        std::make_shared<spdlog::logger>(name, std::make_shared<spdlog::sinks::null_sink_mt>());
    l->set_level(spdlog::level::info);
    spdlog::register_logger(l);
    return l;
  };
  auto a = make("log_levels_a");
  auto b = make("log_levels_b");
  auto def = spdlog::default_logger();
  def->set_level(spdlog::level::info);

  control::Set_Log_Level_Data one{{{"log_levels_a", 1}}};
  EXPECT_TRUE(applyLogLevels(one).empty());
  EXPECT_EQ(a->level(), spdlog::level::debug);
  EXPECT_EQ(b->level(), spdlog::level::info);
  EXPECT_EQ(def->level(), spdlog::level::info);

  control::Set_Log_Level_Data bad{{{"log_levels_a", 7}, {"log_levels_b", -1}, {"nobody", 2}}};
  EXPECT_EQ(applyLogLevels(bad).size(), 3u);
  EXPECT_EQ(a->level(), spdlog::level::debug);
  EXPECT_EQ(b->level(), spdlog::level::info);

  control::Set_Log_Level_Data all{{{"*", 4}}};
  EXPECT_TRUE(applyLogLevels(all).empty());
  EXPECT_EQ(a->level(), spdlog::level::err);
  EXPECT_EQ(b->level(), spdlog::level::err);
  EXPECT_EQ(def->level(), spdlog::level::err);

  control::Set_Log_Level_Data only_default{{{"default", 0}}};
  applyLogLevels(only_default);
  EXPECT_EQ(def->level(), spdlog::level::trace);
  EXPECT_EQ(a->level(), spdlog::level::err);
  def->set_level(spdlog::level::info);
  spdlog::drop("log_levels_a");
  spdlog::drop("log_levels_b");
}

TEST(Identity, ProgramNamesFindTheirQueueAndOthersAreTheExtraProcess) {
  EXPECT_EQ(Identity::fromProgram("/opt/vexlan/bin/vexlan-dbms").queue, QUEUE_DBMS);
  Identity keyg = Identity::fromProgram("vexlan-keygen.exe");
  EXPECT_EQ(keyg.queue, QUEUE_KEYG);
  EXPECT_EQ(keyg.sname, "keyg");
  EXPECT_TRUE(keyg.demandLoad());
  EXPECT_EQ(keyg.upperName(), "KEYG");
  Identity extra = Identity::fromProgram("./my-extra");
  EXPECT_EQ(extra.queue, QUEUE_EXTRA);
  EXPECT_EQ(extra.sname, "extr");
  EXPECT_EQ(extra.program, "./my-extra");
  EXPECT_FALSE(extra.demandLoad());

  EXPECT_EQ(parseQueue("keyg"), QUEUE_KEYG);
  EXPECT_EQ(parseQueue("extr"), QUEUE_EXTRA);
  EXPECT_EQ(parseQueue("extra"), QUEUE_EXTRA);
  EXPECT_EQ(parseQueue("9"), QUEUE_BNCH);
  EXPECT_THROW(parseQueue("nope"), error::EParseError);
  EXPECT_THROW(parseQueue("9x"), error::EParseError);
}

}  // namespace
}  // namespace worker
