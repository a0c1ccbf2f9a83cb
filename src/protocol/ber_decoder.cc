#include "protocol/ber_decoder.h"

#include <algorithm>
#include <string>

#include "error/assert.h"
#include "protocol/ber_schema.h"

namespace protocol {

struct BerDecoder::Frame {
  BerConstructed* value = nullptr;
  size_t children = 0;
  bool indefinite = false;
  // The offset no octet of this element may reach: its own end when its length is definite,
  // otherwise the limit of its parent. `ownEnd` tells the two apart.
  size_t limit = 0;
  bool ownEnd = false;
  // The temporary view of the child being decoded.
  ChildSlot slot;
};

BerDecoder::BerDecoder(const BerProtocol& protocol, bool legacy, const BerLimits& limits)
    : BerDecoder(nullptr, &protocol, legacy, limits) {}

BerDecoder::BerDecoder(BerValue& root, bool legacy, const BerLimits& limits)
    : BerDecoder(&root, nullptr, legacy, limits) {}

BerDecoder::BerDecoder(BerValue* root, const BerProtocol* protocol, bool legacy,
                       const BerLimits& limits)
    : protocol_(protocol), root_(root), legacy_(legacy), limits_(limits), budget_(limits.budget) {
  VX_ASSERT(limits.maxDepth >= 1, "BerLimits::maxDepth must be at least 1");
  VX_ASSERT(limits.budget <= SIZE_MAX / 2, "BerLimits::budget must be at most SIZE_MAX / 2");
  frames_ = std::make_unique<Frame[]>(limits.maxDepth);
  for (size_t i = 0; i < limits.maxDepth; ++i)
    frames_[i].slot.setBudget(&budget_);
}

BerDecoder::~BerDecoder() {
  reset();
}

void BerDecoder::reset() {
  // Views in the slots refer to the message's fields: drop them first.
  for (size_t i = 0; i < depth_; ++i)
    frames_[i].slot.reset();
  depth_ = 0;
  message_.reset();
  state_ = State::Tag;
  offset_ = 0;
  primitive_ = nullptr;
  budget_.restart();
}

std::unique_ptr<BerConstructed> BerDecoder::take() {
  VX_ASSERT(state_ == State::Done && protocol_ != nullptr, "BerDecoder::take without a message");
  std::unique_ptr<BerConstructed> message = std::move(message_);
  reset();
  return message;
}

size_t BerDecoder::limit() const {
  return depth_ == 0 ? limits_.budget : frames_[depth_ - 1].limit;
}

void BerDecoder::overrun() const {
  if (depth_ == 0 || !frames_[depth_ - 1].ownEnd) {
    throw EBer("Message exceeds the maximum size of " + std::to_string(limits_.budget) + " octets");
  }
  throw EBer("Element overruns the length of its enclosing element");
}

size_t BerDecoder::feed(const uint8_t* data, size_t size) {
  VX_ASSERT(state_ != State::Failed, "BerDecoder fed again after a decoding error");
  size_t used = 0;
  try {
    while (used < size && state_ != State::Done) {
      if (state_ == State::Content) {
        const size_t n = std::min(remaining_, size - used);
        budget_.require(2 * length_ + 1);
        primitive_->appendContent(data + used, n);
        chargePrimitive();
        used += n;
        offset_ += n;
        remaining_ -= n;
        if (remaining_ == 0) endPrimitive();
        continue;
      }
      if (offset_ >= limit()) overrun();
      ++offset_;
      headerOctet(data[used++]);
    }
  } catch (...) {
    state_ = State::Failed;
    throw;
  }
  return used;
}

void BerDecoder::headerOctet(uint8_t octet) {
  switch (state_) {
    case State::Tag:
      tagLead_ = octet;
      if ((octet & 31) == 31) {
        tagNumber_ = 0;
        state_ = State::TagNumber;
        return;
      }
      tagNumber_ = octet & 31;
      break;
    case State::TagNumber:
      if (tagNumber_ > (kMaxTagNumber >> 7)) throw EBer("Tag number too large");
      tagNumber_ = tagNumber_ << 7 | (octet & 0x7F);
      if ((octet & 0x80) != 0) return;
      break;
    case State::Length:
      if (octet < 0x80) {
        length_ = octet;
        indefinite_ = false;
        header();
      } else if (octet == 0x80) {
        indefinite_ = true;
        header();
      } else {
        lengthOctets_ = octet & 0x7F;
        if (lengthOctets_ > 4) {
          throw EBer("Length of " + std::to_string(lengthOctets_) +
                     " octets exceeds the maximum of 4");
        }
        length_ = 0;
        state_ = State::LengthOctets;
      }
      return;
    case State::LengthOctets:
      length_ = length_ << 8 | octet;
      if (--lengthOctets_ == 0) {
        indefinite_ = false;
        header();
      }
      return;
    default:
      error::assertionFailedWith("BerDecoder: header octet in state ", int(state_));
  }
  tag_ = tagNumber_ * 8 + (tagLead_ >> 6) * 2 + ((tagLead_ >> 5) & 1);
  state_ = State::Length;
}

BerValue& BerDecoder::rootFor(TagCode tag) {
  if (protocol_ != nullptr) {
    message_ = protocol_->create(tag, legacy_);
    if (const auto* s = dynamic_cast<const BerStruct*>(message_.get()))
      budget_.charge(s->desc().size);
    return *message_;
  }
  if (tag != root_->tag(legacy_)) {
    throw EBer("Tag mismatch, got " + std::to_string(tag) + " expected " +
               root_->describeTag(legacy_));
  }
  return *root_;
}

void BerDecoder::header() {
  const bool constructed = isConstructedTag(tag_);
  if (indefinite_ && !constructed) {
    throw EBer("Indefinite length in primitive element with tag " + std::to_string(tag_));
  }
  if (!indefinite_ && length_ > limit() - offset_) overrun();
  state_ = State::Tag;

  BerValue* value;
  if (depth_ == 0) {
    value = &rootFor(tag_);
  } else {
    Frame& parent = frames_[depth_ - 1];
    if (tag_ == 0 && parent.indefinite) {
      if (indefinite_ || length_ != 0) throw EBer("Malformed end of contents");
      popFrame();
      closeEndedFrames();
      return;
    }
    value = &parent.value->createChild(parent.children++, tag_, legacy_, parent.slot);
  }

  VX_ASSERT(value->isConstructed() == constructed, "value object for tag ", tag_,
            " disagrees with its constructed bit");
  if (constructed) {
    pushFrame(static_cast<BerConstructed&>(*value));
    closeEndedFrames();  // an empty definite-length element ends where it starts
    return;
  }
  primitive_ = static_cast<BerPrimitive*>(value);
  primitive_->beginContent(length_);
  primitiveHeap_ = primitive_->allocated();  // buffers the field had before are not ours
  remaining_ = length_;
  state_ = State::Content;
  if (remaining_ == 0) endPrimitive();
}

void BerDecoder::pushFrame(BerConstructed& value) {
  if (depth_ == limits_.maxDepth) {
    throw EBer("Nesting exceeds " + std::to_string(limits_.maxDepth) + " levels");
  }
  const size_t parentLimit = limit();
  const bool parentOwnEnd = depth_ > 0 && frames_[depth_ - 1].ownEnd;
  Frame& f = frames_[depth_++];
  f.value = &value;
  f.children = 0;
  f.indefinite = indefinite_;
  f.limit = indefinite_ ? parentLimit : offset_ + length_;
  f.ownEnd = indefinite_ ? parentOwnEnd : true;
}

void BerDecoder::popFrame() {
  Frame& f = frames_[depth_ - 1];
  if (!f.value->isRepeated() && f.children < f.value->count()) {
    throw EBer("Element with tag " + std::to_string(f.value->tag(legacy_)) + " ended after " +
               std::to_string(f.children) + " of its " + std::to_string(f.value->count()) +
               " fields");
  }
  f.value->readDone();
  f.slot.reset();
  if (--depth_ == 0) state_ = State::Done;
}

void BerDecoder::closeEndedFrames() {
  while (depth_ > 0 && !frames_[depth_ - 1].indefinite && offset_ == frames_[depth_ - 1].limit) {
    popFrame();
  }
}

// A primitive's buffers grow as its content arrives and may be copied once more when it is
// converted; no buffer of it exceeds twice its length, which is checked against the budget
// before each step, and each new buffer is charged once it exists.
void BerDecoder::chargePrimitive() {
  const size_t heap = primitive_->allocated();
  if (heap > primitiveHeap_) budget_.charge(heap);
  primitiveHeap_ = heap;
}

void BerDecoder::endPrimitive() {
  budget_.require(2 * length_ + 1);
  primitive_->readDone();
  chargePrimitive();
  primitive_ = nullptr;
  state_ = depth_ == 0 ? State::Done : State::Tag;
  closeEndedFrames();
}

// --- One-shot helpers ------------------------------------------------------------------------

namespace {

void feedWhole(BerDecoder& decoder, const uint8_t* data, size_t size) {
  const size_t used = decoder.feed(data, size);
  if (!decoder.done()) throw EBer("Incomplete BER element");
  if (used != size) throw EBer("Trailing octets after BER element");
}

}  // namespace

std::unique_ptr<BerConstructed> decodeMessage(const BerProtocol& protocol, bool legacy,
                                              const uint8_t* data, size_t size,
                                              const BerLimits& limits) {
  BerDecoder decoder(protocol, legacy, limits);
  feedWhole(decoder, data, size);
  return decoder.take();
}

void decodeValue(BerValue& root, bool legacy, const uint8_t* data, size_t size,
                 const BerLimits& limits) {
  BerDecoder decoder(root, legacy, limits);
  feedWhole(decoder, data, size);
}

std::vector<uint8_t> encode(const BerValue& value, bool legacy) {
  BerBytes out;
  value.write(out, legacy);
  return std::move(out.bytes);
}

}  // namespace protocol
