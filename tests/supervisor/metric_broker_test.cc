#include "supervisor/metric_broker.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "error/exception.h"
#include "queues/events_control.h"
#include "supervisor/log_level_relay.h"

namespace supervisor {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using Q = queues::queue_t;

// Workers by queue: 2 dbms, 20 tsdb, 24 extr (the requester in most cases).
class FakeOutbox : public MetricBroker::Outbox {
 public:
  struct Sent {
    Q to;
    std::unique_ptr<queues::event> ev;
  };
  std::map<Q, std::string> workers = {{Q(2), "dbms"}, {Q(20), "tsdb"}, {Q(24), "extr"}};
  std::vector<Sent> sent;
  std::vector<std::string> lines;

  bool sendToQueue(Q queue, queues::event& ev) override {
    if (workers.count(queue) == 0) return false;
    ev.dest = queues::QUEUE_MAIN;
    sent.push_back({queue, ev.clone()});
    return true;
  }
  std::optional<Q> queueOf(const std::string& sname) const override {
    for (const auto& [q, s] : workers) {
      if (s == sname) return q;
    }
    return std::nullopt;
  }
  std::string snameOf(Q queue) const override { return workers.at(queue); }
  std::string programOf(Q queue) const override { return "vexlan-" + workers.at(queue); }
  void log(const std::string& line) override { lines.push_back(line); }

