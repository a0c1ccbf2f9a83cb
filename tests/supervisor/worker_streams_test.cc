// The supervisor's streams of one worker, over a real messenger pair: events come out whole and
// in order however the worker's messages cut them, without the reader ever waiting, and events
// for a worker that takes nothing wait in order until it does.
#include "supervisor/worker_streams.h"

#include <gtest/gtest.h>

#include <random>

#include "io/exceptions.h"
#include "io/sibling/harness.h"
#include "queues/catalogue.h"
#include "wire/memory_stream.h"

namespace supervisor {
namespace {

constexpr int32_t kWorker = 7;

std::string logRequest(const std::string& msg) {
  queues::ev<queues::SYSTEM_LOG_REQUEST> ev(queues::QUEUE_MAIN, 0, {msg, 0});
  protocol::MemoryOStream out;
  protocol::ioprim prim(nullptr, &out);
  prim << ev;
  prim.endWrite();
  return out.take();
}

class WorkerInputTest : public ::testing::Test {
 protected:
  WorkerInputTest()
      : worker_(mesh_.add(kWorker)), in_(mesh_.p().sibling(kWorker), "[w]"), prim_(&in_) {}

  // The worker sends one message.
  void send(const std::string& bytes) {
    vxtest::writeMessage(worker_.sibling(0)->ostream(), bytes);
    mesh_.settle();
  }
  // What the supervisor's loop does when the worker's stream becomes ready (or the time for a
  // put-off reading has come): the texts of the events read whole.
  std::vector<std::string> read(TimeValue now = TimeValue::never()) {
    std::vector<std::string> got;
    if (in_.partial()) {
      in_.takeIn();
      if (!in_.untried() || now < in_.retryAt()) return got;
    }
    do {
      if (prim_.readPending() == 0 && in_.state() != WorkerInput::State::Data) return got;
      in_.beginEvent(prim_.readPending());
      try {
        std::unique_ptr<queues::event> ev = queues::readEvent(prim_);
        in_.endEvent();
        got.push_back(queues::as<queues::SYSTEM_LOG_REQUEST>(*ev)->payload.msg);
      } catch (const WorkerInput::Incomplete&) {
        in_.suspend(now);
        return got;
      }
    } while (prim_.readPending() > 0 || in_.holding());
    return got;
  }

