// The control message wire form and the table of outstanding messages.
#include "io/sibling/control_message.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <random>

#include "io/sibling/containers.h"

namespace io {
namespace {

struct Golden {
  ControlMessage m;
  uint8_t bytes[8];
  MessageType type;
  const char* text;
};

TEST(ControlMessage, GoldenBytesTypesAndTexts) {
  const Golden cases[] = {
      {ControlMessage::withValue(MessageType::MessageAt, 4096, 3),
       {0x01, 0x10, 0, 0, 3, 0, 0, 0},
       MessageType::MessageAt,
       "MessageAt(4096) [from:3]"},
      {ControlMessage::withValue(MessageType::AckMessageAt, 0x123458, 0),
       {0x5a, 0x34, 0x12, 0, 0, 0, 0, 0},
       MessageType::AckMessageAt,
       "AckMessageAt(1193048) [from:0]"},
      {ControlMessage::withValue(MessageType::ExtraOffset, 8192, 0),
       {0x03, 0x20, 0, 0, 0, 0, 0, 0},
       MessageType::ExtraOffset,
       "ExtraOffset(8192) [from:0]"},
      {ControlMessage::withValue(MessageType::ExtraSize, 421888, 0),
       {0x04, 0x70, 0x06, 0, 0, 0, 0, 0},
       MessageType::ExtraSize,
       "ExtraSize(421888) [from:0]"},
      {ControlMessage::withId(MessageType::RequestPeer, 11, 4),
       {0x00, 0x0b, 0, 0, 4, 0, 0, 0},
       MessageType::RequestPeer,
       "RequestPeer(11) [from:4]"},
      {ControlMessage::withId(MessageType::IAmUp, 24, 24),
       {0x10, 0x18, 0, 0, 24, 0, 0, 0},
       MessageType::IAmUp,
       "IAmUp(24) [from:24]"},
      {ControlMessage::withId(MessageType::SiblingAt, 2, 0),
       {0x18, 0x02, 0, 0, 0, 0, 0, 0},
       MessageType::SiblingAt,
       "SiblingAt(2) [from:0]"},
      {ControlMessage::withId(MessageType::InitShutdown, 5, 5),
       {0x20, 0x05, 0, 0, 5, 0, 0, 0},
       MessageType::InitShutdown,
       "InitShutdown(5) [from:5]"},
      {ControlMessage::withId(MessageType::AckShutdown, 5, 0),
       {0x28, 0x05, 0, 0, 0, 0, 0, 0},
       MessageType::AckShutdown,
       "AckShutdown(5) [from:0]"},
      {ControlMessage::withId(MessageType::ExtraSiblingId, 128, 0),
       {0x30, 0x80, 0, 0, 0, 0, 0, 0},
       MessageType::ExtraSiblingId,
       "ExtraSiblingId(128) [from:0]"},
      {ControlMessage::withId(MessageType::SiblingDied, -127, 0),
       {0x38, 0x81, 0xff, 0xff, 0, 0, 0, 0},
       MessageType::SiblingDied,
       "SiblingDied(-127) [from:0]"},
      {ControlMessage{0x05, -1},
       {0x05, 0, 0, 0, 0xff, 0xff, 0xff, 0xff},
       MessageType::Undefined,
       "Undefined [from:-1]"},
      {ControlMessage{0x08, 1},
       {0x08, 0, 0, 0, 1, 0, 0, 0},
       MessageType::Undefined,
       "Undefined [from:1]"},
  };
  for (const Golden& g : cases) {
    uint64_t word = g.m.pack();
    uint8_t bytes[8];
    std::memcpy(bytes, &word, 8);
    EXPECT_EQ(0, std::memcmp(bytes, g.bytes, 8)) << g.text;
    ControlMessage back = ControlMessage::unpack(word);
    EXPECT_EQ(back.type(), g.type) << g.text;
    EXPECT_EQ(back.toString(), g.text);
  }
}

TEST(OutstandingTable, AgreesWithAnOrderedMapUnderChurn) {
  OutstandingTable t;
  constexpr uint64_t kArea = 4096, kSize = 3000 * 8;
  t.bind(kArea, kSize);
  std::map<uint64_t, int32_t> model;
  std::mt19937 rng(7);
  for (int i = 0; i < 100000; ++i) {
    uint64_t key = kArea + 8 * (rng() % 3000);
    int32_t v = static_cast<int32_t>(rng() % 300) - 127;
    if (rng() % 2 == 0 && model.count(key) == 0) {
      t.insert(key, v);
      model[key] = v;
    } else {
      EXPECT_EQ(t.erase(key), model.erase(key) == 1);
    }
  }
  size_t n = 0;
  t.forEach([&](uint64_t k, int32_t v) {
    ASSERT_EQ(model.at(k), v);
    ++n;
  });
  EXPECT_EQ(n, model.size());
  EXPECT_EQ(t.size(), model.size());
  // Offsets that are no block offset of the area are simply not outstanding.
  int32_t v;
  for (uint64_t bad : {kArea - 8, kArea + kSize, kArea + 3, uint64_t{0}})
    EXPECT_FALSE(t.find(bad, v) || t.erase(bad)) << bad;
}

}  // namespace
}  // namespace io
