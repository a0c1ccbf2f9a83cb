#include "io/sibling/control_message.h"

#include "error/assert.h"

namespace io {

namespace {

// Every kind once: its tag (the low 3 bits of a value message, the low byte of an id message)
// and its printed name.
struct Kind {
  MessageType type;
  bool carries_value;
  uint32_t tag;
  const char* name;
};

constexpr Kind kKinds[] = {
    {MessageType::MessageAt, true, 1, "MessageAt"},
    {MessageType::AckMessageAt, true, 2, "AckMessageAt"},
    {MessageType::ExtraOffset, true, 3, "ExtraOffset"},
    {MessageType::ExtraSize, true, 4, "ExtraSize"},
    {MessageType::RequestPeer, false, 0, "RequestPeer"},
    {MessageType::IAmUp, false, 16, "IAmUp"},
    {MessageType::SiblingAt, false, 24, "SiblingAt"},
    {MessageType::InitShutdown, false, 32, "InitShutdown"},
    {MessageType::AckShutdown, false, 40, "AckShutdown"},
    {MessageType::ExtraSiblingId, false, 48, "ExtraSiblingId"},
    {MessageType::SiblingDied, false, 56, "SiblingDied"},
};

constexpr bool valueTagsArePositions() {
  for (uint32_t i = 0; i < 4; ++i) {
    if (!kKinds[i].carries_value || kKinds[i].tag != i + 1 ||
        static_cast<uint32_t>(kKinds[i].type) != i) {
      return false;
    }
  }
  return !kKinds[4].carries_value;
}
static_assert(valueTagsArePositions(), "the inline coding of value kinds relies on it");

const Kind* kindOf(MessageType t) {
  for (const Kind& k : kKinds) {
    if (k.type == t) return &k;
  }
  return nullptr;
}

}  // namespace

void ControlMessage::badValue(MessageType type, uint64_t value) {
  const Kind* k = kindOf(type);
  VX_ASSERT(k != nullptr && k->carries_value, "Control message kind ", static_cast<int>(type),
            " carries no value");
  VX_ASSERT(false, "Control message value ", value, " is not a multiple of 8 below 4 GiB");
}

ControlMessage ControlMessage::withId(MessageType type, int32_t id, int32_t sender) {
  const Kind* k = kindOf(type);
  VX_ASSERT(k != nullptr && !k->carries_value, "Control message kind ", static_cast<int>(type),
            " carries no id");
  return ControlMessage{(static_cast<uint32_t>(id) << 8) | k->tag, sender};
}

MessageType ControlMessage::idType() const {
  for (const Kind& k : kKinds) {
    if (!k.carries_value && k.tag == (code & 0xffu)) return k.type;
  }
  return MessageType::Undefined;
}

std::string ControlMessage::toString() const {
  MessageType t = type();
  std::string s;
  if (t == MessageType::Undefined) {
    s = "Undefined";
  } else {
    const Kind* k = kindOf(t);
    s = k->name;
    s += '(';
    s += k->carries_value ? std::to_string(value()) : std::to_string(id());
    s += ')';
  }
  s += " [from:";
  s += std::to_string(sender);
  s += ']';
  return s;
}

}  // namespace io
