// The SDK in a real worker process (this test binary re-executed as the child), against the
// stand-in supervisor: what a blocking request does with the traffic that arrives meanwhile,
// and how time-outs, error replies and refused peers reach the caller.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>

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

VXTEST_CHILD(call_all_child) {
  worker::Worker w(worker::Identity::forQueue(QUEUE_TSDB));
  std::vector<std::string> out;
  w.onUnhandled([&](event& e, queue_t) { out.push_back("unhandled " + eventName(e.type)); });
  reportOnExit(w, out);
  worker::Worker::Settings settings = w.requestSettings();
  out.push_back("config " + settings.config.host_name + ", vars " + settings.vars["v"]);
  ev<GET_PURE_ENTROPY> entropy(QUEUE_MAIN, 0, 16);
  ev<GET_PSEUDO_RANDOM> random(QUEUE_MAIN, 0, {4, false});
  try {
    w.callAll({&random, &entropy}, 200ms);
    out.push_back("no time-out");
  } catch (const worker::ETimeout&) {
    out.push_back("time-out");
  }
  w.initOk();
  return w.run();
}

// Requests sent together get their replies in any order; a reply that comes after the
// time-out is dropped, like a late reply to a single request.
TEST(WorkerSdk, RequestsSentTogetherTakeTheirRepliesInAnyOrder) {
  TestSupervisor s;
  uint32_t config_request = 0, entropy_request = 0;
  s.intercept = [&](TestSupervisor::Worker&, event& in) {
    if (as<REQUEST_SERVER_CONFIGURATION>(in)) {
      config_request = in.inresponse;  // answered after the variables
      return true;
    }
    if (as<REQUEST_SERVER_VARIABLE_FIELDS>(in)) {
      EXPECT_NE(config_request, 0u) << "both requests leave before either reply";
      ev<RETURN_SERVER_VARIABLE_FIELDS> vars(QUEUE_MAIN, in.inresponse, {{{"v", "1"}}});
      s.send(QUEUE_TSDB, vars);
      control::Server_Configuration_Fields config;
      config.host_name = "h2";
      ev<SERVER_CONFIGURATION> reply(QUEUE_MAIN, config_request, config);
      s.send(QUEUE_TSDB, reply);
      return true;
    }
    if (as<GET_PURE_ENTROPY>(in)) {
      entropy_request = in.inresponse;  // not answered in time
      return true;
    }
    if (as<INIT_OK>(in)) {
      ev<RETURN_PURE_ENTROPY> late(QUEUE_MAIN, entropy_request, std::string(16, 'e'));
      s.send(QUEUE_TSDB, late);
    }
    return false;
  };
  TestSupervisor::Worker& w = s.start(selfExe(), QUEUE_TSDB, {{"VXTEST_CHILD", "call_all_child"}});
  ASSERT_TRUE(s.runUntil([&] { return !w.init_oks.empty(); }));
  s.runUntil([] { return false; }, 0.2);
  ev<SYS_EXIT> bye;
  s.send(QUEUE_TSDB, bye);
  EXPECT_EQ(s.waitExit(QUEUE_TSDB), 0);
  EXPECT_EQ(w.logs, (std::vector<std::string>{"config h2, vars 1; time-out"}));
}

// Sends `count` events of 100 to 2000 bytes to `peer` before it reads anything: far more than
// the write area holds, while the peer does the same to it. Sizes vary so that events often
// straddle two blocks.
std::string payload(int k) {
  return std::string(static_cast<size_t>(100 + k * 317 % 1900), static_cast<char>('a' + k % 26));
}

VXTEST_CHILD(flood_child) {
  auto me = static_cast<queue_t>(std::stoi(args.at(0)));
  auto peer = static_cast<queue_t>(std::stoi(args.at(1)));
  int count = std::stoi(args.at(2));
  worker::Worker w(worker::Identity::forQueue(me));
  int got = 0;
  w.on<RETURN_PURE_ENTROPY>([&](ev<RETURN_PURE_ENTROPY>& e, queue_t from) {
    if (from == peer && e.payload == payload(got) && ++got == count) {
      w.log("got all from " + queueName(peer));
    }
  });
  w.waitPeer(peer, 10s);
  for (int k = 0; k < count; ++k) {
    ev<RETURN_PURE_ENTROPY> e(peer, 0, payload(k));
    w.send(peer, e);
  }
  w.initOk();
  return w.run();
}

// Both run, so a peer request made before the other has attached finds it.
void knowEachOther(TestSupervisor& s) {
  for (queue_t q : {QUEUE_DBMS, QUEUE_TSDB})
    s.demand_load[q] = {selfExe(), {}};
}

TEST(WorkerSdk, TwoWorkersFloodingEachOtherDoNotDeadlock) {
  TestSupervisor s;
  knowEachOther(s);
  s.start(selfExe(), QUEUE_DBMS, {{"VXTEST_CHILD", "flood_child"}}, {"2 20 1000"});
  s.start(selfExe(), QUEUE_TSDB, {{"VXTEST_CHILD", "flood_child"}}, {"20 2 1000"});
  ASSERT_TRUE(s.runUntil([&] {
    return s.worker(QUEUE_DBMS).hasLog("got all from tsdb") &&
           s.worker(QUEUE_TSDB).hasLog("got all from dbms");
  })) << s.worker(QUEUE_DBMS).stderr_text
      << s.worker(QUEUE_TSDB).stderr_text;
  for (queue_t q : {QUEUE_DBMS, QUEUE_TSDB}) {
    ev<SYS_EXIT> bye;
    s.send(q, bye);
  }
  EXPECT_EQ(s.waitExit(QUEUE_DBMS), 0);
  EXPECT_EQ(s.waitExit(QUEUE_TSDB), 0);
}

