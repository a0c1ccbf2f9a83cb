// The incremental BER decoder. It accepts the octets of a message in pieces of any size, keeps
// its place between pieces, and drives the value objects as elements arrive: createChild for
// every child of a constructed element, beginContent/appendContent/readDone for primitives.
// Constructed elements may have definite or indefinite lengths.
//
// Input is hostile until proven otherwise: the nesting depth is bounded; a message may neither
// exceed the budget in octets nor make its objects take more memory than the budget (every
// heap block is charged as it is made, list buffers and objects before they are allocated),
// so element counts are bounded by the octets that arrived and by the budget; lengths of more
// than 4 octets or beyond what may still arrive are refused as soon as they are read, and
// nothing is allocated from an announced length.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "protocol/ber_value.h"

namespace protocol {

struct BerLimits {
  // Constructed elements open at once, the message itself included.
  size_t maxDepth = 64;
  // Octets of one message (its own tag and length included), and separately bytes of memory
  // its decoded objects may take. Far above any message a peer sends; at most SIZE_MAX / 2.
  size_t budget = size_t{256} << 20;
};

// Creates the message object for a top-level tag.
class BerProtocol {
 public:
  virtual ~BerProtocol() = default;
  // Throws EBer "Unknown tag " and the code for a tag that starts no message.
  virtual std::unique_ptr<BerConstructed> create(TagCode tag, bool legacy) const = 0;
};

class BerDecoder {
 public:
  // Decodes messages whose class the protocol picks by their tag.
  BerDecoder(const BerProtocol& protocol, bool legacy, const BerLimits& limits = BerLimits());
  // Decodes one element into `root`, a default-constructed value of the expected class.
  BerDecoder(BerValue& root, bool legacy, const BerLimits& limits = BerLimits());
  ~BerDecoder();
  BerDecoder(const BerDecoder&) = delete;
  BerDecoder& operator=(const BerDecoder&) = delete;

  // Consumes octets of the current message and returns how many it used: all of them unless
  // the message ended inside the piece. Throws EBer on malformed input; the decoder must then
  // be reset before it is fed again, as the stream is out of step.
  size_t feed(const uint8_t* data, size_t size);
  // The message is complete.
  bool done() const { return state_ == State::Done; }
  // No octet of a message has arrived yet.
  bool idle() const { return state_ == State::Tag && offset_ == 0; }
  // The completed message (protocol mode); the decoder starts over.
  std::unique_ptr<BerConstructed> take();
  // Drops any partial message.
  void reset();
  // Bytes of memory charged for the current (or just completed) message.
  size_t memoryCharged() const { return budget_.used(); }

 private:
  enum class State { Tag, TagNumber, Length, LengthOctets, Content, Done, Failed };
  struct Frame;

  BerDecoder(BerValue* root, const BerProtocol* protocol, bool legacy, const BerLimits& limits);

  void headerOctet(uint8_t octet);
  void header();
  BerValue& rootFor(TagCode tag);
  void pushFrame(BerConstructed& value);
  void popFrame();
  void closeEndedFrames();
  void endPrimitive();
  void chargePrimitive();
  size_t limit() const;
  [[noreturn]] void overrun() const;

  const BerProtocol* protocol_;
  BerValue* root_;
  bool legacy_;
  BerLimits limits_;
  DecodeBudget budget_;
  std::unique_ptr<BerConstructed> message_;
  std::unique_ptr<Frame[]> frames_;
  size_t depth_ = 0;

  State state_ = State::Tag;
  size_t offset_ = 0;  // octets of the current message consumed
  uint8_t tagLead_ = 0;
  uint32_t tagNumber_ = 0;
  TagCode tag_ = 0;
  size_t lengthOctets_ = 0;
  size_t length_ = 0;
  bool indefinite_ = false;
  BerPrimitive* primitive_ = nullptr;
  size_t remaining_ = 0;
  size_t primitiveHeap_ = 0;  // what the primitive's buffers held when last charged
};

// Decodes exactly one message from `data`; throws EBer when the octets end before the message
// does or go on after it.
std::unique_ptr<BerConstructed> decodeMessage(const BerProtocol& protocol, bool legacy,
                                              const uint8_t* data, size_t size,
                                              const BerLimits& limits = BerLimits());
// The same for one element decoded into `root`.
void decodeValue(BerValue& root, bool legacy, const uint8_t* data, size_t size,
                 const BerLimits& limits = BerLimits());
std::vector<uint8_t> encode(const BerValue& value, bool legacy);

}  // namespace protocol
