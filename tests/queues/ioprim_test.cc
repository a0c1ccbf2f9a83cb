// The area rules of ioprim: read areas go back as soon as they are consumed, values may
// straddle read areas, fixed-size values never straddle write areas, endWrite commits.
#include <gtest/gtest.h>

#include "io/exceptions.h"
#include "stream_pair.h"
#include "wire/codec.h"

namespace {

using protocol::ioprim;
using Commit = protocol::MemoryOStream::Commit;

std::vector<std::pair<size_t, size_t>> commits(const protocol::MemoryOStream& out) {
  std::vector<std::pair<size_t, size_t>> v;
  for (const Commit& c : out.commits())
    v.emplace_back(c.offered, c.committed);
  return v;
}

TEST(IoprimRead, AnAreaGoesBackAsSoonAsItIsConsumedAndAPartialOneIsHeld) {
  vxtest::WaitingIStream in(vxtest::fromHex("0102030405060708 0a0b"), 4);
  {
    ioprim prim(&in);
    uint32_t a = 0;
    prim.readField(4, &a);
    EXPECT_EQ(a, 0x04030201u);
    EXPECT_EQ(in.held(), 0u);
    EXPECT_EQ(in.commits(), 1u);
    uint16_t b = 0;
    prim.readField(2, &b);
    EXPECT_EQ(b, 0x0605);
    EXPECT_EQ(in.held(), 4u);  // offered, two bytes consumed, not yet given back
    EXPECT_EQ(prim.readPending(), 2u);
  }
  // Destroying the ioprim gives back what it consumed of the area it held.
  EXPECT_EQ(in.consumed(), 6u);
}

TEST(IoprimRead, ValuesStraddleAreasAndEveryNewAreaIsWaitedFor) {
  vxtest::WaitingIStream in(vxtest::fromHex("0807060504030201 ffffffff"), 3);
  ioprim prim(&in);
  uint64_t v = 0;
  prim.readField(8, &v);
  EXPECT_EQ(v, 0x0102030405060708u);
  EXPECT_EQ(in.waits, 3);  // the stream was not ready before any of the three areas
  int32_t w = 0;
  prim.readField(4, &w);
  EXPECT_EQ(w, -1);
  EXPECT_EQ(in.left(), 0u);
  EXPECT_EQ(in.held(), 0u);
  EXPECT_THROW(prim.readField(1, &w), io::EEndOfStream);
}

TEST(IoprimWrite, APrimitiveNeverStraddlesAreas) {
  vxtest::WaitingOStream out(7);
  ioprim prim(nullptr, &out);
  uint32_t a = 1, b = 2;
  prim.writePrimitive(4, &a).writePrimitive(4, &b);
  EXPECT_EQ(commits(out), (std::vector<std::pair<size_t, size_t>>{{7, 4}}));
  prim.endWrite();
  EXPECT_EQ(commits(out), (std::vector<std::pair<size_t, size_t>>{{7, 4}, {7, 4}}));
  EXPECT_EQ(vxtest::toHex(out.bytes()), "0100000002000000");
}

TEST(IoprimWrite, StringsSplitAcrossAreasButTheNextIntegerStartsAFreshArea) {
  vxtest::WaitingOStream out(37);
  ioprim prim(nullptr, &out);
  wire::Codec<std::string>::write(prim, std::string(100, 'x'));  // 108 bytes: 3 left over
  uint32_t n = 5;
  prim.writePrimitive(4, &n);
  prim.endWrite();
  EXPECT_EQ(commits(out),
            (std::vector<std::pair<size_t, size_t>>{{37, 37}, {37, 37}, {37, 34}, {37, 4}}));
  EXPECT_EQ(out.bytes().size(), 112u);
  EXPECT_EQ(out.bytes().substr(108), std::string("\5\0\0\0", 4));
  EXPECT_GE(out.waits, 4);
}

TEST(IoprimWrite, EndWriteCommitsPendingBytesOnlyAndWaitsForTheStream) {
  vxtest::WaitingOStream out(64);
  ioprim prim(nullptr, &out);
  prim.endWrite();
  EXPECT_TRUE(out.commits().empty());
  EXPECT_EQ(out.waits, 0);
  uint64_t v = 9;
  prim.writePrimitive(8, &v);
  EXPECT_EQ(prim.writePending(), 8u);
  int waits_before = out.waits;
  prim.endWrite();
  EXPECT_EQ(commits(out), (std::vector<std::pair<size_t, size_t>>{{64, 8}}));
  EXPECT_EQ(prim.writePending(), 0u);
  EXPECT_GT(out.waits, waits_before);
}

TEST(IoprimWriteDeathTest, AnAreaTooSmallForAPrimitiveIsABrokenInvariant) {
  EXPECT_DEATH(
      {
        protocol::MemoryOStream out(3);
        ioprim prim(nullptr, &out);
        uint32_t v = 1;
        prim.writePrimitive(4, &v);
      },
      "Assertion failed: New write area of size 3 too small for primitive write");
}

TEST(IoprimRead, AKnownInputSizeRejectsLongerLengthsBeforeAllocating) {
  protocol::MemoryIStream in(vxtest::fromHex("0500000000000000 6162"));
  ioprim prim(&in);
  prim.limitInput(10);
  std::string s;
  try {
    wire::Codec<std::string>::read(prim, s);
    FAIL() << "no error";
  } catch (const protocol::EBadInput& e) {
    EXPECT_STREQ(e.what(), "String of 5 bytes exceeds the 2 bytes left");
  }
}

TEST(IoprimRead, ContainerCountsAreCheckedAgainstTheBytesLeft) {
  protocol::MemoryIStream in(vxtest::fromHex("10000000 01000000 02000000"));
  ioprim prim(&in);
  prim.limitInput(12);
  std::vector<uint32_t> v;
  EXPECT_THROW(wire::Codec<std::vector<uint32_t>>::read(prim, v), protocol::EBadInput);
}

TEST(IoprimRead, AFreshIoprimHasReadNothing) {
  protocol::MemoryIStream in("");
  ioprim prim(&in);
  EXPECT_EQ(queues::lastRead(prim).type, 0u);
  EXPECT_EQ(queues::lastRead(prim).dest, 0u);
}

}  // namespace
