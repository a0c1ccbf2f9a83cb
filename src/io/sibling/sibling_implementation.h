// One peer as seen by one sibling: the FIFO we write its notices to, what waits for it, and the
// two message streams the application uses. One message on a stream is one block in the
// writer's area; a writer with more bytes than the block offered commits what fits and goes on
// in the next block, so a reader may see a value straddle two messages.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "io/closure.h"
#include "io/sibling/fifo.h"
#include "io/sibling/received_queue.h"
#include "io/stacked.h"
#include "io/stream.h"

namespace io {

class SiblingMessenger::SiblingImplementation : public RefCounted {
 public:
  // Reads what the peer sent, message after message, in the order it wrote them.
  class SiblingIStream : public IStream, public StackedSelectableFront {
   public:
    explicit SiblingIStream(SiblingImplementation& si, StackedSelectableBack* back)
        : StackedSelectableFront(back), si_(si) {}
    std::string describe() const override {
      return "SiblingIStream[" + std::to_string(si_.id_) + "]";
    }
    size_t readBegin(const uint8_t*& p) override;
    // A message read to its end is acknowledged, which frees its block in the peer's area.
    void readCommit(size_t n) override;
    void close() override {}

   private:
    SiblingImplementation& si_;
  };

  // Writes messages to the peer. writeBegin offers the whole free block at the write cursor;
  // each non-empty commit is one message, announced to the peer at once.
  class SiblingOStream : public OStream, public StackedSelectableFront {
   public:
    explicit SiblingOStream(SiblingImplementation& si, StackedSelectableBack* back)
        : StackedSelectableFront(back), si_(si) {}
    std::string describe() const override {
      return "SiblingOStream[" + std::to_string(si_.id_) + "]";
    }
    size_t writeBegin(uint8_t*& p) override;
    void writeCommit(size_t n) override;
    // A committed message is already on its way; this pushes the batched notices out now and
    // tells whether nothing is left waiting.
    bool flush() override;
    void close() override {}

   private:
    SiblingImplementation& si_;
  };

  SiblingImplementation(SiblingMessenger& m, int32_t id);
  ~SiblingImplementation() override;

  int32_t id() const { return id_; }
  SiblingIStream& istream() { return istream_; }
  SiblingOStream& ostream() { return ostream_; }
  bool gone() const { return gone_; }
  bool fifoOpen() const { return writer_.isOpen(); }
  bool shutdownPending() const { return shutdown_pending_; }
  size_t unread() const { return received_.count; }
  // No message of its waits to be read (its end-of-stream marker aside).
  bool drained() const { return received_.count <= (null_added_ ? 1u : 0u); }
  // The input stream has been read to its end: the next read would raise EEndOfStream. A
  // reader that expects the end (every peer's stream ends when we leave) asks this instead of
  // paying for the exception.
  bool atEnd() const;
  // Its area in the pool (size 0 until it is known).
  uint64_t areaOffset() const { return area_offset_; }
  uint64_t areaSize() const { return area_size_; }
  // Payload bytes of our messages to it that it has not acknowledged yet, and how many of our
  // messages it has acknowledged so far.
  uint64_t outstandingBytes() const { return out_bytes_; }
  uint64_t acknowledged() const { return acked_; }

 private:
  friend class SiblingMessenger;
  // The messenger is going away: forget it and what it holds for us.
  void detach();

  SiblingMessenger* m_;
  int32_t id_;
  FifoWriter writer_;
  bool broken_ = false;            // the FIFO's reader went away under a write
  bool closed_ = false;            // communication shut down (shutdownComms)
  bool gone_ = false;              // the peer died or left for good
  bool shutdown_pending_ = false;  // it asked to leave; we still owe it
  bool requested_ = false;         // asked from the parent, answer pending
  bool null_added_ = false;        // its end-of-stream marker is queued
  bool in_ack_list_ = false;
  uint64_t area_offset_ = 0;
  uint64_t area_size_ = 0;             // 0 until its area is known
  uint64_t out_bytes_ = 0;             // payload of our messages to it not yet acknowledged
  uint64_t out_limit_ = ~uint64_t{0};  // ... at which writes to it wait
  uint64_t acked_ = 0;                 // acknowledgements received from it
  std::vector<uint64_t> acks_;         // acknowledgements waiting to be written
  uint64_t ack_bytes_ = 0;             // payload those acknowledgements free in its area
  size_t queued_ = 0;                  // its entries in the messenger's ordered queue
  std::vector<uint32_t> delayed_;      // notices waiting for its FIFO
  ReceivedQueue::PeerList received_;
  uint32_t curr_ = ReceivedQueue::kNil;  // its message being read
  uint64_t read_ = 0;                    // bytes of it already read
  SiblingIStream istream_;
  SiblingOStream ostream_;
};

}  // namespace io
