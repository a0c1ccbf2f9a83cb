// The SDK in a real worker process (this test binary re-executed as the child), against the
// stand-in supervisor: what a blocking request does with the traffic that arrives meanwhile,
// and how time-outs, error replies and refused peers reach the caller.
#include <gtest/gtest.h>

#include "harness.h"
#include "meter/metric.h"
#include "meter/registry.h"
#include "sdk/worker.h"
#include "support/test_support.h"

namespace vxtest {
namespace {

using namespace queues;
using namespace std::chrono_literals;

std::string joined(const std::vector<std::string>& v) {
  std::string s;
  for (const std::string& x : v)
    s += (s.empty() ? "" : "; ") + x;
  return s;
}

// Logs what happened, in order, when told to leave.
void reportOnExit(worker::Worker& w, const std::vector<std::string>& out) {
  w.onExit([&w, &out](const control::Sys_Exit_Data&) {
    w.log(joined(out));
    return true;
  });
}

VXTEST_CHILD(blocking_child) {
  meter::Registry::start();
  meter::IntegerCounter hits(nullptr, "hits", "hits", "a test counter");
  hits.set(7);
  worker::Worker w(worker::Identity::forQueue(QUEUE_DBMS));
  std::vector<std::string> out;
  w.on<REQUEST_RESULT>([&](ev<REQUEST_RESULT>& e, queue_t from) {
    out.push_back("event " + std::to_string(e.payload) + " from " + queueName(from));
  });
  reportOnExit(w, out);
  w.supportMetrics(meter::Registry::root());
  out.push_back("config " + w.requestConfiguration().host_name);
  w.initOk();
  return w.run();
}

TEST(WorkerSdk, BlockingRequestAnswersMetricsAtOnceAndKeepsOtherEventsForLater) {
  TestSupervisor s;
  uint32_t config_request = 0;
  s.intercept = [&](TestSupervisor::Worker&, event& in) {
    if (as<REQUEST_SERVER_CONFIGURATION>(in)) {
      // The reply is held back until the worker has answered a metric query sent after an
      // ordinary event.
      config_request = in.inresponse;
      ev<REQUEST_RESULT> first(QUEUE_MAIN, 0, 1);
      s.send(QUEUE_DBMS, first);
      ev<GET_METRIC> query(QUEUE_MAIN, 77, {{"hits"}});
      s.send(QUEUE_DBMS, query);
      return true;
    }
    if (as<RETURN_METRIC_UINT64>(in) && in.inresponse == 77) {
      control::Server_Configuration_Fields config;
      config.host_name = "h1";
      ev<SERVER_CONFIGURATION> reply(QUEUE_MAIN, config_request, config);
      s.send(QUEUE_DBMS, reply);
    }
    return false;
  };
  TestSupervisor::Worker& w = s.start(selfExe(), QUEUE_DBMS, {{"VXTEST_CHILD", "blocking_child"}});
  ASSERT_TRUE(s.runUntil([&] { return !w.init_oks.empty(); }));
  ASSERT_EQ(w.received(RETURN_METRIC_UINT64).size(), 1u);
  EXPECT_EQ(as<RETURN_METRIC_UINT64>(*w.received(RETURN_METRIC_UINT64)[0])->payload, 7u);
  ev<SYS_EXIT> bye;
  s.send(QUEUE_DBMS, bye);
  EXPECT_EQ(s.waitExit(QUEUE_DBMS), 0);
  EXPECT_EQ(w.logs, (std::vector<std::string>{"config h1; event 1 from main"}));
}

VXTEST_CHILD(errors_child) {
  worker::Worker w(worker::Identity::forQueue(QUEUE_SCHD));
  std::vector<std::string> out;
  w.onUnhandled([&](event& e, queue_t) { out.push_back("unhandled " + eventName(e.type)); });
  w.onPeerGone([&](queue_t q, bool refused) {
    out.push_back("gone " + queueName(q) + (refused ? " refused" : ""));
  });
  reportOnExit(w, out);
  try {
    w.pureEntropy(16, 200ms);
    out.push_back("no time-out");
  } catch (const worker::ETimeout&) {
    out.push_back("time-out");
  }
  try {
    w.pseudoRandom(8);
  } catch (const worker::ERequestFailed& e) {
    out.push_back(e.what());
  }
  out.push_back(w.pseudoRandom(4));
  ev<REQUEST_RESULT> to_nobody(QUEUE_BNCH, 0, 1);
  w.send(QUEUE_BNCH, to_nobody);
  try {
    w.waitPeer(QUEUE_BNCH, 5s);
  } catch (const worker::EPeerGone& e) {
    out.push_back(e.what());
  }
  try {
    w.send(QUEUE_BNCH, to_nobody);
  } catch (const worker::EPeerGone&) {
    out.push_back("send refused");
  }
  w.initOk();
  return w.run();
}

TEST(WorkerSdk, TimeOutsErrorRepliesAndRefusedPeersReachTheCaller) {
  TestSupervisor s;
  uint32_t entropy_request = 0;
  int random_requests = 0;
  s.intercept = [&](TestSupervisor::Worker&, event& in) {
    if (as<GET_PURE_ENTROPY>(in)) {
      entropy_request = in.inresponse;  // not answered in time
      return true;
    }
    if (as<GET_PSEUDO_RANDOM>(in) && ++random_requests == 1) {
      // The late answer to the abandoned request must not reach any handler.
      ev<RETURN_PURE_ENTROPY> late(QUEUE_MAIN, entropy_request, std::string(16, 'e'));
      s.send(QUEUE_SCHD, late);
      exevent failed(QUEUE_MAIN, in.inresponse, "no generator");
      s.send(QUEUE_SCHD, failed);
      return true;
    }
    return false;
  };
  TestSupervisor::Worker& w = s.start(selfExe(), QUEUE_SCHD, {{"VXTEST_CHILD", "errors_child"}});
  ASSERT_TRUE(s.runUntil([&] { return !w.init_oks.empty(); }));
  // The refusal's end of stream is read by the loop, which reports it.
  s.runUntil([] { return false; }, 0.2);
  ev<SYS_EXIT> bye;
  s.send(QUEUE_SCHD, bye);
  EXPECT_EQ(s.waitExit(QUEUE_SCHD), 0);
  EXPECT_EQ(w.logs, (std::vector<std::string>{
                        "time-out; GET_PSEUDO_RANDOM failed: no generator; rrrr; "
                        "Queue bnch has gone or was refused; send refused; gone bnch refused"}));
  EXPECT_EQ(s.peer_requests, (std::vector<std::pair<int32_t, int32_t>>{{QUEUE_BNCH, QUEUE_SCHD}}));
}

}  // namespace
}  // namespace vxtest