  vxtest::Mesh mesh_{16 << 20, 2 << 20};
  io::SiblingMessenger& worker_;
  WorkerInput in_;
  protocol::ioprim prim_;
};

TEST_F(WorkerInputTest, EventsCutAnywhereComeOutWholeAndEveryMessageIsGivenBack) {
  std::mt19937 rnd(15);
  for (int round = 0; round < 20; ++round) {
    std::vector<std::string> sent, got;
    std::string bytes;
    for (int i = 0; i < 12; ++i) {
      sent.push_back(std::string(rnd() % 300, static_cast<char>('a' + i)));
      bytes += logRequest(sent.back());
    }
    for (size_t at = 0, n; at < bytes.size(); at += n) {
      // Mostly small pieces, some that hold several events.
      n = std::min<size_t>(bytes.size() - at, 1 + rnd() % (rnd() % 4 == 0 ? 900 : 40));
      send(bytes.substr(at, n));
      for (std::string& text : read())
        got.push_back(std::move(text));
      // Read in place or taken in: either way the worker has its room back.
      mesh_.settle();
      ASSERT_EQ(worker_.outstandingMessages(), 0u) << "round " << round << " at " << at;
    }
    EXPECT_EQ(got, sent) << "round " << round;
    EXPECT_FALSE(in_.partial() || in_.holding());
  }
}

// A large event in small pieces is not read again for every piece: less than an eighth more
// waits a millisecond per 64 KiB held; an eighth more is read at once.
TEST_F(WorkerInputTest, AnIncompleteEventIsReadAgainWhenEnoughHasArrived) {
  const TimeValue t0(1000, 0);
  const std::string big = logRequest(std::string(4 << 20, 'b'));
  send(big.substr(0, 1 << 20));
  EXPECT_TRUE(read(t0).empty());
  in_.takeIn();
  EXPECT_FALSE(in_.untried());
  send(big.substr(1 << 20, 16));
  EXPECT_TRUE(read(t0 + TimeValue::fromMilliseconds(15)).empty());
  EXPECT_EQ(in_.retryAt(), t0 + TimeValue::fromMilliseconds(16));
  send(big.substr((1 << 20) + 16, 1 << 17));
  in_.takeIn();
  EXPECT_EQ(in_.retryAt(), t0);
}

TEST_F(WorkerInputTest, AnEventBeyondTheBoundOrCutOffByTheWorkersEndIsRefused) {
  // A text that claims 32 MiB: it is held up to the bound, then it is the worker's fault.
  std::string head = logRequest("x").substr(0, 16);
  const uint64_t claimed = 32 << 20;
  head.append(reinterpret_cast<const char*>(&claimed), 8);
  send(head);
  read();
  try {
    for (int i = 0; i <= 17; ++i) {
      send(std::string(1 << 20, 'z'));
      read();
      mesh_.settle();
    }
    ADD_FAILURE() << "no bound";
  } catch (const error::Exception& e) {
    EXPECT_STREQ(e.what(), "Process [w] sent an event of more than 16777216 bytes in pieces");
  }
  // Another worker that ends within an event.
  io::SiblingMessenger& other = mesh_.add(kWorker + 1);
  WorkerInput in(mesh_.p().sibling(kWorker + 1), "[w]");
  protocol::ioprim prim(&in);
  vxtest::writeMessage(other.sibling(0)->ostream(), head);
  mesh_.settle();
  in.beginEvent(0);
  EXPECT_THROW(queues::readEvent(prim), WorkerInput::Incomplete);
  in.suspend(TimeValue::now());
  mesh_.p().siblingDied(kWorker + 1);
  try {
    in.takeIn();
    ADD_FAILURE() << "no error";
  } catch (const error::Exception& e) {
    EXPECT_STREQ(e.what(), "Process [w] ended in the middle of an event");
  }
}

// Events for a worker that lets its share of the area fill up wait, in order, and go out as it
// acknowledges; nothing is left for one that has gone.
TEST(WorkerOutput, EventsWaitInOrderUntilTheWorkerTakesThem) {
  vxtest::Mesh mesh;
  io::SiblingMessenger& w = mesh.add(kWorker);
  mesh.p().limitOutstanding(kWorker, 300);
  WorkerOutput out(mesh.p().sibling(kWorker));
  protocol::ioprim prim(nullptr, &out);
  std::vector<std::string> sent, got;
  for (int i = 0; i < 10; ++i) {
    sent.push_back(std::string(100, static_cast<char>('0' + i)));
    queues::ev<queues::SYSTEM_LOG_REQUEST> ev(queues::QUEUE_MAIN, 0, {sent.back(), 0});
    prim << ev;
    prim.endWrite();
  }
  EXPECT_FALSE(out.pump());
  protocol::ioprim reader(&w.sibling(0)->istream());
  for (int turn = 0; turn < 100 && got.size() < sent.size(); ++turn, out.pump()) {
    for (mesh.settle(); w.sibling(0)->istream().isReady(); mesh.settle())
      got.push_back(
          queues::as<queues::SYSTEM_LOG_REQUEST>(*queues::readEvent(reader))->payload.msg);
  }
  EXPECT_EQ(got, sent);
  for (int i = 0; i < 4; ++i) {
    prim << queues::ev<queues::SYSTEM_LOG_REQUEST>(queues::QUEUE_MAIN, 0, {sent[0], 0});
    prim.endWrite();
  }
  mesh.p().siblingDied(kWorker);
  EXPECT_THROW(out.pump(), io::EEndOfStream);
  EXPECT_EQ(out.queued(), 0u);
}

}  // namespace
}  // namespace supervisor
