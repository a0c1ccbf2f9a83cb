// Several children leaving at once: the parent tells every remaining child about each of them,
// and those notices go to a child together, behind its earlier notices and ahead of none of
// its later ones of another kind.
#include <gtest/gtest.h>

#include "harness.h"

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

TEST(LeavingTogether, EachChildHearsOfEveryLeaverOnceAndInItsOwnOrder) {
  Mesh mesh;
  for (int32_t id = 1; id <= 4; ++id)
    mesh.add(id);
  // A fake child 5, whose FIFO shows what the parent tells it.
  io::FifoReader fifo5(io::fifoPath(mesh.parent().fifoPrefix(), 5));
  mesh.inject(0, ControlMessage::withId(MessageType::IAmUp, 5, 5));
  mesh.settle();
  drain(fifo5);

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

  std::vector<std::string> got = texts(drain(fifo5));
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

}  // namespace
}  // namespace vxtest
