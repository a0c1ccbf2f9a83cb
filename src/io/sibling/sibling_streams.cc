// The sibling streams: begin/commit over blocks of the pool, and how the messenger keeps their
// ready flags in step with what arrives.
#include "error/assert.h"
#include "io/exceptions.h"
#include "io/sibling/sibling_messenger.h"

namespace io {

using SI = SiblingMessenger::SiblingImplementation;

SI::SiblingImplementation(SiblingMessenger& m, int32_t id)
    : m_(&m), id_(id), writer_(id), istream_(*this, &m), ostream_(*this, &m) {}

SI::~SiblingImplementation() {
  detach();
}

void SI::detach() {
  if (m_ == nullptr) return;
  m_->rmsgs_.clear(received_);
  m_->some_sibling_.setReadyFlag(!m_->rmsgs_.empty());
  if (m_->writing_ == this) m_->writing_ = nullptr;
  if (m_->unnotified_ == this) m_->unnotified_ = nullptr;
  m_->setUnderlying(&writer_, false);
  writer_.close();
  curr_ = ReceivedQueue::kNil;
  m_ = nullptr;
  // Its streams stay usable objects: reads and writes now meet the end of the stream.
  istream_.setReadyFlag(true);
  ostream_.setReadyFlag(true);
}

void SiblingMessenger::smQueueUpdated(SiblingImplementation& si) {
  if (si.read_ == 0) si.curr_ = si.received_.head;
  si.istream_.setReadyFlag(si.curr_ != ReceivedQueue::kNil);
  some_sibling_.setReadyFlag(!rmsgs_.empty());
  checkPendingShutdown(si);
}

void SiblingMessenger::appendNull(SiblingImplementation& si) {
  if (si.null_added_) return;
  si.null_added_ = true;
  rmsgs_.push(si.received_, &si, 0, 0);
  smQueueUpdated(si);
}

bool SI::atEnd() const {
  if (m_ == nullptr || (gone_ && received_.count == 0)) return true;
  return curr_ != ReceivedQueue::kNil && m_->rmsgs_.at(curr_).isNull();
}

size_t SI::SiblingIStream::readBegin(const uint8_t*& p) {
  SiblingMessenger* m = si_.m_;
  if (m == nullptr) throw EEndOfStream(describe(), "messenger closed");
  if (!isReady()) throw ENotReady(describe());
  if (si_.gone_ && si_.received_.count == 0) {
    throw EEndOfStream(describe(), "readBegin had empty queue and process error");
  }
  VX_ASSERT(si_.curr_ != ReceivedQueue::kNil,
            "rmsgs empty in SiblingIStream::readBegin() for sibling: ", si_.id_);
  VX_ASSERT(!m->rmsgs_.empty(), "rmsgs empty (", m->rmsgs_.empty(),
            ") and curr_msg are out of sync for sibling: ", si_.id_);
  const ReceivedQueue::Message& msg = m->rmsgs_.at(si_.curr_);
  VX_ASSERT(msg.from == &si_, "curr_msg does not hold a message for us");
  if (msg.isNull()) throw EEndOfStream(describe(), "readBegin encountered the null message");
  VX_ASSERT(msg.length > si_.read_, "Message not larger than number of bytes read ");
  p = m->base_ + msg.offset + kHeaderSize + si_.read_;
  return msg.length - si_.read_;
}

void SI::SiblingIStream::readCommit(size_t n) {
  SiblingMessenger* m = si_.m_;
  VX_ASSERT(m != nullptr && si_.curr_ != ReceivedQueue::kNil,
            "Read committed with no messages in queue");
  const ReceivedQueue::Message& msg = m->rmsgs_.at(si_.curr_);
  VX_ASSERT(!msg.isNull() && n <= msg.length - si_.read_,
            "Cannot commit more read data than what there was");
  si_.read_ += n;
  if (si_.read_ < msg.length) return;
  uint64_t offset = msg.offset;
  uint64_t length = msg.length;
  m->rmsgs_.popFront(si_.received_);
  si_.curr_ = ReceivedQueue::kNil;
  si_.read_ = 0;
  m->sendAck(si_, offset, length);
  m->smQueueUpdated(si_);
}

size_t SI::SiblingOStream::writeBegin(uint8_t*& p) {
  SiblingMessenger* m = si_.m_;
  if (m == nullptr) throw EEndOfStream(describe(), "messenger closed");
  if (!isReady()) throw ENotReady(describe());
  if (si_.gone_) throw EEndOfStream(describe(), "Write to failed process");
  if (m->shutdown_acked_) {
    throw EEndOfStream(describe(), "Write disabled due to acknowledged shutdown");
  }
  if (m->shutting_down_ && si_.id_ != 0) {
    throw EEndOfStream(describe(), "Write to non-parent disabled during shutdown");
  }
  if (m->unnotified_ != nullptr && m->unnotified_ != &si_) {
    m->announce();
    VX_ASSERT(m->unnotified_ == nullptr, "Even after flush, our unnotified sibling still exist");
  }
  VX_ASSERT(m->writing_ == nullptr, "Multiple OStreams writing");
  VX_ASSERT(m->alloc_.writable(), "SiblingOStream ready without a free block");
  m->writing_ = &si_;
  m->capacity_ = m->alloc_.offer(p);
  return m->capacity_;
}

void SI::SiblingOStream::writeCommit(size_t n) {
  SiblingMessenger* m = si_.m_;
  VX_ASSERT(m != nullptr && m->writing_ == &si_, "Commit without an OStream writing");
  m->writing_ = nullptr;
  VX_ASSERT(m->unnotified_ == nullptr || m->unnotified_ == &si_,
            "writeCommit found a completely different unnotified_sibling");
  m->unnotified_ = &si_;
  if (n != 0) {
    m->written_ += n;
    VX_ASSERT(m->written_ <= m->capacity_, "write offset ", m->written_,
              " above current block size ", m->capacity_, " after adding ", n);
    m->announce();
  }
  if (!m->deferred_release_.empty()) {
    for (uint32_t o : m->deferred_release_)
      m->releaseBlock(o);
    m->deferred_release_.clear();
  }
}

bool SI::SiblingOStream::flush() {
  SiblingMessenger* m = si_.m_;
  return m == nullptr || m->flush();
}

}  // namespace io
