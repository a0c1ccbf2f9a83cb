// The 8-byte control messages that travel on the sibling FIFOs: a 32-bit code word and the
// sender's sibling id, both little-endian. Everything except payload travels this way.
//
// Code word: when its low 3 bits are not 0 they give the kind and the word with those bits
// cleared is a value (a pool offset or a size, a multiple of 8); when they are 0 the low byte
// gives the kind and the upper 24 bits are a sibling id.
#pragma once

#include <bit>
#include <cstdint>
#include <string>

namespace io {

static_assert(std::endian::native == std::endian::little,
              "control messages and block headers are stored in host order");

enum class MessageType : uint8_t {
  MessageAt,       // value: block offset in the sender's area
  AckMessageAt,    // value: block offset in the receiver's area
  ExtraOffset,     // value: area offset, first of a SiblingAt group
  ExtraSize,       // value: area size, second of a SiblingAt group
  RequestPeer,     // id: the sibling wanted
  IAmUp,           // id: not used by the receiver
  SiblingAt,       // id: the sibling whose area the two preceding extras give
  InitShutdown,    // id: the sibling that wants to leave
  AckShutdown,     // id: the sibling whose shutdown is acknowledged
  ExtraSiblingId,  // id: an extra stacked like the other two
  SiblingDied,     // id: the sibling that is gone
  Undefined,
};

// Sibling ids that can exist at all.
constexpr int32_t kMinSiblingId = -127;
constexpr int32_t kMaxSiblingId = 128;
constexpr bool validSiblingId(int64_t id) {
  return id >= kMinSiblingId && id <= kMaxSiblingId;
}

struct ControlMessage {
  uint32_t code = 0;
  int32_t sender = 0;

  // A message carrying a value (offset or size; must be a multiple of 8 below 4 GiB).
  static ControlMessage withValue(MessageType type, uint64_t value, int32_t sender) {
    auto tag = static_cast<uint32_t>(type) + 1;
    if (tag > kValueKinds || value % 8 != 0 || value > 0xfffffff8u) [[unlikely]]
      badValue(type, value);
    return ControlMessage{static_cast<uint32_t>(value) | tag, sender};
  }
  // A message carrying a sibling id.
  static ControlMessage withId(MessageType type, int32_t id, int32_t sender);

  // The value kinds (the notices of every message) are decoded inline; the others by table.
  MessageType type() const {
    uint32_t low = code & 7u;
    if (low - 1 < kValueKinds) return static_cast<MessageType>(low - 1);
    return low != 0 ? MessageType::Undefined : idType();
  }
  // The offset or size of a value message.
  uint32_t value() const { return code & ~7u; }
  // The sibling id of an id message (sign-extended from 24 bits).
  int32_t id() const { return static_cast<int32_t>(code) >> 8; }

  uint64_t pack() const { return uint64_t{code} | (uint64_t{static_cast<uint32_t>(sender)} << 32); }
  static ControlMessage unpack(uint64_t word) {
    return ControlMessage{static_cast<uint32_t>(word), static_cast<int32_t>(word >> 32)};
  }

  // "MessageAt(4096) [from:3]"
  std::string toString() const;

 private:
  // The kinds that carry a value lead MessageType; the tag of each is its position plus one.
  static constexpr uint32_t kValueKinds = 4;
  MessageType idType() const;
  [[noreturn]] static void badValue(MessageType type, uint64_t value);
};

}  // namespace io