  template <queues::event_t N>
  const queues::ev<N>& last(Q to) {
    EXPECT_FALSE(sent.empty());
    EXPECT_EQ(sent.back().to, to);
    const auto* ev = queues::as<N>(*sent.back().ev);
    EXPECT_NE(ev, nullptr) << queues::eventName(sent.back().ev->type);
    return *ev;
  }
};

queues::ev<queues::GET_METRIC> getMetric(uint32_t inresponse, std::vector<std::string> path) {
  return queues::ev<queues::GET_METRIC>(queues::QUEUE_MAIN, inresponse, {std::move(path)});
}

TEST(MetricBroker, ForwardsByTheFirstPathElementAndMapsTheReplyBack) {
  FakeOutbox out;
  MetricBroker broker(out);
  broker.request(Q(24), getMetric(77, {"dbms", "events", "received"}));
  const auto& fwd = out.last<queues::GET_METRIC>(Q(2));
  EXPECT_THAT(fwd.payload.id, ElementsAre("events", "received"));
  const uint32_t id = fwd.inresponse;
  EXPECT_NE(id, 77u);

  // Only the supplier asked may answer, and only once.
  queues::ev<queues::RETURN_METRIC_UINT64> answer(queues::QUEUE_MAIN, id, 5);
  EXPECT_THROW(broker.reply(Q(20), answer), error::EFatal);
  broker.reply(Q(2), answer);
  EXPECT_EQ(out.last<queues::RETURN_METRIC_UINT64>(Q(24)).inresponse, 77u);
  EXPECT_EQ(out.last<queues::RETURN_METRIC_UINT64>(Q(24)).payload, 5u);
  EXPECT_THROW(broker.reply(Q(2), answer), error::EFatal);

  queues::ev<queues::GET_METRIC_TYPE> type(queues::QUEUE_MAIN, 78, {{"tsdb", "uptime"}});
  broker.request(Q(24), type);
  EXPECT_THAT(out.last<queues::GET_METRIC_TYPE>(Q(20)).payload.id, ElementsAre("uptime"));
  EXPECT_GT(out.last<queues::GET_METRIC_TYPE>(Q(20)).inresponse, id);  // ids only grow
}

TEST(MetricBroker, UnknownOrEmptyPathsAreAnsweredAtOnce) {
  FakeOutbox out;
  MetricBroker broker(out);
  broker.request(Q(24), getMetric(5, {}));
  EXPECT_EQ(out.last<queues::RETURN_METRIC_ERROR>(Q(24)).payload, "Unknown metric");
  EXPECT_EQ(out.last<queues::RETURN_METRIC_ERROR>(Q(24)).inresponse, 5u);
  broker.request(Q(24), getMetric(6, {"rmch", "x"}));
  EXPECT_THAT(out.lines,
              ElementsAre("Got bad metric request (empty) from process #24 vexlan-extr - sent "
                          "back error.",
                          "Got bad metric request (\"rmch\") from process #24 vexlan-extr - sent "
                          "back error."));
  EXPECT_EQ(broker.pendingRequests(), 0u);
}

TEST(MetricBroker, ListsFanOutToSuppliersAndCollectOneGroupEach) {
  FakeOutbox out;
  MetricBroker broker(out);
  queues::ev<queues::LIST_METRICS> list(queues::QUEUE_MAIN, 9, 0);
  broker.list(Q(24), list);  // nobody supplies metrics yet
  EXPECT_THAT(out.last<queues::RETURN_LIST_METRICS>(Q(24)).payload.groups, IsEmpty());

  broker.supports(Q(20));
  broker.supports(Q(2));
  out.sent.clear();
  broker.list(Q(24), list);
  ASSERT_EQ(out.sent.size(), 2u);
  EXPECT_EQ(out.sent[0].to, Q(2));  // ascending queues
  EXPECT_EQ(out.sent[1].to, Q(20));
  const uint32_t id = out.sent[0].ev->inresponse;

  // A supplier joining meanwhile is not waited for: it was never asked.
  broker.supports(Q(24));
  queues::ev<queues::RETURN_LIST_METRICS> tsdb(queues::QUEUE_MAIN, id, {"root", {}, {}, {}});
  broker.listReply(Q(20), tsdb);
  EXPECT_EQ(out.sent.size(), 2u);
  EXPECT_THROW(broker.listReply(Q(20), tsdb), error::EFatal);  // answered already
  broker.listReply(Q(2), tsdb);
  const auto& done = out.last<queues::RETURN_LIST_METRICS>(Q(24));
  EXPECT_EQ(done.inresponse, 9u);
  ASSERT_EQ(done.payload.groups.size(), 2u);
  EXPECT_EQ(done.payload.groups[0].name, "tsdb");
  EXPECT_EQ(done.payload.groups[1].name, "dbms");
  EXPECT_EQ(broker.pendingLists(), 0u);
}

TEST(MetricBroker, AWorkerThatEndsNeitherBlocksNorReceives) {
  FakeOutbox out;
  MetricBroker broker(out);
  broker.supports(Q(2));
  broker.supports(Q(20));
  broker.request(Q(24), getMetric(1, {"dbms", "a"}));
  const uint32_t to_dbms = out.sent.back().ev->inresponse;
  broker.request(Q(20), getMetric(2, {"dbms", "b"}));
  broker.request(Q(2), getMetric(3, {"tsdb", "c"}));
  const uint32_t from_dbms = out.sent.back().ev->inresponse;
  broker.list(Q(24), queues::ev<queues::LIST_METRICS>(queues::QUEUE_MAIN, 4, 0));
  const uint32_t list_id = out.sent.back().ev->inresponse;
  queues::ev<queues::RETURN_LIST_METRICS> tsdb_group(queues::QUEUE_MAIN, list_id);
  broker.listReply(Q(20), tsdb_group);

  out.sent.clear();
  broker.workerGone(Q(2));
  EXPECT_THAT(broker.suppliers(), ElementsAre(20));
  // Both requests to dbms are answered with an error; the list goes out with what it has.
  ASSERT_EQ(out.sent.size(), 3u);
  EXPECT_EQ(queues::as<queues::RETURN_METRIC_ERROR>(*out.sent[0].ev)->payload,
            "Process [dbms] ended before answering");
  EXPECT_EQ(out.sent[0].ev->inresponse, 1u);
  EXPECT_EQ(out.sent[1].to, Q(20));
  const auto* list = queues::as<queues::RETURN_LIST_METRICS>(*out.sent[2].ev);
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->payload.groups.size(), 1u);
  EXPECT_EQ(broker.pendingLists(), 0u);
  // The answer dbms asked for arrives after its end and goes nowhere.
  out.workers.erase(Q(2));
  broker.reply(Q(20), queues::ev<queues::RETURN_METRIC_UINT64>(queues::QUEUE_MAIN, from_dbms, 1));
  EXPECT_EQ(out.sent.size(), 3u);
  EXPECT_THROW(
      broker.reply(Q(2), queues::ev<queues::RETURN_METRIC_UINT64>(queues::QUEUE_MAIN, to_dbms, 1)),
      error::EFatal);
  EXPECT_EQ(broker.pendingRequests(), 0u);
}

