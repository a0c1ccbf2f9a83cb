// The supervisor's event streams from and to one worker. Neither ever waits: the supervisor's
// one loop serves every worker, its signals and its timers, and no worker may hold it.
//
// WorkerInput: events are read in place from the worker's messages in the pool. An event that
// goes on beyond what the worker has sent so far is kept: its bytes are copied and its messages
// acknowledged (so the worker has room for the rest), and the reader gets Incomplete. From then
// on every message of the worker is taken in the same way, and the event is read again from its
// start once something new has arrived: at once when the held bytes have grown by an eighth
// since the last attempt, else after a pause that grows with their size. So a worker sending a
// large event in tiny pieces costs the supervisor a bounded share of its time, not a new pass
// over the whole event per piece. The caller bounds how long an event may stay incomplete.
//
// WorkerOutput: events are written straight into the supervisor's area while the worker's
// sibling stream is ready (the area has room and the worker's unacknowledged share of it is
// below its limit); what does not fit waits here, in order, and pump() writes it as room comes
// back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "io/sibling/sibling_messenger.h"
#include "io/stream.h"
#include "util/time_value.h"

namespace supervisor {

class WorkerInput : public io::IStream {
 public:
  // Raised by readBegin when the event being read goes on beyond what has arrived. Not an
  // error::Exception, so that no handler of errors takes it for one.
  struct Incomplete {};
  // Most bytes an incomplete event may hold: far above any request a worker sends, and a bound
  // on what a worker can make the supervisor keep for it.
  static constexpr size_t kMaxHeldEvent = size_t{16} << 20;

  WorkerInput(io::SiblingMessenger::SiblingRef sibling, std::string who);
  std::string describe() const override { return sibling_->istream().describe(); }
  // Always: readBegin offers what there is, or raises Incomplete.
  bool isReady() const override { return true; }
  size_t readBegin(const uint8_t*& p) override;
  void readCommit(size_t n) override;
  void close() override {}

  // What can be read at an event boundary, once the reader's last area is consumed.
  enum class State { Nothing, Data, Ended };
  State state();
  // Held bytes not read yet (what followed an incomplete event once it completed).
  bool holding() const { return pos_ < held_.size(); }

  // Bracket every attempt to read one event. `pending`: the bytes of the last area offered that
  // the reader has not consumed (protocol::ioprim::readPending()).
  void beginEvent(size_t pending);
  // The event was read whole.
  void endEvent();
  // After Incomplete: the event's bytes so far are kept, the next attempt reads it from its
  // start.
  void suspend(TimeValue now);
  bool partial() const { return partial_; }
  // While an event is incomplete: copies every message the worker has sent since into the held
  // bytes and acknowledges it. Raises error::Exception when the stream ended or the event grew
  // beyond kMaxHeldEvent.
  void takeIn();
  // Something arrived since the last attempt: the event is worth reading again at retryAt().
  bool untried() const { return partial_ && held_.size() > tried_; }
  TimeValue retryAt() const;

 private:
  enum class Offer { None, Held, Live };
  void keepDeferred();
  size_t live(const uint8_t*& p);

  io::SiblingMessenger::SiblingRef sibling_;
  std::string who_;
  // Copied bytes: [0, start_) read before the current event, [start_, pos_) given to the
  // reader by the current attempt, [pos_, end) not given yet.
  std::string held_;
  size_t start_ = 0;
  size_t pos_ = 0;
  Offer offer_ = Offer::None;
  size_t offer_end_ = 0;  // end of the held bytes offered last
  // The worker's message offered last, and where the current event starts in it (null: it
  // started before).
  const uint8_t* live_p_ = nullptr;
  size_t live_n_ = 0;
  const uint8_t* live_event_ = nullptr;
  // That message was read to its end during the event and is not acknowledged yet: the event
  // may go on beyond it, and then its bytes are kept first.
  bool deferred_ = false;
  bool in_event_ = false;
  bool partial_ = false;
  // The held bytes, and the time, of the last attempt at the incomplete event.
  size_t tried_ = 0;
  TimeValue tried_at_;
};

class WorkerOutput : public io::OStream {
 public:
  explicit WorkerOutput(io::SiblingMessenger::SiblingRef sibling);
  std::string describe() const override { return sibling_->ostream().describe(); }
  // Always: writeBegin offers a block of the area, or room in the queue.
  bool isReady() const override { return true; }
  // Raises io::EEndOfStream when the worker has gone.
  size_t writeBegin(uint8_t*& p) override;
  void writeCommit(size_t n) override;
  bool flush() override { return sibling_->ostream().flush(); }
  void close() override {}

  // Bytes waiting to be written.
  size_t queued() const { return queue_.size() - head_; }
  // Writes what waits while the worker's stream takes it; true when nothing waits any more.
  // Raises io::EEndOfStream when the worker has gone (what waited is dropped).
  bool pump();
  void drop();

 private:
  static constexpr size_t kChunk = 4096;
  enum class Offer { None, Direct, Queued };

  io::SiblingMessenger::SiblingRef sibling_;
  std::string queue_;
  size_t head_ = 0;
  size_t tail_ = 0;  // where the chunk offered last starts
  Offer offer_ = Offer::None;
};

}  // namespace supervisor
