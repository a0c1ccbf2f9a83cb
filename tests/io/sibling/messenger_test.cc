// The protocol between a parent and children running in this process: start-up and
// introductions, direct writes, peer requests, the shutdown handshake, deaths and the stream
// semantics over them.
#include <gtest/gtest.h>

#include <algorithm>

#include "harness.h"
#include "io/exceptions.h"
#include "io/sibling/diagnostics.h"
#include "support/test_support.h"

namespace vxtest {
namespace {

using io::ControlMessage;
using io::MessageType;

std::vector<std::string> texts(const std::vector<ControlMessage>& v) {
  std::vector<std::string> out;
  for (auto& m : v)
    out.push_back(m.toString());
  return out;
}

TEST(SiblingStartup, NewChildLearnsOthersFirstItselfThenTheParent) {
  Mesh mesh(4 << 20, 8192);
  mesh.add(1);
  // A fake child 2: its own FIFO, so that what the parent tells it can be read back.
  io::FifoReader fifo2(io::fifoPath(mesh.parent().fifoPrefix(), 2));
  mesh.inject(0, ControlMessage::withId(MessageType::IAmUp, 2, 2));
  mesh.settle();
  EXPECT_EQ(
      texts(drain(fifo2)),
      (std::vector<std::string>{
          "ExtraOffset(12288) [from:0]", "ExtraSize(8192) [from:0]", "SiblingAt(1) [from:0]",
          "ExtraOffset(20480) [from:0]", "ExtraSize(8192) [from:0]", "SiblingAt(2) [from:0]",
          "ExtraOffset(4096) [from:0]", "ExtraSize(8192) [from:0]", "SiblingAt(0) [from:0]"}));
  // Child 1 was introduced to 2 and opened its FIFO.
  auto s12 = mesh.child(1).findSibling(2);
  ASSERT_TRUE(s12);
  EXPECT_TRUE(s12->fifoOpen());
  std::set<int32_t> announced;
  while (auto si = mesh.p().takeNewSibling())
    announced.insert(si->id());
  EXPECT_EQ(announced, (std::set<int32_t>{1, 2}));
  EXPECT_FALSE(mesh.p().newSiblings().isReady());
}

TEST(SiblingStartup, StreamsBecomeWritableOnlyWithTheOwnArea) {
  Mesh mesh;
  io::siblingmessenger_conf_t conf;
  conf.mapfile = ::dup(mesh.parent().pool().fd());
  conf.fifoprefix = mesh.parent().fifoPrefix();
  conf.mapsize = mesh.parent().mapSize();
  io::SiblingMessenger c(conf, 3);
  auto to_parent = c.sibling(0);
  EXPECT_FALSE(to_parent->ostream().isReady());
  uint8_t* p;
  EXPECT_THROW(to_parent->ostream().writeBegin(p), io::ENotReady);
  mesh.p().pollInput();  // IAmUp
  mesh.p().flush();
  c.pollInput();  // areas
  EXPECT_TRUE(to_parent->ostream().isReady());
  EXPECT_EQ(c.allocator().areaOffset(), mesh.parent().findArea(3)->offset);
}

TEST(SiblingStreams, ChildrenWriteToEachOtherDirectlyInOrder) {
  Mesh mesh;
  auto& c1 = mesh.add(1);
  auto& c2 = mesh.add(2);
  auto out = c1.sibling(2);
  for (int i = 0; i < 100; ++i)
    writeMessage(out->ostream(), "message " + std::to_string(i));
  // Only the two children's FIFOs carry this: nothing waits at the parent.
  c1.flush();
  c2.pollInput();
  auto in = c2.sibling(1);
  for (int i = 0; i < 100; ++i)
    ASSERT_EQ(readMessage(in->istream()), "message " + std::to_string(i));
  EXPECT_EQ(c1.outstandingMessages(), 100u);
  mesh.settle();
  EXPECT_EQ(c1.outstandingMessages(), 0u);
  EXPECT_EQ(c1.allocator().usableFreeBlocks(), 1u);  // freed in order, merged into one block
}

TEST(SiblingStreams, MessageReadInTwoPartsIsAcknowledgedAfterTheSecond) {
  Mesh mesh;
  auto& c1 = mesh.add(1);
  writeMessage(c1.sibling(0)->ostream(), "0123456789");
  mesh.settle();
  auto in = mesh.p().sibling(1);
  const uint8_t* p;
  ASSERT_EQ(in->istream().readBegin(p), 10u);
  in->istream().readCommit(4);
  mesh.settle();
  EXPECT_EQ(c1.outstandingMessages(), 1u);
  ASSERT_EQ(in->istream().readBegin(p), 6u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(p), 6), "456789");
  in->istream().readCommit(6);
  EXPECT_FALSE(in->istream().isReady());
  mesh.settle();
  EXPECT_EQ(c1.outstandingMessages(), 0u);
}

TEST(SiblingStreams, AcknowledgementLeavesInTheSameWriteAsTheReply) {
  Mesh mesh;
  auto& c1 = mesh.add(1);
  writeMessage(c1.sibling(0)->ostream(), "ping");
  mesh.settle();
  auto peer = mesh.p().sibling(1);
  EXPECT_EQ(readMessage(peer->istream()), "ping");
  writeMessage(peer->ostream(), "pong");
  // Steal what the parent writes to child 1's FIFO by reading it through the child's own
  // messenger after one flush: both notices must be there together.
  mesh.p().flush();
  EXPECT_TRUE(c1.pollInput());
  EXPECT_EQ(c1.outstandingMessages(), 0u);  // the acknowledgement arrived
  EXPECT_EQ(readMessage(c1.sibling(0)->istream()), "pong");
}

TEST(SiblingStreams, FullAreaBlocksEveryStreamUntilTheFirstAcknowledgement) {
  Mesh mesh;
  mesh.parent().slices[1] = 8 * 120;  // eight blocks of a 100-byte message tile it exactly
  auto& c1 = mesh.add(1);
  mesh.add(2);
  auto to0 = c1.sibling(0);
  auto to2 = c1.sibling(2);
  int sent = 0;
  while (to0->ostream().isReady()) {
    writeMessage(to0->ostream(), std::string(100, 'a' + sent % 26));
    ++sent;
  }
  EXPECT_EQ(sent, 8);
  EXPECT_FALSE(to2->ostream().isReady());
  uint8_t* p;
  EXPECT_THROW(to2->ostream().writeBegin(p), io::ENotReady);
  mesh.settle();
  auto in = mesh.p().sibling(1);
  EXPECT_EQ(readMessage(in->istream()), std::string(100, 'a'));
  mesh.settle();
  EXPECT_TRUE(to2->ostream().isReady());
  EXPECT_EQ(c1.allocator().cursor(), c1.allocator().areaOffset());
}

TEST(SiblingRequests, GrantedPeerGetsTheDelayedMessagesWhenItComesUp) {
  Mesh mesh;
  auto& c1 = mesh.add(1);
  mesh.parent().on_request = [](int32_t, int32_t) { return true; };
  writeMessage(c1.sibling(3)->ostream(), "early");
  mesh.settle();
  EXPECT_EQ(mesh.parent().requests, (std::vector<std::pair<int32_t, int32_t>>{{3, 1}}));
  EXPECT_EQ(c1.outstandingMessages(), 1u);
  auto& c3 = mesh.add(3);
  EXPECT_EQ(readMessage(c3.sibling(1)->istream()), "early");
  mesh.settle();
  EXPECT_EQ(c1.outstandingMessages(), 0u);
}

TEST(SiblingRequests, RefusedPeerReleasesTheMessagesAndFailsWrites) {
  Mesh mesh;
  auto& c1 = mesh.add(1);
  writeMessage(c1.sibling(5)->ostream(), "lost");
  mesh.settle();
  EXPECT_EQ(c1.outstandingMessages(), 0u);
  auto s5 = c1.sibling(5);
  EXPECT_TRUE(s5->gone());
  uint8_t* p;
  try {
    s5->ostream().writeBegin(p);
    FAIL();
  } catch (const io::EEndOfStream& e) {
    EXPECT_STREQ(e.what(), "EOS from SiblingOStream[5] (Write to failed process)");
  }
  // The parent's own writes to an unknown sibling take the same way through its hook.
  auto p7 = mesh.p().sibling(7);
  writeMessage(p7->ostream(), "nobody");
  EXPECT_TRUE(p7->gone());
  EXPECT_EQ(mesh.p().outstandingMessages(), 0u);
}

TEST(SiblingShutdown, ReceiverHoldingUnreadMessagesAnswersAfterReadingThem) {
  Mesh mesh;
  auto& c1 = mesh.add(1);
  auto& c2 = mesh.add(2);
  for (int i = 0; i < 3; ++i)
    writeMessage(c1.sibling(2)->ostream(), "bye " + std::to_string(i));
  c1.initShutdown();
  mesh.settle();
  EXPECT_FALSE(c1.shutdownAcknowledged());
  EXPECT_TRUE(c2.sibling(1)->shutdownPending());
  uint8_t* p;
  try {
    c1.sibling(2)->ostream().writeBegin(p);
    FAIL();
  } catch (const io::EEndOfStream& e) {
    EXPECT_NE(std::string(e.what()).find("Write to non-parent disabled during shutdown"),
              std::string::npos);
  }
  writeMessage(c1.sibling(0)->ostream(), "still talking to the parent");
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(readMessage(c2.sibling(1)->istream()), "bye " + std::to_string(i));
  mesh.settle();
  EXPECT_TRUE(c1.shutdownAcknowledged());
  EXPECT_FALSE(c2.sibling(1)->fifoOpen());
  // The parent has not read its message yet: the leaver's streams have not ended.
  EXPECT_FALSE(c1.sibling(0)->istream().isReady());
  EXPECT_EQ(readMessage(mesh.p().sibling(1)->istream()), "still talking to the parent");
  mesh.settle();
  const uint8_t* q;
  EXPECT_THROW(c1.sibling(0)->istream().readBegin(q), io::EEndOfStream);
  EXPECT_THROW(c1.sibling(0)->ostream().writeBegin(p), io::EEndOfStream);
}

TEST(SiblingShutdown, LoneChildIsAcknowledgedAtOnce) {
  Mesh mesh;
  auto& c1 = mesh.add(1);
  c1.initShutdown();
  mesh.settle();
  EXPECT_TRUE(c1.shutdownAcknowledged());
}

TEST(SiblingShutdown, LeaverStillDeliversToAPeerThatComesUpAfterwards) {
  Mesh mesh;
  mesh.parent().on_request = [](int32_t, int32_t) { return true; };
  auto& c1 = mesh.add(1);
  writeMessage(c1.sibling(3)->ostream(), "waited for your FIFO");
  c1.initShutdown();
  mesh.settle();
  EXPECT_TRUE(c1.shutdownAcknowledged());
  EXPECT_FALSE(c1.sibling(0)->istream().isReady());  // one message still unread
  auto& c3 = mesh.add(3);
  EXPECT_EQ(readMessage(c3.sibling(1)->istream()), "waited for your FIFO");
  mesh.settle();
  const uint8_t* q;
  EXPECT_THROW(c1.sibling(0)->istream().readBegin(q), io::EEndOfStream);
}

TEST(SiblingDeath, PeersFreeWhatTheySentAndDrainWhatTheyGot) {
  Mesh mesh;
  auto& c1 = mesh.add(1);
  auto& c3 = mesh.add(3);
  writeMessage(c3.sibling(1)->ostream(), "last words");
  writeMessage(c1.sibling(3)->ostream(), "never read");
  mesh.settle();
  EXPECT_EQ(c1.outstandingMessages(), 1u);
  mesh.remove(3);  // the process is gone
  mesh.p().siblingDied(3);
  mesh.p().siblingDied(3);  // a second report changes nothing
  mesh.settle();
  EXPECT_EQ(c1.outstandingMessages(), 0u);
  EXPECT_FALSE(mesh.parent().findArea(3)->used);
  auto s3 = c1.sibling(3);
  EXPECT_EQ(readMessage(s3->istream()), "last words");
  const uint8_t* q;
  try {
    s3->istream().readBegin(q);
    FAIL();
  } catch (const io::EEndOfStream& e) {
    EXPECT_STREQ(e.what(), "EOS from SiblingIStream[3] (readBegin encountered the null message)");
  }
  uint8_t* p;
  EXPECT_THROW(s3->ostream().writeBegin(p), io::EEndOfStream);
}

TEST(SiblingDeath, RestartedSiblingKeepsItsAreaAndIsIntroducedAgain) {
  Mesh mesh;
  auto& c1 = mesh.add(1);
  mesh.add(2);
  uint64_t offset = mesh.parent().findArea(2)->offset;
  mesh.remove(2);
  mesh.p().siblingDied(2);
  mesh.settle();
  mesh.parent().slices[2] = 128 * 1024;  // asked bigger now: the old area comes back anyway
  auto& again = mesh.add(2);
  EXPECT_EQ(again.allocator().areaOffset(), offset);
  writeMessage(c1.sibling(2)->ostream(), "welcome back");
  mesh.settle();
  EXPECT_EQ(readMessage(again.sibling(1)->istream()), "welcome back");
}

// The lines a peer's leave or loss writes (on standard error, which the supervisor puts into
// the server log for its workers), each where it happens.
TEST(SiblingDiagnostics, LeavesAndLossesAreWrittenWhereTheyHappen) {
  std::vector<std::string> lines;
  struct Capture {
    explicit Capture(std::vector<std::string>& to) {
      io::setSiblingDiagnosticSink([&to](const std::string& l) { to.push_back(l); });
    }
    ~Capture() { io::setSiblingDiagnosticSink(nullptr); }
  } capture(lines);
  auto sorted = [&] {
    std::vector<std::string> v = lines;
    std::sort(v.begin(), v.end());
    lines.clear();
    return v;
  };
  Mesh mesh;
  auto& c1 = mesh.add(1);
  auto& c2 = mesh.add(2);
  auto& c3 = mesh.add(3);

  // 1 leaves: each peer lets it go and closes its FIFO to it; 1's own input streams end.
  c1.initShutdown();
  mesh.settle();
  ASSERT_TRUE(c1.shutdownAcknowledged());
  EXPECT_EQ(sorted(),
            (std::vector<std::string>{
                " got ack for all messages, allowing 1 to shutdown",
                " got ack for all messages, allowing 1 to shutdown",
                "Adding EOS for sibling 0 input stream", "Adding EOS for sibling 2 input stream",
                "Adding EOS for sibling 3 input stream", "Shutting down FIFO for sibling 1",
                "Shutting down FIFO for sibling 1"}));

  // 3 dies with a message to 2 unread: 2 still reads it, but the acknowledgement has nobody to
  // reach. A second report of the death changes nothing.
  writeMessage(c3.sibling(2)->ostream(), "last words");
  mesh.settle();
  const uint64_t at = mesh.parent().findArea(3)->offset;
  mesh.remove(3);
  mesh.p().siblingDied(3);
  mesh.p().siblingDied(3);
  mesh.settle();
  EXPECT_EQ(readMessage(c2.sibling(3)->istream()), "last words");
  EXPECT_EQ(sorted(), (std::vector<std::string>{"Double siblingGone() marking, exiting early.",
                                                "Lost connection on ACK of message at offset " +
                                                    std::to_string(at) + " for sibling 3"}));
  // A write to the FIFO of a process that has gone is checked with a real process
  // (multiprocess_test.cc).
}

// A sibling introduced by the parent whose FIFO cannot be opened is asked for again.
TEST(SiblingDiagnostics, UnopenableFifoOfANewSiblingIsRequestedFromTheParent) {
  std::vector<std::string> lines;
  io::setSiblingDiagnosticSink([&](const std::string& l) { lines.push_back(l); });
  Mesh mesh;
  mesh.add(1);
  mesh.inject(1, ControlMessage::withValue(MessageType::ExtraOffset, 1 << 20, 0));
  mesh.inject(1, ControlMessage::withValue(MessageType::ExtraSize, 64 * 1024, 0));
  mesh.inject(1, ControlMessage::withId(MessageType::SiblingAt, 5, 0));
  mesh.settle();
  io::setSiblingDiagnosticSink(nullptr);
  EXPECT_EQ(lines, (std::vector<std::string>{
                       " ID: 1 was unable to open the FIFO to new sibling 5 - will request it "
                       "from the parent"}));
  EXPECT_EQ(mesh.parent().requests, (std::vector<std::pair<int32_t, int32_t>>{{5, 1}}));
}

TEST(SiblingStreamsDeathTest, MisusedBeginAndCommitAbort) {
  Mesh mesh;
  auto& c1 = mesh.add(1);
  mesh.add(2);
  uint8_t* p;
  EXPECT_DEATH(
      {
        c1.sibling(0)->ostream().writeBegin(p);
        c1.sibling(2)->ostream().writeBegin(p);
      },
      "Multiple OStreams writing");
  EXPECT_DEATH(c1.sibling(0)->ostream().writeCommit(1), "Commit without an OStream writing");
  EXPECT_DEATH(
      {
        size_t cap = c1.sibling(0)->ostream().writeBegin(p);
        c1.sibling(0)->ostream().writeCommit(cap + 1);
      },
      "above current block size");
}

}  // namespace
}  // namespace vxtest
