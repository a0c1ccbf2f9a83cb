#include "supervisor/worker_streams.h"

#include <algorithm>
#include <cstring>

#include "error/exception.h"
#include "io/exceptions.h"

namespace supervisor {

WorkerInput::WorkerInput(io::SiblingMessenger::SiblingRef sibling, std::string who)
    : sibling_(std::move(sibling)), who_(std::move(who)) {}

WorkerInput::State WorkerInput::state() {
  if (holding()) return State::Data;
  io::IStream& in = sibling_->istream();
  if (!in.isReady()) return State::Nothing;
  const uint8_t* p;
  try {
    in.readBegin(p);
  } catch (const io::EEndOfStream&) {
    return State::Ended;
  }
  return State::Data;
}

void WorkerInput::beginEvent(size_t pending) {
  in_event_ = true;
  live_event_ = nullptr;
  if (pending > 0 && offer_ == Offer::Live) {
    // It starts inside the message being read; nothing of it is held.
    live_event_ = live_p_ + live_n_ - pending;
    start_ = held_.size();
  } else if (pending > 0 && offer_ == Offer::Held) {
    start_ = offer_end_ - pending;
  } else {
    start_ = pos_;
  }
}

void WorkerInput::endEvent() {
  if (deferred_) {
    deferred_ = false;
    sibling_->istream().readCommit(live_n_);
  }
  in_event_ = false;
  partial_ = false;
  live_event_ = nullptr;
  if (pos_ == held_.size() && !held_.empty()) {
    // Everything held has been read: back to reading the worker's messages in place.
    held_.clear();
    start_ = pos_ = offer_end_ = 0;
    if (offer_ == Offer::Held) offer_ = Offer::None;
  }
}

void WorkerInput::suspend(TimeValue now) {
  // The reader has nothing left of its last area, and the event's bytes are all held.
  held_.erase(0, start_);
  start_ = pos_ = 0;
  offer_ = Offer::None;
  live_event_ = nullptr;
  in_event_ = false;
  partial_ = true;
  tried_ = held_.size();
  tried_at_ = now;
}

TimeValue WorkerInput::retryAt() const {
  // An eighth more is worth a new pass at once: such passes cost a few times the event's size
  // in all. Less waits a millisecond per 64 KiB held, some fifteen times what a pass over them
  // takes, so that tiny pieces cannot keep the supervisor reading the same bytes.
  if (held_.size() - tried_ >= tried_ / 8) return tried_at_;
  return tried_at_ + TimeValue::fromMilliseconds(static_cast<int64_t>(held_.size() >> 16));
}

size_t WorkerInput::readBegin(const uint8_t*& p) {
  if (deferred_) keepDeferred();
  if (pos_ < held_.size()) {
    offer_ = Offer::Held;
    offer_end_ = held_.size();
    p = reinterpret_cast<const uint8_t*>(held_.data()) + pos_;
    return held_.size() - pos_;
  }
  return live(p);
}

size_t WorkerInput::live(const uint8_t*& p) {
  io::IStream& in = sibling_->istream();
  if (!in.isReady()) {
    if (in_event_) throw Incomplete{};
    throw io::ENotReady(describe());
  }
  size_t n;
  try {
    n = in.readBegin(p);
  } catch (const io::EEndOfStream&) {
    if (!in_event_) throw;
    throw error::Exception("Process " + who_ + " ended in the middle of an event");
  }
  offer_ = Offer::Live;
  live_p_ = p;
  live_n_ = n;
  if (in_event_ && start_ == held_.size() && live_event_ == nullptr) live_event_ = p;
  return n;
}

void WorkerInput::readCommit(size_t n) {
  if (offer_ == Offer::Held) {
    pos_ += n;
    return;
  }
  if (in_event_ && n == live_n_) {
    // Acknowledged when the event ends; kept first if the event goes on beyond it.
    deferred_ = true;
    return;
  }
  sibling_->istream().readCommit(n);
  live_p_ += n;
  live_n_ -= n;
}

void WorkerInput::keepDeferred() {
  const uint8_t* from = live_event_ != nullptr ? live_event_ : live_p_;
  const size_t n = static_cast<size_t>(live_p_ + live_n_ - from);
  if (held_.size() - start_ + n > kMaxHeldEvent) {
    throw error::Exception("Process " + who_ + " sent an event of more than " +
                           std::to_string(kMaxHeldEvent) + " bytes in pieces");
  }
  held_.append(reinterpret_cast<const char*>(from), n);
  pos_ = held_.size();
  live_event_ = nullptr;
  deferred_ = false;
  offer_ = Offer::None;
  // The worker gets its room back at once: it may need it for the rest of the event.
  sibling_->istream().readCommit(live_n_);
}

void WorkerInput::takeIn() {
  io::IStream& in = sibling_->istream();
  while (in.isReady()) {
    const uint8_t* p;
    size_t n;
    try {
      n = in.readBegin(p);
    } catch (const io::EEndOfStream&) {
      throw error::Exception("Process " + who_ + " ended in the middle of an event");
    }
    if (held_.size() - start_ + n > kMaxHeldEvent) {
      throw error::Exception("Process " + who_ + " sent an event of more than " +
                             std::to_string(kMaxHeldEvent) + " bytes in pieces");
    }
    held_.append(reinterpret_cast<const char*>(p), n);
    in.readCommit(n);
  }
}

WorkerOutput::WorkerOutput(io::SiblingMessenger::SiblingRef sibling)
    : sibling_(std::move(sibling)) {}

size_t WorkerOutput::writeBegin(uint8_t*& p) {
  io::OStream& out = sibling_->ostream();
  // Once something waits, everything after it waits too: the worker reads one byte stream.
  if (queued() == 0 && out.isReady()) {
    offer_ = Offer::Direct;
    return out.writeBegin(p);
  }
  offer_ = Offer::Queued;
  tail_ = queue_.size();
  queue_.resize(tail_ + kChunk);
  p = reinterpret_cast<uint8_t*>(queue_.data()) + tail_;
  return kChunk;
}

void WorkerOutput::writeCommit(size_t n) {
  if (offer_ == Offer::Direct) {
    sibling_->ostream().writeCommit(n);
  } else if (offer_ == Offer::Queued) {
    queue_.resize(tail_ + n);
  }
  offer_ = Offer::None;
}

bool WorkerOutput::pump() {
  io::OStream& out = sibling_->ostream();
  while (queued() > 0) {
    if (!out.isReady()) {
      // What was written is not kept twice.
      if (head_ >= 64 * 1024 && head_ >= queue_.size() / 2) {
        queue_.erase(0, head_);
        head_ = 0;
      }
      return false;
    }
    uint8_t* p;
    size_t room;
    try {
      room = out.writeBegin(p);
    } catch (const io::EEndOfStream&) {
      drop();
      throw;
    }
    size_t k = std::min(room, queued());
    std::memcpy(p, queue_.data() + head_, k);
    out.writeCommit(k);
    head_ += k;
  }
  drop();
  return true;
}

void WorkerOutput::drop() {
  queue_.clear();
  head_ = tail_ = 0;
}

}  // namespace supervisor
