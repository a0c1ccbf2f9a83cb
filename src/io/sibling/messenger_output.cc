// The writing side of the messenger: the ordered queue, acknowledgements, batching into FIFO
// writes, announcing committed messages, and messages that wait for a peer's FIFO.
#include <algorithm>
#include <cstdint>

#include "error/assert.h"
#include "error/system_text.h"
#include "io/sibling/diagnostics.h"
#include "io/sibling/messenger_parent.h"
#include "io/sibling/sibling_messenger.h"

namespace io {

namespace {

// Marks an outstanding message whose notice waits for the peer's FIFO.
constexpr int32_t kDelayed = 0x1000;

// The start of the own area backed when it arrives.
constexpr uint64_t kPrefaultBytes = 64 * 1024;

// A notice of the parent's that was written early, with an earlier batch to its receiver.
constexpr int32_t kWrittenEarly = INT32_MIN;
// How far behind the head the parent looks for such notices.
constexpr size_t kEarlyScan = 1024;

// Notices whose receiver answers only the parent: whenever they arrive, nobody else's order
// depends on them. (A child's handshake messages are not among them: they must follow its
// notices to the siblings they concern.)
bool answeredToParentOnly(uint64_t message) {
  MessageType t = ControlMessage::unpack(message).type();
  return t == MessageType::InitShutdown || t == MessageType::AckShutdown ||
         t == MessageType::SiblingDied;
}

}  // namespace

bool SiblingMessenger::trySend(SiblingImplementation& si, ControlMessage m) {
  VX_ASSERT(si.id_ != my_id_, "Sibling ", my_id_, " sending to itself");
  if (!si.writer_.isOpen()) return false;
  if (si.broken_) return true;  // its reader is gone: nothing reaches it any more
  if (m.type() == MessageType::AckMessageAt) {
    si.acks_.push_back(m.pack());
    ++pending_acks_;
    if (!si.in_ack_list_) {
      si.in_ack_list_ = true;
      ack_peers_.push_back(si.id_);
    }
  } else {
    ordered_.push_back(Ordered{si.id_, m.pack()});
    ++si.queued_;
  }
  return true;
}

void SiblingMessenger::send(SiblingImplementation& si, ControlMessage m) {
  VX_ASSERT(trySend(si, m), "No connection to other SiblingMessenger ", si.id_, " for ",
            m.toString());
}

void SiblingMessenger::sendToParent(ControlMessage m) {
  SiblingImplementation* p = find(0);
  VX_ASSERT(p != nullptr, "No parent siblingimplementation");
  if (!trySend(*p, m)) {
    VX_ASSERT(p->gone_, "No connection to the parent for ", m.toString());
  }
}

void SiblingMessenger::sendArea(SiblingImplementation& to, int32_t whose, uint64_t offset,
                                uint64_t size) {
  send(to, ControlMessage::withValue(MessageType::ExtraOffset, offset, my_id_));
  send(to, ControlMessage::withValue(MessageType::ExtraSize, size, my_id_));
  send(to, ControlMessage::withId(MessageType::SiblingAt, whose, my_id_));
}

void SiblingMessenger::maybeFlush() {
  if (ordered_.size() >= kFifoBatchMessages || pending_acks_ >= kFifoBatchMessages ||
      announced_bytes_ >= notice_flush_bytes_) {
    flushAll();
  }
}

void SiblingMessenger::initArea(uint64_t offset, uint64_t size) {
  // A child's mapping is read-only but for the area it owns.
  if (!isParent()) pool_->makeWritable(offset, size);
  alloc_.init(offset, size);
  outstanding_.bind(offset, size);
  // Notices leave once a quarter of the area (at most 1 MiB) is announced, so that the reader
  // starts on large messages while we go on writing.
  notice_flush_bytes_ = std::min<uint64_t>(1024 * 1024, size / 4);
  // Only the start of the area, where the first messages go, is backed now; the rest when the
  // allocator first reaches it. Backing whole areas (and mapping every peer's) had each
  // process fault in the entire pool at start and tear it down at exit, for pages most
  // servers never use.
  pool_->prefault(offset, std::min<uint64_t>(size, kPrefaultBytes), true);
  updateOStreams();
}

void SiblingMessenger::beforeWait(void* self) {
  static_cast<SiblingMessenger*>(self)->flushAll();
}

bool SiblingMessenger::flush() {
  flushAll();
  return ordered_.empty() && pending_acks_ == 0;
}

void SiblingMessenger::watchWriter(SiblingImplementation& si, bool on) {
  setUnderlying(&si.writer_, on);
  // A descriptor added while the selector prepares its wait is armed only in its next pass:
  // make sure there is one.
  if (on && reader_) reader_->kick();
}

bool SiblingMessenger::writeBatch(SiblingImplementation& si, const uint64_t* words, size_t n) {
  switch (si.writer_.write(reinterpret_cast<const uint8_t*>(words), n * 8)) {
    case FifoWriter::Result::Done:
      return true;
    case FifoWriter::Result::Full:
      watchWriter(si, true);
      return false;
    case FifoWriter::Result::Broken:
      // The peer's process is gone; the parent (or the supervisor) reports it as such soon.
      // Until then nothing for it is kept. A peer that is leaving may end at any moment after
      // its handshake, so only the loss of one that is not is worth a line.
      if (!leaving(si)) {
        siblingDiagnostic("Caught exception: '" + error::systemText(si.writer_.brokenBy()) +
                          "' while flushing sibling: " + std::to_string(si.id_));
      }
      dropOutput(si);
      si.broken_ = true;
      if (si.id_ == 0 && !isParent()) markGone(si);
      return false;
  }
  return false;
}

bool SiblingMessenger::leaving(const SiblingImplementation& si) const {
  if (isParent()) return parent_->shuttingDown().count(si.id_) != 0;
  return si.shutdown_pending_;
}

void SiblingMessenger::flushAll() {
  if (flushing_) return;
  flushing_ = true;
  uint64_t batch[kFifoBatchMessages];
  bool again = true;
  while (again) {
    again = false;
    // Notices in their global order, each peer's acknowledgements in the same write.
    while (!ordered_.empty()) {
      int32_t peer = ordered_.front().receiver;
      if (peer == kWrittenEarly) {
        ordered_.pop_front();
        continue;
      }
      SiblingImplementation* si = find(peer);
      if (si == nullptr || !si->writer_.isOpen() || si->broken_) {
        ordered_.pop_front();
        if (si != nullptr) --si->queued_;
        continue;
      }
      if (si->writer_.blocked()) break;
      size_t na = std::min(si->acks_.size(), kFifoBatchMessages);
      std::copy_n(si->acks_.begin(), na, batch);
      size_t n = na;
      while (n < kFifoBatchMessages && n - na < ordered_.size() &&
             ordered_[n - na].receiver == peer) {
        batch[n] = ordered_[n - na].message;
        ++n;
      }
      const size_t head_run = n - na;
      // The parent tells every other child about each one that leaves or dies: when several
      // do at once, those notices alternate between receivers and would leave one write (and
      // one wake-up of the receiver) each. They go with the receiver's first batch instead,
      // up to its next notice of another kind, which keeps its own order.
      size_t early[kFifoBatchMessages];
      size_t n_early = 0;
      if (isParent()) {
        const size_t scan_end = std::min(ordered_.size(), head_run + kEarlyScan);
        for (size_t k = head_run; k < scan_end && n < kFifoBatchMessages; ++k) {
          const Ordered& o = ordered_[k];
          if (o.receiver != peer) continue;
          if (!answeredToParentOnly(o.message)) break;
          batch[n++] = o.message;
          early[n_early++] = k;
        }
      }
      if (!writeBatch(*si, batch, n)) {
        if (si->writer_.blocked()) break;
        continue;  // broken: its entries are gone
      }
      si->acks_.erase(si->acks_.begin(), si->acks_.begin() + static_cast<ptrdiff_t>(na));
      pending_acks_ -= na;
      if (si->acks_.empty()) si->ack_bytes_ = 0;
      for (size_t i = 0; i < n_early; ++i)
        ordered_.at(early[i]).receiver = kWrittenEarly;
      for (size_t i = 0; i < head_run; ++i)
        ordered_.pop_front();
      si->queued_ -= n - na;
      if (si->shutdown_pending_) again = true;
    }
    // The other acknowledgements.
    for (size_t k = 0; k < ack_peers_.size();) {
      SiblingImplementation* si = find(ack_peers_[k]);
      if (si == nullptr || si->acks_.empty() || !si->writer_.isOpen() || si->broken_) {
        if (si != nullptr) {
          pending_acks_ -= si->acks_.size();
          si->acks_.clear();
          si->in_ack_list_ = false;
        }
        ack_peers_[k] = ack_peers_.back();
        ack_peers_.pop_back();
        continue;
      }
      if (si->writer_.blocked()) {
        ++k;
        continue;
      }
      size_t na = std::min(si->acks_.size(), kFifoBatchMessages);
      if (writeBatch(*si, si->acks_.data(), na)) {
        si->acks_.erase(si->acks_.begin(), si->acks_.begin() + static_cast<ptrdiff_t>(na));
        pending_acks_ -= na;
        if (si->acks_.empty()) si->ack_bytes_ = 0;
        if (si->shutdown_pending_) again = true;
      }
    }
    announced_bytes_ = 0;
    // Peers that asked to leave may now be answered; the answer goes out in this flush.
    if (again) {
      again = false;
      for (SiblingRef& r : impls_) {
        if (r && r->shutdown_pending_) {
          size_t before = ordered_.size();
          checkPendingShutdown(*r);
          if (ordered_.size() != before) again = true;
        }
      }
    }
  }
  flushing_ = false;
}

void SiblingMessenger::dropOutput(SiblingImplementation& si) {
  if (si.queued_ != 0) {
    ordered_.filter([&](const Ordered& o) { return o.receiver != si.id_; });
    si.queued_ = 0;
  }
  pending_acks_ -= si.acks_.size();
  si.acks_.clear();
  watchWriter(si, false);
}

void SiblingMessenger::announce() {
  SiblingImplementation& si = *unnotified_;
  unnotified_ = nullptr;
  uint64_t len = written_;
  written_ = 0;
  if (len == 0 || si.gone_) return;  // nothing to announce, or nobody to tell
  uint32_t o = static_cast<uint32_t>(alloc_.commit(len));
  if (trySend(si, ControlMessage::withValue(MessageType::MessageAt, o, my_id_))) {
    outstanding_.insert(o, si.id_);
    announced_bytes_ += len;
  } else {
    outstanding_.insert(o, si.id_ + kDelayed);
    si.delayed_.push_back(o);
    requestPeer(si);
  }
  si.out_bytes_ += len;
  if (si.out_bytes_ >= si.out_limit_) updateOStream(si);
  if (!alloc_.writable()) updateOStreams();
  maybeFlush();
}

void SiblingMessenger::sendDelayed(SiblingImplementation& si) {
  // Called only once the peer's FIFO is open, where sending cannot fail (a FIFO that broke
  // takes and drops): no delayed notice is ever left behind here.
  si.requested_ = false;
  for (uint32_t o : si.delayed_) {
    outstanding_.erase(o);
    outstanding_.insert(o, si.id_);
    send(si, ControlMessage::withValue(MessageType::MessageAt, o, my_id_));
  }
  si.delayed_.clear();
  maybeFlush();
}

void SiblingMessenger::requestPeer(SiblingImplementation& si) {
  if (si.requested_) return;
  si.requested_ = true;
  if (!isParent()) {
    sendToParent(ControlMessage::withId(MessageType::RequestPeer, si.id_, my_id_));
  } else if (!parent_->messageToNonexistantSibling(si.id_, my_id_)) {
    // Refused: the same as hearing that it died; what waited for it is released.
    markGone(si);
  }
}

void SiblingMessenger::sendAck(SiblingImplementation& si, uint64_t offset, uint64_t length) {
  if (si.gone_ || si.closed_ ||
      !trySend(si, ControlMessage::withValue(MessageType::AckMessageAt, offset, my_id_))) {
    // Nobody left to free the block for.
    siblingDiagnostic("Lost connection on ACK of message at offset " + std::to_string(offset) +
                      " for sibling " + std::to_string(si.id_));
    return;
  }
  // The acknowledgement waits to leave with our next notice to the peer (a reply, usually),
  // unless the peer's area is running low on what we have read and not yet told.
  si.ack_bytes_ += length;
  if (si.ack_bytes_ >= si.area_size_ / 4) {
    flushAll();
  } else {
    maybeFlush();
  }
}

void SiblingMessenger::releaseBlock(uint64_t offset) {
  if (writing_ != nullptr) {
    deferred_release_.push_back(static_cast<uint32_t>(offset));
    return;
  }
  bool was = alloc_.writable();
  alloc_.release(offset);
  if (!was) updateOStreams();
}

void SiblingMessenger::updateOStreams() {
  for (SiblingRef& r : impls_) {
    if (r) updateOStream(*r);
  }
}

void SiblingMessenger::updateOStream(SiblingImplementation& si) {
  bool ready;
  if (si.gone_ || shutdown_acked_ || (shutting_down_ && si.id_ != 0)) {
    ready = true;  // the writer meets the failure instead of waiting for ever
  } else if (si.shutdown_pending_) {
    ready = false;
  } else {
    ready = alloc_.writable() && si.out_bytes_ < si.out_limit_;
  }
  si.ostream_.setReadyFlag(ready);
}

}  // namespace io