// Events several times larger than the room left in the writer's area, with contents that
// show a lost, repeated or reordered piece.
std::string bigPayload(int k) {
  std::string s(static_cast<size_t>(40000 + 30000 * k), '\0');
  for (size_t i = 0; i < s.size(); ++i)
    s[i] = static_cast<char>((i * 7 + static_cast<size_t>(k)) % 251);
  return s;
}
constexpr int kBigEvents = 3;

// Fills most of its area with log lines the supervisor leaves unread. Then, handling the
// first of two events the supervisor sent in one message, it sends its peer events far larger
// than the room left: the room comes back only as the peer takes in what it is sent, while the
// peer, in the same state, sends to it. It tells the test on its standard error (which the
// supervisor still reads) when its area is filled and when its sends have returned, and what
// it got when it leaves.
VXTEST_CHILD(crossing_child) {
  auto me = static_cast<queue_t>(std::stoi(args.at(0)));
  auto peer = static_cast<queue_t>(std::stoi(args.at(1)));
  worker::Worker w(worker::Identity::forQueue(me));
  int got = 0;
  std::vector<std::string> out;
  w.on<RETURN_PURE_ENTROPY>([&](ev<RETURN_PURE_ENTROPY>& e, queue_t from) {
    if (from == peer && e.payload == bigPayload(got) && ++got == kBigEvents) {
      out.push_back("got all from " + queueName(peer));
    }
  });
  w.on<REQUEST_RESULT>([&](ev<REQUEST_RESULT>& e, queue_t) {
    out.push_back("result " + std::to_string(e.payload));
    if (e.payload != 1) return;
    for (int k = 0; k < kBigEvents; ++k) {
      ev<RETURN_PURE_ENTROPY> big(peer, 0, bigPayload(k));
      w.send(peer, big);
    }
    std::fputs("sent\n", stderr);
    std::fflush(stderr);
  });
  reportOnExit(w, out);
  w.waitPeer(peer, 10s);
  for (int k = 0; k < 230; ++k)
    w.log(std::string(1000, 'f'));
  std::fputs("filled\n", stderr);
  std::fflush(stderr);
  return w.run();
}

// Both workers wait for room in the middle of an event while the other's event, also split
// across messages, waits to be read. Neither may wait for the rest of the other's event while
// its own stays half-written. Each waits while the event after the one it is handling lies
// in the same message: taking in that message must neither lose nor repeat it.
TEST(WorkerSdk, WorkersWritingLargeEventsToEachOtherWithFullAreasDoNotDeadlock) {
  TestSupervisor s;
  s.unread = {QUEUE_DBMS, QUEUE_TSDB};
  knowEachOther(s);
  TestSupervisor::Worker& a =
      s.start(selfExe(), QUEUE_DBMS, {{"VXTEST_CHILD", "crossing_child"}}, {"2 20"});
  TestSupervisor::Worker& b =
      s.start(selfExe(), QUEUE_TSDB, {{"VXTEST_CHILD", "crossing_child"}}, {"20 2"});
  // Sent to both only now, so that each handles its own before it sees the other's events.
  ASSERT_TRUE(s.runUntil([&] {
    return a.stderr_text.find("filled") != std::string::npos &&
           b.stderr_text.find("filled") != std::string::npos;
  }));
  for (queue_t q : {QUEUE_DBMS, QUEUE_TSDB}) {
    ev<REQUEST_RESULT> first(QUEUE_MAIN, 0, 1);
    ev<REQUEST_RESULT> second(QUEUE_MAIN, 0, 2);
    s.sendTogether(q, {&first, &second});
  }
  ASSERT_TRUE(s.runUntil(
      [&] {
        return a.stderr_text.find("sent") != std::string::npos &&
               b.stderr_text.find("sent") != std::string::npos;
      },
      10))
      << "both sends still wait";
  s.unread.clear();
  for (queue_t q : {QUEUE_DBMS, QUEUE_TSDB}) {
    ev<SYS_EXIT> bye;
    s.send(q, bye);
  }
  EXPECT_EQ(s.waitExit(QUEUE_DBMS), 0) << a.stderr_text;
  EXPECT_EQ(s.waitExit(QUEUE_TSDB), 0) << b.stderr_text;
  EXPECT_TRUE(a.hasLog("result 1; result 2; got all from tsdb")) << joined(a.logs);
  EXPECT_TRUE(b.hasLog("result 1; result 2; got all from dbms")) << joined(b.logs);
}

VXTEST_CHILD(stuck_writer_child) {
  worker::Worker w(worker::Identity::forQueue(QUEUE_SKIO));
  w.initOk();
  try {
    for (int k = 0; k < 2000; ++k)
      w.log(std::string(1024, 'x'));
  } catch (const worker::ESupervisorGone&) {
    return worker::kExitSupervisorGone;
  }
  return 70;  // the supervisor did not read: never reached
}

TEST(WorkerSdk, ASupervisorGoneWhileAWriteWaitsForRoomEndsTheWorker) {
  TestSupervisor s;
  TestSupervisor::Worker& w =
      s.start(selfExe(), QUEUE_SKIO, {{"VXTEST_CHILD", "stuck_writer_child"}});
  ASSERT_TRUE(s.runUntil([&] { return !w.init_oks.empty(); }));
  // Nothing is read now: the worker's area fills and its next write waits.
  ::usleep(300 * 1000);
  EXPECT_EQ(w.exit_code, -1);
  s.vanish();
  TimeValue before = TimeValue::now();
  EXPECT_EQ(s.waitExit(QUEUE_SKIO, 10), worker::kExitSupervisorGone) << w.stderr_text;
  EXPECT_LT((TimeValue::now() - before).asDouble(), 2.0);
}

}  // namespace
}  // namespace vxtest
