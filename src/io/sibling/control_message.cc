#include "io/sibling/control_message.h"

#include "error/assert.h"

namespace io {

namespace {

// Low 3 bits of a value message, by kind.
uint32_t valueTag(MessageType t) {
  switch (t) {
    case MessageType::MessageAt:
      return 1;
    case MessageType::AckMessageAt:
      return 2;
    case MessageType::ExtraOffset:
      return 3;
    case MessageType::ExtraSize:
      return 4;
    default:
      return 0;
  }
}

// Low byte of an id message, by kind; 0xff for kinds that carry a value.
uint32_t idTag(MessageType t) {
  switch (t) {
    case MessageType::RequestPeer:
      return 0;
    case MessageType::IAmUp:
      return 16;
    case MessageType::SiblingAt:
      return 24;
    case MessageType::InitShutdown:
      return 32;
    case MessageType::AckShutdown:
      return 40;
    case MessageType::ExtraSiblingId:
      return 48;
    case MessageType::SiblingDied:
      return 56;
    default:
      return 0xff;
  }
}

}  // namespace

ControlMessage ControlMessage::withValue(MessageType type, uint64_t value, int32_t sender) {
  uint32_t tag = valueTag(type);
  VX_ASSERT(tag != 0, "Control message kind ", static_cast<int>(type), " carries no value");
  VX_ASSERT(value % 8 == 0 && value <= 0xfffffff8u, "Control message value ", value,
            " is not a multiple of 8 below 4 GiB");
  return ControlMessage{static_cast<uint32_t>(value) | tag, sender};
}

ControlMessage ControlMessage::withId(MessageType type, int32_t id, int32_t sender) {
  uint32_t tag = idTag(type);
  VX_ASSERT(tag != 0xff, "Control message kind ", static_cast<int>(type), " carries no id");
  return ControlMessage{(static_cast<uint32_t>(id) << 8) | tag, sender};
}

MessageType ControlMessage::type() const {
  switch (code & 7u) {
    case 1:
      return MessageType::MessageAt;
    case 2:
      return MessageType::AckMessageAt;
    case 3:
      return MessageType::ExtraOffset;
    case 4:
      return MessageType::ExtraSize;
    case 0:
      break;
    default:
      return MessageType::Undefined;
  }
  switch (code & 0xffu) {
    case 0:
      return MessageType::RequestPeer;
    case 16:
      return MessageType::IAmUp;
    case 24:
      return MessageType::SiblingAt;
    case 32:
      return MessageType::InitShutdown;
    case 40:
      return MessageType::AckShutdown;
    case 48:
      return MessageType::ExtraSiblingId;
    case 56:
      return MessageType::SiblingDied;
    default:
      return MessageType::Undefined;
  }
}

std::string ControlMessage::toString() const {
  std::string s;
  auto withNumber = [&](const char* name, int64_t n) {
    s = name;
    s += '(';
    s += std::to_string(n);
    s += ')';
  };
  switch (type()) {
    case MessageType::MessageAt:
      withNumber("MessageAt", value());
      break;
    case MessageType::AckMessageAt:
      withNumber("AckMessageAt", value());
      break;
    case MessageType::ExtraOffset:
      withNumber("ExtraOffset", value());
      break;
    case MessageType::ExtraSize:
      withNumber("ExtraSize", value());
      break;
    case MessageType::RequestPeer:
      withNumber("RequestPeer", id());
      break;
    case MessageType::IAmUp:
      withNumber("IAmUp", id());
      break;
    case MessageType::SiblingAt:
      withNumber("SiblingAt", id());
      break;
    case MessageType::InitShutdown:
      withNumber("InitShutdown", id());
      break;
    case MessageType::AckShutdown:
      withNumber("AckShutdown", id());
      break;
    case MessageType::ExtraSiblingId:
      withNumber("ExtraSiblingId", id());
      break;
    case MessageType::SiblingDied:
      withNumber("SiblingDied", id());
      break;
    case MessageType::Undefined:
      s = "Undefined";
      break;
  }
  s += " [from:";
  s += std::to_string(sender);
  s += ']';
  return s;
}

}  // namespace io
