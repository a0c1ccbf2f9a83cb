// The supervisor's side: the area table, handing the pool to a child, and input from children
// that break the protocol.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>

#include "harness.h"
#include "io/exceptions.h"

namespace vxtest {
namespace {

using io::ControlMessage;
using io::MessageType;

TEST(AreaTable, FirstFitFromThePageSizeAndAreasKeptPerId) {
  TestParent parent(1 << 20);
  uint64_t page = parent.pageSize();
  EXPECT_EQ(parent.markAreaUsed(0, 8192), page);
  EXPECT_EQ(parent.markAreaUsed(5, 4096), page + 8192);
  EXPECT_EQ(parent.markAreaUsed(2, 800), page + 12288);
  parent.markAreaUnused(5);
  EXPECT_FALSE(parent.findArea(5)->used);
  // The area stays reserved for its id: a newcomer goes after it, the old id gets it back
  // whatever size it asks for now.
  EXPECT_EQ(parent.markAreaUsed(7, 4096), page + 12288 + 800);
  EXPECT_EQ(parent.markAreaUsed(5, 65536), page + 8192);
  EXPECT_EQ(parent.findArea(5)->size, 4096u);
  EXPECT_THROW(parent.markAreaUsed(9, 1 << 20), error::EFatal);
  try {
    parent.markAreaUsed(9, 1 << 20);
  } catch (const error::EFatal& e) {
    EXPECT_STREQ(e.what(), "No room for write area for ID 9");
  }
  std::vector<uint64_t> offsets;
  for (const auto& a : parent.areas())
    offsets.push_back(a.offset);
  EXPECT_TRUE(std::is_sorted(offsets.begin(), offsets.end()));
}

TEST(AreaTableDeathTest, DoubleUseAndDoubleReleaseAbort) {
  TestParent parent(1 << 20);
  parent.markAreaUsed(3, 4096);
  EXPECT_DEATH(parent.markAreaUsed(3, 4096),
               "Found shared memory area for sibling 3 at offset 4096 of size 4096 but it is "
               "already in use.");
  parent.markAreaUnused(3);
  EXPECT_DEATH(parent.markAreaUnused(3), "it was not marked as used in the first place");
}

TEST(PoolPassing, ChildVariablesNameAnInheritableCopyOfThePool) {
  TestParent parent(1 << 20);
  EXPECT_EQ(parent.pool().magic(), io::kPoolMagic);
  io::Variables vars;
  std::vector<int> inherit;
  parent.pass(vars, "smem", inherit);
  parent.pass(vars, "smem", inherit);  // one copy serves every child
  ASSERT_EQ(inherit.size(), 2u);
  EXPECT_EQ(inherit[0], inherit[1]);
  EXPECT_EQ(vars["smem::mapfile"], std::to_string(inherit[0]));
  EXPECT_EQ(vars["smem::mapsize"], "1048576");
  EXPECT_EQ(vars["smem::fifoprefix"], parent.fifoPrefix());
  EXPECT_EQ(::fcntl(inherit[0], F_GETFD) & FD_CLOEXEC, 0);
  EXPECT_NE(::fcntl(parent.pool().fd(), F_GETFD) & FD_CLOEXEC, 0);
  auto conf = io::siblingmessenger_conf_t::fromVariables(vars);
  EXPECT_EQ(conf.mapfile, inherit[0]);
  EXPECT_EQ(conf.mapsize, 1048576u);
  // The FIFO directory is private.
  struct stat st;
  std::string dir = parent.fifoPrefix().substr(0, parent.fifoPrefix().rfind('/'));
  ASSERT_EQ(::stat(dir.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  vars.erase("smem::mapsize");
  EXPECT_THROW(io::siblingmessenger_conf_t::fromVariables(vars), error::EFatal);
  vars["smem::mapsize"] = "12x";
  EXPECT_THROW(io::siblingmessenger_conf_t::fromVariables(vars), error::EFatal);
}

// A child that breaks the protocol: the parent raises an error naming it, applies nothing of
// the bad message (the pool is byte for byte as before) and goes on working.
class HostileInput : public ::testing::Test {
 protected:
  void SetUp() override {
    c1_ = &mesh_.add(1);
    mesh_.add(2);
    writeMessage(mesh_.p().sibling(1)->ostream(), "to one");  // outstanding at offset p0
    sent_ = mesh_.p().allocator().areaOffset();
    a1_ = mesh_.parent().findArea(1)->offset;
    e1_ = a1_ + mesh_.parent().findArea(1)->size;
  }
  // Injects the bytes into the parent's FIFO and expects the error.
  void expectViolation(const void* bytes, size_t n, int32_t sibling, const std::string& text) {
    std::vector<uint8_t> before(mesh_.pool(), mesh_.pool() + mesh_.parent().mapSize());
    mesh_.inject(0, bytes, n);
    try {
      mesh_.p().pollInput();
      ADD_FAILURE() << "no error for " << text;
    } catch (const io::ESiblingProtocolError& e) {
      EXPECT_EQ(e.sibling(), sibling) << e.what();
      EXPECT_NE(std::string(e.what()).find(text), std::string::npos) << e.what();
    }
    EXPECT_EQ(0, std::memcmp(before.data(), mesh_.pool(), before.size())) << text;
  }
  void expectViolation(ControlMessage m, int32_t sibling, const std::string& text) {
    uint64_t w = m.pack();
    expectViolation(&w, 8, sibling, text);
  }
  // A block header in child 1's area.
  void header(uint64_t o, uint64_t prev_flags, uint64_t length) {
    std::memcpy(mesh_.pool() + o, &prev_flags, 8);
    std::memcpy(mesh_.pool() + o + 8, &length, 8);
  }
  Mesh mesh_;
  io::SiblingMessenger* c1_;
  uint64_t sent_, a1_, e1_;
};

TEST_F(HostileInput, BadFramingKindsAndSendersAreRefused) {
  expectViolation("abc", 3, io::ESiblingProtocolError::kUnknownSibling,
                  "Read 3 bytes on input FIFO");
  expectViolation(ControlMessage{0x06, 1}, 1, "Got MT_Undefined: Undefined [from:1]");
  expectViolation(ControlMessage{0x1008, 2}, 2, "Got MT_Undefined");
  expectViolation(ControlMessage::withId(MessageType::IAmUp, 0, 1000), 1000, "bad sender");
  expectViolation(ControlMessage::withId(MessageType::IAmUp, 0, 0), 0, "bad sender");
  expectViolation(ControlMessage::withValue(MessageType::ExtraOffset, 4096, 1), 1,
                  "only accepted by a child");
  expectViolation(ControlMessage::withId(MessageType::SiblingAt, 1, 1), 1,
                  "only accepted by a child");
  expectViolation(ControlMessage::withId(MessageType::SiblingDied, 2, 1), 1,
                  "MT_SiblingDied not valid to parent");
  expectViolation(ControlMessage::withId(MessageType::IAmUp, 1, 1), 1,
                  "IAmUp from a sibling that is up");
  expectViolation(ControlMessage::withId(MessageType::InitShutdown, 2, 1), 1,
                  "for another sibling");
  expectViolation(ControlMessage::withId(MessageType::AckShutdown, 1, 2), 2, "not leaving");
  expectViolation(ControlMessage::withId(MessageType::RequestPeer, 1, 1), 1, "no valid peer");
  expectViolation(ControlMessage::withId(MessageType::RequestPeer, 3, 9), 9, "not up");
}

TEST_F(HostileInput, BlocksOutsideTheSendersAreaAreRefused) {
  using MA = MessageType;
  expectViolation(ControlMessage::withValue(MA::MessageAt, a1_ - 8, 1), 1, "outside its area");
  expectViolation(ControlMessage::withValue(MA::MessageAt, e1_ - 8, 1), 1, "outside its area");
  expectViolation(ControlMessage::withValue(MA::MessageAt, sent_, 1), 1, "outside its area");
  expectViolation(ControlMessage::withValue(MA::MessageAt, 4096, 7), 7, "whose area we do not");
  header(a1_ + 64, a1_ | io::kBlockUsed, e1_ - a1_);  // runs past the end of its area
  expectViolation(ControlMessage::withValue(MA::MessageAt, a1_ + 64, 1), 1,
                  "does not fit its area");
  header(a1_ + 64, a1_, 10);  // not a used block
  expectViolation(ControlMessage::withValue(MA::MessageAt, a1_ + 64, 1), 1,
                  "does not fit its area");
  header(a1_ + 64, a1_ | io::kBlockUsed, 0);
  expectViolation(ControlMessage::withValue(MA::MessageAt, a1_ + 64, 1), 1,
                  "does not fit its area");
}

TEST_F(HostileInput, AcknowledgementsOnlyFreeWhatWasSentToTheAcknowledger) {
  expectViolation(ControlMessage::withValue(MessageType::AckMessageAt, sent_ + 64, 1), 1,
                  "Not one of my messages: AckMessageAt");
  expectViolation(ControlMessage::withValue(MessageType::AckMessageAt, sent_, 2), 2,
                  "Not one of my messages");
  // The real receiver's acknowledgement still works, once.
  mesh_.settle();
  EXPECT_EQ(readMessage(c1_->sibling(0)->istream()), "to one");
  mesh_.settle();
  EXPECT_EQ(mesh_.p().outstandingMessages(), 0u);
  expectViolation(ControlMessage::withValue(MessageType::AckMessageAt, sent_, 1), 1,
                  "Not one of my messages");
}

TEST_F(HostileInput, GoodMessagesAroundABadOneAreStillHandled) {
  header(a1_, io::kBlockUsed, 5);
  std::memcpy(mesh_.pool() + a1_ + 16, "hello", 5);
  uint64_t words[3] = {ControlMessage::withValue(MessageType::MessageAt, a1_, 1).pack(),
                       ControlMessage{0x07, 2}.pack(),
                       ControlMessage::withValue(MessageType::MessageAt, a1_, 1).pack()};
  mesh_.inject(0, words, sizeof words);
  EXPECT_THROW(mesh_.p().pollInput(), io::ESiblingProtocolError);
  EXPECT_TRUE(mesh_.p().pollInput());  // the rest of what was read
  auto in = mesh_.p().sibling(1);
  EXPECT_EQ(readMessage(in->istream()), "hello");
  EXPECT_EQ(readMessage(in->istream()), "hello");
}

}  // namespace
}  // namespace vxtest
