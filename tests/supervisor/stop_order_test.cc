#include "supervisor/stop_order.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace supervisor {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using Q = queues::queue_t;
constexpr WorkerState kRun = WorkerState::Running;

TEST(StopOrder, IndependentWorkersAreToldAtOnceInQueueOrder) {
  StopDecision d = decideStopOrder({{Q(1), kRun, {}}, {Q(2), kRun, {}}, {Q(20), kRun, {}}});
  EXPECT_THAT(d.tell, ElementsAre(1, 2, 20));
  EXPECT_THAT(d.cycles, IsEmpty());
}

TEST(StopOrder, AWorkerWaitsForEveryWorkerThatNamesItWhateverTheirState) {
  // schd needs dbms; dbms goes only once schd is gone, even while schd is already leaving.
  std::vector<StopCandidate> recs = {{Q(1), kRun, {Q(2)}}, {Q(2), kRun, {}}};
  EXPECT_THAT(decideStopOrder(recs).tell, ElementsAre(1));
  recs[0].state = WorkerState::Exiting;
  EXPECT_THAT(decideStopOrder(recs).tell, IsEmpty());
  EXPECT_THAT(decideStopOrder({{Q(2), kRun, {}}}).tell, ElementsAre(2));
  // Names of queues without a record hold nobody back.
  EXPECT_THAT(decideStopOrder({{Q(3), kRun, {Q(11)}}}).tell, ElementsAre(3));
}

TEST(StopOrder, WorkersStillStartingAreToldOnlyOnceRunning) {
  StopDecision d = decideStopOrder(
      {{Q(1), WorkerState::Starting, {}}, {Q(2), WorkerState::Initing, {}}, {Q(3), kRun, {}}});
  EXPECT_THAT(d.tell, ElementsAre(3));
}

TEST(StopOrder, ARingIsReleasedTogetherOnlyWhenNothingElseCanMove) {
  // 1 and 2 need each other; 3 is needed by 1; 4 is free.
  std::vector<StopCandidate> recs = {
      {Q(1), kRun, {Q(2), Q(3)}}, {Q(2), kRun, {Q(1)}}, {Q(3), kRun, {}}, {Q(4), kRun, {}}};
  StopDecision first = decideStopOrder(recs);
  EXPECT_THAT(first.tell, ElementsAre(4));
  EXPECT_THAT(first.cycles, IsEmpty());
  recs.pop_back();
  // A worker still starting might yet name the ring's members: wait for it.
  recs.push_back({Q(5), WorkerState::Initing, {}});
  EXPECT_THAT(decideStopOrder(recs).tell, IsEmpty());
  recs.pop_back();
  StopDecision ring = decideStopOrder(recs);
  EXPECT_THAT(ring.cycles, ElementsAre(ElementsAre(1, 2)));
  EXPECT_THAT(ring.tell, ElementsAre(1, 2));  // 3 follows once 1 has gone
}

TEST(StopOrder, RingsNamedFromOutsideWaitForTheirNamers) {
  // 5 and 6 form a ring that 7 (in a ring with 8) names; a worker naming itself is a ring of
  // one.
  std::vector<StopCandidate> recs = {{Q(5), kRun, {Q(6)}},
                                     {Q(6), kRun, {Q(5)}},
                                     {Q(7), kRun, {Q(8), Q(5)}},
                                     {Q(8), kRun, {Q(7)}},
                                     {Q(9), kRun, {Q(9)}}};
  StopDecision d = decideStopOrder(recs);
  EXPECT_THAT(d.cycles, ElementsAre(ElementsAre(7, 8), ElementsAre(9)));
  EXPECT_THAT(d.tell, ElementsAre(7, 8, 9));
}

}  // namespace
}  // namespace supervisor
