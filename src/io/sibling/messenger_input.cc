// The reading side of the messenger: control messages from the FIFO, checked before anything
// of them is applied, and what each kind does: start-up and introductions, peer requests, the
// shutdown handshake and deaths.
#include <cstring>

#include "error/assert.h"
#include "io/sibling/diagnostics.h"
#include "io/sibling/messenger_parent.h"
#include "io/sibling/sibling_messenger.h"

namespace io {

namespace {

constexpr int32_t kDelayed = 0x1000;

uint64_t loadShared(const uint8_t* p) {
  // The peer may change its header at any time; read each word once.
  return __atomic_load_n(reinterpret_cast<const uint64_t*>(p), __ATOMIC_RELAXED);
}

}  // namespace

void SiblingMessenger::readInput() {
  if (reader_->error() != 0) {
    throw error::ESystemError("Error in " + reader_->describe(), reader_->error());
  }
  input_verified_ = false;
  // A pass may end many handshakes at once (a line each): their lines leave together.
  DiagnosticBatch lines;
  size_t n = reader_->size();
  if (n % 8 != 0) {
    // Nobody can tell where whole messages start: none of these bytes is used.
    reader_->consume(n);
    violation(ESiblingProtocolError::kUnknownSibling,
              "Read " + std::to_string(n) + " bytes on input FIFO");
  }
  while (reader_->size() != 0) {
    uint64_t word;
    std::memcpy(&word, reader_->data(), 8);
    // Consumed first: a message that raises is not met again.
    reader_->consume(8);
    handle(ControlMessage::unpack(word));
  }
}

void SiblingMessenger::readChannel(ChannelReader& ch) {
  const int32_t owner = ch.owner();
  if (ch.ended()) {
    // The child has ended; its death reaches us from the supervisor.
    setUnderlying(&ch, false);
    channels_[static_cast<size_t>(owner - kMinSiblingId)].reset();
    return;
  }
  // Only the owner holds the writing end: whatever comes here is its doing.
  input_verified_ = true;
  struct Unverify {
    bool& flag;
    ~Unverify() { flag = false; }
  } unverify{input_verified_};
  DiagnosticBatch lines;
  size_t n = ch.size();
  if (n % 8 != 0) {
    ch.consume(n);
    violation(owner, "Read " + std::to_string(n) + " bytes on its channel");
  }
  while (ch.size() != 0) {
    uint64_t word;
    std::memcpy(&word, ch.data(), 8);
    ch.consume(8);
    ControlMessage m = ControlMessage::unpack(word);
    if (m.sender != owner) {
      violation(owner, m.toString() + " sent in the name of sibling " + std::to_string(m.sender));
    }
    handle(m);
  }
}

void SiblingMessenger::handle(ControlMessage m) {
  if (!validSiblingId(m.sender) || m.sender == my_id_) {
    violation(m.sender, "bad sender in " + m.toString());
  }
  switch (m.type()) {
    case MessageType::MessageAt:
      return onMessageAt(m);
    case MessageType::AckMessageAt:
      return onAck(m);
    case MessageType::ExtraOffset:
    case MessageType::ExtraSize:
    case MessageType::ExtraSiblingId:
      return onExtra(m);
    case MessageType::SiblingAt:
      return onSiblingAt(m);
    case MessageType::RequestPeer:
      return onRequestPeer(m);
    case MessageType::IAmUp:
      return onIAmUp(m);
    case MessageType::InitShutdown:
      return onInitShutdown(m);
    case MessageType::AckShutdown:
      return onAckShutdown(m);
    case MessageType::SiblingDied:
      return onSiblingDied(m);
    case MessageType::Undefined:
      break;
  }
  violation(m.sender, "Got MT_Undefined: " + m.toString());
}

void SiblingMessenger::onMessageAt(ControlMessage m) {
  SiblingImplementation* si = find(m.sender);
  // A sibling already counted as gone may have written before it went.
  if (si != nullptr && si->gone_) return;
  if (si == nullptr || si->area_size_ == 0) {
    violation(m.sender, m.toString() + " from a sibling whose area we do not know");
  }
  uint64_t o = m.value();
  uint64_t end = si->area_offset_ + si->area_size_;
  if (o < si->area_offset_ || o + kHeaderSize > end) {
    violation(m.sender, m.toString() + " outside its area [" + std::to_string(si->area_offset_) +
                            ", " + std::to_string(end) + ")");
  }
  uint64_t flags = loadShared(base_ + o);
  uint64_t length = loadShared(base_ + o + 8);
  if (!(flags & kBlockUsed) || length == 0 || length > end - o - kHeaderSize) {
    violation(m.sender, m.toString() + " has a header (flags " +
                            std::to_string(flags & kBlockFlags) + ", length " +
                            std::to_string(length) + ") that does not fit its area");
  }
  rmsgs_.push(si->received_, si, o, length);
  smQueueUpdated(*si);
}

void SiblingMessenger::onAck(ControlMessage m) {
  SiblingImplementation* si = find(m.sender);
  if (si != nullptr && si->gone_) return;  // its blocks were freed when it went
  int32_t receiver;
  uint32_t o = m.value();
  if (!outstanding_.find(o, receiver) || receiver != m.sender) {
    violation(m.sender, "Not one of my messages: " + m.toString());
  }
  const uint64_t length = alloc_.length(o);
  // Freed first: a block whose shared header another process overwrote stays outstanding.
  releaseBlock(o);
  outstanding_.erase(o);
  ++si->acked_;
  const bool was_held = si->out_bytes_ >= si->out_limit_;
  si->out_bytes_ -= std::min(si->out_bytes_, length);
  if (was_held && si->out_bytes_ < si->out_limit_) updateOStream(*si);
  checkEndOfStreams();
}

void SiblingMessenger::onExtra(ControlMessage m) {
  if (isParent() || m.sender != 0) {
    violation(m.sender, m.toString() + " is only accepted by a child from the parent");
  }
  if (extras_.size() >= 2) violation(m.sender, "Third pending extra: " + m.toString());
  extras_.push_back(m);
}

void SiblingMessenger::onSiblingAt(ControlMessage m) {
  if (isParent() || m.sender != 0) {
    violation(m.sender, m.toString() + " is only accepted by a child from the parent");
  }
  if (extras_.size() != 2) {
    size_t n = extras_.size();
    extras_.clear();
    violation(m.sender, "Stack size is " + std::to_string(n) + " on SiblingAt");
  }
  ControlMessage xo = extras_[0];
  ControlMessage xs = extras_[1];
  extras_.clear();
  if (xo.type() != MessageType::ExtraOffset) violation(m.sender, "No ExtraOffset on SiblingAt");
  if (xs.type() != MessageType::ExtraSize) violation(m.sender, "No ExtraSize on SiblingAt");
  int32_t y = m.id();
  uint64_t offset = xo.value();
  uint64_t size = xs.value();
  if (!validSiblingId(y)) violation(m.sender, m.toString() + " names no sibling");
  if (offset < page_size_ || size < 2 * kHeaderSize || offset + size > mapsize) {
    violation(m.sender, m.toString() + " gives area " + std::to_string(offset) + " of size " +
                            std::to_string(size) + " outside the pool");
  }
  auto it = write_areas_.find(offset);
  if (it != write_areas_.end() && it->second != y) {
    violation(m.sender, "Failed insertion in into write_areas at " + std::to_string(offset));
  }
  if (y == my_id_) {
    if (alloc_.hasArea()) violation(m.sender, "Own area announced twice");
    write_areas_[offset] = y;
    initArea(offset, size);
    return;
  }
  SiblingImplementation& si = freshImpl(y);
  write_areas_[offset] = y;
  si.area_offset_ = offset;
  si.area_size_ = size;
  if (y == 0) return;  // the parent's FIFO has been open from the start
  if (si.writer_.isOpen()) violation(m.sender, m.toString() + " for a sibling already introduced");
  try {
    openFifo(si);
  } catch (const error::ESystemError&) {
    // It may have gone already; the parent knows better.
    siblingDiagnostic(" ID: " + std::to_string(my_id_) +
                      " was unable to open the FIFO to new sibling " + std::to_string(y) +
                      " - will request it from the parent");
    markGone(si);
    sendToParent(ControlMessage::withId(MessageType::RequestPeer, y, my_id_));
  }
}

void SiblingMessenger::onRequestPeer(ControlMessage m) {
  if (!isParent()) violation(m.sender, "Got RequestPeer but we're a child");
  SiblingImplementation* requester = find(m.sender);
  if (requester == nullptr || !requester->writer_.isOpen() || requester->gone_) {
    violation(m.sender, m.toString() + " from a sibling that is not up");
  }
  int32_t target = m.id();
  if (!validSiblingId(target) || target == 0 || target == m.sender) {
    violation(m.sender, m.toString() + " asks for no valid peer");
  }
  if (!parent_->messageToNonexistantSibling(target, m.sender)) {
    send(*requester, ControlMessage::withId(MessageType::SiblingDied, target, my_id_));
  }
  // Granted: the target's IAmUp introduces it to the requester.
}

void SiblingMessenger::onIAmUp(ControlMessage m) {
  if (!isParent()) violation(m.sender, "Got IAmUp but we're a child");
  int32_t x = m.sender;
  const SiblingMessengerParent::Area* area = parent_->findArea(x);
  SiblingImplementation* old = find(x);
  if ((area != nullptr && area->used) || (old != nullptr && old->writer_.isOpen() && !old->gone_)) {
    violation(x, "IAmUp from a sibling that is up");
  }
  uint64_t size = parent_->smemSliceSize(x);
  VX_ASSERT(size % 8 == 0, "Slice size for sibling id ", x, " is not 8 byte aligned!");
  SiblingImplementation& si = freshImpl(x);
  // Its FIFO first: if it cannot be opened, nothing else has changed.
  openWriter(si);
  uint64_t offset;
  try {
    offset = parent_->markAreaUsed(x, size);
  } catch (...) {
    si.writer_.close();
    throw;
  }
  size = parent_->findArea(x)->size;  // a restarted sibling keeps its old area
  // Siblings that are leaving are introduced too: one may hold messages for the newcomer that
  // waited for its FIFO, and it cannot finish before they are read.
  for (const SiblingMessengerParent::Area& a : parent_->areas()) {
    if (a.id == 0 || a.id == x || !a.used) continue;
    SiblingImplementation* y = find(a.id);
    VX_ASSERT(y != nullptr, "No sibling implementation for entry in areas");
    if (y->gone_) continue;
    sendArea(si, a.id, a.offset, a.size);
  }
  for (const SiblingMessengerParent::Area& a : parent_->areas()) {
    if (a.id == 0 || a.id == x || !a.used) continue;
    SiblingImplementation* y = find(a.id);
    if (y->gone_ || !y->writer_.isOpen()) continue;
    sendArea(*y, x, offset, size);
  }
  auto ins = write_areas_.emplace(offset, x);
  VX_ASSERT(ins.second || ins.first->second == x, "Failed insert into write_areas");
  si.area_offset_ = offset;
  si.area_size_ = size;
  sendArea(si, x, offset, size);
  sendArea(si, 0, alloc_.areaOffset(), alloc_.areaEnd() - alloc_.areaOffset());
  sendDelayed(si);
  new_ids_.push_back(x);
  new_siblings_.setReadyFlag(true);
  maybeFlush();
}

void SiblingMessenger::onInitShutdown(ControlMessage m) {
  int32_t x = m.id();
  if (!isParent()) {
    if (m.sender != 0) violation(m.sender, m.toString() + " is only accepted from the parent");
    SiblingImplementation* si = find(x);
    if (si == nullptr || x == 0 || x == my_id_) violation(m.sender, "si is end: " + m.toString());
    if (si->gone_ || si->closed_) {
      sendToParent(ControlMessage::withId(MessageType::AckShutdown, x, my_id_));
      return;
    }
    si->shutdown_pending_ = true;
    updateOStream(*si);
    checkPendingShutdown(*si);
    return;
  }
  if (x != m.sender) violation(m.sender, m.toString() + " for another sibling");
  SiblingImplementation* si = find(x);
  auto& shutting = parent_->shuttingDown();
  if (si == nullptr || si->gone_ || !si->writer_.isOpen() || si->area_size_ == 0 ||
      shutting.count(x) != 0) {
    violation(x, m.toString() + " from a sibling that is not up or already leaving");
  }
  std::set<int32_t>& pending = shutting[x];
  for (const SiblingMessengerParent::Area& a : parent_->areas()) {
    if (a.id == 0 || a.id == x || !a.used || pending.count(a.id) != 0) continue;
    SiblingImplementation* y = find(a.id);
    VX_ASSERT(y != nullptr, "No sib impl at init shutdown");
    if (y->gone_ || !y->writer_.isOpen()) continue;
    send(*y, ControlMessage::withId(MessageType::InitShutdown, x, my_id_));
    pending.insert(a.id);
  }
  if (pending.empty()) send(*si, ControlMessage::withId(MessageType::AckShutdown, x, my_id_));
}

void SiblingMessenger::onAckShutdown(ControlMessage m) {
  int32_t x = m.id();
  if (!isParent()) {
    if (m.sender != 0 || x != my_id_ || !shutting_down_ || shutdown_acked_) {
      violation(m.sender, "Protocol violation; got AckShutdown unexpectedly: " + m.toString());
    }
    shutdown_acked_ = true;
    updateOStreams();
    checkEndOfStreams();
    return;
  }
  auto& shutting = parent_->shuttingDown();
  auto it = shutting.find(x);
  if (it == shutting.end())
    violation(m.sender, m.toString() + " for a sibling that is not leaving");
  if (m.sender == x) {
    // The leaving sibling is done with the pool.
    siblingGone(x);
    return;
  }
  if (it->second.erase(m.sender) == 0) {
    violation(m.sender, m.toString() + " that was not asked for");
  }
  if (!it->second.empty()) return;
  SiblingImplementation* si = find(x);
  VX_ASSERT(si != nullptr, "No sib impl at ack shutdown.");
  if (si->gone_) return;
  send(*si, ControlMessage::withId(MessageType::AckShutdown, x, my_id_));
  // The leaver waits for nothing else: it is told now, not when this pass of the parent's
  // loop (which may have much else to do, a stop's logging for one) ends.
  flushAll();
}

void SiblingMessenger::onSiblingDied(ControlMessage m) {
  if (isParent()) violation(m.sender, "MT_SiblingDied not valid to parent");
  if (m.sender != 0) violation(m.sender, m.toString() + " is only accepted from the parent");
  int32_t x = m.id();
  if (!validSiblingId(x) || x == 0 || x == my_id_) violation(m.sender, m.toString() + " names us");
  markGone(impl(x));
}

void SiblingMessenger::markGone(SiblingImplementation& si) {
  if (si.gone_) return;
  si.gone_ = true;
  si.shutdown_pending_ = false;
  dropOutput(si);
  si.writer_.close();
  si.delayed_.clear();
  si.requested_ = false;
  // Whatever we sent it and it never acknowledged is ours again.
  scratch_.clear();
  outstanding_.forEach([&](uint64_t o, int32_t r) {
    if (r == si.id_ || r == si.id_ + kDelayed) scratch_.push_back(static_cast<uint32_t>(o));
  });
  for (uint32_t o : scratch_) {
    outstanding_.erase(o);
    releaseBlock(o);
  }
  si.out_bytes_ = 0;
  if (unnotified_ == &si) {
    unnotified_ = nullptr;
    written_ = 0;
  }
  write_areas_.erase(si.area_offset_);
  appendNull(si);
  updateOStream(si);
  checkEndOfStreams();
}

void SiblingMessenger::siblingGone(int32_t x) {
  DiagnosticBatch lines;
  SiblingImplementation& si = impl(x);
  if (si.gone_) {
    siblingDiagnostic("Double siblingGone() marking, exiting early.");
    return;
  }
  markGone(si);
  const SiblingMessengerParent::Area* area = parent_->findArea(x);
  if (area != nullptr && area->used) parent_->markAreaUnused(x);
  for (SiblingRef& r : impls_) {
    if (!r || r->id_ == 0 || r->id_ == x || r->gone_ || !r->writer_.isOpen()) continue;
    send(*r, ControlMessage::withId(MessageType::SiblingDied, x, my_id_));
  }
  // The handshake goes on as if it had acknowledged.
  auto& shutting = parent_->shuttingDown();
  shutting.erase(x);
  for (auto& [z, pending] : shutting) {
    if (pending.erase(x) == 0 || !pending.empty()) continue;
    SiblingImplementation* zi = find(z);
    if (zi != nullptr && !zi->gone_) {
      send(*zi, ControlMessage::withId(MessageType::AckShutdown, z, my_id_));
    }
  }
  maybeFlush();
}

void SiblingMessenger::closeComms(SiblingImplementation& si) {
  if (si.closed_) return;
  siblingDiagnostic("Shutting down FIFO for sibling " + std::to_string(si.id_));
  dropOutput(si);
  si.writer_.close();
  si.closed_ = true;
  appendNull(si);
  smQueueUpdated(si);
}

void SiblingMessenger::checkPendingShutdown(SiblingImplementation& si) {
  if (!si.shutdown_pending_ || si.received_.count != 0 || !si.acks_.empty() || si.queued_ != 0) {
    return;
  }
  si.shutdown_pending_ = false;
  siblingDiagnostic(" got ack for all messages, allowing " + std::to_string(si.id_) +
                    " to shutdown");
  closeComms(si);
  updateOStream(si);
  sendToParent(ControlMessage::withId(MessageType::AckShutdown, si.id_, my_id_));
}

void SiblingMessenger::checkEndOfStreams() {
  if (!shutdown_acked_ || eos_added_ || !outstanding_.empty()) return;
  eos_added_ = true;
  for (SiblingRef& r : impls_) {
    if (!r || r->null_added_) continue;
    siblingDiagnostic("Adding EOS for sibling " + std::to_string(r->id_) + " input stream");
    appendNull(*r);
  }
}

}  // namespace io
