// Several children leaving at once: the parent tells every remaining child about each of them,
// and those notices go to a child together, behind its earlier notices and ahead of none of
// its later ones of another kind.
#include <gtest/gtest.h>

#include "harness.h"
#include "io/exceptions.h"

namespace vxtest {
namespace {

using io::ControlMessage;
using io::MessageType;

// Attaches a fake child `id` that reads its own FIFO `fifo`, and empties that FIFO of its
// start-up notices.
void attachFake(Mesh& mesh, io::FifoReader& fifo, int32_t id) {
  mesh.inject(0, ControlMessage::withId(MessageType::IAmUp, id, id));
  mesh.settle();
  drain(fifo);
}

std::vector<std::string> texts(const std::vector<ControlMessage>& messages) {
  std::vector<std::string> out;
  for (const ControlMessage& m : messages)
    out.push_back(m.toString());
  return out;
}

TEST(LeavingTogether, EachChildHearsOfEveryLeaverOnceAndInItsOwnOrder) {
  Mesh mesh;
  for (int32_t id = 1; id <= 4; ++id)
    mesh.add(id);
  // A fake child 5, whose FIFO shows what the parent tells it.
  io::FifoReader fifo5(io::fifoPath(mesh.parent().fifoPrefix(), 5));
  attachFake(mesh, fifo5, 5);

  // 1 leaves; the parent then writes to 4 and 5; then 2 and 3 leave. Nothing is flushed in
  // between, so the parent's queue alternates between its children.
  mesh.child(1).initShutdown();
  mesh.child(1).flush();
  mesh.p().pollInput();
  writeMessage(mesh.p().sibling(4)->ostream(), "for four");
  writeMessage(mesh.p().sibling(5)->ostream(), "for five");
  for (int32_t id : {2, 3}) {
    mesh.child(id).initShutdown();
    mesh.child(id).flush();
  }
  mesh.p().pollInput();
  EXPECT_TRUE(mesh.p().flush());

  const std::vector<std::string> got = texts(drain(fifo5));
  ASSERT_EQ(got.size(), 4u);
  EXPECT_EQ(got[0], "InitShutdown(1) [from:0]");
  EXPECT_EQ(got[1].rfind("MessageAt(", 0), 0u) << got[1];
  EXPECT_EQ(got[2], "InitShutdown(2) [from:0]");
  EXPECT_EQ(got[3], "InitShutdown(3) [from:0]");

  // The real children answer; only 5 is still awaited.
  mesh.settle();
  EXPECT_EQ(readMessage(mesh.child(4).sibling(0)->istream()), "for four");
  for (int32_t id : {1, 2, 3})
    EXPECT_FALSE(mesh.child(id).shutdownAcknowledged()) << id;
  for (int32_t id : {1, 2, 3})
    mesh.inject(0, ControlMessage::withId(MessageType::AckShutdown, id, 5));
  mesh.settle();
  for (int32_t id : {1, 2, 3})
    EXPECT_TRUE(mesh.child(id).shutdownAcknowledged()) << id;
  EXPECT_TRUE(mesh.p().flush());
  EXPECT_TRUE(drain(fifo5).empty());
}

// The last acknowledgement of a leave reaches the leaver at once, not when the parent's loop
// next waits: a stop's pass has much else to do (logging what every worker wrote).
TEST(LeavingTogether, TheLeaverIsToldAtOnceWhenTheLastPeerHasAcknowledged) {
  Mesh mesh;
  for (int32_t id = 1; id <= 2; ++id)
    mesh.add(id);
  io::FifoReader fifo5(io::fifoPath(mesh.parent().fifoPrefix(), 5));
  attachFake(mesh, fifo5, 5);

  mesh.inject(0, ControlMessage::withId(MessageType::InitShutdown, 5, 5));
  mesh.p().pollInput();
  EXPECT_TRUE(mesh.p().flush());
  for (int32_t id : {1, 2}) {
    mesh.child(id).pollInput();
    mesh.child(id).flush();
  }
  mesh.p().pollInput();  // no flush
  const std::vector<std::string> got = texts(drain(fifo5));
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0], "AckShutdown(5) [from:0]");
}

// A leaver's stream, and a dead sibling's, end after what they sent; the end is seen without
// reading it, exactly when a read would meet it.
TEST(LeavingTogether, TheEndOfAStreamIsSeenWithoutReadingIt) {
  Mesh mesh;
  auto& c1 = mesh.add(1);
  auto& c2 = mesh.add(2);
  auto& c3 = mesh.add(3);
  for (int from : {1, 3})
    writeMessage(mesh.child(from).sibling(2)->ostream(), "last words of " + std::to_string(from));
  c1.initShutdown();
  mesh.settle();
  mesh.p().siblingDied(3);
  mesh.settle();
  for (int from : {1, 3}) {
    auto in = c2.sibling(from);
    EXPECT_FALSE(in->atEnd()) << from;
    EXPECT_EQ(readMessage(in->istream()), "last words of " + std::to_string(from));
  }
  // Nothing left to read, but the leaver's end comes only with the handshake.
  EXPECT_FALSE(c2.sibling(1)->atEnd());
  mesh.settle();
  const uint8_t* p;
  for (int from : {1, 3}) {
    auto in = c2.sibling(from);
    EXPECT_TRUE(in->atEnd()) << from;
    EXPECT_THROW(in->istream().readBegin(p), io::EEndOfStream) << from;
  }
  EXPECT_FALSE(c2.sibling(0)->atEnd());
  (void)c3;
}

}  // namespace
}  // namespace vxtest