TEST(LogLevelRelay, KeysAddressOneWorkerOrAll) {
  std::map<std::string, Q> workers = {{"dbms", Q(2)}, {"tsdb", Q(20)}, {"schd", Q(1)}};
  std::vector<LogLevelDelivery> d =
      routeLogLevels({{"dbms/events", 1}, {"rmch/x", 2}, {"default", 3}, {"tsdb/a/b", 4}}, workers);
  EXPECT_THAT(
      d, ElementsAre(LogLevelDelivery{Q(2), "events", 1}, LogLevelDelivery{Q(1), "default", 3},
                     LogLevelDelivery{Q(2), "default", 3}, LogLevelDelivery{Q(20), "default", 3},
                     LogLevelDelivery{Q(20), "a/b", 4}));
  EXPECT_THAT(routeLogLevels({{"*/x", 0}}, {{"dbms", Q(2)}}),
              ElementsAre(LogLevelDelivery{Q(2), "x", 0}));
}

// The supervisor's own questions (the admin channel's metrics) share the broker's ids with the
// workers' requests, and their answers never reach a worker.
TEST(MetricBroker, OwnQuestionsGetTheirAnswerOnceAndAnErrorWhenTheSupplierGoes) {
  FakeOutbox out;
  MetricBroker broker(out);
  std::vector<std::string> answers;
  auto record = [&](const queues::event& ev) {
    if (const auto* e = queues::as<queues::RETURN_METRIC_ERROR>(ev)) {
      answers.push_back("error: " + e->payload);
    } else if (const auto* u = queues::as<queues::RETURN_METRIC_UINT64>(ev)) {
      answers.push_back(std::to_string(u->payload));
    } else {
      answers.push_back(queues::eventName(ev.type));
    }
  };
  // A worker's own request is in flight at the same time.
  auto theirs = getMetric(77, {"dbms", "uptime"});
  broker.request(Q(24), theirs);
  const uint32_t their_id = out.sent.back().ev->inresponse;

  queues::ev<queues::GET_METRIC> mine(Q(2), 0, {{"uptime"}});
  broker.ask(Q(2), mine, record);
  const uint32_t my_id = out.sent.back().ev->inresponse;
  EXPECT_NE(my_id, their_id);
  queues::ev<queues::LIST_METRICS> list(Q(20), 0);
  broker.ask(Q(20), list, record);
  EXPECT_EQ(broker.pendingQuestions(), 2u);

  const size_t sent_before = out.sent.size();
  broker.reply(Q(2), queues::ev<queues::RETURN_METRIC_UINT64>(queues::QUEUE_MAIN, my_id, 42));
  EXPECT_THAT(answers, ElementsAre("42"));
  EXPECT_EQ(out.sent.size(), sent_before);  // nothing went to a worker
  // The same answer again is not ours any more, nor anybody's.
  EXPECT_THROW(
      broker.reply(Q(2), queues::ev<queues::RETURN_METRIC_UINT64>(queues::QUEUE_MAIN, my_id, 43)),
      error::EFatal);
  // The worker's request still maps back to it.
  broker.reply(Q(2), queues::ev<queues::RETURN_METRIC_UINT64>(queues::QUEUE_MAIN, their_id, 5));
  EXPECT_EQ(out.last<queues::RETURN_METRIC_UINT64>(Q(24)).inresponse, 77u);

  broker.workerGone(Q(20));
  EXPECT_THAT(answers, ElementsAre("42", "error: Process [tsdb] ended before answering"));
  EXPECT_EQ(broker.pendingQuestions(), 0u);

  // Nobody to ask: the answer comes at once.
  queues::ev<queues::GET_METRIC> lost(Q(9), 0, {{"x"}});
  broker.ask(Q(9), lost, record);
  EXPECT_EQ(answers.back(), "error: No process of queue bnch to ask");
}

}  // namespace
}  // namespace supervisor
