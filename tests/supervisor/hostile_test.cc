// A worker set on freezing or breaking the server (the probe worker's hostile steps) against the
// real vexland: the supervisor stays responsive meanwhile, and whatever the worker does ends as
// its own fault.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <thread>

#include "supervisor/server_harness.h"

namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;
using ::testing::Not;
using vxtest::Outcome;
using vxtest::Server;

// The round trips (µs) the ping worker logged after `from`.
std::vector<long> pings(const std::string& log, size_t from) {
  std::vector<long> out;
  std::string tail = log.substr(std::min(from, log.size()));
  std::regex re("ping answered in ([0-9]+) us");
  for (std::sregex_iterator it(tail.begin(), tail.end(), re), end; it != end; ++it)
    out.push_back(std::stol((*it)[1]));
  return out;
}

template <typename F>
bool waitUntil(F done, std::chrono::milliseconds limit = vxtest::kWaitLimit) {
  for (auto until = std::chrono::steady_clock::now() + limit;
       std::chrono::steady_clock::now() < until; std::this_thread::sleep_for(5ms)) {
    if (done()) return true;
  }
  return false;
}

TEST(HostileWorker, AnEventSentPieceByPieceHoldsNobodyAndEndsAtTheStallLimit) {
  Server s("worker_stall_limit = 5");
  const std::string out = s.dir() + "/probe.out";
  std::map<std::string, std::string> env = vxtest::probeWorker("slow:300", out);
  env["VXW_UPLN_PING"] = "20";
  s.start(env);
  // At a tenth of the limit the log says so: from then on the event is surely pending.
  ASSERT_TRUE(s.waitLog("Process [extr] has sent only part of an event for ")) << s.log();
  const size_t from = s.log().size();
  std::vector<long> rtt;
  ASSERT_TRUE(waitUntil([&] { return (rtt = pings(s.log(), from)).size() >= 3; })) << s.log();
  std::sort(rtt.begin(), rtt.end());
  EXPECT_LT(rtt[rtt.size() / 2], 100000) << "median round trip of another worker's request, us";

  const auto signalled = std::chrono::steady_clock::now();
  ::kill(s.program().pid(), SIGTERM);
  ASSERT_TRUE(s.waitLog("Server shut down by administrator"));
  EXPECT_LT(std::chrono::steady_clock::now() - signalled, 100ms);

  Outcome o = s.wait();
  EXPECT_EQ(o.status, 1);
  EXPECT_THAT(o.err, HasSubstr("Vexlan fatal error: Process [extr] sent only part of an event "
                               "for 5000 ms\n"));
  EXPECT_TRUE(s.allGone());
}

TEST(HostileWorker, OverwritingTheSupervisorsAreaIsAnEmergencyNotACrash) {
  Server s;
  const std::string out = s.dir() + "/probe.out";
  s.start(vxtest::probeWorker("scribble", out));
  Outcome o = s.wait();
  EXPECT_EQ(o.status, 1) << o.err << vxtest::readFile(out);
  EXPECT_THAT(o.err, HasSubstr("Vexlan fatal error: The supervisor's message area in shared "
                               "memory was overwritten by a worker: the block header at offset "));
  EXPECT_THAT(o.err, Not(HasSubstr("Assertion failed")));
  // Written at the end: "failed" when it struck before every worker was up.
  EXPECT_THAT(s.status(), testing::ContainsRegex("\"state\": \"(emergency|failed)\""));
  for (const auto& entry : std::filesystem::directory_iterator(s.dir() + "/run"))
    EXPECT_NE(entry.path().filename().string().rfind("vexlan.", 0), 0u) << entry.path();
  EXPECT_TRUE(s.allGone());
}

TEST(HostileWorker, AMessageForgedInTheSupervisorsNameCostsItsReceiverNothing) {
  Server s;
  const std::string out = s.dir() + "/probe.out";
  s.start(vxtest::probeWorker("forgepeer", out));
  ASSERT_TRUE(waitUntil([&] { return vxtest::readFile(out).find("done") != std::string::npos; }));
  ASSERT_TRUE(
      s.waitLog("ignored a control message of an unknown sender: Protocol violation by "
                "an unknown sender claiming to be sibling 0"))
      << s.log();
  EXPECT_THAT(vxtest::readFile(out), HasSubstr("no supervisor FIFO\nforged\ndone\n"));
  ASSERT_TRUE(s.waitUp()) << s.log();
  Outcome o = s.stop();
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_TRUE(s.allGone());
}

}  // namespace
