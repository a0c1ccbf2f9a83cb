// The streams a worker's event reader and writer see. They stand in front of a peer's sibling
// streams and never let the event layer wait by itself: a read that must wait for the rest of
// an event, and a write that must wait for room in the area, wait in the worker's own loop,
// which also watches the supervisor (so a supervisor that goes away ends the wait).
//
// Such a wait keeps taking in what every peer sends, so that workers writing to each other
// never all wait for one another. It must not parse those bytes: an event that straddles two
// messages would make it wait for the rest, while the peer, waiting for room, waits for us to
// take in ours. So it copies whole messages into the input stream's own queue (hold), which
// acknowledges them at once. The event reader reads only that queue, filled one message at a
// time when it is empty, so held messages can be taken in whatever the reader is doing and
// are read in the order they were sent.
#pragma once

#include <deque>
#include <string>

#include "io/stream.h"

namespace worker {

class Worker;

class GuardedIStream : public io::IStream {
 public:
  GuardedIStream(Worker& w, int32_t peer, io::IStream& real) : w_(w), peer_(peer), real_(real) {}
  std::string describe() const override { return real_.describe(); }
  // Always: readBegin itself waits.
  bool isReady() const override { return true; }
  size_t readBegin(const uint8_t*& p) override;
  void readCommit(size_t n) override;
  void close() override { real_.close(); }

  // Something can be read without waiting: held bytes, a message, or the stream's end.
  bool readable() const { return !held_.empty() || real_.isReady(); }
  // Bytes taken in and not read yet: they come before whatever the sibling stream has.
  bool holding() const { return !held_.empty(); }
  // Takes in every message the sibling stream has now; false when that stream has ended (the
  // end is met again once the held bytes have been read).
  bool hold();

 private:
  // Copies the sibling stream's next message to the back of the queue; EEndOfStream at its
  // end.
  void take();

  Worker& w_;
  int32_t peer_;
  io::IStream& real_;
  // Whole messages; appending never moves the front one, which the reader may be reading.
  std::deque<std::string> held_;
  size_t held_pos_ = 0;
  std::string spare_;  // the last message read, kept for its capacity
};

class GuardedOStream : public io::OStream {
 public:
  GuardedOStream(Worker& w, int32_t peer, io::OStream& real) : w_(w), peer_(peer), real_(real) {}
  std::string describe() const override { return real_.describe(); }
  bool isReady() const override { return true; }
  size_t writeBegin(uint8_t*& p) override;
  void writeCommit(size_t n) override { real_.writeCommit(n); }
  bool flush() override { return real_.flush(); }
  void close() override { real_.close(); }

 private:
  Worker& w_;
  int32_t peer_;
  io::OStream& real_;
};

}  // namespace worker
